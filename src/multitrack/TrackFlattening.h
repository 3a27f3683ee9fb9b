#pragma once
// Turns a track into the one mono buffer the mixing engine plays: an audio
// track's clips laid on one timeline with their trims, fades, crossfades on
// overlaps and the volume envelope; and the tempo-scaled copy of a MIDI
// track that the instruments render. Sample 0 is timeline time 0, and the
// buffer runs one second past the material.
//
// Values come from project files, so they are checked before they are
// used: a clip with a non-finite time, a rate below 1 or one absurdly far
// above the output's contributes nothing, nothing is written outside the
// buffer, and material past OfflineRender::kMaxTrackSeconds is cut there (a
// clip starting past it is left out). A clip's own samples bound its length
// otherwise.

#include "project/ProjectTypes.h"

#include <QList>
#include <vector>

// One audio track laid out at an output rate: its clips placed, their
// crossfades found and, after prepare(), clips of other rates resampled
// once. render() writes any window of the track's buffer, value for value
// what the whole buffer holds there, so a long track can be mixed a block
// at a time. Points into the track: it must outlive the flattener and stay
// unchanged.
class TrackFlattener {
public:
    TrackFlattener(const TrackData& track, int sampleRate);
    ~TrackFlattener();
    TrackFlattener(const TrackFlattener&) = delete;
    TrackFlattener& operator=(const TrackFlattener&) = delete;

    // Frames of the whole buffer; 0 when nothing plays or the rate is out of range.
    qint64 frameCount() const { return total; }
    // The first frame a clip writes; frameCount() when none writes any.
    qint64 firstSoundingFrame() const;
    // Whether material past OfflineRender::kMaxTrackSeconds was cut off.
    bool cut() const { return cutAtLimit; }
    // Bytes prepare() allocates for the clips of other rates.
    qint64 preparedBytes() const;
    // Resamples the clips of other rates; call once before render().
    void prepare();
    // Frames [first, first + count) of the buffer, within [0, frameCount()).
    void render(qint64 first, qint64 count, float* out) const;

private:
    struct Placed;
    int rate = 0;
    qint64 total = 0;
    bool cutAtLimit = false;
    bool envelope = false;
    std::vector<Placed> placed;
    std::vector<EnvelopePoint> points; // in time order
};

// The track's audio clips at `sampleRate` (clips of other rates are
// resampled to it); empty when nothing plays or the rate is out of range.
QList<float> flattenAudioTrack(const TrackData& track, int sampleRate);

// The same buffer without the silence before the first clip: frame 0 of the
// result is frame `firstFrame` of flattenAudioTrack's. Empty when no clip
// sounds; empty too (with a log line) when the machine cannot hold it.
QList<float> flattenAudioTrackFrom(const TrackData& track, int sampleRate, qint64& firstFrame);

// The envelope's gain at time t (points in time order): the first value up
// to the first point, the last from the last point, linear between.
float envelopeValueAt(const std::vector<EnvelopePoint>& points, double t);

// Multiplies out[i] by the envelope's value at i / sampleRate. Points are
// taken in time order; those with a time that is not a number are ignored.
void applyEnvelope(float* out, qsizetype count, int sampleRate,
                   const std::vector<EnvelopePoint>& points);
// The same for a window: out[k] is frame first + k of the buffer.
void applyEnvelopeFrom(float* out, qint64 first, qsizetype count, int sampleRate,
                       const std::vector<EnvelopePoint>& points);

// Timeline seconds per held MIDI second: sourceBpm / bpm, or exactly 1 when
// the tempi agree (within qFuzzyCompare) or either is not a positive finite
// number. Every view of MIDI times on the timeline uses this same factor.
double midiTempoFactor(double sourceBpm, double bpm);

// A MIDI track's clip starts, clip durations and note times, held at
// sourceBpm, rescaled to play at bpm (factor sourceBpm / bpm). Anything else,
// or tempi that are not positive finite numbers, comes back unchanged.
TrackData tempoScaledTrack(const TrackData& track, double sourceBpm, double bpm);
