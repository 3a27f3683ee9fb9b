#pragma once
// Pitch shift of a mono buffer by up to an octave either way, keeping its
// length. processOffline is the quality path: a phase-locked phase vocoder
// changes the duration by the pitch ratio and a band-limited resampler
// brings it back, so every frequency moves by exactly 2^(semitones/12).
// process() is a light streaming grain smoother kept beside it.

#include "audio/dsp/AudioBlock.h"
#include "audio/dsp/Fft.h"
#include "audio/dsp/PhaseVocoder.h"
#include "audio/dsp/SincResampler.h"

#include <cstddef>
#include <vector>

class PitchShiftProcessor {
public:
    PitchShiftProcessor();

    void setSampleRate(float rate);  // also returns the streaming ratio to 1
    float getSampleRate() const { return m_sampleRate; }
    void setPitch(float semitones);  // clamped to [-12, 12]
    float getPitch() const { return m_pitch; }
    void setWindowSize(float ms);    // clamped to [5, 100]; sets the streaming grain length
    float getWindowSize() const { return m_windowSize; }
    void setOverlap(float overlap);  // clamped to [0.1, 0.9]; kept for callers
    float getOverlap() const { return m_overlap; }

    // Streaming, one value out per value in; in and out may be the same buffer.
    void process(const float* in, float* out, std::size_t n);
    void processBlock(AudioBlock& block);
    // n samples in, n samples out; pitch 0 copies. in and out may be the
    // same buffer.
    void processOffline(const float* in, float* out, std::size_t n);
    void reset();

    // Transform size of processOffline: the smallest power of two not below
    // 92 ms at the sample rate, at least 1024 (4096 at 44100 Hz).
    std::size_t fftSize() const;

    // In-place transform of n (a power of two; otherwise nothing happens)
    // interleaved complex values: forward with the kernel e^(+i*2*pi*k*t/n),
    // inverse with e^(-i*2*pi*k*t/n) and a 1/n scale.
    void fft(float* data, std::size_t n, bool inverse);
    // One vocoder frame of N windowed samples (see PhaseVocoder::processFrame).
    void phaseVocoderFrame(const float* frame, float* out, std::size_t N, float* lastPhase,
                           float* sumPhase, double ratio, std::size_t analysisHop,
                           std::size_t synthesisHop);

private:
    float m_pitch = 0.0f;
    float m_windowSize = 2048.0f;
    float m_overlap = 0.75f;
    float m_sampleRate = 44100.0f;
    std::vector<float> m_history;      // the last grain length of input, oldest first
    std::vector<float> m_outputQueue;  // grains waiting to be output, front first
    std::size_t m_queueFront = 0;
    float m_grainPhase = 0.0f;
    float m_grainLength = 2048.0f;
    float m_pitchedGrainLength = 2048.0f;

    PhaseVocoder m_vocoder;
    SincResampler m_resampler;
    Fft m_fft;
    std::vector<float> m_grainWindow;
};
