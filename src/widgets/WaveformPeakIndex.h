#pragma once
// Minimum and maximum of any sample range in a bounded number of reads: the
// samples are summarised in blocks of 32, and those blocks pairwise in
// levels above, so a range reads at most 31 samples at each end plus two
// entries per level. Values that are not numbers are ignored, as they are
// when a range is scanned directly.

#include <QtGlobal>
#include <vector>

class WaveformPeakIndex {
public:
    static constexpr int BlockShift = 5;
    static constexpr qsizetype BlockSize = qsizetype(1) << BlockShift;

    // Positions count values of one channel; value i sits at data[i * stride]
    // (stride 2 reads one channel of an interleaved stereo list in place).

    void clear();
    // Summarises values [0, count).
    void build(const float* data, qsizetype count, qsizetype stride = 1);
    // data now holds count values, of which the first indexedCount() were
    // summarised before and are unchanged.
    void extend(const float* data, qsizetype count);
    qsizetype indexedCount() const { return indexed; }

    // Lowers mn and raises mx by every value in [first, end) (data must be
    // the summarised list).
    void rangeMinMax(const float* data, qsizetype first, qsizetype end, float& mn,
                     float& mx) const;

    static void scan(const float* data, qsizetype first, qsizetype end, float& mn, float& mx,
                     qsizetype stride = 1);

private:
    void rebuildFrom(const float* data, qsizetype firstBlock);

    qsizetype indexed = 0;
    qsizetype stride = 1;
    std::vector<std::vector<float>> minima;   // level l: blocks of BlockSize << l samples
    std::vector<std::vector<float>> maxima;
};
