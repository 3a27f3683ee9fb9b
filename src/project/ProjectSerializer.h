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
    // root is not an object or lacks "tracks" or "version".
    static bool loadProject(const QJsonDocument& doc, ProjectData& project);

    // The same document written as indented JSON text straight to `device`
    // (byte for byte what QJsonDocument::toJson(Indented) would give), for
    // projects too large to build as a document. False when a write failed.
    static bool writeProject(QIODevice* device, const QString& name,
                             const std::vector<TrackData>& tracks, const ProjectSettings& settings,
                             double currentTime, double zoom,
                             const std::vector<TimelineMarker>& markers);

    enum class ParseResult { Loaded, SyntaxError, InvalidProject };

    // Parses JSON text in place (the bytes are modified and must stay alive
    // only for the call) and fills `project` as loadProject does. On a
    // syntax error `errorText` receives the parser's message.
    static ParseResult readProject(QByteArray& jsonText, ProjectData& project, QString* errorText);
};
