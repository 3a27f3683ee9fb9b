#include "audio/dsp/GainProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void GainProcessor::setGain(float gain)
{
    m_gain = std::clamp(gain, 0.0f, 4.0f);
}

void GainProcessor::setGainDB(float dB)
{
    const float clamped = std::clamp(dB, -60.0f, 12.0f);
    setGain(std::pow(10.0f, clamped / 20.0f));
}

float GainProcessor::getGainDB() const
{
    return m_gain <= 0.0f ? -96.0f : 20.0f * std::log10(m_gain);
}

void GainProcessor::process(const float* in, float* out, std::size_t n) const
{
    if (m_gain == 1.0f) {
        if (in != out && n > 0)
            std::memmove(out, in, n * sizeof(float));
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[i] = in[i] * m_gain;
}

void GainProcessor::processBlock(AudioBlock& block) const
{
    const std::size_t frames = block.usableFrames();
    if (block.channels.empty() || frames == 0 || m_gain == 1.0f)
        return;
    for (auto& channel : block.channels)
        process(channel.data(), channel.data(), frames);
}
