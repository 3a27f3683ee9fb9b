#pragma once
// The computation behind the spectrogram view, free of widget code: analysis
// window, transform, spectrogram columns of a whole sample list, the live
// column of one block, and the per-bin level lists with peak hold.
//
// A column holds fftSize()/2 values in [0, 1]: -100 dB (relative to the
// block length) and below map to 0, -30 dB and above to 1. Samples that are
// not finite count as silence.

#include "audio/dsp/Fft.h"
#include "common/SampleChannel.h"
#include "editor/SpectrogramGrid.h"

#include <QList>
#include <complex>
#include <vector>

class SpectrogramComputer {
public:
    enum WindowType { Rectangular = 0, Hann = 1, Hamming = 2 };

    SpectrogramComputer();

    // N = the smallest power of two not below size (1 for size <= 1); hop = N/4
    // (at least 1).
    void setFftSize(int size);
    int fftSize() const { return n; }
    int hop() const { return hopSize; }

    // 0 rectangular, 2 Hamming, anything else Hann (symmetric forms).
    void setWindowType(int type);
    int windowType() const { return windowKind; }
    const std::vector<float>& window() const { return windowValues; }

    // Forward transform of N real samples into all N complex bins.
    void computeFft(const float* input, std::vector<std::complex<float>>& output) const;

    // One live column: the first min(N, count) samples windowed, zero padded.
    QList<float> computeColumn(const float* data, int count) const;

    // Whole-list analysis of one channel: column f covers values
    // [f*hop, f*hop + N). Only whole blocks are analysed, while the divisor
    // of the averages is count / hop (frameCount).
    qsizetype frameCount(qsizetype sampleCount) const;
    qsizetype wholeBlockCount(qsizetype sampleCount) const;
    // Computes column `frame` into values (N/2 entries) and, when given, the
    // bin magnitudes |X[k]| for k <= N/2 into magnitudes (N/2 + 1 entries).
    void computeListColumn(const SampleChannel& channel, qsizetype frame, float* values,
                           float* magnitudes) const;
    // Fills grid (reset to N/2 bins) with the cells of every whole block,
    // on all cores; adds each |X[k]| to sums (N/2 + 1 entries) when given.
    void computeListCells(const SampleChannel& channel, SpectrogramGrid& grid,
                          std::vector<double>* sums) const;
    // Subtracts the magnitudes of columns [first, last] from sums: called
    // before the values under those columns change.
    void subtractListMagnitudes(const SampleChannel& channel, qsizetype first, qsizetype last,
                                std::vector<double>& sums) const;
    // Recomputes columns [first, last] (clamped to the grid) of a grid
    // computed by computeListCells; adds their magnitudes to sums when given.
    void recomputeListCells(const SampleChannel& channel, qsizetype first, qsizetype last,
                            SpectrogramGrid& grid, std::vector<double>* sums) const;

    // Value of one bin in [0, 1] from its magnitude already divided by N.
    static float columnValue(float relativeMagnitude);
    // log10 of a positive normal float to about 1e-6, in a form the compiler
    // can vectorise (the library's log10f is called one value at a time).
    static float fastLog10(float x);

private:
    void loadBlock(const float* data, int count) const;
    void loadListBlock(const SampleChannel& channel, qsizetype frame) const;
    void buildWindow();

    int n = 2048;
    int hopSize = 512;
    int windowKind = Hann;
    std::vector<float> windowValues;
    RealFft transform;                       // used for N >= 2
    mutable std::vector<float> block;
    mutable std::vector<float> spectrum;     // N/2 + 1 interleaved (re, im) bins
    mutable std::vector<float> powers;
    // Transforms the loaded block into `spectrum`.
    void transformBlock() const;
};

// Per-bin levels in dB of the most recent spectrum (or of the whole-list
// average) with a held peak: 60 updates of hold, then 0.5 dB per update.
struct SpectrumLevels {
    QList<float> levels;
    QList<float> frequencies;
    QList<float> peaks;
    QList<int> holdCounters;

    void clear();
    // Sizes every list to bins = N/2 + 1; levels 0, peaks at the floor.
    void reset(int fftSize, int sampleRate, float dbFloor);
    // One live spectrum (all N bins given, bins 0..N/2 used).
    void update(const std::vector<std::complex<float>>& fft, int fftSize, int sampleRate,
                float dbFloor, float dbCeiling);
    // Levels and peaks from summed magnitudes averaged over `frames`.
    void setAverages(const std::vector<double>& sums, qsizetype frames, float dbFloor,
                     float dbCeiling);

    static float clampLevel(float level, float dbFloor, float dbCeiling);
};
