#include "VocalIsolator.h"

#include <algorithm>
#include <cmath>

namespace {

bool isPowerOfTwo(size_t n)
{
    return n >= 2 && (n & (n - 1)) == 0;
}

} // namespace

void VocalIsolator::initialize(size_t size)
{
    if (initialized && size == fftSize)
        return;
    if (!isPowerOfTwo(size))
        return;
    fftSize = size;
    fftBuffer.resize(size);
    window.resize(size);
    smoothedMagnitudes.resize(size / 2 + 1);
    for (size_t i = 0; i < size; ++i)
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / (size - 1))));

    twiddles.resize(size / 2);
    for (size_t j = 0; j < size / 2; ++j) {
        const double angle = -2.0 * M_PI * static_cast<double>(j) / static_cast<double>(size);
        twiddles[j] = {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
    }
    reversed.resize(size);
    size_t bits = 0;
    while ((size_t{1} << bits) < size)
        ++bits;
    for (size_t i = 0; i < size; ++i) {
        size_t r = 0;
        for (size_t b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed[i] = r;
    }
    initialized = true;
}

void VocalIsolator::setIsolationStrength(float strength, float smooth)
{
    auto unit = [](float v) { return v >= 0.0f ? std::min(v, 1.0f) : 0.0f; };
    isolationStrength = unit(strength);
    smoothing = unit(smooth);
}

void VocalIsolator::transform(bool inverse)
{
    const size_t n = fftSize;
    std::complex<float>* x = fftBuffer.data();
    for (size_t i = 0; i < n; ++i) {
        const size_t j = reversed[i];
        if (j > i)
            std::swap(x[i], x[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const size_t half = length / 2;
        const size_t stride = n / length;
        for (size_t j = 0; j < half; ++j) {
            std::complex<float> w = twiddles[j * stride];
            if (inverse)
                w = std::conj(w);
            for (size_t a = j; a < n; a += length) {
                const std::complex<float> u = x[a];
                const std::complex<float> v = x[a + half];
                // Written out: std::complex multiplication checks for
                // infinities on every product.
                const std::complex<float> t(w.real() * v.real() - w.imag() * v.imag(),
                                            w.real() * v.imag() + w.imag() * v.real());
                x[a] = u + t;
                x[a + half] = u - t;
            }
        }
    }
    if (inverse) {
        const float scale = 1.0f / static_cast<float>(n);
        for (size_t i = 0; i < n; ++i)
            x[i] *= scale;
    }
}

float VocalIsolator::bandGain(float frequency) const
{
    const float s = isolationStrength;
    if (frequency < 80.0f || frequency > 4000.0f)
        return 1.0f - 0.7f * s;
    float g = 1.0f + 0.5f * s;
    if (frequency >= 200.0f && frequency <= 500.0f)
        g *= 1.2f;
    else if (frequency >= 800.0f && frequency <= 1200.0f)
        g *= 1.15f;
    else if (frequency >= 2000.0f && frequency <= 3000.0f)
        g *= 1.1f;
    return g;
}

void VocalIsolator::processOffline(const float* interleavedStereo, float* monoOut, size_t frames,
                                   int sampleRate)
{
    if (frames == 0 || !interleavedStereo || !monoOut)
        return;
    initialize(frames >= 2048 ? 2048 : 512);
    std::vector<float> mid(frames);
    for (size_t i = 0; i < frames; ++i)
        mid[i] = (interleavedStereo[2 * i] + interleavedStereo[2 * i + 1]) * 0.5f;
    std::vector<float> result(frames);
    spectralSubtraction(mid.data(), result.data(), frames, sampleRate);
    std::copy(result.begin(), result.end(), monoOut);
}

void VocalIsolator::spectralSubtraction(const float* in, float* out, size_t n, int sampleRate)
{
    if (!initialized)
        initialize(2048);
    if (n == 0 || !in || !out)
        return;
    std::fill(out, out + n, 0.0f);

    const size_t size = fftSize;
    const size_t hop = size / 4;
    const size_t bins = size / 2 + 1;
    const float a = smoothing;
    // The band rule depends only on the bin, so it is computed once.
    std::vector<float> gains(bins);
    for (size_t k = 0; k < bins; ++k)
        gains[k] = bandGain(static_cast<float>(sampleRate) * static_cast<float>(k)
                            / static_cast<float>(size));

    const size_t frameCount = (n + hop - 1) / hop;
    for (size_t f = 0; f < frameCount; ++f) {
        const size_t start = f * hop;
        const size_t available = std::min(size, n - start);
        for (size_t k = 0; k < size; ++k)
            fftBuffer[k] = {k < available ? in[start + k] * window[k] : 0.0f, 0.0f};
        transform(false);

        for (size_t k = 0; k < bins; ++k) {
            const std::complex<float> value = fftBuffer[k];
            const float magnitude =
                std::sqrt(value.real() * value.real() + value.imag() * value.imag());
            const float smoothed = a * smoothedMagnitudes[k] + (1.0f - a) * magnitude;
            smoothedMagnitudes[k] = smoothed;
            const float amplitude = gains[k] * smoothed;
            // The new magnitude with the old phase (a zero bin has phase 0).
            const std::complex<float> rebuilt =
                magnitude > 0.0f
                    ? std::complex<float>(amplitude * value.real() / magnitude,
                                          amplitude * value.imag() / magnitude)
                    : std::complex<float>(amplitude, 0.0f);
            fftBuffer[k] = rebuilt;
            if (k >= 1 && k < size / 2)
                fftBuffer[size - k] = std::conj(rebuilt);
        }
        transform(true);

        for (size_t k = 0; k < available; ++k)
            out[start + k] += fftBuffer[k].real() * window[k];
    }
}

void VocalIsolator::applyWindow(float* data, size_t n) const
{
    const size_t count = std::min(n, window.size());
    for (size_t i = 0; i < count; ++i)
        data[i] *= window[i];
}

void VocalIsolator::removeWindow(float* data, size_t n) const
{
    const size_t count = std::min(n, window.size());
    for (size_t i = 0; i < count; ++i) {
        if (window[i] > 0.01f)
            data[i] /= window[i];
    }
}

void VocalIsolator::encodeMidSide(const float* interleaved, float* mid, float* side, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const float l = interleaved[2 * i];
        const float r = interleaved[2 * i + 1];
        mid[i] = (l + r) * 0.5f;
        side[i] = (l - r) * 0.5f;
    }
}

void VocalIsolator::decodeMidSide(const float* mid, const float* side, float* interleaved,
                                  size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const float m = mid[i];
        const float s = side[i];
        interleaved[2 * i] = m + s;
        interleaved[2 * i + 1] = m - s;
    }
}

void VocalIsolator::processFrame(const float* interleaved, float* out, int frames,
                                 int sampleRate) const
{
    const float lift = 1.0f + 0.3f * isolationStrength;
    for (int i = 0; i < frames; ++i)
        out[i] = (interleaved[2 * i] + interleaved[2 * i + 1]) * 0.5f * lift;
}
