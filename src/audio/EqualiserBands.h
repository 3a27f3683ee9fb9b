#pragma once
// The parametric equaliser's bands as biquads: which bands are applied, their
// RBJ cookbook coefficients, their response, and the cascade that runs them.
// The offline equaliser, the equaliser dialog's live preview and its drawn
// curve all use these, so what is drawn and heard is what is applied.
//
// Type codes: 0 bell, 1 low shelf, 2 high shelf, 3 low-pass, 4 high-pass,
// 5 notch, 6 band-pass (0 dB peak).

#include <cstddef>
#include <vector>

struct BiquadCoefficients {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0; // divided by a0; the default passes through
};

// Filter state of one channel through one biquad (transposed direct form II).
struct BiquadState {
    float z1 = 0, z2 = 0;
};

// One band as the user sets it.
struct EqualiserBandSettings {
    bool enabled = true;
    float frequency = 1000.0f; // Hz
    float gainDb = 0.0f;
    float q = 1.0f;
    int type = 0;
};

namespace EqualiserBands {

constexpr int TypeCount = 7;
constexpr float MinimumFrequency = 20.0f;
constexpr float MaximumFrequencyRatio = 0.49f; // of the sample rate
constexpr float MinimumQ = 0.1f;

// Whether a band takes part at all: enabled, a known type and a frequency
// from 20 Hz to 0.49 x the rate (above that the cookbook filter misbehaves).
bool isApplied(bool enabled, float frequency, int type, float sampleRate);

// Cookbook coefficients in single precision; Q is raised to at least 0.1.
// False for an unknown type code or a rate of 0 or less.
bool coefficients(int type, float frequency, float gainDb, float q, float sampleRate,
                  BiquadCoefficients& out);

// The coefficients of a band that is applied; false (and `out` untouched)
// for one that is skipped.
bool appliedCoefficients(const EqualiserBandSettings& band, float sampleRate,
                         BiquadCoefficients& out);

// |H| in dB at `frequency`, floored at -200 dB; 0 dB for a frequency or
// rate of 0 or less.
double magnitudeDb(const BiquadCoefficients& c, double frequency, double sampleRate);

// The applied bands of parallel arrays, in array order.
std::vector<BiquadCoefficients> appliedBands(const float* freqs, const float* gainsDb,
                                             const float* qs, const int* types,
                                             const bool* enabled, int count, float sampleRate);

// Runs `count` bands in series over every `stride`-th value of `data`
// (frames values), carrying `states` (one per band) from call to call, so
// consecutive pieces form one continuous filter. Allocates nothing.
void runCascade(const BiquadCoefficients* bands, BiquadState* states, std::size_t count,
                float* data, std::ptrdiff_t frames, int stride);

} // namespace EqualiserBands
