#include "LocalHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

LocalHttpServer::LocalHttpServer()
{
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
}

QString LocalHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
}

QString LocalHttpServer::refusedUrl(const QString& path)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

void LocalHttpServer::respond(const QString& path, const Response& response)
{
    scripts[path] = {response};
}

void LocalHttpServer::respond(const QString& path, const QList<Response>& responses)
{
    scripts[path] = responses;
}

void LocalHttpServer::onConnection()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->setParent(this);
        auto head = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
            head->append(socket->readAll());
            if (!head->contains("\r\n\r\n"))
                return;
            answer(socket, *head);
            head->clear();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LocalHttpServer::answer(QTcpSocket* socket, const QByteArray& head)
{
    requests.append(head.left(head.indexOf("\r\n\r\n")));
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine[1]) : QString();
    QList<Response>& script = scripts[path];
    Response response;
    if (script.isEmpty())
        response.status = 404;
    else
        response = script.size() > 1 ? script.takeFirst() : script.first();

    QByteArray reply = response.interim + "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                       + reason(response.status) + "\r\nConnection: close\r\n";
    if (response.sendLength)
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    reply += response.headers + "\r\n";
    const bool stalls = response.stallAfter >= 0;
    reply += stalls ? response.body.left(response.stallAfter) : response.body;
    socket->write(reply);
    if (stalls && response.trickleMs > 0) {
        auto* trickle = new QTimer(socket);
        connect(trickle, &QTimer::timeout, socket, [socket, rest = response.body.mid(response.stallAfter)]() mutable {
            socket->write(rest.left(1));
            rest.remove(0, 1);
        });
        trickle->start(response.trickleMs);
    }
    if (stalls)
        stalled.append(socket);
    else
        socket->disconnectFromHost();
}

void LocalHttpServer::closeStalled()
{
    for (const QPointer<QTcpSocket>& socket : std::as_const(stalled))
        if (socket)
            socket->abort();
    stalled.clear();
}
