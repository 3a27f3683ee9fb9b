#include "VocalIsolator.h"

#include <algorithm>
#include <cmath>

void VocalIsolator::initialize(size_t size)
{
    if (initialized && size == fftSize)
        return;
    if (size < 2 || !Fft::isPowerOfTwo(size))
        return;
    fftSize = size;
    fft.setSize(size);
    fftBuffer.resize(size + 2);
    window.resize(size);
    smoothedMagnitudes.resize(size / 2 + 1);
    for (size_t i = 0; i < size; ++i)
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / (size - 1))));
    initialized = true;
}

void VocalIsolator::setIsolationStrength(float strength, float smooth)
{
    auto unit = [](float v) { return v >= 0.0f ? std::min(v, 1.0f) : 0.0f; };
    isolationStrength = unit(strength);
    smoothing = unit(smooth);
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

    // The spectrum is real-input, so only bins 0..N/2 are kept; the inverse
    // rebuilds the mirrored half as their conjugates.
    float* buffer = fftBuffer.data();
    const size_t frameCount = (n + hop - 1) / hop;
    for (size_t f = 0; f < frameCount; ++f) {
        const size_t start = f * hop;
        const size_t available = std::min(size, n - start);
        for (size_t k = 0; k < size; ++k)
            buffer[k] = k < available ? in[start + k] * window[k] : 0.0f;
        fft.forward(buffer, buffer);

        for (size_t k = 0; k < bins; ++k) {
            const float re = buffer[2 * k];
            const float im = buffer[2 * k + 1];
            const float magnitude = std::sqrt(re * re + im * im);
            const float smoothed = a * smoothedMagnitudes[k] + (1.0f - a) * magnitude;
            smoothedMagnitudes[k] = smoothed;
            const float amplitude = gains[k] * smoothed;
            // The new magnitude with the old phase (a zero bin has phase 0).
            if (magnitude > 0.0f) {
                buffer[2 * k] = amplitude * re / magnitude;
                buffer[2 * k + 1] = amplitude * im / magnitude;
            } else {
                buffer[2 * k] = amplitude;
                buffer[2 * k + 1] = 0.0f;
            }
        }
        fft.inverse(buffer, buffer);

        for (size_t k = 0; k < available; ++k)
            out[start + k] += buffer[k] * window[k];
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
