#include "VocalIsolator.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// What is left of a bin after the subtraction, at least: a floor keeps the
// remainder from breaking up into isolated tones.
constexpr float SpectralFloor = 0.1f;

float peakOf(const float* values, size_t count)
{
    float peak = 0.0f;
    for (size_t i = 0; i < count; ++i)
        peak = std::max(peak, std::fabs(values[i]));
    return peak;
}

} // namespace

void VocalIsolator::initialize(size_t size)
{
    if (initialized && size == fftSize)
        return;
    if (size < 2 || !Fft::isPowerOfTwo(size))
        return;
    fftSize = size;
    fft.setSize(size);
    fftBuffer.resize(size + 2);
    sideBuffer.resize(size + 2);
    window.resize(size);
    smoothedMagnitudes.resize(size / 2 + 1);
    for (size_t i = 0; i < size; ++i)
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / (size - 1))));
    // Analysis and synthesis both weigh by the window, so the overlapping
    // frames add up to the squared window's sum over one hop.
    const size_t hop = std::max<size_t>(1, size / 4);
    double sum = 0.0;
    for (size_t i = 0; i < size; ++i)
        sum += double(window[i]) * window[i];
    overlapGain = static_cast<float>(sum / double(hop));
    initialized = true;
}

void VocalIsolator::setIsolationStrength(float strength, float smooth)
{
    auto upTo = [](float v, float most) { return v >= 0.0f ? std::min(v, most) : 0.0f; };
    isolationStrength = upTo(strength, MaxIsolationStrength);
    smoothing = upTo(smooth, 1.0f);
}

float VocalIsolator::bandGain(float frequency) const
{
    // The voice band passes as it is, the rest is lowered: no bin is raised.
    // Strengths above 1 only subtract more; the band rule is already at its
    // deepest there.
    if (frequency < 80.0f || frequency > 4000.0f)
        return 1.0f - 0.7f * std::min(isolationStrength, 1.0f);
    return 1.0f;
}

void VocalIsolator::processOffline(const float* interleavedStereo, float* monoOut, size_t frames,
                                   int sampleRate)
{
    if (frames == 0 || !interleavedStereo || !monoOut)
        return;
    initialize(frames >= 2048 ? 2048 : 512);
    std::vector<float> mid(frames);
    std::vector<float> side(frames);
    encodeMidSide(interleavedStereo, mid.data(), side.data(), frames);
    std::vector<float> result(frames);
    spectralSubtraction(mid.data(), side.data(), result.data(), frames, sampleRate);
    // Changed magnitudes can line up into a higher peak than the input had
    // (a lowered band at a hard edge overshoots): what did not clip before
    // does not clip now.
    const float ceiling = std::max(1.0f, peakOf(interleavedStereo, 2 * frames));
    const float outputPeak = peakOf(result.data(), frames);
    if (outputPeak > ceiling) {
        const float scale = ceiling / outputPeak;
        for (float& value : result)
            value *= scale;
    }
    std::copy(result.begin(), result.end(), monoOut);
}

void VocalIsolator::spectralSubtraction(const float* mid, const float* side, float* out, size_t n,
                                        int sampleRate)
{
    if (!initialized)
        initialize(2048);
    if (n == 0 || !mid || !out)
        return;
    std::fill(out, out + n, 0.0f);

    const size_t size = fftSize;
    const size_t hop = size / 4;
    const size_t bins = size / 2 + 1;
    const float a = smoothing;
    const float alpha = isolationStrength;
    const float normalise = 1.0f / overlapGain;
    // The band rule depends only on the bin, so it is computed once.
    std::vector<float> gains(bins);
    for (size_t k = 0; k < bins; ++k)
        gains[k] = bandGain(static_cast<float>(sampleRate) * static_cast<float>(k)
                            / static_cast<float>(size));

    // The spectrum is real-input, so only bins 0..N/2 are kept; the inverse
    // rebuilds the mirrored half as their conjugates.
    // The frames start N - hop before the signal and run past its end, so
    // every sample is covered by the same number of frames, the edges too.
    float* buffer = fftBuffer.data();
    float* sideBins = sideBuffer.data();
    const std::ptrdiff_t lead = std::ptrdiff_t(size - hop);
    const std::ptrdiff_t length = std::ptrdiff_t(n);
    for (std::ptrdiff_t start = -lead; start < length; start += std::ptrdiff_t(hop)) {
        const auto inside = [&](size_t k) {
            const std::ptrdiff_t at = start + std::ptrdiff_t(k);
            return at >= 0 && at < length;
        };
        for (size_t k = 0; k < size; ++k)
            buffer[k] = inside(k) ? mid[start + std::ptrdiff_t(k)] * window[k] : 0.0f;
        fft.forward(buffer, buffer);
        if (side) {
            for (size_t k = 0; k < size; ++k)
                sideBins[k] = inside(k) ? side[start + std::ptrdiff_t(k)] * window[k] : 0.0f;
            fft.forward(sideBins, sideBins);
        }

        for (size_t k = 0; k < bins; ++k) {
            const float re = buffer[2 * k];
            const float im = buffer[2 * k + 1];
            const float magnitude = std::sqrt(re * re + im * im);
            // The side signal is the accompaniment's estimate in this bin.
            float accompaniment = 0.0f;
            if (side)
                accompaniment = std::hypot(sideBins[2 * k], sideBins[2 * k + 1]);
            const float kept = std::max(magnitude - alpha * accompaniment, SpectralFloor * magnitude);
            const float smoothed = a * smoothedMagnitudes[k] + (1.0f - a) * kept;
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

        for (size_t k = 0; k < size; ++k)
            if (inside(k))
                out[start + std::ptrdiff_t(k)] += buffer[k] * window[k] * normalise;
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
