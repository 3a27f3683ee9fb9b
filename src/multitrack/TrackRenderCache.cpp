#include "multitrack/TrackRenderCache.h"

#include <algorithm>

namespace {

bool samePoints(const std::vector<EnvelopePoint>& a, const std::vector<EnvelopePoint>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const EnvelopePoint& x, const EnvelopePoint& y) {
                          return x.time == y.time && x.value == y.value;
                      });
}

bool sameAudio(const AudioClip& a, const AudioClip& b)
{
    return a.samples.constData() == b.samples.constData() && a.samples.size() == b.samples.size()
        && a.sampleRate == b.sampleRate && a.start == b.start && a.audioStart == b.audioStart
        && a.audioEnd == b.audioEnd && a.fadeIn == b.fadeIn && a.fadeOut == b.fadeOut
        && a.fadeInCurve == b.fadeInCurve && a.fadeOutCurve == b.fadeOutCurve;
}

bool sameNotes(const std::vector<MidiNote>& a, const std::vector<MidiNote>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const MidiNote& x, const MidiNote& y) {
        return x.pitch == y.pitch && x.start == y.start && x.duration == y.duration
            && x.velocity == y.velocity;
    });
}

bool sameMidi(const MidiClip& a, const MidiClip& b)
{
    return a.start == b.start && a.duration == b.duration && sameNotes(a.notes, b.notes);
}

} // namespace

TrackRenderSource TrackRenderSource::forAudio(const TrackData& track, int sampleRate)
{
    TrackRenderSource source;
    source.kind = AudioTrack;
    source.sampleRate = sampleRate;
    source.envelopeEnabled = track.envelopeEnabled;
    source.envelope = track.volumeEnvelope;
    source.audioClips.reserve(track.audioClips.size());
    for (const AudioClip& clip : track.audioClips) {
        AudioClip kept = clip;
        kept.stereoSamples.clear(); // flattening reads only the mono list
        source.audioClips.push_back(std::move(kept));
    }
    return source;
}

TrackRenderSource TrackRenderSource::forMidi(const TrackData& scaledTrack, int sampleRate,
                                             const QString& instrument)
{
    TrackRenderSource source;
    source.kind = MidiTrack;
    source.sampleRate = sampleRate;
    source.envelopeEnabled = scaledTrack.envelopeEnabled;
    source.envelope = scaledTrack.volumeEnvelope;
    source.midiClips = scaledTrack.midiClips;
    source.instrumentIndex = scaledTrack.instrumentIndex;
    source.midiChannel = scaledTrack.midiChannel;
    source.instrument = instrument;
    return source;
}

bool TrackRenderSource::operator==(const TrackRenderSource& other) const
{
    return kind >= 0 && kind == other.kind && sampleRate == other.sampleRate
        && envelopeEnabled == other.envelopeEnabled && samePoints(envelope, other.envelope)
        && instrumentIndex == other.instrumentIndex && midiChannel == other.midiChannel
        && instrument == other.instrument
        && std::equal(audioClips.begin(), audioClips.end(), other.audioClips.begin(),
                      other.audioClips.end(), sameAudio)
        && std::equal(midiClips.begin(), midiClips.end(), other.midiClips.begin(),
                      other.midiClips.end(), sameMidi);
}
