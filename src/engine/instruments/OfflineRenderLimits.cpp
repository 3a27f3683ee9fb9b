#include "engine/instruments/OfflineRenderLimits.h"

#include <algorithm>
#include <cmath>

namespace OfflineRender {

double trackEnd(const TrackData& track)
{
    double end = 0.0;
    if (track.isMidi()) {
        for (const MidiClip& clip : track.midiClips) {
            const double clipEnd = clip.start + clip.duration;
            if (std::isfinite(clipEnd))
                end = std::max(end, clipEnd);
        }
    } else {
        for (const AudioClip& clip : track.audioClips) {
            const double clipEnd = clip.end();
            if (std::isfinite(clipEnd))
                end = std::max(end, clipEnd);
        }
    }
    return end;
}

qint64 trackFrames(const TrackData& track, int sampleRate)
{
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate)
        return 0;
    const double end = trackEnd(track);
    if (!(end > 0.0) || end > kMaxTrackSeconds)
        return 0;
    return sampleRate + qint64(end * sampleRate);
}

double noteStartSeconds(double clipStart, const MidiNote& note)
{
    const double start = clipStart + note.start;
    if (!std::isfinite(start) || start < 0.0 || !std::isfinite(note.duration) || note.duration < 0.0
        || note.pitch < 0 || note.pitch > 127)
        return -1.0;
    return start;
}

qint64 truncated(double value, qint64 limit)
{
    if (!(value > 0.0))
        return 0;
    return value < double(limit) ? qint64(value) : limit;
}

} // namespace OfflineRender
