#include "app/HttpGetTransfer.h"

#include "app/NetworkErrorMessages.h"

#include <QDebug>
#include <QSslSocket>

#include <algorithm>
#include <limits>

namespace {

// Bounds on what a server may send before the body and between chunks.
constexpr qsizetype MaxHeadBytes = 64 * 1024;
constexpr qsizetype MaxLineBytes = 4096;
constexpr int MaxTrailerLines = 100;
// Interim answers ("100 Continue" and the like) before the real one.
constexpr int MaxInterimAnswers = 20;

// A chunk-size line: hexadecimal digits that fit a qint64, then optionally
// blanks and an extension after ";". -1 for anything else.
qint64 chunkSize(const QByteArray& line)
{
    qint64 size = 0;
    qsizetype i = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        if (size > (std::numeric_limits<qint64>::max() - digit) / 16)
            return -1;
        size = size * 16 + digit;
    }
    if (i == 0)
        return -1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return i == line.size() || line[i] == ';' ? size : -1;
}

} // namespace

HttpGetTransfer::HttpGetTransfer(QObject* parent)
    : QObject(parent)
{
    idle.setSingleShot(true);
    connect(&idle, &QTimer::timeout, this, [this] {
        // A server that keeps the connection after the announced length
        // sent nothing more: the body stands.
        if (stage == Stage::AfterLength)
            finish(QString(), true);
        else
            finish(tr("下载超时: %1 秒内没有收到数据").arg(idle.interval() / 1000));
    });
    connect(&progressCheck, &QTimer::timeout, this, [this] {
        const qint64 arrived = bodyBytes - bodyBytesAtCheck;
        bodyBytesAtCheck = bodyBytes;
        // After the announced length only the connection's end is awaited.
        if (stage != Stage::AfterLength && arrived < minProgressBytes)
            finish(tr("下载过慢: %1 秒内只收到 %2 字节").arg(progressCheck.interval() / 1000).arg(arrived));
    });
}

HttpGetTransfer::~HttpGetTransfer()
{
    abort();
}

void HttpGetTransfer::start(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& headers,
                            const Limits& limits)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    request = "GET " + target + " HTTP/1.1\r\nHost: "
              + url.authority(QUrl::FullyEncoded | QUrl::RemoveUserInfo).toLatin1() + "\r\n";
    for (const auto& header : headers)
        request += header.first + ": " + header.second + "\r\n";
    request += "Connection: close\r\n\r\n";

    socket = new QSslSocket(this);
    connect(socket, &QSslSocket::readyRead, this, &HttpGetTransfer::onReadyRead);
    connect(socket, &QSslSocket::disconnected, this, &HttpGetTransfer::onClosed);
    connect(socket, &QSslSocket::errorOccurred, this, &HttpGetTransfer::onSocketError);
    idle.setInterval(limits.idleTimeoutMs);
    idle.start();
    minProgressBytes = limits.minProgressBytes;
    progressCheck.start(limits.progressWindowMs);
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) {
        // The certificate and the host name are checked; any error ends the transfer.
        connect(socket, &QSslSocket::encrypted, this, &HttpGetTransfer::onConnected);
        socket->connectToHostEncrypted(url.host(), quint16(url.port(443)));
    } else {
        connect(socket, &QSslSocket::connected, this, &HttpGetTransfer::onConnected);
        socket->connectToHost(url.host(), quint16(url.port(80)));
    }
}

