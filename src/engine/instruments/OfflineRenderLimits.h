#pragma once
// Bounds that every offline render applies. Times come from project files,
// so they are checked before any frame count is computed: a non-finite or
// negative time renders nothing, material past the longest timeline is cut
// there (what comes before it is kept), and a render is sized before it is
// allocated so one that the machine cannot hold is refused instead.

#include "project/ProjectTypes.h"

#include <QString>
#include <QtGlobal>

namespace OfflineRender {

// The longest timeline a render covers, in seconds. Real material is far
// shorter; only damaged or absurd values from files reach it.
constexpr double kMaxTrackSeconds = 24.0 * 3600.0;
// Output rates accepted for offline rendering, in Hz.
constexpr int kMinSampleRate = 1;
constexpr int kMaxSampleRate = 192000;
inline bool acceptsRate(int sampleRate)
{
    return sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate;
}

// The end of a track's material in seconds: its MIDI clips for a MIDI track,
// its audio clips (start + playable length) for an audio track. Clips with a
// non-finite start or length are left out; 0 without clips.
double trackEnd(const TrackData& track);

// Frames of a track render: the rate plus trunc(end × rate), one second of
// room after the last clip. A track ending past kMaxTrackSeconds is cut
// there, and its render ends a second after its last note has sounded
// rather than holding the silence of clips that run on. 0 when there is
// nothing to render: no clips, an end of 0 or less or a rate out of range.
qint64 trackFrames(const TrackData& track, int sampleRate);

// The first frame at which a note of the track sounds in a render of
// `frames` frames at sampleRate; `frames` when none does. A render may start
// there: what comes before is silence.
qint64 firstNoteFrame(const TrackData& track, int sampleRate, qint64 frames);
// Bytes of a MIDI track's mono render from its first note to the end of
// trackFrames(): the list an instrument returns for it (a render resampled
// from another rate holds that one too, see SF2Sampler::renderBytes).
qint64 renderBytesFromFirstNote(const TrackData& track, int sampleRate);

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

// Bytes of memory this process may still take for a render: what the
// system reports as available; -1 when it cannot tell.
qint64 availableBytes();
// Whether a render needing `bytes` more fits in memory (true when the
// system cannot tell).
bool fitsInMemory(qint64 bytes);
// What the user is told when a render needing `bytes` is refused; `work`
// names what was refused ("导出", "导入").
QString tooLargeText(qint64 bytes, const QString& work = QStringLiteral("导出"));

} // namespace OfflineRender
