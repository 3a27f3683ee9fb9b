#include "audio/dsp/FilterProcessor.h"

#include <algorithm>
#include <cmath>

FilterProcessor::FilterProcessor()
{
    calculateCoefficients();
}

void FilterProcessor::setType(FilterType type)
{
    m_type = type;
    calculateCoefficients();
}

void FilterProcessor::setFrequency(float hz)
{
    m_frequency = std::clamp(hz, 20.0f, 20000.0f);
    calculateCoefficients();
}

void FilterProcessor::setQ(float q)
{
    m_q = std::clamp(q, 0.1f, 20.0f);
    calculateCoefficients();
}

void FilterProcessor::setGain(float dB)
{
    m_gain = std::clamp(dB, -12.0f, 12.0f);
    calculateCoefficients();
}

void FilterProcessor::setSampleRate(float rate)
{
    if (!(rate >= 1.0f) || !std::isfinite(rate))
        return;
    m_sampleRate = rate;
    calculateCoefficients();
}

void FilterProcessor::calculateCoefficients()
{
    // At the Nyquist frequency the poles would sit on the unit circle.
    const float frequency = std::min(m_frequency, 0.499f * m_sampleRate);
    const float w = 2.0f * static_cast<float>(M_PI) * frequency / m_sampleRate;
    const float cosw = std::cos(w);
    const float alpha = std::sin(w) / (2.0f * m_q);
    const float a0 = 1.0f + alpha;
    switch (m_type) {
    case FilterType::LowPass:
        m_b0 = (1.0f - cosw) / 2.0f / a0;
        m_b1 = (1.0f - cosw) / a0;
        m_b2 = m_b0;
        break;
    case FilterType::HighPass:
        m_b0 = (1.0f + cosw) / 2.0f / a0;
        m_b1 = -(1.0f + cosw) / a0;
        m_b2 = m_b0;
        break;
    case FilterType::BandPass:
        m_b0 = alpha / a0;
        m_b1 = 0.0f;
        m_b2 = -alpha / a0;
        break;
    case FilterType::Notch:
        m_b0 = 1.0f / a0;
        m_b1 = -2.0f * cosw / a0;
        m_b2 = m_b0;
        break;
    default:
        return;
    }
    m_a1 = -2.0f * cosw / a0;
    m_a2 = (1.0f - alpha) / a0;
}

void FilterProcessor::process(const float* in, float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        float y = m_b0 * x;
        y = std::fma(m_b1, m_x1, y);
        y = std::fma(m_b2, m_x2, y);
        y = std::fma(-m_a1, m_y1, y);
        y = std::fma(-m_a2, m_y2, y);
        m_x2 = m_x1;
        m_x1 = x;
        m_y2 = m_y1;
        m_y1 = y;
        out[i] = y;
    }
}

void FilterProcessor::processChannel(const float* in, float* out, std::size_t n)
{
    process(in, out, n);
}

void FilterProcessor::processBlock(AudioBlock& block)
{
    const std::size_t frames = block.usableFrames();
    for (auto& channel : block.channels)
        process(channel.data(), channel.data(), frames);
}

void FilterProcessor::reset()
{
    m_x1 = m_x2 = m_y1 = m_y2 = 0.0f;
}
