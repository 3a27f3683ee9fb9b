#include "editor/SpectralEraser.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586476925286766559;

inline float finiteOrZero(float x)
{
    return (x - x == 0.0f) ? x : 0.0f;
}

// Floor division for a possibly negative numerator and a positive divisor.
inline qsizetype floorDiv(qsizetype a, qsizetype b)
{
    const qsizetype q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

} // namespace

SpectralEraser::SpectralEraser(int fftSize)
    : n(int(Fft::nextPowerOfTwo(std::size_t(std::clamp(fftSize, 4, 1 << 24)))))
    , hopSize(n / 4)
    , transform(std::size_t(n))
{
    window.resize(n);
    windowSquared.resize(n);
    for (int i = 0; i < n; ++i) {
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(TwoPi * i / n)));
        windowSquared[i] = window[i] * window[i];
    }
}

bool SpectralEraser::erase(const SampleChannel& channel, int sampleRate, double startSec,
                           double endSec, float lowHz, float highHz, float strength,
                           Result& result) const
{
    const qsizetype count = channel.count;
    if (channel.isEmpty() || sampleRate < 1)
        return false;
    const double t0 = std::max(startSec, 0.0);
    const double t1 = std::min(endSec, double(count) / sampleRate);
    const float f0 = std::max(lowHz, 0.0f);
    const float f1 = std::min(highHz, static_cast<float>(sampleRate / 2));
    if (!(t0 < t1) || !(f0 < f1) || !(strength > 0.0f))
        return false;
    strength = std::min(strength, 1.0f);

    const float binWidth = static_cast<float>(sampleRate) / static_cast<float>(n);
    const int kHigh = std::min(n / 2, static_cast<int>(std::ceil(f1 / binWidth)));
    const int kLow = std::max(static_cast<int>(std::floor(f0 / binWidth)), 0);
    const qsizetype a = static_cast<qsizetype>(t0 * sampleRate);
    const qsizetype e = std::min(count, static_cast<qsizetype>(t1 * sampleRate));
    if (kLow > kHigh || a >= e)
        return false;

    // Blocks on the hop grid that overlap [a, e) are the ones attenuated.
    const qsizetype firstErased = floorDiv(a - n, hopSize) + 1;
    const qsizetype lastErased = floorDiv(e - 1, hopSize);
    const qsizetype r0 = std::max<qsizetype>(0, firstErased * hopSize);
    const qsizetype r1 = std::min<qsizetype>(count, lastErased * hopSize + n);
    const qsizetype length = r1 - r0;

    std::vector<float> accumulated(length, 0.0f);
    std::vector<float> norm(length, 0.0f);
    std::vector<float> block(n + 2);      // samples, then n/2 + 1 bins in place

    // Every block that covers a sample of [r0, r1) contributes to it: the
    // attenuated ones through the transform, the others directly (x w^2).
    const qsizetype firstBlock = floorDiv(r0 - n, hopSize) + 1;
    const qsizetype lastBlock = floorDiv(r1 - 1, hopSize);
    for (qsizetype k = firstBlock; k <= lastBlock; ++k) {
        const qsizetype s = k * hopSize;
        const int iBegin = int(std::max<qsizetype>(0, r0 - s));
        const int iEnd = int(std::min<qsizetype>(n, r1 - s));
        // Index of block position i in the output range is i + offset.
        const qsizetype offset = s - r0;
        if (k >= firstErased && k <= lastErased) {
            const qsizetype overlap = std::min<qsizetype>(s + n, e) - std::max<qsizetype>(s, a);
            const float gain = 1.0f - strength * static_cast<float>(overlap) / static_cast<float>(n);
            for (int i = 0; i < n; ++i) {
                const qsizetype j = s + i;
                block[i] = (j >= 0 && j < count) ? finiteOrZero(channel.at(j)) * window[i] : 0.0f;
            }
            transform.forward(block.data(), block.data());
            for (int bin = kLow; bin <= kHigh; ++bin) {
                block[2 * bin] *= gain;
                block[2 * bin + 1] *= gain;
            }
            transform.inverse(block.data(), block.data());
            for (int i = iBegin; i < iEnd; ++i)
                accumulated[i + offset] += block[i] * window[i];
        } else {
            for (int i = iBegin; i < iEnd; ++i)
                accumulated[i + offset] += finiteOrZero(channel.at(s + i)) * windowSquared[i];
        }
        for (int i = iBegin; i < iEnd; ++i)
            norm[i + offset] += windowSquared[i];
    }

    result.first = r0;
    result.samples.resize(length);
    for (qsizetype j = 0; j < length; ++j)
        result.samples[j] = norm[j] > 1e-8f ? accumulated[j] / norm[j]
                                            : finiteOrZero(channel.at(r0 + j));
    return true;
}

void SpectralEraser::inverseFft(float* data, int n)
{
    if (!data || n < 1 || (n & (n - 1)) != 0)
        return;
    Fft(std::size_t(n)).inverse(data);
}
