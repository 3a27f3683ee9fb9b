#pragma once
// Band-limited resampling by a windowed-sinc polyphase filter: reads the
// input at evenly spaced fractional positions, with the low-pass lowered
// below the new Nyquist frequency when the positions step faster than one
// input sample.

#include <cstddef>
#include <vector>

class SincResampler {
public:
    // y[j] = x at position start + j * step, for j < yLength; x is 0 outside
    // its xLength samples. step > 0, start >= 0. x and y must not overlap.
    void resample(const float* x, std::size_t xLength, float* y, std::size_t yLength, double step,
                  double start = 0.0);

private:
    void buildTable(double step);

    double m_tableStep = 0.0;
    int m_taps = 0;             // taps per phase, even
    std::vector<float> m_table; // kPhases + 1 phases of m_taps coefficients
};
