#pragma once
// Soft-knee tanh clipper: below the threshold the signal passes unchanged,
// above it the curve bends towards 1. Drive raises the level into the knee
// and is divided out again afterwards.

#include "audio/dsp/AudioBlock.h"

#include <cstddef>

class DistortionProcessor {
public:
    void setAmount(float amount);  // clamped to [0, 1]; threshold = 1 - 0.9 * amount
    float getAmount() const { return m_amount; }
    void setDrive(float dB);       // clamped to [0, 40] dB
    float getDrive() const { return m_drive; }
    void setMix(float mix);        // clamped to [0, 1]
    float getMix() const { return m_mix; }
    float getThreshold() const { return m_threshold; }

    void process(const float* in, float* out, std::size_t n) const;
    void processBlock(AudioBlock& block) const;
    void reset() {}

private:
    float m_amount = 0.5f;
    float m_drive = 1.0f;
    float m_mix = 0.5f;
    float m_threshold = 0.5f;
};
