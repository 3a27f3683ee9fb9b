#pragma once
// Stereo reverb: per channel eight parallel damped feedback combs, then four
// series all-passes, mixed with the dry signal. Passes audio through until
// initialize() has sized its lines.

#include "audio/dsp/AudioBlock.h"

#include <array>
#include <cstddef>
#include <vector>

class ReverbProcessor {
public:
    void initialize(int sampleRate);
    void reset();

    void setRoomSize(float roomSize);  // comb feedback, clamped to [0, 1]
    float getRoomSize() const { return m_roomSize; }
    void setDamping(float damping);    // clamped to [0, 1]
    float getDamping() const { return m_damping; }
    void setWet(float wet);            // clamped to [0, 1]
    float getWet() const { return m_wet; }
    void setDecay(float decay);        // clamped to [0.1, 10]; kept for callers only
    float getDecay() const { return m_decay; }

    // Interleaved stereo, `frames` frames.
    void process(const float* in, float* out, std::size_t frames);
    // Channels 0 and 1 as one stereo pair, in place.
    void processBlock(AudioBlock& block);

private:
    struct Comb {
        std::vector<float> line;
        std::size_t position = 0;
        float store = 0.0f;
    };
    struct AllPass {
        std::vector<float> line;
        std::size_t position = 0;
    };

    void processFrames(const float* inL, const float* inR, float* outL, float* outR,
                       std::size_t stride, std::size_t frames);
    bool ready() const { return !m_leftCombs[0].line.empty(); }

    float m_roomSize = 0.5f;
    float m_damping = 0.5f;
    float m_wet = 0.3f;
    float m_decay = 1.0f;
    float m_sampleRate = 44100.0f;
    std::array<Comb, 8> m_leftCombs;
    std::array<Comb, 8> m_rightCombs;
    std::array<AllPass, 4> m_leftAllPasses;
    std::array<AllPass, 4> m_rightAllPasses;
};
