#include "widgets/WaveformPeakIndex.h"

#include "common/ParallelRanges.h"

#include <algorithm>
#include <limits>

namespace {

constexpr float Highest = std::numeric_limits<float>::infinity();

} // namespace

WaveformPeakIndex::WaveformPeakIndex(int shift)
    : blockShift(std::clamp(shift, 1, 20))
    , blockSize(qsizetype(1) << blockShift)
{
}

qsizetype WaveformPeakIndex::memoryBytes() const
{
    qsizetype bytes = 0;
    for (std::size_t level = 0; level < minima.size(); ++level)
        bytes += qsizetype(minima[level].capacity() + maxima[level].capacity()) * qsizetype(sizeof(float));
    return bytes;
}

void WaveformPeakIndex::clear()
{
    indexed = 0;
    minima.clear();
    maxima.clear();
}

namespace {

// Eight independent lanes, so the compiler can keep them in vector
// registers; comparisons with a value that is not a number are false, so
// such values never win.
template <qsizetype Stride>
void scanLanes(const float* data, qsizetype first, qsizetype end, float& mn, float& mx,
               qsizetype stride)
{
    const qsizetype step = Stride > 0 ? Stride : stride;
    constexpr int kLanes = 8;
    float lo[kLanes], hi[kLanes];
    for (int k = 0; k < kLanes; ++k) {
        lo[k] = mn;
        hi[k] = mx;
    }
    qsizetype i = first;
    for (; i + kLanes <= end; i += kLanes) {
        const float* block = data + i * step;
        for (int k = 0; k < kLanes; ++k) {
            const float v = block[k * step];
            lo[k] = v < lo[k] ? v : lo[k];
            hi[k] = v > hi[k] ? v : hi[k];
        }
    }
    for (; i < end; ++i) {
        const float v = data[i * step];
        lo[0] = v < lo[0] ? v : lo[0];
        hi[0] = v > hi[0] ? v : hi[0];
    }
    for (int k = 1; k < kLanes; ++k) {
        lo[0] = lo[k] < lo[0] ? lo[k] : lo[0];
        hi[0] = hi[k] > hi[0] ? hi[k] : hi[0];
    }
    mn = lo[0];
    mx = hi[0];
}

} // namespace

void WaveformPeakIndex::scan(const float* data, qsizetype first, qsizetype end, float& mn,
                             float& mx, qsizetype stride)
{
    if (stride == 1)
        scanLanes<1>(data, first, end, mn, mx, 1);
    else if (stride == 2)
        scanLanes<2>(data, first, end, mn, mx, 2);
    else
        scanLanes<0>(data, first, end, mn, mx, stride);
}

void WaveformPeakIndex::build(const float* data, qsizetype count, qsizetype step)
{
    clear();
    indexed = std::max<qsizetype>(count, 0);
    stride = std::max<qsizetype>(step, 1);
    rebuildFrom(data, 0);
}

void WaveformPeakIndex::extend(const float* data, qsizetype count)
{
    if (count <= indexed) {
        if (count < indexed)
            build(data, count, stride);
        return;
    }
    // The last block may have been partial: recompute from it on.
    const qsizetype firstBlock = indexed >> blockShift;
    indexed = count;
    rebuildFrom(data, firstBlock);
}

void WaveformPeakIndex::rebuildFrom(const float* data, qsizetype firstBlock)
{
    qsizetype blocks = (indexed + blockSize - 1) >> blockShift;
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
    // The first level reads every sample: a whole recording is summarised
    // on every core. The levels above are a block's size smaller and stay serial.
    float* levelMin = minima[0].data();
    float* levelMax = maxima[0].data();
    const qsizetype count = indexed;
    const qsizetype step = stride;
    const int shift = blockShift;
    constexpr int SamplesPerThreadShift = 20;
    const qsizetype blocksPerThread = qsizetype(1) << std::max(0, SamplesPerThreadShift - shift);
    const qsizetype todo = blocks - firstBlock;
    ParallelRanges::run(todo, ParallelRanges::partsFor(todo, blocksPerThread),
                        [=](int, qint64 from, qint64 to) {
                            for (qsizetype b = firstBlock + from; b < firstBlock + to; ++b) {
                                float mn = Highest, mx = -Highest;
                                scan(data, b << shift, std::min(count, (b + 1) << shift),
                                     mn, mx, step);
                                levelMin[b] = mn;
                                levelMax[b] = mx;
                            }
                        });
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
    if (end - first < 2 * blockSize || minima.empty()) {
        scan(data, first, end, mn, mx, stride);
        return;
    }
    // Whole blocks [lo, hi) in the middle, raw samples at both ends.
    qsizetype lo = (first + blockSize - 1) >> blockShift;
    qsizetype hi = end >> blockShift;
    scan(data, first, lo << blockShift, mn, mx, stride);
    scan(data, hi << blockShift, end, mn, mx, stride);
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
