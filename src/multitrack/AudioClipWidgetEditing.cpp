// Mouse gestures of the audio clip lane. The envelope, the Move and
// Scissors tools and body drags are ClipLaneWidget's; here are the Normal
// tool's fades and trims. Edits land in the bound track in place; the lane
// pushes no undo step (its signals let the page do that).

#include "multitrack/AudioClipWidget.h"

#include <algorithm>
#include <cmath>

namespace {

// A trim always leaves this much audio visible.
constexpr double MinimumVisible = 0.01;

} // namespace

bool AudioClipWidget::pressNormalTool(QMouseEvent*, const QPoint& pos)
{
    int fadeClip = -1;
    const int fade = hitTestFadeHandle(pos, fadeClip);
    if (fade != 0) {
        fadeDragKind = fade;
        fadeDragClip = fadeClip;
        update();
        return true;
    }
    const int edge = hitTestClipEdge(pos);
    if (edge >= 0) {
        trimClip = edge / 2;
        trimLeftEdge = edge % 2 == 0;
        const AudioClip& clip = track->audioClips[std::size_t(trimClip)];
        trimAnchorStart = clip.start;
        trimAnchorAudioStart = clip.audioStart;
        trimAnchorAudioEnd = clip.audioEnd;
        emit clicked();
        update();
        return true;
    }
    const int body = hitTestClip(pos);
    if (body >= 0) {
        pressBody(body, pos);
        return true;
    }
    selected = -1;
    return false;
}

bool AudioClipWidget::moveNormalTool(const QPoint& pos)
{
    if (dragBody(pos) || dragTrim(pos) || dragFade(pos) || hoverNormalTool(pos))
        return true;
    setCursor(Qt::ArrowCursor);
    return false;
}

bool AudioClipWidget::dragTrim(const QPoint& pos)
{
    AudioClip* clip = clipAt(trimClip);
    if (!clip)
        return false;
    if (hasMaterial(*clip)) {
        const double t = xToSeconds(pos.x());
        const double source = double(clip->samples.size()) / clip->sampleRate;
        if (trimLeftEdge) {
            // The audio stays where it is on the timeline: the head is cut
            // or uncovered.
            double a = trimAnchorAudioStart + (t - trimAnchorStart);
            a = std::min(a, source - clip->audioEnd - MinimumVisible);
            a = std::max(a, 0.0);
            clip->audioStart = a;
            clip->start = trimAnchorStart + (a - trimAnchorAudioStart);
        } else {
            const double visibleAtPress = source - trimAnchorAudioStart - trimAnchorAudioEnd;
            double e = trimAnchorAudioEnd + (trimAnchorStart + visibleAtPress - t);
            e = std::min(e, source - clip->audioStart - MinimumVisible);
            e = std::max(e, 0.0);
            clip->audioEnd = e;
        }
    }
    update();
    return true;
}

bool AudioClipWidget::dragFade(const QPoint& pos)
{
    AudioClip* clip = clipAt(fadeDragClip);
    if (!clip || fadeDragKind == 0)
        return false;
    const double length = visibleLength(*clip);
    if (length <= 0.0)
        return true;
    // A fade-in and a fade-out of one clip never overlap.
    const double t = xToSeconds(pos.x());
    const double fade = fadeDragKind == 1 ? t - clip->start : clip->start + length - t;
    const double limited = std::clamp(std::isnan(fade) ? 0.0 : fade, 0.0, length / 2);
    (fadeDragKind == 1 ? clip->fadeIn : clip->fadeOut) = limited;
    update();
    return true;
}

bool AudioClipWidget::hoverNormalTool(const QPoint& pos)
{
    if (envelopeShown && hitTestEnvelopePoint(pos) >= 0) {
        setCursor(Qt::SizeAllCursor);
        return true;
    }
    int fadeClip = -1;
    const int fade = hitTestFadeHandle(pos, fadeClip);
    if (fade != 0) {
        setCursor(fade == 1 ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
        return true;
    }
    if (hitTestClipEdge(pos) >= 0) {
        setCursor(Qt::SizeHorCursor);
        return true;
    }
    return false;
}

bool AudioClipWidget::releaseNormalTool(const QPoint& pos)
{
    if (trimClip >= 0 || fadeDragClip >= 0) {
        trimClip = -1;
        fadeDragKind = 0;
        fadeDragClip = -1;
        emit clipTrimmed();
        update();
        return true;
    }
    return releaseBody(pos);
}
