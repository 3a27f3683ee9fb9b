#include "audio/dsp/Voice.h"

void Voice::setSampleRate(float rate)
{
    m_oscillator.setSampleRate(rate);
    m_oscillator.setType(WaveformType::Sine);
    m_envelope.setSampleRate(rate);
    setEnvelopeParams(0.01f, 0.1f, 0.7f, 0.3f);
}

void Voice::setEnvelopeParams(float attack, float decay, float sustain, float release)
{
    m_envelope.setAttack(attack);
    m_envelope.setDecay(decay);
    m_envelope.setSustain(sustain);
    m_envelope.setRelease(release);
}

void Voice::noteOn(float frequency, float velocity)
{
    m_noteFrequency = frequency;
    m_velocity = velocity / 127.0f;
    m_oscillator.setFrequency(frequency);
    m_oscillator.start();
    m_envelope.triggerAttack();
    m_active = true;
}

float Voice::process()
{
    const bool idleAtEntry = !m_envelope.isActive();
    const float level = m_envelope.process();
    const bool finished = idleAtEntry || !m_envelope.isActive();
    const float sample = m_oscillator.isRunning() ? m_oscillator.generateSample() : 0.0f;
    if (finished && m_active) {
        m_active = false;
        m_oscillator.stop();
    }
    return level * sample * m_velocity;
}

void Voice::reset()
{
    m_oscillator.stop();
    m_envelope.reset();
    m_active = false;
}
