#include "audio/dsp/TimeStretchProcessor.h"

#include <algorithm>
#include <cmath>
#include <vector>

void TimeStretchProcessor::setStretchRatio(float ratio)
{
    m_ratio = std::clamp(ratio, 0.25f, 4.0f);
}

void TimeStretchProcessor::setWindowSize(float ms)
{
    m_windowSize = std::clamp(ms, 5.0f, 200.0f) * m_sampleRate / 1000.0f;
}

void TimeStretchProcessor::setOverlap(float overlap)
{
    m_overlap = std::clamp(overlap, 0.1f, 0.9f);
}

void TimeStretchProcessor::processOffline(const float* in, float* out, std::size_t inLength,
                                          std::size_t outLength)
{
    if (inLength == 0 || outLength == 0)
        return;
    const std::size_t size = Fft::nextPowerOfTwo(static_cast<std::size_t>(m_windowSize));
    m_vocoder.setFftSize(size);
    const std::size_t fftSize = m_vocoder.fftSize();
    // Below half overlap the windows would leave gaps in the output.
    const std::size_t hop = std::clamp<std::size_t>(
        static_cast<std::size_t>((1.0f - m_overlap) * float(fftSize)), 1, fftSize / 2);
    if (in == out) {
        const std::vector<float> copy(in, in + inLength);
        m_vocoder.stretch(copy.data(), inLength, out, outLength, m_ratio, hop);
        return;
    }
    m_vocoder.stretch(in, inLength, out, outLength, m_ratio, hop);
}
