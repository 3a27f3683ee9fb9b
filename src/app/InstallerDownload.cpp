#include "app/InstallerDownload.h"

#include "app/AppInfo.h"
#include "app/HttpGetTransfer.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTemporaryFile>

InstallerDownload::InstallerDownload(QObject* parent)
    : QObject(parent)
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
    // Redirects are followed by onFinished, each hop checked like the first
    // address. The body is asked for as sent, so its length can be checked
    // against the announced one.
    transfer = new HttpGetTransfer(this);
    connect(transfer, &HttpGetTransfer::bodyReceived, this, &InstallerDownload::onBodyReceived);
    connect(transfer, &HttpGetTransfer::finished, this, &InstallerDownload::onFinished);
    transfer->start(address,
                    {{"User-Agent", QByteArray("CalderwynStudio/") + AppInfo::Version},
                     {"Accept-Encoding", "identity"}},
                    limits);
}

void InstallerDownload::onBodyReceived(const QByteArray& chunk)
{
    // Only the answer that carries the installer is saved (not the body of
    // a redirect or an error page).
    if (!transfer || !partFile || transfer->statusCode() != 200)
        return;
    // Nothing beyond the update data's size is written: a server that
    // announces another length, or goes on sending, is refused at once.
    const QString oversize = sizeRefusal(chunk.size());
    if (!oversize.isEmpty()) {
        stopTransfer();
        fail(oversize);
        return;
    }
    if (partFile->write(chunk) != chunk.size()) {
        qWarning() << "InstallerDownload: write failed" << partFile->errorString();
        stopTransfer();
        fail(tr("无法写入文件: %1").arg(folderPath));
        return;
    }
    received += chunk.size();
    emit progress(received, transfer->announcedLength());
}

bool InstallerDownload::followRedirect(HttpGetTransfer* done)
{
    const int status = done->statusCode();
    if (status < 300 || status > 399 || !done->hasRawHeader("Location"))
        return false;
    const QUrl next = current.resolved(QUrl::fromEncoded(done->rawHeader("Location")));
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
    HttpGetTransfer* done = transfer;
    if (!done)
        return;
    transfer = nullptr;
    done->deleteLater();
    if (!done->errorString().isEmpty()) {
        fail(done->errorString());
        return;
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

QString InstallerDownload::sizeRefusal(qint64 arriving) const
{
    if (expected <= 0)
        return QString();
    const qint64 announced = transfer->announcedLength();
    if (announced >= 0 && announced != expected)
        return tr("安装包大小不符: 服务器声明 %1 字节，应为 %2 字节").arg(announced).arg(expected);
    if (received + arriving > expected)
        return tr("安装包大小不符: 收到的数据超过应有的 %1 字节").arg(expected);
    return QString();
}

QString InstallerDownload::incompleteReason(HttpGetTransfer* done) const
{
    // Partial content, no content, not modified or a choice of addresses:
    // none of them is the installer.
    const int status = done->statusCode();
    if (status != 200)
        return tr("服务器未返回安装包 (HTTP 状态 %1)").arg(status);
    // The body was asked for as sent: one that is packed anyway cannot be
    // checked against its length, nor is it the installer.
    const QByteArray encoding = done->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return tr("服务器返回了压缩的数据 (%1)，无法核对安装包").arg(QString::fromLatin1(encoding));
    // The transfer ended the body where its length or last chunk said.
    // No installer is empty.
    if (received == 0)
        return tr("下载不完整: 没有收到任何数据");
    if (expected > 0 && received != expected)
        return tr("安装包大小不符: 收到 %1 字节，应为 %2 字节").arg(received).arg(expected);
    // Ended only by the closed connection, with no size to check it
    // against: a cut in mid-body would look the same.
    if (expected <= 0 && !done->endMarked())
        return tr("下载不完整: 服务器未标明数据的结尾，无法确认安装包完整");
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
    stopTransfer();
    discard();
}

void InstallerDownload::stopTransfer()
{
    if (HttpGetTransfer* running = transfer) {
        transfer = nullptr;
        running->abort();
        running->deleteLater();
    }
}

void InstallerDownload::discard()
{
    // The temporary file removes itself.
    partFile.reset();
}
