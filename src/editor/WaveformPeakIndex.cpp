#include "editor/WaveformPeakIndex.h"

#include <algorithm>
#include <limits>

namespace {

constexpr float Highest = std::numeric_limits<float>::infinity();

} // namespace

void WaveformPeakIndex::clear()
{
    indexed = 0;
    minima.clear();
    maxima.clear();
}

void WaveformPeakIndex::scan(const float* data, qsizetype first, qsizetype end, float& mn,
                             float& mx)
{
    float lo = mn, hi = mx;
    for (qsizetype i = first; i < end; ++i) {
        const float v = data[i];
        // Comparisons with a value that is not a number are false.
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    mn = lo;
    mx = hi;
}

void WaveformPeakIndex::build(const float* data, qsizetype count)
{
    clear();
    indexed = std::max<qsizetype>(count, 0);
    rebuildFrom(data, 0);
}

void WaveformPeakIndex::extend(const float* data, qsizetype count)
{
    if (count <= indexed) {
        if (count < indexed)
            build(data, count);
        return;
    }
    // The last block may have been partial: recompute from it on.
    const qsizetype firstBlock = indexed >> BlockShift;
    indexed = count;
    rebuildFrom(data, firstBlock);
}

void WaveformPeakIndex::rebuildFrom(const float* data, qsizetype firstBlock)
{
    qsizetype blocks = (indexed + BlockSize - 1) >> BlockShift;
    if (blocks == 0) {
        minima.clear();
        maxima.clear();
        return;
    }
    if (minima.empty()) {
        minima.emplace_back();
        maxima.emplace_back();
    }
    minima[0].resize(blocks);
    maxima[0].resize(blocks);
    for (qsizetype b = firstBlock; b < blocks; ++b) {
        float mn = Highest, mx = -Highest;
        scan(data, b << BlockShift, std::min(indexed, (b + 1) << BlockShift), mn, mx);
        minima[0][b] = mn;
        maxima[0][b] = mx;
    }
    std::size_t level = 0;
    qsizetype first = firstBlock;
    while (blocks > 1) {
        const qsizetype upper = (blocks + 1) / 2;
        if (minima.size() <= level + 1) {
            minima.emplace_back();
            maxima.emplace_back();
        }
        const std::vector<float>& lowMin = minima[level];
        const std::vector<float>& lowMax = maxima[level];
        std::vector<float>& upMin = minima[level + 1];
        std::vector<float>& upMax = maxima[level + 1];
        upMin.resize(upper);
        upMax.resize(upper);
        first /= 2;
        for (qsizetype b = first; b < upper; ++b) {
            const qsizetype l = 2 * b, r = 2 * b + 1;
            upMin[b] = r < blocks ? std::min(lowMin[l], lowMin[r]) : lowMin[l];
            upMax[b] = r < blocks ? std::max(lowMax[l], lowMax[r]) : lowMax[l];
        }
        blocks = upper;
        ++level;
    }
    minima.resize(level + 1);
    maxima.resize(level + 1);
}

void WaveformPeakIndex::rangeMinMax(const float* data, qsizetype first, qsizetype end, float& mn,
                                    float& mx) const
{
    first = std::max<qsizetype>(first, 0);
    end = std::min(end, indexed);
    if (end - first < 2 * BlockSize || minima.empty()) {
        scan(data, first, end, mn, mx);
        return;
    }
    // Whole blocks [lo, hi) in the middle, raw samples at both ends.
    qsizetype lo = (first + BlockSize - 1) >> BlockShift;
    qsizetype hi = end >> BlockShift;
    scan(data, first, lo << BlockShift, mn, mx);
    scan(data, hi << BlockShift, end, mn, mx);
    float lowest = mn, highest = mx;
    for (std::size_t level = 0; lo < hi && level < minima.size(); ++level) {
        const std::vector<float>& levelMin = minima[level];
        const std::vector<float>& levelMax = maxima[level];
        if (lo & 1) {
            lowest = std::min(lowest, levelMin[lo]);
            highest = std::max(highest, levelMax[lo]);
            ++lo;
        }
        if (hi & 1) {
            --hi;
            lowest = std::min(lowest, levelMin[hi]);
            highest = std::max(highest, levelMax[hi]);
        }
        lo >>= 1;
        hi >>= 1;
    }
    mn = lowest;
    mx = highest;
}
