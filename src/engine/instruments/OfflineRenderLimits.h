#pragma once
// Bounds that both instruments apply when they render a track offline. Times
// come from project files, so they are checked before any frame count is
// computed: a non-finite, negative or absurd time renders nothing instead of
// allocating gigabytes, and every frame count fits the engines' int counts.

#include "project/ProjectTypes.h"

#include <QtGlobal>

namespace OfflineRender {

// The longest track an offline render produces, in seconds.
constexpr double kMaxTrackSeconds = 2.0 * 3600.0;
// Output rates accepted for offline rendering, in Hz.
constexpr int kMinSampleRate = 1;
constexpr int kMaxSampleRate = 192000;

// The end of a track's material in seconds: its MIDI clips for a MIDI track,
// its audio clips (start + playable length) for an audio track. Clips with a
// non-finite start or length are left out; 0 without clips.
double trackEnd(const TrackData& track);

// Frames of a track render: the rate plus trunc(end × rate), one second of
// room after the last clip. 0 when there is nothing to render: no clips, an
// end of 0 or less, an end beyond kMaxTrackSeconds or a rate out of range.
qint64 trackFrames(const TrackData& track, int sampleRate);

// Start of a note of a clip starting at clipStart, in seconds on the timeline;
// negative when the note renders nothing: a non-finite time, a start before 0,
// a negative duration or a pitch outside 0..127.
double noteStartSeconds(double clipStart, const MidiNote& note);

// trunc(value) limited to 0..limit (NaN gives 0).
qint64 truncated(double value, qint64 limit);
// trunc(seconds × rate) limited to 0..limit.
inline qint64 framesAt(double seconds, int sampleRate, qint64 limit)
{
    return truncated(seconds * sampleRate, limit);
}

} // namespace OfflineRender
