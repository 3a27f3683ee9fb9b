#include "widgets/MeterLevel.h"

#include <algorithm>
#include <cmath>

namespace {

int levelOf(double sumOfSquares, int count)
{
    if (count < 1)
        return 0;
    const double level = std::sqrt(sumOfSquares / count) * 100.0;
    if (std::isnan(level))
        return 0;
    if (level >= 100.0)
        return 100;
    return std::clamp(int(level), 0, 100);
}

} // namespace

namespace MeterLevel {

int rms(const float* data, int frames)
{
    if (!data || frames < 1)
        return 0;
    double sum = 0.0;
    for (int i = 0; i < frames; ++i)
        sum += double(data[i]) * data[i];
    return levelOf(sum, frames);
}

int finiteRms(const float* data, int count, int offset, int stride)
{
    if (!data || stride < 1)
        return 0;
    double sum = 0.0;
    int used = 0;
    for (int i = offset; i < count; i += stride) {
        if (!std::isfinite(data[i]))
            continue;
        sum += double(data[i]) * data[i];
        ++used;
    }
    return levelOf(sum, used);
}

} // namespace MeterLevel
