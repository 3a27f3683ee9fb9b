#include "ProjectTypes.h"

#include <algorithm>
#include <cmath>

double fadeCurveGain(int curve, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    switch (curve) {
    case FadeSmoothStep: return t * t * (3.0 - 2.0 * t);
    case FadeSquare: return t * t;
    case FadeSquareRoot: return std::sqrt(t);
    default: return t;
    }
}

double AudioClip::playableLength() const
{
    if (samples.isEmpty() || sampleRate < 1)
        return 0.0;
    const double length = double(samples.size()) / double(sampleRate) - audioStart - audioEnd;
    // max() also turns a negative zero into a plain zero.
    return length > 0.0 ? length : 0.0;
}
