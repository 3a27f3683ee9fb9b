#include "audio/dsp/Oscillator.h"

#include <algorithm>
#include <cmath>

void Oscillator::setFrequency(float hz)
{
    m_frequency = std::clamp(hz, 0.0f, 48000.0f);
}

void Oscillator::setSampleRate(float rate)
{
    if (rate > 0.0f)
        m_sampleRate = rate;
}

float Oscillator::generateSample()
{
    if (!m_running)
        return 0.0f;
    const float p = m_phase;
    float value = 0.0f;
    switch (m_type) {
    case WaveformType::Sine:
        value = std::sin(2.0f * static_cast<float>(M_PI) * p);
        break;
    case WaveformType::Square:
        value = p < 0.5f ? 1.0f : -1.0f;
        break;
    case WaveformType::Saw:
        value = 2.0f * p - 1.0f;
        break;
    case WaveformType::Triangle:
        value = 2.0f * std::abs(2.0f * p - 1.0f) - 1.0f;
        break;
    case WaveformType::Noise:
        value = static_cast<float>(m_noiseSeed & 0xFFu) / 127.5f - 1.0f;
        m_noiseSeed = (m_noiseSeed * 1103515245u + 12345u) & 0x7FFFFFFFu;
        break;
    }
    m_phase += m_frequency * std::pow(2.0f, m_detune / 1200.0f) / m_sampleRate;
    // Frequencies above the sample rate step more than a cycle at once.
    if (m_phase >= 1.0f)
        m_phase -= std::floor(m_phase);
    return value;
}

void Oscillator::generate(float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = generateSample();
}
