#include "multitrack/TakePlaybackGaps.h"

#include <algorithm>
#include <cmath>

namespace TakePlaybackGaps {

namespace {

constexpr double kCrossfadeSeconds = 0.005;

} // namespace

double remove(QList<float>& take, const std::vector<MultiTrackAudioEngine::PlaybackGap>& gaps,
              qint64 inputBeganNs, int rate)
{
    if (rate < 1 || inputBeganNs == 0)
        return 0.0;
    qsizetype removed = 0;
    // Latest first: the earlier gaps' places in the take stay as they were.
    for (auto gap = gaps.rbegin(); gap != gaps.rend(); ++gap) {
        const qsizetype size = take.size();
        const double endSeconds = double(gap->endNs - inputBeganNs) / 1e9;
        const qsizetype end = std::min<qsizetype>(qsizetype(std::llround(endSeconds * rate)), size);
        const qsizetype from = std::max<qsizetype>(end - qsizetype(std::llround(gap->seconds * rate)), 0);
        if (end <= from || end - from >= size)
            continue;
        const qsizetype fade = std::min({qsizetype(kCrossfadeSeconds * rate), from, end - from});
        float* samples = take.data();
        for (qsizetype i = 0; i < fade; ++i) {
            const float w = (float(i) + 0.5f) / float(fade);
            float& kept = samples[from - fade + i];
            kept = kept * (1.0f - w) + samples[end - fade + i] * w;
        }
        take.remove(from, end - from);
        removed += end - from;
    }
    return double(removed) / rate;
}

} // namespace TakePlaybackGaps
