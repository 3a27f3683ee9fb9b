#include "audio/dsp/PannerProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void PannerProcessor::setPan(float pan)
{
    m_pan = std::clamp(pan, -1.0f, 1.0f);
    const float angle = (m_pan + 1.0f) * 0.25f * static_cast<float>(M_PI);
    m_leftGain = std::cos(angle);
    m_rightGain = std::sin(angle);
}

void PannerProcessor::process(const float* in, float* out, std::size_t frames, int channels) const
{
    if (channels < 2) {
        if (in != out && frames > 0)
            std::memmove(out, in, frames * sizeof(float));
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(channels);
    for (std::size_t f = 0; f < frames; ++f) {
        const float* src = in + f * stride;
        float* dst = out + f * stride;
        const float l = src[0] * m_leftGain;
        const float r = src[1] * m_rightGain;
        if (src != dst) {
            for (std::size_t c = 2; c < stride; ++c)
                dst[c] = src[c];
        }
        dst[0] = l;
        dst[1] = r;
    }
}

void PannerProcessor::processBlock(AudioBlock& block) const
{
    const std::size_t frames = block.usableFrames();
    if (block.channels.size() < 2 || frames == 0)
        return;
    float* left = block.channels[0].data();
    float* right = block.channels[1].data();
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] *= m_leftGain;
        right[i] *= m_rightGain;
    }
}
