#include "audio/dsp/Synth.h"

#include <algorithm>
#include <cmath>

Synth::Synth()
    : m_voices(kVoiceCount)
{
    for (Voice& voice : m_voices)
        voice.setSampleRate(44100.0f);
}

void Synth::setSampleRate(float rate)
{
    m_sampleRate = rate;
    for (Voice& voice : m_voices)
        voice.setSampleRate(rate);
}

int Synth::getFreeVoice() const
{
    for (std::size_t i = 0; i < m_voices.size(); ++i) {
        if (!m_voices[i].isActive())
            return static_cast<int>(i);
    }
    return -1;
}

void Synth::noteOn(int note, float velocity)
{
    const int index = getFreeVoice();
    if (index < 0)
        return;
    const int clamped = std::clamp(note, 0, 127);
    const float frequency = 440.0f * std::pow(2.0f, static_cast<float>(clamped - 69) / 12.0f);
    m_voices[static_cast<std::size_t>(index)].noteOn(frequency, velocity * 127.0f);
    m_notes.emplace_back(note, index);
}

int Synth::findVoiceForNote(int note) const
{
    for (const auto& entry : m_notes) {
        if (entry.first == note)
            return entry.second;
    }
    return -1;
}

// The entry goes with the release, so a later noteOff of the same number
// never reaches a voice that has since been given to another note.
void Synth::noteOff(int note)
{
    for (auto it = m_notes.begin(); it != m_notes.end(); ++it) {
        if (it->first == note) {
            m_voices[static_cast<std::size_t>(it->second)].noteOff();
            m_notes.erase(it);
            return;
        }
    }
}

void Synth::allNotesOff()
{
    for (const auto& entry : m_notes)
        m_voices[static_cast<std::size_t>(entry.second)].noteOff();
    m_notes.clear();
}

void Synth::setWaveform(WaveformType type)
{
    m_waveform = type;
    for (Voice& voice : m_voices)
        voice.setOscillatorType(type);
}

void Synth::setEnvelope(float attack, float decay, float sustain, float release)
{
    m_attack = attack;
    m_decay = decay;
    m_sustain = sustain;
    m_release = release;
    for (Voice& voice : m_voices)
        voice.setEnvelopeParams(attack, decay, sustain, release);
}

float Synth::process()
{
    float sum = 0.0f;
    for (Voice& voice : m_voices) {
        if (voice.isActive())
            sum += voice.process();
    }
    return sum * 0.0625f;
}

void Synth::processBlock(float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = process();
}

void Synth::reset()
{
    for (Voice& voice : m_voices)
        voice.reset();
    m_notes.clear();
}

int Synth::getActiveVoices() const
{
    return static_cast<int>(std::count_if(m_voices.begin(), m_voices.end(),
                                          [](const Voice& v) { return v.isActive(); }));
}
