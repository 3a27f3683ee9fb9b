#include "audio/dsp/MidSideProcessor.h"

void MidSideProcessor::processOffline(const float* in, float* out, std::size_t frames) const
{
    for (std::size_t i = 0; i < frames; ++i) {
        const float l = in[2 * i];
        const float r = in[2 * i + 1];
        out[i] = midGain * (l + r) * 0.5f + sideGain * (l - r) * 0.5f;
    }
}
