#include "ProjectFile.h"

#include "ProjectSerializer.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

ProjectFile::SaveResult ProjectFile::save(const QString& path, const QString& name,
                                          const std::vector<TrackData>& tracks,
                                          const ProjectSettings& settings, double currentTime,
                                          double zoom, const std::vector<TimelineMarker>& markers)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning() << "ProjectFile: cannot create" << path << file.errorString();
        return SaveResult::CannotWrite;
    }
    if (!ProjectSerializer::writeProject(&file, name, tracks, settings, currentTime, zoom,
                                         markers)) {
        qWarning() << "ProjectFile: write failed" << path << file.errorString();
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
    // Read into a buffer with a little room to spare, so the parser never
    // has to grow (and copy) it.
    const qint64 expected = file.size();
    QByteArray text;
    text.reserve(expected + 16);
    text.resize(expected);
    const qint64 got = expected > 0 ? file.read(text.data(), expected) : 0;
    if (got != expected || file.error() != QFileDevice::NoError) {
        qWarning() << "ProjectFile: read failed" << path << file.errorString();
        return LoadResult::CannotRead;
    }
    file.close();

    // The reader touches `project` only once the document proved to be a project.
    switch (ProjectSerializer::readProject(text, project, errorText)) {
    case ProjectSerializer::ParseResult::SyntaxError:
        return LoadResult::FormatError;
    case ProjectSerializer::ParseResult::InvalidProject:
        return LoadResult::InvalidProject;
    case ProjectSerializer::ParseResult::Loaded:
        break;
    }
    return LoadResult::Loaded;
}
