#pragma once
// Asks the update host whether a newer version exists: one GET of the update
// descriptor (a small JSON object), its fields checked into an UpdateInfo and
// its version compared with the program's. Each check ends in at most one of
// the three signals; a silent check (the one at start-up) keeps its failures
// to itself. Whether a check is silent belongs to that check alone, so a
// check started while another runs gets its own answer.

#include "app/UpdateInfo.h"

#include <QObject>
#include <QString>

class QJsonObject;
class QNetworkAccessManager;
class QNetworkReply;

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    // A transfer that makes no progress for this long fails as a network error.
    static constexpr int TransferTimeoutMs = 15000;
    // A descriptor is a few hundred bytes; a larger body is not one.
    static constexpr qint64 MaxDescriptorBytes = 1 << 20;

    explicit UpdateChecker(QObject* parent = nullptr);

    void setUpdateUrl(const QString& url);
    QString updateUrl() const { return url; }

    void checkForUpdates(bool silent);

    // "major.minor[.patch...]": false with fewer than two parts; a part that
    // is not a decimal number counts as 0; parts past the third are ignored.
    static bool parseVersion(const QString& text, int& major, int& minor, int& patch);
    // True when `remote` parses and is newer than `local` (or `local` does not parse).
    static bool isNewer(const QString& remote, const QString& local);
    static UpdateInfo readDescriptor(const QJsonObject& object);

signals:
    void updateAvailable(const UpdateInfo& info);
    void noUpdateAvailable();
    void checkFailed(const QString& error);

private slots:
    void onReplyFinished(QNetworkReply* reply);

private:
    void fail(bool silent, const QString& error);

    QNetworkAccessManager* network = nullptr;
    QString url;
};
