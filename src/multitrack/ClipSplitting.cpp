#include "multitrack/ClipSplitting.h"

#include <cmath>

namespace {

// Whole samples in `seconds` at `rate`, truncated; 0 for anything not a
// positive finite count.
qint64 framesIn(double seconds, int rate)
{
    const double frames = seconds * double(rate);
    if (!(frames > 0.0) || !std::isfinite(frames))
        return 0;
    return frames >= 9.0e18 ? qint64(9.0e18) : qint64(frames);
}

} // namespace

namespace ClipSplitting {

bool splitAudioClip(const AudioClip& clip, double at, AudioClip& first, AudioClip& second)
{
    const int rate = clip.sampleRate;
    const qint64 frames = clip.samples.size();
    const double visible = clip.playableLength();
    if (rate < 1 || !(clip.start < at && at < clip.start + visible))
        return false;
    qint64 split = framesIn(at - clip.start, rate);
    if (split < 1)
        return false;
    split += framesIn(clip.audioStart, rate);
    const qint64 end = frames - framesIn(clip.audioEnd, rate);
    if (end <= split)
        return false;

    AudioClip tail;
    tail.samples = clip.samples; // shared: both parts read the one list
    tail.stereoSamples = clip.stereoSamples;
    tail.sampleRate = rate;
    tail.start = at;
    tail.audioStart = double(split) / rate;
    tail.audioEnd = clip.audioEnd;
    // The clip's end keeps its fade-out; the cut itself is not faded.
    tail.fadeOut = clip.fadeOut;
    tail.fadeOutCurve = clip.fadeOutCurve;

    AudioClip head = clip;
    head.audioEnd = double(frames - split) / rate;
    head.fadeOut = 0.0;

    first = std::move(head);
    second = std::move(tail);
    return true;
}

bool splitMidiClip(const MidiClip& clip, double at, MidiClip& first, MidiClip& second)
{
    if (!(clip.start < at && at < clip.start + clip.duration))
        return false;
    const double offset = at - clip.start;

    MidiClip tail;
    tail.id = clip.id + 1;
    tail.start = at;
    tail.duration = clip.duration - offset;
    MidiClip head = clip;
    head.duration = offset;
    head.notes.clear();
    for (const MidiNote& note : clip.notes) {
        if (note.start >= offset) {
            MidiNote moved = note;
            moved.start -= offset;
            tail.notes.push_back(moved);
        } else {
            // Sounds whole from the first part, even across the cut.
            head.notes.push_back(note);
        }
    }
    first = std::move(head);
    second = std::move(tail);
    return true;
}

} // namespace ClipSplitting
