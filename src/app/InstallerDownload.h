#pragma once
// Downloads an installer into a folder, safely: only https addresses (and
// http to this machine, for tests) are fetched, also across redirects, which
// are followed here one hop at a time; the body is asked for uncompressed, its
// framing is read strictly (HttpGetTransfer), and it streams into a temporary
// file beside the target, which becomes the target only when the whole body
// arrived; an existing file is never overwritten (the name gets a number); a
// cancelled or failed download leaves no file behind.

#include "app/HttpGetTransfer.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QTemporaryFile;

class InstallerDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxRedirects = 10;
    static constexpr char DefaultFileName[] = "CalderwynStudio-Setup.exe";

    explicit InstallerDownload(QObject* parent = nullptr);
    ~InstallerDownload() override;

    static bool isAllowedUrl(const QUrl& url);
    // Everything after the address's last "/" (a query stays part of it), or
    // the default name when that is empty.
    static QString fileNameFor(const QString& url);
    // The user's download folder, or the temporary folder when there is none.
    static QString downloadFolder();

    // Starts the download of `url` into `folder` (created when missing).
    // Only a status of 200 with the whole body counts: as long as the
    // announced length and, when `expectedSize` is above 0, that long (a
    // differing length, or more body, is refused as it arrives); with
    // neither, the server must mark its end (a last chunk), as a cut
    // connection is no end.
    // Refusals and failures arrive as failed().
    void start(const QString& url, const QString& folder, qint64 expectedSize = 0);
    // Stops a running download and removes what it had written; silent.
    void cancel();
    bool isRunning() const { return transfer != nullptr; }
    // For tests: a shorter progress window.
    void setProgressWindow(int windowMs) { limits.progressWindowMs = windowMs; }

signals:
    // Bytes saved so far and the announced length (-1 when none was given).
    void progress(qint64 received, qint64 total);
    void finished(const QString& path);
    void failed(const QString& error);

private:
    void request(const QUrl& address);
    void onBodyReceived(const QByteArray& chunk);
    void onFinished();
    // Follows a redirect answer; false when `done` is none.
    bool followRedirect(HttpGetTransfer* done);
    void fail(const QString& error);
    // Why `arriving` more bytes of body are refused; empty when they fit.
    QString sizeRefusal(qint64 arriving) const;
    // Why the finished answer is not a whole installer; empty when it is.
    QString incompleteReason(HttpGetTransfer* done) const;
    void stopTransfer();
    void discard();
    QString uniqueTarget() const;

    HttpGetTransfer* transfer = nullptr;
    std::unique_ptr<QTemporaryFile> partFile;
    QString folderPath;
    QString fileName;
    QUrl current;
    int redirects = 0;
    qint64 received = 0;
    qint64 expected = 0;
    HttpGetTransfer::Limits limits;
};
