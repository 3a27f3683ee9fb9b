#include "audio/dsp/DistortionProcessor.h"

#include <algorithm>
#include <cmath>

void DistortionProcessor::setAmount(float amount)
{
    m_amount = std::clamp(amount, 0.0f, 1.0f);
    m_threshold = 1.0f - 0.9f * m_amount;
}

void DistortionProcessor::setDrive(float dB)
{
    m_drive = std::pow(10.0f, std::clamp(dB, 0.0f, 40.0f) / 20.0f);
}

void DistortionProcessor::setMix(float mix)
{
    m_mix = std::clamp(mix, 0.0f, 1.0f);
}

void DistortionProcessor::process(const float* in, float* out, std::size_t n) const
{
    const float t = m_threshold;
    const float k = m_drive;
    const float knee = 1.0f - t;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        float d = x * k;
        const float magnitude = std::abs(d);
        if (magnitude > t) {
            // A threshold of 1 leaves no knee: the curve is a hard limit at 1.
            const float shaped = knee > 0.0f ? t + knee * std::tanh((magnitude - t) / knee) : 1.0f;
            d = d > 0.0f ? shaped : -shaped;
        }
        out[i] = x * (1.0f - m_mix) + (d / k) * m_mix;
    }
}

void DistortionProcessor::processBlock(AudioBlock& block) const
{
    const std::size_t frames = block.usableFrames();
    if (block.channels.empty() || frames == 0)
        return;
    for (auto& channel : block.channels)
        process(channel.data(), channel.data(), frames);
}
