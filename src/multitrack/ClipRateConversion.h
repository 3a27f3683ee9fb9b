#pragma once
// Brings imported material to the project's rate: the mono list and the
// interleaved stereo list of a clip are resampled so that the clip keeps its
// pitch and length at the new rate.

#include <QList>
#include <QtGlobal>

namespace ClipRateConversion {

// Material at this many times the target rate or more is not converted:
// the resampling filter would take gigabytes. Real material stays far below
// (768 kHz into an 8 kHz project is 96); only damaged files reach it.
constexpr double MaxRateRatio = 1024.0;

// Whether material at `fromRate` can be brought to `toRate`: both at least 1
// and the ratio below MaxRateRatio.
bool convertible(int fromRate, int toRate);

// Bytes that resampleMono and resampleStereo allocate for `monoFrames`
// frames and `stereoValues` interleaved values (the new lists and the stereo
// channel worked on), so that what would not fit in memory is refused before
// any of it is made; 0 when they make nothing new.
qint64 convertedBytes(qsizetype monoFrames, qsizetype stereoValues, int fromRate, int toRate);

// The list at `toRate`, the same seconds long; a copy when the rates agree,
// empty when either rate is below 1 or fromRate is MaxRateRatio times toRate
// or more.
QList<float> resampleMono(const QList<float>& samples, int fromRate, int toRate);
// The same for interleaved left/right pairs (an odd trailing value is dropped).
QList<float> resampleStereo(const QList<float>& interleaved, int fromRate, int toRate);

} // namespace ClipRateConversion
