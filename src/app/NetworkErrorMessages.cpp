#include "app/NetworkErrorMessages.h"

namespace NetworkErrorMessages {

QString describe(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("服务器拒绝了连接");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("服务器关闭了连接");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("找不到服务器");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("连接超时");
    case QAbstractSocket::SslHandshakeFailedError:
        return QStringLiteral("无法建立安全连接 (证书无效或不受信任)");
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QStringLiteral("安全连接出错");
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return QStringLiteral("代理服务器出错");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("没有访问网络的权限");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("系统网络资源不足");
    case QAbstractSocket::TemporaryError:
        return QStringLiteral("网络暂时不可用");
    default:
        return QStringLiteral("网络连接出错");
    }
}

QString describe(QNetworkReply::NetworkError error, int httpStatus)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return describe(QAbstractSocket::ConnectionRefusedError);
    case QNetworkReply::RemoteHostClosedError:
        return describe(QAbstractSocket::RemoteHostClosedError);
    case QNetworkReply::HostNotFoundError:
        return describe(QAbstractSocket::HostNotFoundError);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return describe(QAbstractSocket::SocketTimeoutError);
    case QNetworkReply::SslHandshakeFailedError:
        return describe(QAbstractSocket::SslHandshakeFailedError);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return describe(QAbstractSocket::TemporaryError);
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return describe(QAbstractSocket::ProxyConnectionRefusedError);
    default:
        break;
    }
    if (httpStatus > 0)
        return QStringLiteral("服务器返回 HTTP 状态 %1").arg(httpStatus);
    return describe(QAbstractSocket::UnknownSocketError);
}

} // namespace NetworkErrorMessages
