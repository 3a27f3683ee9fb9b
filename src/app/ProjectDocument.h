#pragma once
// The project file side of the project commands: what a single-track page
// saves as, and writing and reading a ".cdw" file with the texts the window
// shows when that fails. Writing goes through ProjectFile, which replaces the
// old file only once the new one is complete.

#include "project/ProjectTypes.h"

#include <QList>
#include <QString>
#include <vector>

namespace ProjectDocument {

// The path with ".cdw" added, unless it ends in it in any letter case.
QString withProjectSuffix(const QString& path);
// The file name without any of its suffixes ("a.b.cdw" gives "a").
QString projectName(const QString& path);

struct Content {
    std::vector<TrackData> tracks;
    std::vector<TimelineMarker> markers;
    ProjectSettings settings;
};

// A single-track recording as a project: one audio track named `name`
// holding one clip at 0 s (none without samples), tempo 120, two channels
// only for stereo material that was not made mono.
Content fromSingleTrack(const QString& name, const QList<float>& mono, const QList<float>& stereo,
                        int sampleRate, int bitDepth, bool forceMono);

// Writes the project; empty on success, else the message for "保存失败".
// The project keeps `identity` (see ProjectSerializer::writeProject).
QString save(const QString& path, const std::vector<TrackData>& tracks,
             const ProjectSettings& settings, const std::vector<TimelineMarker>& markers,
             ProjectIdentity* identity = nullptr);

// Reads the project into `data` (defaults preset); empty on success, else the
// message for "打开失败". On failure `data` is left as it was.
QString load(const QString& path, ProjectData& data);

} // namespace ProjectDocument
