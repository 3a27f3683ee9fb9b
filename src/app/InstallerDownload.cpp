#include "app/InstallerDownload.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTemporaryFile>

InstallerDownload::InstallerDownload(QObject* parent)
    : QObject(parent)
    , network(new QNetworkAccessManager(this))
{
}

InstallerDownload::~InstallerDownload()
{
    cancel();
}

bool InstallerDownload::isAllowedUrl(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    // Plain http only to this machine (a local test server); nothing else
    // may hand us an installer unprotected.
    const QHostAddress address(url.host());
    return url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
           || (!address.isNull() && address.isLoopback());
}

QString InstallerDownload::fileNameFor(const QString& url)
{
    const QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    // A name that could leave the folder, or mean nothing, is not used.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('\\')))
        return QString::fromLatin1(DefaultFileName);
    return name;
}

QString InstallerDownload::downloadFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

void InstallerDownload::start(const QString& url, const QString& folder, qint64 expectedSize)
{
    cancel();
    writeFailed = false;
    redirects = 0;
    received = 0;
    expected = expectedSize;
    const QUrl address(url);
    if (!isAllowedUrl(address)) {
        fail(tr("只允许通过 HTTPS 下载安装包"));
        return;
    }
    if (!QDir().mkpath(folder)) {
        fail(tr("无法创建下载文件夹: %1").arg(folder));
        return;
    }
    folderPath = folder;
    fileName = fileNameFor(url);
    partFile = std::make_unique<QTemporaryFile>(folder + QLatin1String("/.CalderwynStudio-XXXXXX.part"));
    if (!partFile->open()) {
        fail(tr("无法写入文件: %1").arg(folder));
        return;
    }
    request(address);
}

void InstallerDownload::request(const QUrl& address)
{
    current = address;
    QNetworkRequest request(address);
    request.setTransferTimeout(TransferTimeoutMs);
    // Redirects are followed by onFinished, each hop checked like the first
    // address (the library's own following loses hops of longer chains).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The body as sent, so its length can be checked against the announced
    // one (and the library does not unpack it).
    request.setRawHeader("Accept-Encoding", "identity");
    reply = network->get(request);
    connect(reply, &QNetworkReply::readyRead, this, &InstallerDownload::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &InstallerDownload::onFinished);
}

void InstallerDownload::onReadyRead()
{
    if (!reply || !partFile || writeFailed)
        return;
    const QByteArray chunk = reply->readAll();
    // Only the answer that carries the installer is saved (not the body of
    // a redirect or an error page).
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    if (partFile->write(chunk) != chunk.size()) {
        qWarning() << "InstallerDownload: write failed" << partFile->errorString();
        writeFailed = true;
        reply->abort();
        return;
    }
    // Counted here rather than taken from the reply's progress signal, which
    // Qt thins out and so may never report the last bytes before a pause.
    received += chunk.size();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    emit progress(received, length.isValid() ? length.toLongLong() : -1);
}

bool InstallerDownload::followRedirect(QNetworkReply* done)
{
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant location = done->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (status < 300 || status > 399 || !location.isValid())
        return false;
    const QUrl next = current.resolved(location.toUrl());
    if (!isAllowedUrl(next)) {
        fail(tr("只允许通过 HTTPS 下载安装包"));
        return true;
    }
    if (++redirects > MaxRedirects) {
        fail(tr("重定向次数过多"));
        return true;
    }
    received = 0;
    if (!partFile->resize(0) || !partFile->seek(0)) {
        fail(tr("无法写入文件: %1").arg(folderPath));
        return true;
    }
    request(next);
    return true;
}

void InstallerDownload::onFinished()
{
    QNetworkReply* done = reply;
    if (!done)
        return;
    reply = nullptr;
    done->deleteLater();
    if (writeFailed) {
        fail(tr("无法写入文件: %1").arg(folderPath));
        return;
    }
    if (done->error() != QNetworkReply::NoError) {
        fail(done->errorString());
        return;
    }
    // What arrived with the last signal.
    if (done->bytesAvailable() > 0) {
        reply = done;
        onReadyRead();
        reply = nullptr;
        if (writeFailed) {
            fail(tr("无法写入文件: %1").arg(folderPath));
            return;
        }
    }
    if (followRedirect(done))
        return;
    const QString incomplete = incompleteReason(done);
    if (!incomplete.isEmpty()) {
        fail(incomplete);
        return;
    }
    if (!partFile->flush()) {
        fail(tr("无法写入文件: %1").arg(folderPath));
        return;
    }
    const QString target = uniqueTarget();
    // rename() never replaces an existing file.
    if (!partFile->rename(target)) {
        fail(tr("无法保存文件: %1").arg(target));
        return;
    }
    partFile->setAutoRemove(false);
    partFile.reset();
    qDebug() << "InstallerDownload: saved" << target;
    emit finished(target);
}

QString InstallerDownload::incompleteReason(QNetworkReply* done) const
{
    // Partial content, no content, not modified, a choice of addresses or
    // an interim answer: none of them is the installer.
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200)
        return tr("服务器未返回安装包 (HTTP 状态 %1)").arg(status);
    // The body was asked for as sent: one that is packed anyway cannot be
    // checked against its length, nor is it the installer.
    const QByteArray encoding = done->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return tr("服务器返回了压缩的数据 (%1)，无法核对安装包").arg(QString::fromLatin1(encoding));
    // Two lengths (joined by the library with ", "), or one that is not a
    // plain number, announce nothing that can be trusted.
    if (done->hasRawHeader("Content-Length")) {
        const QByteArray announced = done->rawHeader("Content-Length").trimmed();
        bool isNumber = !announced.isEmpty();
        for (const char c : announced)
            isNumber = isNumber && c >= '0' && c <= '9';
        const qint64 length = isNumber ? announced.toLongLong(&isNumber) : -1;
        if (!isNumber)
            return tr("服务器返回的长度无效: %1").arg(QString::fromLatin1(announced.left(64)));
        if (length != received)
            return tr("下载不完整: 收到 %1 字节，应为 %2 字节").arg(received).arg(length);
    }
    // No installer is empty (a chunked body whose first size is not a
    // number ends there).
    if (received == 0)
        return tr("下载不完整: 没有收到任何数据");
    if (expected > 0 && received != expected)
        return tr("安装包大小不符: 收到 %1 字节，应为 %2 字节").arg(received).arg(expected);
    return QString();
}

QString InstallerDownload::uniqueTarget() const
{
    const QString first = folderPath + QLatin1Char('/') + fileName;
    if (!QFileInfo::exists(first))
        return first;
    const QFileInfo info(fileName);
    const QString base = info.completeBaseName().isEmpty() ? fileName : info.completeBaseName();
    const QString suffix = info.completeBaseName().isEmpty() || info.suffix().isEmpty()
                               ? QString()
                               : QLatin1Char('.') + info.suffix();
    for (int n = 1;; ++n) {
        const QString candidate =
            QStringLiteral("%1/%2 (%3)%4").arg(folderPath, base).arg(n).arg(suffix);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

void InstallerDownload::fail(const QString& error)
{
    discard();
    qWarning() << "InstallerDownload:" << error;
    emit failed(error);
}

void InstallerDownload::cancel()
{
    if (reply) {
        QNetworkReply* running = reply;
        reply = nullptr;
        running->disconnect(this);
        running->abort();
        running->deleteLater();
    }
    discard();
}

void InstallerDownload::discard()
{
    // The temporary file removes itself.
    partFile.reset();
}
