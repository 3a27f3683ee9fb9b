#pragma once
// A small HTTP server on 127.0.0.1 for tests of network clients: each path
// answers with a scripted status and body, optionally without a length or
// stalling or trickling part-way; the requests it saw are kept.
//   LocalHttpServer server;
//   server.respond("/update.json", {200, R"({"version": "0.2.0"})"});
//   checker.setUpdateUrl(server.url("/update.json"));

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <QTcpSocket>

#include <utility>

class LocalHttpServer : public QObject {
public:
    struct Response {
        Response(int status = 200, QByteArray body = {}, bool sendLength = true, qint64 stallAfter = -1,
                 QByteArray headers = {})
            : status(status), body(std::move(body)), sendLength(sendLength), stallAfter(stallAfter),
              headers(std::move(headers))
        {
        }
        int status = 200;
        QByteArray body;
        bool sendLength = true;
        // Bytes of the body sent before the server stops writing and holds
        // the connection open; -1 sends all of it.
        qint64 stallAfter = -1;
        // Further header lines, each ending in "\r\n" (a redirect's Location).
        QByteArray headers;
        // Sent ahead of the answer (interim answers).
        QByteArray interim;
        // Above 0: after `stallAfter` bytes, one more byte of the body each this many ms.
        int trickleMs = 0;
    };

    LocalHttpServer();

    QString url(const QString& path) const;
    // Answers the next requests of `path`, in order; the last one stays.
    void respond(const QString& path, const Response& response);
    void respond(const QString& path, const QList<Response>& responses);

    // The request heads received, in order (request line and headers).
    QList<QByteArray> requests;

    // Drops the connections that stalled, as a server that went away.
    void closeStalled();

    // A loopback address that refuses connections.
    static QString refusedUrl(const QString& path);

private:
    void onConnection();
    void answer(QTcpSocket* socket, const QByteArray& head);

    QTcpServer server;
    QHash<QString, QList<Response>> scripts;
    QList<QPointer<QTcpSocket>> stalled;
};
