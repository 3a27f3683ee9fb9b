#include "audio/dsp/SincResampler.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kPhases = 1024;     // fractional positions resolved to 1/1024 sample
constexpr int kZeroCrossings = 8; // each side, at the filter's cut-off
constexpr double kCutoff = 0.94;  // of the lower Nyquist frequency
constexpr double kKaiserBeta = 7.5;

double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-12)
            break;
    }
    return sum;
}
} // namespace

void SincResampler::buildTable(double step)
{
    if (step == m_tableStep && !m_table.empty())
        return;
    m_tableStep = step;
    const double scale = std::min(1.0, 1.0 / step);  // lower Nyquist, relative to the input's
    const double cutoff = kCutoff * scale;
    const int half = static_cast<int>(std::ceil(kZeroCrossings / scale));
    m_taps = 2 * half;
    m_table.assign(static_cast<std::size_t>(kPhases + 1) * m_taps, 0.0f);
    const double norm = besselI0(kKaiserBeta);
    for (int phase = 0; phase <= kPhases; ++phase) {
        const double frac = double(phase) / kPhases;
        float* row = m_table.data() + static_cast<std::size_t>(phase) * m_taps;
        double sum = 0.0;
        for (int t = 0; t < m_taps; ++t) {
            // Tap t weighs input sample floor(pos) - half + 1 + t.
            const double u = double(t - half + 1) - frac;
            const double r = u / half;
            const double window = std::abs(r) >= 1.0
                ? 0.0
                : besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / norm;
            const double x = M_PI * cutoff * u;
            const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
            row[t] = static_cast<float>(cutoff * sinc * window);
            sum += row[t];
        }
        // Unity gain at DC for every phase.
        for (int t = 0; t < m_taps; ++t)
            row[t] = static_cast<float>(row[t] / sum);
    }
}

void SincResampler::resample(const float* x, std::size_t xLength, float* y, std::size_t yLength,
                             double step, double start)
{
    if (yLength == 0)
        return;
    if (xLength == 0 || !(step > 0.0)) {
        std::fill(y, y + yLength, 0.0f);
        return;
    }
    buildTable(step);
    const int taps = m_taps;
    const long long half = taps / 2;
    const long long length = static_cast<long long>(xLength);
    for (std::size_t j = 0; j < yLength; ++j) {
        const double pos = start + double(j) * step;
        const long long base = static_cast<long long>(pos);
        const long long phase = std::llround((pos - double(base)) * kPhases);
        const float* row = m_table.data() + static_cast<std::size_t>(phase) * taps;
        const long long first = base - half + 1;
        float acc = 0.0f;
        if (first >= 0 && first + taps <= length) {
            // Eight running sums that the compiler keeps in vector registers.
            const float* src = x + first;
            float sums[8] = {};
            int t = 0;
            for (; t + 8 <= taps; t += 8) {
                for (int k = 0; k < 8; ++k)
                    sums[k] += row[t + k] * src[t + k];
            }
            for (; t < taps; ++t)
                acc += row[t] * src[t];
            acc += ((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7]));
        } else {
            for (int t = 0; t < taps; ++t) {
                const long long i = first + t;
                if (i >= 0 && i < length)
                    acc += row[t] * x[i];
            }
        }
        y[j] = acc;
    }
}
