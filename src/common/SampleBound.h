#pragma once
// The values a sample list may hold. Float audio goes past ±1 (a hot mix, a
// float file with headroom), but no recording reaches +48 dBFS: a value like
// 1e30 is damage, and one such value rings through a reverb's tail or an
// equaliser and leaves the whole file at full scale. The audio file and video
// readers keep values within ±Limit, clamping what lies beyond and reading
// NaN and infinities as silence; the single-track page keeps its effects'
// results there too, so no chain of effects runs off to infinity.

#include <QList>

#include <algorithm>
#include <cmath>

namespace SampleBound {

constexpr float Limit = 256.0f; // 2^8, +48 dBFS

inline float bounded(double value)
{
    if (value >= -double(Limit) && value <= double(Limit))
        return float(value);
    if (!std::isfinite(value))
        return 0.0f; // NaN fails both comparisons above
    return value > 0.0 ? Limit : -Limit;
}

inline bool within(float value)
{
    return value >= -Limit && value <= Limit;
}

inline void apply(float* values, qsizetype count)
{
    // Blocks are checked with a loop the compiler vectorises; sound almost
    // always passes, and only a block that does not is clamped.
    constexpr qsizetype kBlock = 256;
    for (qsizetype start = 0; start < count; start += kBlock) {
        const qsizetype end = std::min(count, start + kBlock);
        int outside = 0;
        for (qsizetype i = start; i < end; ++i)
            outside |= int(!(std::fabs(values[i]) <= Limit)); // NaN too
        if (outside == 0)
            continue;
        for (qsizetype i = start; i < end; ++i) {
            if (!within(values[i]))
                values[i] = bounded(values[i]);
        }
    }
}

// A list already within bounds is left shared: no copy is made.
inline void apply(QList<float>& list)
{
    const float* read = list.constData();
    const qsizetype count = list.size();
    qsizetype first = 0;
    while (first < count && within(read[first]))
        ++first;
    if (first < count)
        apply(list.data() + first, count - first);
}

} // namespace SampleBound
