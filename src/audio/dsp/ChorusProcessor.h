#pragma once
// Chorus of three delay taps, each swept by its own sine LFO, mixed with the
// dry signal. Mono; processBlock runs every channel through the same taps.

#include "audio/dsp/AudioBlock.h"

#include <array>
#include <cstddef>
#include <vector>

class ChorusProcessor {
public:
    ChorusProcessor();

    void setRate(float hz);    // clamped to [0.1, 20]
    float getRate() const { return m_rate; }
    void setDepth(float ms);   // clamped to [0, 20]
    float getDepth() const { return m_depth; }
    void setMix(float mix);    // clamped to [0, 1]
    float getMix() const { return m_mix; }

    void process(const float* in, float* out, std::size_t n);
    void processBlock(AudioBlock& block);
    // LFO phases back to 0; the lines keep their contents.
    void reset();

    // Centre delay of tap j (0..2), in samples.
    float baseDelay(int tap) const { return m_taps[static_cast<std::size_t>(tap)].baseDelay; }

private:
    struct Tap {
        float baseDelay = 0.0f;
        float phase = 0.0f;
        std::vector<float> line;
        std::size_t position = 0;
    };

    float m_rate = 1.5f;
    float m_depth = 3.5f;
    float m_mix = 0.5f;
    float m_sampleRate = 44100.0f;
    std::array<Tap, 3> m_taps;
};
