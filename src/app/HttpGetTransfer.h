#pragma once
// One HTTP/1.1 GET over a plain or an encrypted (https) connection, with the
// answer's framing read here: the network library unpacks a chunked body
// itself and ends it at a chunk size it cannot read, or at a closed
// connection, as if it were whole, and says nothing of either. Here a body
// ends only as its framing says: after the announced length (once the server
// closes the connection, or stays silent, with nothing more: more bytes mean
// the length was wrong), after the last chunk (sizes read strictly), or, with
// neither, when the server closes the connection (then endMarked() is false:
// a cut can look the same).
// Transfer codings other than chunked are refused. What a server can make a
// transfer wait for is bounded: a stretch without bytes, a stretch with
// too little body, and interim (1xx) answers.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QUrl>

class QSslSocket;

class HttpGetTransfer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        // No bytes at all for this long fails the transfer.
        int idleTimeoutMs = 15000;
        // Fewer than `minProgressBytes` of body in one such stretch (counted
        // from the start) fails it too: a server that sends a byte now and
        // then would otherwise hold it for ever.
        int progressWindowMs = 30000;
        qint64 minProgressBytes = 4096;
    };

    explicit HttpGetTransfer(QObject* parent = nullptr);
    ~HttpGetTransfer() override;

    // Connects and sends the request with `headers` beside Host and
    // "Connection: close".
    void start(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& headers, const Limits& limits);
    // Stops silently: no further signals.
    void abort();

    // Valid from the first bodyReceived() on, and after finished().
    int statusCode() const { return status; }
    bool hasRawHeader(const QByteArray& name) const;
    // The field's value; values of repeated fields joined by ", ".
    QByteArray rawHeader(const QByteArray& name) const;
    // The announced body length; -1 without one.
    qint64 announcedLength() const { return length; }

    // Valid after finished(): empty when the answer arrived whole.
    QString errorString() const { return error; }
    // Whether the server marked the body's end (a length or a last chunk)
    // rather than just closing the connection.
    bool endMarked() const { return marked; }

signals:
    void bodyReceived(const QByteArray& data);
    void finished();

private:
    enum class Stage { Head, Length, AfterLength, ChunkSize, ChunkData, ChunkEnd, Trailers, UntilClose, Done };

    void onConnected();
    void onReadyRead();
    void onClosed();
    void onSocketError();
    // Reads what the buffer holds; false once the transfer has ended.
    bool parse();
    bool parseHead(const QByteArray& head);
    // Chooses the body's framing from the head, or ends the transfer (an
    // answer without a body, or a framing that is refused).
    void chooseFraming();
    // Takes one line (without its CRLF) from the buffer; false when none is whole yet.
    bool takeLine(QByteArray& line);
    // Hands `bytes` of the buffer on as body; false when the receiver stopped us.
    bool deliver(qsizetype bytes);
    void finish(const QString& errorText, bool endWasMarked = false);

    QSslSocket* socket = nullptr;
    QTimer idle;
    QTimer progressCheck;
    qint64 minProgressBytes = 0;
    qint64 bodyBytesAtCheck = 0;
    int interimAnswers = 0;
    QByteArray request;
    QByteArray buffer;
    qsizetype at = 0; // read position in buffer
    Stage stage = Stage::Head;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> fields; // names in lower case
    qint64 length = -1;
    qint64 remaining = 0; // of the length or of the current chunk
    qint64 bodyBytes = 0;
    int trailerLines = 0;
    QString error;
    bool marked = false;
};
