#pragma once
// Phase-locked phase vocoder: changes the length of a signal while keeping
// its frequencies. Each peak of the magnitude spectrum advances its phase at
// the frequency measured between analysis frames; the bins around a peak
// keep their phase relation to it (identity phase locking), which keeps
// sinusoids coherent from one frame to the next.

#include "audio/dsp/Fft.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PhaseVocoder {
public:
    explicit PhaseVocoder(std::size_t fftSize = 4096);

    // Powers of two from 4; other sizes are raised to the next one.
    void setFftSize(std::size_t fftSize);
    std::size_t fftSize() const { return m_size; }

    // Writes yLength samples of x played `factor` times as long (factor > 1
    // stretches). Output frames advance by `hop`, or less when compressing
    // so far that input frames would advance by more than half a frame. The
    // frames are periodic-Hann windowed on analysis and synthesis and every
    // output sample is covered by the full overlap. x and y must not overlap.
    void stretch(const float* x, std::size_t xLength, float* y, std::size_t yLength, double factor,
                 std::size_t hop);

    // One frame: `frame` holds fftSize() windowed samples, `out` receives
    // fftSize() resynthesised samples (not yet windowed). lastPhase and
    // sumPhase (fftSize()/2 + 1 values each) carry the analysis and
    // synthesis phases from frame to frame. With ratio != 1 every bin k is
    // moved to bin ratio * k (split between the two nearest bins) and the
    // phase advance is scaled with it. The first frame of a signal takes the
    // analysis phases as they are.
    void processFrame(const float* frame, float* out, float* lastPhase, float* sumPhase,
                      double ratio, std::size_t analysisHop, std::size_t synthesisHop,
                      bool firstFrame);

private:
    std::size_t m_size = 0;
    RealFft m_fft;
    std::vector<float> m_window;
    std::vector<float> m_spectrum;  // interleaved bins 0..N/2, then the output bins
    std::vector<float> m_magnitude2;
    std::vector<float> m_phase;
    std::vector<int> m_anchors;     // bin 0, the peaks, and N/2 as the upper bound
    std::vector<std::uint8_t> m_isPeak;
    std::vector<float> m_theta;     // per anchor: synthesis minus analysis phase
    std::vector<float> m_rotation;  // per anchor: its (cos, sin)
    std::vector<float> m_expected;  // per anchor work arrays
    std::vector<float> m_advance;
    std::vector<float> m_previous;
    std::vector<float> m_remap;     // accumulators for ratio != 1
};
