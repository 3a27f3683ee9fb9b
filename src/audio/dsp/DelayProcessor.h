#pragma once
// Stereo ping-pong delay: each channel's line is fed the other channel's
// delayed sample. A pass-through until setDelayTime sizes the lines.

#include "audio/dsp/AudioBlock.h"

#include <cstddef>
#include <vector>

class DelayProcessor {
public:
    void setSampleRate(float rate);     // takes effect at the next setDelayTime
    // Samples per line; 0 until setDelayTime has sized the lines.
    std::size_t lineLength() const { return m_length; }
    void setDelayTime(float seconds);   // clamped to [0, 5]; lines hold twice the delay
    float getDelayTime() const { return m_delayTime; }
    void setFeedback(float feedback);   // clamped to [0, 0.95]
    float getFeedback() const { return m_feedback; }
    void setMix(float mix);             // clamped to [0, 1]
    float getMix() const { return m_mix; }

    // Interleaved stereo, `frames` frames.
    void process(const float* in, float* out, std::size_t frames);
    // Channels 0 (left) and 1 (right) in place.
    void processBlock(AudioBlock& block);
    void reset();

private:
    void processFrames(const float* inL, const float* inR, float* outL, float* outR,
                       std::size_t stride, std::size_t frames);

    float m_delayTime = 0.5f;
    float m_feedback = 0.3f;
    float m_mix = 0.5f;
    float m_sampleRate = 44100.0f;
    std::size_t m_length = 0;
    std::vector<float> m_left;
    std::vector<float> m_right;
    std::size_t m_leftPos = 0;
    std::size_t m_rightPos = 0;
};
