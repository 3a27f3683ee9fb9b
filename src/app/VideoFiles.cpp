#include "app/VideoFiles.h"

#include <QFileInfo>
#include <QStringList>

namespace VideoFiles {

bool isVideoFile(const QString& path)
{
    static const QStringList suffixes = {
        QStringLiteral("mp4"), QStringLiteral("mkv"), QStringLiteral("avi"), QStringLiteral("mov"),
        QStringLiteral("flv"), QStringLiteral("ts"),  QStringLiteral("webm")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

} // namespace VideoFiles
