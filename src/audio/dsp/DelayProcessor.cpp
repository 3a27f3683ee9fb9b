#include "audio/dsp/DelayProcessor.h"

#include <algorithm>
#include <cstring>

void DelayProcessor::setSampleRate(float rate)
{
    m_sampleRate = rate;
}

void DelayProcessor::setDelayTime(float seconds)
{
    m_delayTime = std::clamp(seconds, 0.0f, 5.0f);
    const float samples = 2.0f * m_delayTime * m_sampleRate;
    const std::size_t length = samples > 0.0f ? static_cast<std::size_t>(samples) : 0;
    if (length == m_length)
        return;
    m_length = length;
    m_left.resize(length, 0.0f);
    m_right.resize(length, 0.0f);
    // Shrunk lines: keep the write positions inside them.
    m_leftPos = length == 0 ? 0 : m_leftPos % length;
    m_rightPos = length == 0 ? 0 : m_rightPos % length;
}

void DelayProcessor::setFeedback(float feedback)
{
    m_feedback = std::clamp(feedback, 0.0f, 0.95f);
}

void DelayProcessor::setMix(float mix)
{
    m_mix = std::clamp(mix, 0.0f, 1.0f);
}

// The samples fed back are read from the input after the output was written,
// so in-place processing feeds back the mixed output.
void DelayProcessor::processFrames(const float* inL, const float* inR, float* outL, float* outR,
                                   std::size_t stride, std::size_t frames)
{
    const std::size_t length = m_length;
    const float delaySamples = m_delayTime * m_sampleRate;
    // A rate changed after the lines were sized can ask for more than they
    // hold; the longest delay they give is their length.
    const std::size_t delay = std::min(
        delaySamples > 0.0f ? static_cast<std::size_t>(delaySamples) : std::size_t(0), length);
    const std::size_t readOffset = (length - delay) % length;
    const float dry = 1.0f - m_mix;
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t i = f * stride;
        std::size_t readL = m_leftPos + readOffset;
        if (readL >= length)
            readL -= length;
        std::size_t readR = m_rightPos + readOffset;
        if (readR >= length)
            readR -= length;
        const float dl = m_left[readL];
        const float dr = m_right[readR];
        const float yl = inL[i] * dry + m_mix * dl;
        const float yr = inR[i] * dry + m_mix * dr;
        outL[i] = yl;
        outR[i] = yr;
        m_left[m_leftPos] = inL[i] + m_feedback * dr;
        m_right[m_rightPos] = inR[i] + m_feedback * dl;
        if (++m_leftPos == length)
            m_leftPos = 0;
        if (++m_rightPos == length)
            m_rightPos = 0;
    }
}

void DelayProcessor::process(const float* in, float* out, std::size_t frames)
{
    if (m_length == 0) {
        if (in != out && frames > 0)
            std::memmove(out, in, 2 * frames * sizeof(float));
        return;
    }
    processFrames(in, in + 1, out, out + 1, 2, frames);
}

void DelayProcessor::processBlock(AudioBlock& block)
{
    const std::size_t frames = block.usableFrames();
    if (block.channels.size() < 2 || m_length == 0 || frames == 0)
        return;
    float* left = block.channels[0].data();
    float* right = block.channels[1].data();
    processFrames(left, right, left, right, 1, frames);
}

void DelayProcessor::reset()
{
    std::fill(m_left.begin(), m_left.end(), 0.0f);
    std::fill(m_right.begin(), m_right.end(), 0.0f);
    m_leftPos = 0;
    m_rightPos = 0;
}
