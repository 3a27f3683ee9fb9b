#pragma once
// Turns a multitrack project into its JSON document (".cdw") and back.
// Static functions, no state: callers do the file work (see ProjectFile for
// the atomic, streaming file form used by the application).

#include "ProjectTypes.h"

#include <QByteArray>
#include <QJsonDocument>
#include <vector>

class QIODevice;

class ProjectSerializer {
public:
    // The whole project as a JSON document. Never fails.
    static QJsonDocument saveProject(const QString& name, const std::vector<TrackData>& tracks,
                                     const ProjectSettings& settings, double currentTime,
                                     double zoom, const std::vector<TimelineMarker>& markers);

    // Fills `project` from a document; false (project untouched) when the
    // root is not an object, lacks "tracks" or "version", or part of its
    // content cannot be read (see ProjectJsonReading).
    static bool loadProject(const QJsonDocument& doc, ProjectData& project);

    // The same document written as indented JSON text straight to `device`
    // (byte for byte what QJsonDocument::toJson(Indented) would give), for
    // projects too large to build as a document. False when a write failed.
    // With `identity` the project keeps its id and creation time (its empty
    // fields are filled with those written); without, both are new.
    static bool writeProject(QIODevice* device, const QString& name,
                             const std::vector<TrackData>& tracks, const ProjectSettings& settings,
                             double currentTime, double zoom,
                             const std::vector<TimelineMarker>& markers,
                             ProjectIdentity* identity = nullptr);

    enum class ParseResult {
        Loaded,
        ReadError,      // the device failed; `errorText` says why
        SyntaxError,    // not JSON; `errorText` has the parser's message
        InvalidProject, // JSON, but not a project
        Damaged,        // part of the content cannot be read; `errorText` names it
    };

    // Reads the JSON text from `device` (which must be able to seek) to its
    // end, in reads of `blockSize`, and fills `project` as loadProject does,
    // only on Loaded. The embedded audio is decoded as it is read, so the
    // text is never held whole.
    static ParseResult readProject(QIODevice* device, ProjectData& project, QString* errorText,
                                   qint64 blockSize = 1 << 20);
    // The same for text in memory.
    static ParseResult readProject(QByteArray& jsonText, ProjectData& project, QString* errorText);
};
