#pragma once
// The rates a multitrack project may run at: those of its whole chain, the
// offline renders and the plug-ins alike, so that the mixing engine and
// every loaded plug-in always share the project's rate. Material at a rate
// outside them is resampled to the project's.

#include "engine/instruments/OfflineRenderLimits.h"
#include "plugins/AudioPluginBridge.h"

#include <algorithm>

namespace ProjectSampleRate {

constexpr int kMin = std::max(OfflineRender::kMinSampleRate, AudioPluginBridge::kMinSampleRate);
constexpr int kMax = std::min(OfflineRender::kMaxSampleRate, AudioPluginBridge::kMaxSampleRate);

inline bool accepts(int rate)
{
    return rate >= kMin && rate <= kMax;
}

// The usable rate nearest to `rate`.
inline int nearest(int rate)
{
    return std::clamp(rate, kMin, kMax);
}

} // namespace ProjectSampleRate
