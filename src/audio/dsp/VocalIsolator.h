#pragma once
// Centre-voice isolation of a stereo recording by spectral subtraction: in a
// short-time Fourier transform the side signal's magnitude, as the estimate
// of the accompaniment, is taken from the mid signal's (down to a floor),
// bins outside the voice band are lowered, the magnitudes are smoothed over
// time and the mid's phases kept. No bin is raised and the overlap-add is
// normalised, so the result is never louder than the centre it came from.
// A plain class of the processor library; offline, caller's thread.

#include "audio/dsp/Fft.h"

#include <cstddef>
#include <vector>

class VocalIsolator {
public:
    VocalIsolator() = default;
    ~VocalIsolator() = default;

    // Sizes the work vectors for an FFT size (a power of two); nothing when
    // already sized for it. Smoothed magnitudes present are kept.
    void initialize(size_t fftSize);
    // Strength 1 takes the side's magnitude from the mid's once; above 1 it
    // over-subtracts (down to the floor).
    static constexpr float MaxIsolationStrength = 2.0f;

    // Strength clamped to [0, MaxIsolationStrength], smoothing to [0, 1].
    void setIsolationStrength(float strength, float smoothing);

    float getIsolationStrength() const { return isolationStrength; }
    float getSmoothing() const { return smoothing; }
    size_t getFftSize() const { return fftSize; }

    // Interleaved stereo in, `frames` mono samples out.
    void processOffline(const float* interleavedStereo, float* monoOut, size_t frames,
                        int sampleRate);
    // The short-time Fourier pass (hop N/4) over n mid samples; `side` may
    // be null (nothing to subtract).
    void spectralSubtraction(const float* mid, const float* side, float* out, size_t n,
                             int sampleRate);

    void applyWindow(float* data, size_t n) const;
    void removeWindow(float* data, size_t n) const;
    static void encodeMidSide(const float* interleaved, float* mid, float* side, size_t n);
    static void decodeMidSide(const float* mid, const float* side, float* interleaved, size_t n);
    // Mid signal with a fixed lift, no transform.
    void processFrame(const float* interleaved, float* out, int frames, int sampleRate) const;

private:
    // Gain of the band rule for a bin frequency.
    float bandGain(float frequency) const;

    float isolationStrength = 0.8f;
    float smoothing = 0.02f;
    size_t fftSize = 2048;
    std::vector<float> fftBuffer; // the frame, then its bins 0..N/2 as (re, im) pairs
    std::vector<float> sideBuffer; // the same for the side signal
    float overlapGain = 1.5f;     // the squared window summed over overlapping frames
    std::vector<float> window;
    std::vector<float> smoothedMagnitudes;
    bool initialized = false;
    RealFft fft;
};
