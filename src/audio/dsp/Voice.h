#pragma once
// One synthesiser voice: an oscillator shaped by an ADSR envelope and a
// velocity.

#include "audio/dsp/Envelope.h"
#include "audio/dsp/Oscillator.h"

class Voice {
public:
    // Runs the voice at `rate` and returns it to a sine with the default
    // envelope times.
    void setSampleRate(float rate);
    void setEnvelopeParams(float attack, float decay, float sustain, float release);
    void setOscillatorType(WaveformType type) { m_oscillator.setType(type); }

    // velocity 0..127; the phase and the envelope level carry on.
    void noteOn(float frequency, float velocity);
    void noteOff() { m_envelope.triggerRelease(); }
    bool isActive() const { return m_active || m_envelope.isActive(); }
    float process();
    void reset();

    const Oscillator& oscillator() const { return m_oscillator; }
    const Envelope& envelope() const { return m_envelope; }
    float noteFrequency() const { return m_noteFrequency; }
    float velocity() const { return m_velocity; }

private:
    Oscillator m_oscillator;
    Envelope m_envelope;
    float m_noteFrequency = 440.0f;
    float m_velocity = 1.0f;
    bool m_active = false;
};
