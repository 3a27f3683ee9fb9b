#pragma once
// Stereo to mono through separate mid and side gains.

#include <cstddef>

class MidSideProcessor {
public:
    float midGain = 1.0f;
    float sideGain = 1.0f;

    // in: interleaved stereo; out: `frames` mono samples
    // mid * (L + R) / 2 + side * (L - R) / 2.
    void processOffline(const float* in, float* out, std::size_t frames) const;
};
