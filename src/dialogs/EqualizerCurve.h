#pragma once
// The arithmetic of the EQ curve editor, apart from its painting: the
// response of one band and of all of them, the graph's axes (log frequency
// 20 Hz..20 kHz across, -24..+24 dB up) and the band's label text. A band
// that the equaliser would skip (EqualiserBands::isApplied) adds 0 dB, so the
// curve shows what is applied.

#include "audio/EqualiserBands.h"

#include <QRect>
#include <QString>

#include <vector>

namespace EqualizerCurve {

constexpr float MinFrequency = 20.0f;
constexpr float MaxFrequency = 20000.0f;
constexpr float MaxGainDb = 24.0f;
constexpr double Log10MinFrequency = 1.30103;

using Band = EqualiserBandSettings;

// Response in dB of one band at `frequency` (0 dB for a frequency, centre
// or rate of 0 or less, or a band the equaliser skips).
float bandMagnitudeDb(float frequency, float centre, float gainDb, float q, int type,
                      float sampleRate);

// `count` frequencies spaced evenly on the log axis from 20 Hz to 20 kHz.
std::vector<double> logFrequencies(int count);
// One band's response at each frequency; all 0 dB when it is disabled or skipped.
std::vector<float> bandResponse(const Band& band, const std::vector<double>& frequencies,
                                float sampleRate);
// masterDb plus the sum of the enabled bands' responses.
std::vector<float> combinedResponse(const std::vector<Band>& bands, float masterDb,
                                    const std::vector<double>& frequencies, float sampleRate);

// ---- axes against a rectangle (width and height count both edges) ----
double freqToX(double frequency, const QRect& graph); // frequency clamped to 20..20000
double dbToY(double db, const QRect& graph);
double xToFreq(double x, const QRect& graph);          // x clamped into the graph
double yToGain(double y, const QRect& graph);           // not clamped

// "B3 Bell 1.0kHz\n0.0dB Q=1.0" for band index 2.
QString bandLabel(int index, const QString& typeLabel, float frequency, float gainDb, float q);

} // namespace EqualizerCurve
