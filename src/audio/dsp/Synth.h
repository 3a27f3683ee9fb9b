#pragma once
// Sixteen-voice polyphonic synthesiser on MIDI note numbers with mono
// output. A note that finds no free voice is dropped; no voice is stolen.

#include "audio/dsp/Voice.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class Synth {
public:
    static constexpr int kVoiceCount = 16;

    Synth();

    void setSampleRate(float rate);
    float getSampleRate() const { return m_sampleRate; }

    void noteOn(int note, float velocity);  // velocity 0..1
    void noteOff(int note);
    void allNotesOff();
    int getFreeVoice() const;
    int findVoiceForNote(int note) const;

    void setWaveform(WaveformType type);
    WaveformType getWaveform() const { return m_waveform; }
    void setEnvelope(float attack, float decay, float sustain, float release);

    float process();
    void processBlock(float* out, std::size_t n);
    void reset();
    int getActiveVoices() const;

    const Voice& voice(int index) const { return m_voices[static_cast<std::size_t>(index)]; }

private:
    float m_sampleRate = 44100.0f;
    std::vector<Voice> m_voices;
    WaveformType m_waveform = WaveformType::Saw;
    // (note, voice index) of every sounding note not yet released, oldest first.
    std::vector<std::pair<std::int32_t, std::int32_t>> m_notes;
    float m_attack = 0.01f;
    float m_decay = 0.1f;
    float m_sustain = 0.7f;
    float m_release = 0.3f;
};
