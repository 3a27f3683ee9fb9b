#pragma once
// Float to integer PCM as the writers store it: clamp to [-1, 1], scale by
// the largest positive value (32767, 8388607) and truncate toward zero.
// NaN becomes silence rather than undefined behaviour.

#include <QtGlobal>

namespace SampleConversion {

inline float clampUnit(float v)
{
    return v > -1.0f ? (v < 1.0f ? v : 1.0f) : (v <= -1.0f ? -1.0f : 0.0f);
}

// In double the product is exact, so truncation never sees a value that
// float rounding pushed up to the next integer.
inline qint32 toPcm16(float v) { return qint32(double(clampUnit(v)) * 32767.0); }

inline qint32 toPcm24(float v) { return qint32(double(clampUnit(v)) * 8388607.0); }

} // namespace SampleConversion
