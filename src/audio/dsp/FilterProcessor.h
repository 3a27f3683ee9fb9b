#pragma once
// Biquad low-pass, high-pass, band-pass (0 dB peak) or notch, direct form I,
// with coefficients for its sample rate (44100 Hz unless set).

#include "audio/dsp/AudioBlock.h"

#include <cstddef>

enum class FilterType : int { LowPass = 0, HighPass = 1, BandPass = 2, Notch = 3 };

class FilterProcessor {
public:
    FilterProcessor();

    // An unknown type is stored but keeps the previous coefficients.
    void setType(FilterType type);
    FilterType getType() const { return m_type; }
    void setFrequency(float hz);  // clamped to [20, 20000]
    float getFrequency() const { return m_frequency; }
    void setQ(float q);           // clamped to [0.1, 20]
    float getQ() const { return m_q; }
    void setGain(float dB);       // clamped to [-12, 12]; no type uses it
    float getGain() const { return m_gain; }
    // Rates below 1 Hz are ignored. A frequency at or above the rate's
    // Nyquist frequency is designed just below it.
    void setSampleRate(float rate);
    float getSampleRate() const { return m_sampleRate; }

    void calculateCoefficients();

    void process(const float* in, float* out, std::size_t n);
    void processChannel(const float* in, float* out, std::size_t n);
    // Every channel in turn through the one filter state.
    void processBlock(AudioBlock& block);
    void reset();

private:
    FilterType m_type = FilterType::LowPass;
    float m_sampleRate = 44100.0f;
    float m_frequency = 1000.0f;
    float m_q = 0.707f;
    float m_gain = 0.0f;
    float m_b0 = 1.0f, m_b1 = 0.0f, m_b2 = 0.0f, m_a1 = 0.0f, m_a2 = 0.0f;
    float m_x1 = 0.0f, m_x2 = 0.0f, m_y1 = 0.0f, m_y2 = 0.0f;
};
