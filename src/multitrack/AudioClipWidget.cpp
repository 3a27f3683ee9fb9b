#include "multitrack/AudioClipWidget.h"

#include <cmath>

namespace {

constexpr int Band = ClipLaneEnvelope::BandMargin;
// Fade handles: the top 12 px of the band, 12 px into the clip.
constexpr int FadeHandleSize = 12;

} // namespace

AudioClipWidget::AudioClipWidget(QWidget* parent)
    : ClipLaneWidget(parent)
{
}

AudioClipWidget::~AudioClipWidget() = default;

void AudioClipWidget::setTrackData(TrackData* newTrack)
{
    if (!newTrack)
        peaks.clear();
    bindTrack(newTrack);
}

// ---- clips ----

bool AudioClipWidget::hasMaterial(const AudioClip& clip)
{
    return !clip.samples.isEmpty() && clip.sampleRate >= 1 && std::isfinite(clip.audioStart)
           && std::isfinite(clip.audioEnd);
}

double AudioClipWidget::visibleLength(const AudioClip& clip)
{
    return hasMaterial(clip) ? clip.playableLength() : 0.0;
}

AudioClip* AudioClipWidget::clipAt(int index) const
{
    return validClip(index) ? &track->audioClips[std::size_t(index)] : nullptr;
}

int AudioClipWidget::clipCount() const
{
    return track ? int(track->audioClips.size()) : 0;
}

double AudioClipWidget::clipStart(int index) const
{
    return track->audioClips[std::size_t(index)].start;
}

void AudioClipWidget::setClipStart(int index, double start)
{
    track->audioClips[std::size_t(index)].start = start;
}

void AudioClipWidget::endLaneGestures(bool staleOnly)
{
    if (!staleOnly || !validClip(trimClip))
        trimClip = -1;
    if (!staleOnly || !validClip(fadeDragClip)) {
        fadeDragKind = 0;
        fadeDragClip = -1;
    }
}

// ---- hit tests ----

std::pair<int, int> AudioClipWidget::clipEdgesX(const AudioClip& clip) const
{
    return {secondsToX(clip.start), secondsToX(clip.start + visibleLength(clip))};
}

std::pair<int, int> AudioClipWidget::clipSpanX(int index) const
{
    return clipEdgesX(track->audioClips[std::size_t(index)]);
}

bool AudioClipWidget::clipHasEdges(int index) const
{
    return hasMaterial(track->audioClips[std::size_t(index)]);
}

int AudioClipWidget::hitTestFadeHandle(const QPoint& pos, int& clipIndex) const
{
    clipIndex = -1;
    if (pos.y() > Band + FadeHandleSize)
        return 0;
    // The handles sit inside the clip: only the one drawn there has them.
    const int i = hitTestClip(pos);
    if (i < 0 || !clipHasEdges(i))
        return 0;
    const auto [x1, x2] = clipSpanX(i);
    if (x1 <= pos.x() && pos.x() <= x1 + FadeHandleSize) {
        clipIndex = i;
        return 1;
    }
    if (x2 - FadeHandleSize <= pos.x() && pos.x() <= x2) {
        clipIndex = i;
        return 2;
    }
    return 0;
}
