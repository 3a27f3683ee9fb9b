#pragma once
// Changes the duration of a buffer without changing its pitch, with the
// phase-locked phase vocoder. The window size (rounded up to a power of two)
// is the transform length; the overlap sets the output hop.

#include "audio/dsp/PhaseVocoder.h"

#include <cstddef>

class TimeStretchProcessor {
public:
    void setStretchRatio(float ratio);  // clamped to [0.25, 4]; above 1 lengthens
    float getStretchRatio() const { return m_ratio; }
    void setWindowSize(float ms);       // clamped to [5, 200] ms at 44100 Hz
    float getWindowSize() const { return m_windowSize; }  // samples
    void setOverlap(float overlap);     // clamped to [0.1, 0.9]
    float getOverlap() const { return m_overlap; }
    void reset() {}

    // Writes outLength samples of the input played ratio times as long
    // (normally outLength = inLength * ratio; input past its end is silence).
    void processOffline(const float* in, float* out, std::size_t inLength, std::size_t outLength);

private:
    float m_ratio = 1.0f;
    float m_windowSize = 2048.0f;
    float m_overlap = 0.5f;
    float m_sampleRate = 44100.0f;
    PhaseVocoder m_vocoder;
};
