#include "multitrack/AudioClipWidget.h"

#include <QCursor>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int LaneHeight = 120;
constexpr int Band = ClipLaneEnvelope::BandMargin;
// Presses within this many pixels of a clip's head or tail grab the edge.
constexpr int EdgeGrab = 6;
// Fade handles: the top 12 px of the band, 12 px into the clip.
constexpr int FadeHandleSize = 12;

} // namespace

AudioClipWidget::AudioClipWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(LaneHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setStyleSheet(QStringLiteral(
        "background-color: #14141e; border-top: 1px solid #333; border-bottom: 1px solid #333;"));
}

AudioClipWidget::~AudioClipWidget() = default;

// ---- view fields ----

void AudioClipWidget::setTrackData(TrackData* newTrack)
{
    track = newTrack;
    if (track)
        wave = track->color;
    else
        peaks.clear();
    // A gesture survives a re-pointing to the same track at a new address;
    // one whose clip or point is gone ends here.
    dropStaleGestures();
    update();
}

void AudioClipWidget::setViewStartSec(double sec)
{
    mapping.setViewStartSec(sec);
    update();
}

void AudioClipWidget::setZoomLevel(double zoom)
{
    mapping.setZoom(zoom);
    update();
}

void AudioClipWidget::setPlayheadPosition(double sec)
{
    if (!std::isnan(sec))
        playhead = sec;
    update();
}

void AudioClipWidget::setWaveColor(const QColor& color)
{
    wave = color;
    update();
}

void AudioClipWidget::setToolMode(int mode)
{
    tool = mode;
    moveDragging = false;
    moveDragClip = -1;
    trimClip = -1;
    fadeDragKind = 0;
    fadeDragClip = -1;
    envelopeEditor.cancel();
    setCursor(Qt::ArrowCursor);
}

void AudioClipWidget::setShowEnvelope(bool show)
{
    envelopeShown = show;
    if (!show)
        envelopeEditor.cancel();
    update();
}

void AudioClipWidget::setSnapEnabled(bool enabled)
{
    snapEnabled = enabled;
}

void AudioClipWidget::setSnapBpm(double bpm)
{
    if (std::isfinite(bpm) && bpm > 0.0)
        snapTempo = bpm;
}

// ---- geometry ----

int AudioClipWidget::secondsToX(double sec) const
{
    return mapping.secondsToX(sec);
}

double AudioClipWidget::xToSeconds(int x) const
{
    return mapping.xToSeconds(x);
}

double AudioClipWidget::snapToGrid(double sec) const
{
    return TimelineMapping::snapToBeat(sec, snapTempo);
}

double AudioClipWidget::valueToY(float value) const
{
    return ClipLaneEnvelope::valueToY(value, height());
}

float AudioClipWidget::yToValue(int y) const
{
    return ClipLaneEnvelope::yToValue(y, height());
}

bool AudioClipWidget::hasMaterial(const AudioClip& clip)
{
    return !clip.samples.isEmpty() && clip.sampleRate >= 1 && std::isfinite(clip.audioStart)
           && std::isfinite(clip.audioEnd);
}

double AudioClipWidget::visibleLength(const AudioClip& clip)
{
    return hasMaterial(clip) ? clip.playableLength() : 0.0;
}

int AudioClipWidget::hitTestClip(const QPoint& pos) const
{
    if (!track || pos.y() < Band || pos.y() > height() - Band)
        return -1;
    const std::vector<AudioClip>& clips = track->audioClips;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const AudioClip& clip = clips[i];
        const int x1 = secondsToX(clip.start);
        const int x2 = secondsToX(clip.start + visibleLength(clip));
        if (x1 <= pos.x() && pos.x() <= x2)
            return int(i);
    }
    return -1;
}

int AudioClipWidget::hitTestClipEdge(const QPoint& pos) const
{
    if (!track || pos.y() < Band || pos.y() > height() - Band)
        return -1;
    const std::vector<AudioClip>& clips = track->audioClips;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const AudioClip& clip = clips[i];
        if (!hasMaterial(clip))
            continue;
        const int x1 = secondsToX(clip.start);
        const int x2 = secondsToX(clip.start + visibleLength(clip));
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
    if (!track || pos.y() < Band || pos.y() > Band + FadeHandleSize)
        return 0;
    const std::vector<AudioClip>& clips = track->audioClips;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const AudioClip& clip = clips[i];
        if (!hasMaterial(clip))
            continue;
        const int x1 = secondsToX(clip.start);
        const int x2 = secondsToX(clip.start + visibleLength(clip));
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

int AudioClipWidget::hitTestEnvelopePoint(const QPoint& pos) const
{
    if (!track)
        return -1;
    return ClipLaneEnvelope::hitTestPoint(track->volumeEnvelope, mapping, height(), pos);
}

AudioClip* AudioClipWidget::clipAt(int index) const
{
    if (!track || index < 0 || index >= int(track->audioClips.size()))
        return nullptr;
    return &track->audioClips[std::size_t(index)];
}

void AudioClipWidget::dropStaleGestures()
{
    const auto stale = [this](int index) { return index >= 0 && !clipAt(index); };
    if (stale(trimClip))
        trimClip = -1;
    if (stale(fadeDragClip)) {
        fadeDragKind = 0;
        fadeDragClip = -1;
    }
    if (stale(bodyDragClip)) {
        bodyDragClip = -1;
        bodyMoved = false;
    }
    if (stale(moveDragClip)) {
        // The page holds the drag; its release still reaches it.
        moveDragClip = -1;
    }
    if (envelopeEditor.dragging()
        && (!track || envelopeEditor.dragPoint() >= int(track->volumeEnvelope.size())))
        envelopeEditor.cancel();
}

void AudioClipWidget::endGestures()
{
    trimClip = -1;
    fadeDragKind = 0;
    fadeDragClip = -1;
    moveDragging = false;
    moveDragClip = -1;
    bodyMoved = false;
    bodyDragClip = -1;
    envelopeEditor.cancel();
}
