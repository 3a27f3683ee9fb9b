#include "EqualiserBands.h"

#include <cmath>

namespace EqualiserBands {

bool isApplied(bool enabled, float frequency, int type, float sampleRate)
{
    return enabled && type >= 0 && type < TypeCount && frequency >= MinimumFrequency
           && frequency <= MaximumFrequencyRatio * sampleRate;
}

bool coefficients(int type, float freq, float gainDb, float q, float sampleRate,
                  BiquadCoefficients& out)
{
    if (!(sampleRate > 0.0f))
        return false;
    if (!(q >= MinimumQ)) // also a NaN Q
        q = MinimumQ;
    const float w0 = 2.0f * static_cast<float>(M_PI) * freq / sampleRate;
    const float cs = std::cos(w0);
    const float sn = std::sin(w0);
    const float A = std::pow(10.0f, gainDb / 40.0f);
    const float alpha = sn / (2.0f * q);
    const float sqrtA2Alpha = 2.0f * std::sqrt(A) * alpha;

    float b0, b1, b2, a0, a1, a2;
    switch (type) {
    case 0: // bell
        b0 = 1 + alpha * A;
        b1 = -2 * cs;
        b2 = 1 - alpha * A;
        a0 = 1 + alpha / A;
        a1 = -2 * cs;
        a2 = 1 - alpha / A;
        break;
    case 1: // low shelf
        b0 = A * ((A + 1) - (A - 1) * cs + sqrtA2Alpha);
        b1 = 2 * A * ((A - 1) - (A + 1) * cs);
        b2 = A * ((A + 1) - (A - 1) * cs - sqrtA2Alpha);
        a0 = (A + 1) + (A - 1) * cs + sqrtA2Alpha;
        a1 = -2 * ((A - 1) + (A + 1) * cs);
        a2 = (A + 1) + (A - 1) * cs - sqrtA2Alpha;
        break;
    case 2: // high shelf
        b0 = A * ((A + 1) + (A - 1) * cs + sqrtA2Alpha);
        b1 = -2 * A * ((A - 1) + (A + 1) * cs);
        b2 = A * ((A + 1) + (A - 1) * cs - sqrtA2Alpha);
        a0 = (A + 1) - (A - 1) * cs + sqrtA2Alpha;
        a1 = 2 * ((A - 1) - (A + 1) * cs);
        a2 = (A + 1) - (A - 1) * cs - sqrtA2Alpha;
        break;
    case 3: // low-pass
        b0 = (1 - cs) / 2;
        b1 = 1 - cs;
        b2 = (1 - cs) / 2;
        a0 = 1 + alpha;
        a1 = -2 * cs;
        a2 = 1 - alpha;
        break;
    case 4: // high-pass
        b0 = (1 + cs) / 2;
        b1 = -(1 + cs);
        b2 = (1 + cs) / 2;
        a0 = 1 + alpha;
        a1 = -2 * cs;
        a2 = 1 - alpha;
        break;
    case 5: // notch
        b0 = 1;
        b1 = -2 * cs;
        b2 = 1;
        a0 = 1 + alpha;
        a1 = -2 * cs;
        a2 = 1 - alpha;
        break;
    case 6: // band-pass, 0 dB peak
        b0 = alpha;
        b1 = 0;
        b2 = -alpha;
        a0 = 1 + alpha;
        a1 = -2 * cs;
        a2 = 1 - alpha;
        break;
    default:
        return false;
    }
    out = {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
    return true;
}

bool appliedCoefficients(const EqualiserBandSettings& band, float sampleRate,
                         BiquadCoefficients& out)
{
    return isApplied(band.enabled, band.frequency, band.type, sampleRate)
           && coefficients(band.type, band.frequency, band.gainDb, band.q, sampleRate, out);
}

double magnitudeDb(const BiquadCoefficients& c, double frequency, double sampleRate)
{
    if (!(frequency > 0.0) || !(sampleRate > 0.0))
        return 0.0;
    const double w = 2.0 * M_PI * frequency / sampleRate;
    const double cos1 = std::cos(w), cos2 = std::cos(2.0 * w);
    const double sin1 = std::sin(w), sin2 = std::sin(2.0 * w);
    const double numRe = c.b0 + c.b1 * cos1 + c.b2 * cos2;
    const double numIm = -(c.b1 * sin1 + c.b2 * sin2);
    const double denRe = 1.0 + c.a1 * cos1 + c.a2 * cos2;
    const double denIm = -(c.a1 * sin1 + c.a2 * sin2);
    const double den = denRe * denRe + denIm * denIm;
    if (!(den >= 1e-20))
        return 0.0;
    const double power = (numRe * numRe + numIm * numIm) / den;
    return 10.0 * std::log10(power >= 1e-20 ? power : 1e-20);
}

std::vector<BiquadCoefficients> appliedBands(const float* freqs, const float* gainsDb,
                                             const float* qs, const int* types,
                                             const bool* enabled, int count, float sampleRate)
{
    std::vector<BiquadCoefficients> bands;
    if (count < 1 || !freqs || !gainsDb || !qs || !types || !enabled)
        return bands;
    for (int b = 0; b < count; ++b) {
        BiquadCoefficients band;
        if (appliedCoefficients({enabled[b], freqs[b], gainsDb[b], qs[b], types[b]}, sampleRate,
                                band))
            bands.push_back(band);
    }
    return bands;
}

void runCascade(const BiquadCoefficients* bands, BiquadState* states, std::size_t bandCount,
                float* data, std::ptrdiff_t frames, int stride)
{
    // Band after band on each sample: each band sees exactly the output of
    // the one before, and the independent band recursions overlap in the
    // processor's pipeline.
    if (bandCount == 0 || !bands || !states || !data || stride < 1)
        return;
    for (std::ptrdiff_t i = 0; i < frames; ++i) {
        float& v = data[i * stride];
        float x = v;
        for (std::size_t b = 0; b < bandCount; ++b) {
            const BiquadCoefficients& q = bands[b];
            BiquadState& s = states[b];
            const float y = q.b0 * x + s.z1;
            s.z1 = q.b1 * x - q.a1 * y + s.z2;
            s.z2 = q.b2 * x - q.a2 * y;
            x = y;
        }
        v = x;
    }
}

} // namespace EqualiserBands
