#pragma once
// Minimum and maximum of any sample range in a bounded number of reads: the
// samples are summarised in blocks (32 samples unless asked otherwise), and
// those blocks pairwise in levels above, so a range reads at most a block
// less one sample at each end plus two entries per level. The index holds
// about 4 / block of the summarised values' bytes: coarser blocks keep
// less and read more. Values that are not numbers are ignored, as they are
// when a range is scanned directly.

#include <QtGlobal>
#include <vector>

class WaveformPeakIndex {
public:
    static constexpr int DefaultBlockShift = 5;

    // Blocks of 2^blockShift samples (at least 1, at most 20).
    explicit WaveformPeakIndex(int blockShift = DefaultBlockShift);

    // Positions count values of one channel; value i sits at data[i * stride]
    // (stride 2 reads one channel of an interleaved stereo list in place).

    void clear();
    // Summarises values [0, count).
    void build(const float* data, qsizetype count, qsizetype stride = 1);
    // data now holds count values, of which the first indexedCount() were
    // summarised before and are unchanged.
    void extend(const float* data, qsizetype count);
    qsizetype indexedCount() const { return indexed; }
    // What the summaries take in memory.
    qsizetype memoryBytes() const;

    // Lowers mn and raises mx by every value in [first, end) (data must be
    // the summarised list).
    void rangeMinMax(const float* data, qsizetype first, qsizetype end, float& mn,
                     float& mx) const;

    static void scan(const float* data, qsizetype first, qsizetype end, float& mn, float& mx,
                     qsizetype stride = 1);

private:
    void rebuildFrom(const float* data, qsizetype firstBlock);

    int blockShift = DefaultBlockShift;
    qsizetype blockSize = qsizetype(1) << DefaultBlockShift;
    qsizetype indexed = 0;
    qsizetype stride = 1;
    std::vector<std::vector<float>> minima;   // level l: blocks of BlockSize << l samples
    std::vector<std::vector<float>> maxima;
};
