#pragma once
// What the update host reports about the newest version.

#include <QMetaType>
#include <QString>

struct UpdateInfo {
    QString version;
    int build = 0;
    QString downloadUrl;
    QString releaseNotes;
    qint64 fileSize = 0;
};

Q_DECLARE_METATYPE(UpdateInfo)
