#include "ProjectFile.h"

#include "PageCacheSparingWriter.h"
#include "ProjectSerializer.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

ProjectFile::SaveResult ProjectFile::save(const QString& path, const QString& name,
                                          const std::vector<TrackData>& tracks,
                                          const ProjectSettings& settings, double currentTime,
                                          double zoom, const std::vector<TimelineMarker>& markers,
                                          ProjectIdentity* identity)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning() << "ProjectFile: cannot create" << path << file.errorString();
        return SaveResult::CannotWrite;
    }
    PageCacheSparingWriter writer(file);
    if (!ProjectSerializer::writeProject(&writer, name, tracks, settings, currentTime, zoom,
                                         markers, identity)) {
        qWarning() << "ProjectFile: write failed" << path << writer.errorString();
        file.cancelWriting();
        return SaveResult::Incomplete;
    }
    if (!file.commit()) {
        qWarning() << "ProjectFile: commit failed" << path << file.errorString();
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
