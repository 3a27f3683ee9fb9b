#pragma once
// Turns a track into the one mono buffer the mixing engine plays: an audio
// track's clips laid on one timeline with their trims, fades, crossfades on
// overlaps and the volume envelope; and the tempo-scaled copy of a MIDI
// track that the instruments render. Sample 0 is timeline time 0, and the
// buffer runs one second past the material.
//
// Values come from project files, so they are checked before they are
// used: a clip with a non-finite time, a rate below 1 or an end beyond the
// longest render contributes nothing, nothing is written outside the
// buffer, and the buffer never exceeds OfflineRender::kMaxTrackSeconds.

#include "project/ProjectTypes.h"

#include <QList>
#include <vector>

// The track's audio clips at `sampleRate` (clips of other rates are
// resampled to it); empty when nothing plays or the rate is out of range.
QList<float> flattenAudioTrack(const TrackData& track, int sampleRate);

// The envelope's gain at time t (points in time order): the first value up
// to the first point, the last from the last point, linear between.
float envelopeValueAt(const std::vector<EnvelopePoint>& points, double t);

// Multiplies out[i] by the envelope's value at i / sampleRate. Points are
// taken in time order; those with a time that is not a number are ignored.
void applyEnvelope(float* out, qsizetype count, int sampleRate,
                   const std::vector<EnvelopePoint>& points);

// Timeline seconds per held MIDI second: sourceBpm / bpm, or exactly 1 when
// the tempi agree (within qFuzzyCompare) or either is not a positive finite
// number. Every view of MIDI times on the timeline uses this same factor.
double midiTempoFactor(double sourceBpm, double bpm);

// A MIDI track's clip starts, clip durations and note times, held at
// sourceBpm, rescaled to play at bpm (factor sourceBpm / bpm). Anything else,
// or tempi that are not positive finite numbers, comes back unchanged.
TrackData tempoScaledTrack(const TrackData& track, double sourceBpm, double bpm);
