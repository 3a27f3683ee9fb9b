#pragma once
// A project on disk. Saving streams the JSON text into a temporary file
// beside the target and renames it over the target only when complete, so
// a failed save never damages the file that was there. Loading reads the
// text as a stream and decodes the embedded audio as it arrives, so an hour
// of audio needs little more memory than its decoded samples.

#include "ProjectTypes.h"

#include <QString>
#include <vector>

class ProjectFile {
public:
    enum class SaveResult {
        Saved,
        CannotWrite, // the file (or its temporary) could not be created
        Incomplete,  // a write, the disk or the final rename failed; the old file is intact
    };
    // `errorNumber`, when given, gets the errno of a failure (0 when none is known).
    static SaveResult save(const QString& path, const QString& name,
                           const std::vector<TrackData>& tracks, const ProjectSettings& settings,
                           double currentTime, double zoom,
                           const std::vector<TimelineMarker>& markers,
                           ProjectIdentity* identity = nullptr, int* errorNumber = nullptr);

    enum class LoadResult {
        Loaded,
        CannotRead,     // the file could not be opened or read
        Empty,          // the file holds no bytes
        FormatError,    // not JSON, or part of the content cannot be read; `errorText` says what
        InvalidProject, // JSON, but not a project
    };
    // `project` is filled only on Loaded; the caller presets its defaults.
    static LoadResult load(const QString& path, ProjectData& project, QString* errorText = nullptr);
};
