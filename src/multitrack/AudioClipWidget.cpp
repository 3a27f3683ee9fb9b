#include "multitrack/AudioClipWidget.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr int Band = ClipLaneEnvelope::BandMargin;
// Presses within this many pixels of a clip's head or tail grab the edge.
constexpr int EdgeGrab = 6;
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

int AudioClipWidget::hitTestClip(const QPoint& pos) const
{
    if (!inClipBand(pos.y()))
        return -1;
    for (std::size_t i = 0; i < track->audioClips.size(); ++i) {
        const auto [x1, x2] = clipEdgesX(track->audioClips[i]);
        if (x1 <= pos.x() && pos.x() <= x2)
            return int(i);
    }
    return -1;
}

int AudioClipWidget::hitTestClipEdge(const QPoint& pos) const
{
    if (!inClipBand(pos.y()))
        return -1;
    for (std::size_t i = 0; i < track->audioClips.size(); ++i) {
        const AudioClip& clip = track->audioClips[i];
        if (!hasMaterial(clip))
            continue;
        const auto [x1, x2] = clipEdgesX(clip);
        if (std::abs(pos.x() - x1) <= EdgeGrab)
            return int(2 * i);
        if (std::abs(pos.x() - x2) <= EdgeGrab)
            return int(2 * i + 1);
    }
    return -1;
}

int AudioClipWidget::hitTestFadeHandle(const QPoint& pos, int& clipIndex) const
{
    clipIndex = -1;
    if (!inClipBand(pos.y()) || pos.y() > Band + FadeHandleSize)
        return 0;
    for (std::size_t i = 0; i < track->audioClips.size(); ++i) {
        const AudioClip& clip = track->audioClips[i];
        if (!hasMaterial(clip))
            continue;
        const auto [x1, x2] = clipEdgesX(clip);
        if (x1 <= pos.x() && pos.x() <= x1 + FadeHandleSize) {
            clipIndex = int(i);
            return 1;
        }
        if (x2 - FadeHandleSize <= pos.x() && pos.x() <= x2) {
            clipIndex = int(i);
            return 2;
        }
    }
    return 0;
}
