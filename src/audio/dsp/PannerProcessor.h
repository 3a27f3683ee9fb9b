#pragma once
// Constant-power stereo panner: -1 left .. +1 right.

#include "audio/dsp/AudioBlock.h"

#include <cstddef>

class PannerProcessor {
public:
    void setPan(float pan);  // clamped to [-1, 1]
    float getPan() const { return m_pan; }
    float leftGain() const { return m_leftGain; }
    float rightGain() const { return m_rightGain; }

    // Interleaved frames of `channels` samples: the first two of each frame
    // are panned, any further ones are copied unchanged. Below two channels
    // `frames` samples are copied unchanged.
    void process(const float* in, float* out, std::size_t frames, int channels) const;
    // Channel 0 times the left gain, channel 1 times the right gain.
    void processBlock(AudioBlock& block) const;

private:
    float m_pan = 0.0f;
    float m_leftGain = 0.707f;
    float m_rightGain = 0.707f;
};
