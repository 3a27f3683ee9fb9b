#include "audio/dsp/ChorusProcessor.h"

#include <algorithm>
#include <cmath>

namespace {
// Tap centres spread a few milliseconds apart so the voices do not beat in
// step; the lines also hold the widest sweep (20 ms) past the last centre.
constexpr float kBaseDelayMs[3] = {10.0f, 14.0f, 18.0f};
constexpr float kPhaseOffset[3] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f};
constexpr float kMaxDepthMs = 20.0f;
} // namespace

ChorusProcessor::ChorusProcessor()
{
    const std::size_t length =
        static_cast<std::size_t>(std::ceil((kBaseDelayMs[2] + kMaxDepthMs) * m_sampleRate / 1000.0f))
        + 2;
    for (std::size_t j = 0; j < m_taps.size(); ++j) {
        m_taps[j].baseDelay = kBaseDelayMs[j] * m_sampleRate / 1000.0f;
        m_taps[j].phase = kPhaseOffset[j];
        m_taps[j].line.assign(length, 0.0f);
    }
}

void ChorusProcessor::setRate(float hz)
{
    m_rate = std::clamp(hz, 0.1f, 20.0f);
}

void ChorusProcessor::setDepth(float ms)
{
    m_depth = std::clamp(ms, 0.0f, 20.0f);
}

void ChorusProcessor::setMix(float mix)
{
    m_mix = std::clamp(mix, 0.0f, 1.0f);
}

void ChorusProcessor::process(const float* in, float* out, std::size_t n)
{
    const float increment = m_rate / m_sampleRate;
    const float depthSamples = m_depth * m_sampleRate / 1000.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        float sum = 0.0f;
        for (Tap& tap : m_taps) {
            const std::size_t length = tap.line.size();
            const float lfo = std::sin(2.0f * static_cast<float>(M_PI) * tap.phase);
            tap.phase += increment;
            if (tap.phase > 1.0f)
                tap.phase -= 1.0f;
            const float delay = std::clamp(tap.baseDelay + lfo * depthSamples, 1.0f,
                                           static_cast<float>(length - 1));
            const std::size_t back = static_cast<std::size_t>(delay);
            sum += tap.line[(length + tap.position - back) % length];
        }
        for (Tap& tap : m_taps) {
            tap.line[tap.position] = x;
            if (++tap.position == tap.line.size())
                tap.position = 0;
        }
        const float wet = sum / 3.0f * m_mix;
        out[i] = x * (1.0f - m_mix) + wet;
    }
}

void ChorusProcessor::processBlock(AudioBlock& block)
{
    const std::size_t frames = block.usableFrames();
    for (auto& channel : block.channels)
        process(channel.data(), channel.data(), frames);
}

void ChorusProcessor::reset()
{
    for (Tap& tap : m_taps)
        tap.phase = 0.0f;
}
