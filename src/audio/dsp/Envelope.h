#pragma once
// Linear ADSR envelope stepped once per sample.

#include <cstddef>

class Envelope {
public:
    enum Stage { Idle = 0, Attack = 1, Decay = 2, Sustain = 3, Release = 4 };

    void setAttack(float seconds);   // clamped to [0.001, 10]
    void setDecay(float seconds);    // clamped to [0.001, 10]
    void setSustain(float level);    // clamped to [0, 1]
    void setRelease(float seconds);  // clamped to [0.001, 10]
    float getAttack() const { return m_attack; }
    float getDecay() const { return m_decay; }
    float getSustain() const { return m_sustain; }
    float getRelease() const { return m_release; }
    void setSampleRate(float rate);  // recomputes the rates
    float getSampleRate() const { return m_sampleRate; }
    void calculateRates();

    // A retrigger rises from the current level.
    void triggerAttack() { m_stage = Attack; }
    void triggerRelease() { m_stage = Release; }
    bool isActive() const { return m_stage != Idle; }
    int getStage() const { return m_stage; }
    float getLevel() const { return m_level; }

    float process();
    void processBlock(float* out, std::size_t n);
    void reset();

private:
    float m_attack = 0.01f;
    float m_decay = 0.1f;
    float m_sustain = 0.7f;
    float m_release = 0.3f;
    int m_stage = Idle;
    float m_level = 0.0f;
    float m_attackRate = 1.0f / (0.01f * 44100.0f);
    float m_decayRate = 1.0f / (0.1f * 44100.0f);
    float m_releaseRate = 1.0f / (0.3f * 44100.0f);
    float m_sampleRate = 44100.0f;
};
