#include "app/UpdateChecker.h"

#include "app/AppInfo.h"
#include "app/NetworkErrorMessages.h"
#include "common/DiagnosticLog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

const char* const SilentProperty = "cdwSilentCheck";
const char* const TooLargeProperty = "cdwTooLarge";

int versionPart(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , network(new QNetworkAccessManager(this))
{
    qRegisterMetaType<UpdateInfo>();
}

void UpdateChecker::setUpdateUrl(const QString& address)
{
    url = address;
}

void UpdateChecker::checkForUpdates(bool silent)
{
    if (url.isEmpty()) {
        fail(silent, tr("未配置更新地址"));
        return;
    }
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("CalderwynStudio/%1").arg(QLatin1String(AppInfo::Version)));
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply* reply = network->get(request);
    reply->setProperty(SilentProperty, silent);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > MaxDescriptorBytes) {
            reply->setProperty(TooLargeProperty, true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onReplyFinished(reply); });
}

void UpdateChecker::fail(bool silent, const QString& error)
{
    // A silent check that fails (an update host out of reach) is no news.
    if (silent) {
        qCInfo(lcDiagnostics) << "UpdateChecker: silent check failed:" << error;
        return;
    }
    qWarning() << "UpdateChecker:" << error;
    emit checkFailed(error);
}

void UpdateChecker::onReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const bool silent = reply->property(SilentProperty).toBool();
    if (reply->property(TooLargeProperty).toBool()) {
        fail(silent, tr("更新数据格式错误"));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcDiagnostics) << "UpdateChecker:" << reply->errorString();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        fail(silent, tr("网络错误: %1").arg(NetworkErrorMessages::describe(reply->error(), status)));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    if (!document.isObject()) {
        fail(silent, tr("更新数据格式错误"));
        return;
    }
    const UpdateInfo info = readDescriptor(document.object());
    if (info.version.isEmpty() || info.downloadUrl.isEmpty()) {
        fail(silent, tr("更新数据缺少必要字段"));
        return;
    }
    if (isNewer(info.version, QString::fromLatin1(AppInfo::Version))) {
        qDebug() << "UpdateChecker: new version available:" << info.version;
        emit updateAvailable(info);
    } else {
        qDebug() << "UpdateChecker: already up to date";
        emit noUpdateAvailable();
    }
}

UpdateInfo UpdateChecker::readDescriptor(const QJsonObject& object)
{
    UpdateInfo info;
    info.version = object.value(QLatin1String("version")).toString();
    info.build = object.value(QLatin1String("build")).toInt(0);
    info.downloadUrl = object.value(QLatin1String("downloadUrl")).toString();
    info.releaseNotes = object.value(QLatin1String("releaseNotes")).toString();
    const QJsonValue size = object.value(QLatin1String("fileSize"));
    if (size.isDouble()) {
        // Truncated toward zero; sizes beyond what a file can have read as 0.
        const double value = std::trunc(size.toDouble());
        if (value >= 0.0 && value < double(std::numeric_limits<qint64>::max()))
            info.fileSize = qint64(value);
    }
    return info;
}

bool UpdateChecker::parseVersion(const QString& text, int& major, int& minor, int& patch)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return false;
    major = versionPart(parts[0]);
    minor = versionPart(parts[1]);
    patch = parts.size() >= 3 ? versionPart(parts[2]) : 0;
    return true;
}

bool UpdateChecker::isNewer(const QString& remote, const QString& local)
{
    int remoteParts[3] = {};
    int localParts[3] = {};
    if (!parseVersion(remote, remoteParts[0], remoteParts[1], remoteParts[2]))
        return false;
    if (!parseVersion(local, localParts[0], localParts[1], localParts[2]))
        return true;
    for (int i = 0; i < 3; ++i) {
        if (remoteParts[i] != localParts[i])
            return remoteParts[i] > localParts[i];
    }
    return false;
}