void HttpGetTransfer::abort()
{
    stage = Stage::Done;
    idle.stop();
    progressCheck.stop();
    if (socket) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool HttpGetTransfer::hasRawHeader(const QByteArray& name) const
{
    const QByteArray key = name.toLower();
    return std::any_of(fields.begin(), fields.end(), [&](const auto& field) { return field.first == key; });
}

QByteArray HttpGetTransfer::rawHeader(const QByteArray& name) const
{
    const QByteArray key = name.toLower();
    QList<QByteArray> values;
    for (const auto& field : fields)
        if (field.first == key)
            values << field.second;
    return values.join(", ");
}

void HttpGetTransfer::onConnected()
{
    socket->write(request);
}

void HttpGetTransfer::onReadyRead()
{
    idle.start();
    buffer += socket->readAll();
    parse();
}

void HttpGetTransfer::onSocketError()
{
    // A reset reads as a close too: what the framing says decides.
    if (socket->error() == QAbstractSocket::RemoteHostClosedError) {
        onClosed();
    } else {
        qWarning() << "HttpGetTransfer:" << socket->errorString();
        finish(NetworkErrorMessages::describe(socket->error()));
    }
}

void HttpGetTransfer::onClosed()
{
    if (stage == Stage::Done)
        return;
    buffer += socket->readAll();
    if (!parse())
        return;
    switch (stage) {
    case Stage::UntilClose:
        finish(QString());
        break;
    case Stage::AfterLength:
        finish(QString(), true);
        break;
    case Stage::Head:
        finish(tr("服务器未回答就关闭了连接"));
        break;
    case Stage::Length:
        finish(tr("下载不完整: 收到 %1 字节，应为 %2 字节").arg(bodyBytes).arg(length));
        break;
    default:
        finish(tr("下载不完整: 没有收到最后一个数据块"));
        break;
    }
}

bool HttpGetTransfer::parse()
{
    const QString badChunks = tr("服务器返回的分块数据无效");
    bool going = true;
    while (going && stage != Stage::Done) {
        QByteArray line;
        switch (stage) {
        case Stage::Head: {
            const qsizetype end = buffer.indexOf("\r\n\r\n", at);
            if (end < 0) {
                if (buffer.size() - at > MaxHeadBytes)
                    finish(tr("服务器的回答无效"));
                going = false;
                break;
            }
            const QByteArray head = buffer.mid(at, end - at);
            at = end + 4;
            if (!parseHead(head)) {
                finish(tr("服务器的回答无效"));
                break;
            }
            // An interim answer: the real one follows, after a few at most.
            if (status >= 100 && status < 200 && status != 101) {
                if (++interimAnswers > MaxInterimAnswers)
                    finish(tr("服务器发送了过多的临时回答 (HTTP %1)").arg(status));
                break;
            }
            chooseFraming();
            break;
        }
        case Stage::Length:
        case Stage::ChunkData: {
            const auto bytes = qsizetype(std::min<qint64>(remaining, buffer.size() - at));
            if (bytes == 0 || !deliver(bytes)) {
                going = false;
                break;
            }
            remaining -= bytes;
            if (remaining == 0 && stage == Stage::Length)
                stage = Stage::AfterLength;
            else if (remaining == 0)
                stage = Stage::ChunkEnd;
            break;
        }
        case Stage::UntilClose:
            if (buffer.size() > at)
                deliver(buffer.size() - at);
            going = false;
            break;
        case Stage::AfterLength:
            // The request asked for the connection's close after the
            // answer: more bytes mean the announced length cut the body.
            if (buffer.size() > at)
                finish(tr("下载无效: 服务器发送的数据多于它声明的 %1 字节").arg(length));
            going = false;
            break;
        case Stage::ChunkSize:
        case Stage::ChunkEnd:
        case Stage::Trailers:
            if (!takeLine(line)) {
                if (buffer.size() - at > MaxLineBytes)
                    finish(badChunks);
                going = false;
            } else if (line.size() > MaxLineBytes) {
                // The same bound however the line arrived.
                finish(badChunks);
            } else if (stage == Stage::ChunkEnd) {
                // The chunk's data ends with a line end, nothing more.
                if (line.isEmpty())
                    stage = Stage::ChunkSize;
                else
                    finish(badChunks);
            } else if (stage == Stage::Trailers) {
                if (line.isEmpty())
                    finish(QString(), true);
                else if (++trailerLines > MaxTrailerLines)
                    finish(badChunks);
            } else {
                remaining = chunkSize(line);
                if (remaining < 0)
                    finish(badChunks);
                else
                    stage = remaining == 0 ? Stage::Trailers : Stage::ChunkData;
            }
            break;
        case Stage::Done:
            break;
        }
    }
    buffer.remove(0, at);
    at = 0;
    return stage != Stage::Done;
}

bool HttpGetTransfer::parseHead(const QByteArray& head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    // "HTTP/1.x 200 reason"
    const QByteArray& first = lines.first();
    if (!first.startsWith("HTTP/1.") || first.size() < 12 || first[8] != ' '
        || (first.size() > 12 && first[12] != ' '))
        return false;
    bool isNumber = true;
    for (int i = 9; i < 12; ++i)
        isNumber = isNumber && first[i] >= '0' && first[i] <= '9';
    if (!isNumber)
        return false;
    status = first.mid(9, 3).toInt();
    fields.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // A field name is one token; continued lines are not accepted.
        if (colon <= 0 || line.left(colon).contains(' ') || line.left(colon).contains('\t'))
            return false;
        fields.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

void HttpGetTransfer::chooseFraming()
{
    if ((status >= 100 && status < 200) || status == 204 || status == 304) {
        finish(QString(), true);
        return;
    }
    if (hasRawHeader("Transfer-Encoding")) {
        const QByteArray coding = rawHeader("Transfer-Encoding").toLower();
        if (coding != "chunked") {
            finish(tr("服务器使用了不支持的传输编码: %1").arg(QString::fromLatin1(coding.left(64))));
            return;
        }
        // Both framings at once can only mislead.
        if (hasRawHeader("Content-Length")) {
            finish(tr("服务器的回答无效"));
            return;
        }
        stage = Stage::ChunkSize;
        return;
    }
    if (hasRawHeader("Content-Length")) {
        // One plain decimal number; two lengths (joined by ", ") announce nothing.
        const QByteArray announced = rawHeader("Content-Length");
        bool isNumber = !announced.isEmpty() && announced.size() <= 18;
        for (const char c : announced)
            isNumber = isNumber && c >= '0' && c <= '9';
        if (!isNumber) {
            finish(tr("服务器返回的长度无效: %1").arg(QString::fromLatin1(announced.left(64))));
            return;
        }
        length = remaining = announced.toLongLong();
        if (length == 0) {
            finish(QString(), true);
            return;
        }
        stage = Stage::Length;
        return;
    }
    stage = Stage::UntilClose;
}

bool HttpGetTransfer::takeLine(QByteArray& line)
{
    const qsizetype end = buffer.indexOf('\n', at);
    if (end < 0)
        return false;
    line = buffer.mid(at, end - at);
    if (line.endsWith('\r'))
        line.chop(1);
    at = end + 1;
    return true;
}

bool HttpGetTransfer::deliver(qsizetype bytes)
{
    const QByteArray data = buffer.mid(at, bytes);
    at += bytes;
    bodyBytes += bytes;
    emit bodyReceived(data);
    return stage != Stage::Done;
}

void HttpGetTransfer::finish(const QString& errorText, bool endWasMarked)
{
    if (stage == Stage::Done)
        return;
    abort();
    error = errorText;
    marked = endWasMarked;
    emit finished();
}
