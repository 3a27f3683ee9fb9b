#include "ProjectFile.h"

#include "PageCacheSparingWriter.h"
#include "ProjectSerializer.h"
#include "common/SaveFileCommit.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

#include <cerrno>

ProjectFile::SaveResult ProjectFile::save(const QString& path, const QString& name,
                                          const std::vector<TrackData>& tracks,
                                          const ProjectSettings& settings, double currentTime,
                                          double zoom, const std::vector<TimelineMarker>& markers,
                                          ProjectIdentity* identity, int* errorNumber)
{
    int unused = 0;
    int& error = errorNumber ? *errorNumber : unused;
    error = 0;
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = errno;
        qWarning() << "ProjectFile: cannot create" << path << file.errorString();
        return SaveResult::CannotWrite;
    }
    PageCacheSparingWriter writer(file);
    // The text and the disk's answer for all of it, before the rename.
    if (!ProjectSerializer::writeProject(&writer, name, tracks, settings, currentTime, zoom,
                                         markers, identity)
        || !writer.finish()) {
        error = writer.failureErrno();
        qWarning() << "ProjectFile: write failed" << path << writer.errorString();
        file.cancelWriting();
        return SaveResult::Incomplete;
    }
    // The data is on the disk; the commit's own checked sync adds what the
    // file system keeps of it (its size) before the rename.
    if (!SaveFileCommit::commit(file, &error)) {
        qWarning() << "ProjectFile: commit failed" << path
                   << (error ? qt_error_string(error) : file.errorString());
        return SaveResult::Incomplete;
    }
    return SaveResult::Saved;
}

ProjectFile::LoadResult ProjectFile::load(const QString& path, ProjectData& project,
                                          QString* errorText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "ProjectFile: cannot open" << path << file.errorString();
        return LoadResult::CannotRead;
    }
    if (!file.isSequential() && file.size() == 0)
        return LoadResult::Empty;
    // The reader touches `project` only once the whole file proved readable.
    switch (ProjectSerializer::readProject(&file, project, errorText)) {
    case ProjectSerializer::ParseResult::ReadError:
        qWarning() << "ProjectFile: read failed" << path << file.errorString();
        return LoadResult::CannotRead;
    case ProjectSerializer::ParseResult::SyntaxError:
    case ProjectSerializer::ParseResult::Damaged:
        return LoadResult::FormatError;
    case ProjectSerializer::ParseResult::InvalidProject:
        return LoadResult::InvalidProject;
    case ProjectSerializer::ParseResult::Loaded:
        break;
    }
    return LoadResult::Loaded;
}
