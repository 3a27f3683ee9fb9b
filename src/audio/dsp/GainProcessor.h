#pragma once
// Linear gain, 0..4, settable in decibels.

#include "audio/dsp/AudioBlock.h"

#include <cstddef>

class GainProcessor {
public:
    void setGain(float gain);         // clamped to [0, 4]
    float getGain() const { return m_gain; }
    void setGainDB(float dB);         // dB clamped to [-60, 12]
    float getGainDB() const;          // -96 for a gain of 0

    void process(const float* in, float* out, std::size_t n) const;
    void processBlock(AudioBlock& block) const;

private:
    float m_gain = 1.0f;
};
