#include "audio/dsp/Envelope.h"

#include <algorithm>

void Envelope::setAttack(float seconds)
{
    m_attack = std::clamp(seconds, 0.001f, 10.0f);
    calculateRates();
}

void Envelope::setDecay(float seconds)
{
    m_decay = std::clamp(seconds, 0.001f, 10.0f);
    calculateRates();
}

void Envelope::setSustain(float level)
{
    m_sustain = std::clamp(level, 0.0f, 1.0f);
}

void Envelope::setRelease(float seconds)
{
    m_release = std::clamp(seconds, 0.001f, 10.0f);
    calculateRates();
}

void Envelope::setSampleRate(float rate)
{
    if (rate > 0.0f)
        m_sampleRate = rate;
    calculateRates();
}

void Envelope::calculateRates()
{
    auto rate = [this](float seconds) {
        return seconds > 0.0f ? 1.0f / (seconds * m_sampleRate) : 1.0f;
    };
    m_attackRate = rate(m_attack);
    m_decayRate = rate(m_decay);
    m_releaseRate = rate(m_release);
}

float Envelope::process()
{
    switch (m_stage) {
    case Idle:
        return 0.0f;
    case Attack:
        m_level += m_attackRate;
        if (m_level >= 1.0f) {
            m_level = 1.0f;
            m_stage = Decay;
        }
        break;
    case Decay:
        m_level -= m_decayRate;
        if (m_level <= m_sustain) {
            m_level = m_sustain;
            m_stage = Sustain;
        }
        break;
    case Sustain:
        break;
    case Release:
        m_level -= m_releaseRate;
        if (m_level <= 0.0f) {
            m_level = 0.0f;
            m_stage = Idle;
        }
        break;
    }
    return m_level;
}

void Envelope::processBlock(float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = process();
}

void Envelope::reset()
{
    m_stage = Idle;
    m_level = 0.0f;
}
