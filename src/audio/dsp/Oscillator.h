#pragma once
// Naive (non-band-limited) oscillator with five waveforms and a detune in
// cents; silent until started.

#include <cstddef>
#include <cstdint>

enum class WaveformType : int { Sine = 0, Square = 1, Saw = 2, Triangle = 3, Noise = 4 };

class Oscillator {
public:
    void setType(WaveformType type) { m_type = type; }
    WaveformType getType() const { return m_type; }
    void setFrequency(float hz);  // clamped to [0, 48000]
    float getFrequency() const { return m_frequency; }
    void setDetune(float cents) { m_detune = cents; }
    float getDetune() const { return m_detune; }
    void setSampleRate(float rate);
    float getSampleRate() const { return m_sampleRate; }

    void start() { m_running = true; }
    void stop() { m_running = false; }
    bool isRunning() const { return m_running; }

    float generateSample();  // 0 when not running
    void generate(float* out, std::size_t n);

private:
    WaveformType m_type = WaveformType::Sine;
    float m_frequency = 440.0f;
    float m_detune = 0.0f;
    float m_phase = 0.0f;
    float m_sampleRate = 44100.0f;
    bool m_running = false;
    std::uint32_t m_noiseSeed = 0x7FFFFFFF;
};
