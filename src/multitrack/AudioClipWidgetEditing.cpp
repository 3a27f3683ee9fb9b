// Mouse gestures of the audio clip lane: envelope points, the Move and
// Scissors tools' clip signals, and in the Normal tool fades, trims, body
// drags and the playhead. Edits land in the bound track in place; the lane
// pushes no undo step (its signals let the page do that).

#include "multitrack/AudioClipWidget.h"

#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace {

// A body press must travel further than this before the clip moves.
constexpr int BodyDragThreshold = 5;
// A trim always leaves this much audio visible.
constexpr double MinimumVisible = 0.01;

QPoint localPos(const QMouseEvent* event)
{
    return event->position().toPoint();
}

QPoint globalPos(const QMouseEvent* event)
{
    return event->globalPosition().toPoint();
}

} // namespace

// ---- press ----

void AudioClipWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dropStaleGestures();
    const QPoint pos = localPos(event);
    if (pressEnvelope(event, pos))
        return;

    if (tool == MoveTool) {
        const int hit = hitTestClip(pos);
        if (hit >= 0) {
            moveDragging = true;
            moveDragClip = hit;
            emit clipDragStarted(hit, globalPos(event));
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
        return;
    }
    if (tool == ScissorsTool) {
        const int hit = hitTestClip(pos);
        if (hit >= 0) {
            emit scissorClicked(hit);
            event->accept();
            return;
        }
    } else if (pressNormalTool(pos)) {
        event->accept();
        return;
    }
    movePlayheadTo(pos.x());
    emit clicked();
    QWidget::mousePressEvent(event);
}

bool AudioClipWidget::pressEnvelope(QMouseEvent* event, const QPoint& pos)
{
    if (!envelopeShown || !track)
        return false;
    if (!track->volumeEnvelope.empty() && envelopeEditor.grab(*track, mapping, height(), pos)) {
        event->accept();
        return true;
    }
    if (event->modifiers() & Qt::AltModifier) {
        ClipLaneEnvelopeEditor::Edit edit;
        if (ClipLaneEnvelopeEditor::addPoint(*track, xToSeconds(pos.x()), yToValue(pos.y()), edit)) {
            commitEnvelopeEdit(edit);
            event->accept();
            return true;
        }
    }
    return false;
}

bool AudioClipWidget::pressNormalTool(const QPoint& pos)
{
    int fadeClip = -1;
    const int fade = hitTestFadeHandle(pos, fadeClip);
    if (fade != 0) {
        fadeDragKind = fade;
        fadeDragClip = fadeClip;
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
        return true;
    }
    const int body = hitTestClip(pos);
    if (body >= 0) {
        selected = body;
        setFocus(Qt::MouseFocusReason);
        bodyMoved = false;
        bodyDragClip = body;
        bodyDragAnchor = track->audioClips[std::size_t(body)].start;
        pressX = pos.x();
        emit clicked();
        update();
        return true;
    }
    selected = -1;
    return false;
}

void AudioClipWidget::movePlayheadTo(int x)
{
    playhead = std::max(0.0, xToSeconds(x));
    emit playheadMoved(playhead);
    update();
}

void AudioClipWidget::commitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit)
{
    emit envelopeEditCommitted(edit.before, edit.after);
    emit envelopeChanged();
    update();
}

// ---- move ----

void AudioClipWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!track) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    dropStaleGestures();
    const QPoint pos = localPos(event);
    updateHoveredClip(pos);

    if (envelopeEditor.dragging()) {
        const double t = std::max(0.0, xToSeconds(pos.x()));
        if (envelopeEditor.dragTo(*track, t, yToValue(pos.y()))) {
            setCursor(Qt::SizeAllCursor);
            update();
            event->accept();
            return;
        }
    }
    if (moveDragging) {
        emit clipDragMoved(globalPos(event));
        event->accept();
        return;
    }
    if (tool == MoveTool || tool == ScissorsTool) {
        const bool overClip = hitTestClip(pos) >= 0;
        setCursor(overClip ? (tool == MoveTool ? Qt::OpenHandCursor : Qt::CrossCursor)
                           : Qt::ArrowCursor);
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (dragBody(pos) || dragTrim(pos) || dragFade(pos) || hoverNormalTool(pos)) {
        event->accept();
        return;
    }
    setCursor(Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

bool AudioClipWidget::dragBody(const QPoint& pos)
{
    AudioClip* clip = clipAt(bodyDragClip);
    if (!clip)
        return false;
    const int dx = pos.x() - pressX;
    if (!bodyMoved) {
        if (std::abs(dx) <= BodyDragThreshold)
            return false; // not yet a drag: handled as a hover
        bodyMoved = true;
    }
    double start = std::max(0.0, bodyDragAnchor + dx / mapping.pixelsPerSecond());
    if (snapEnabled)
        start = snapToGrid(start);
    clip->start = start;
    setCursor(Qt::ClosedHandCursor);
    update();
    return true;
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

void AudioClipWidget::updateHoveredClip(const QPoint& pos)
{
    // The clip under the mouse shows its trim handles.
    const int hit = hitTestClip(pos);
    if (hit != hoveredClip) {
        hoveredClip = hit;
        update();
    }
}

// ---- release ----

void AudioClipWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dropStaleGestures();
    const QPoint pos = localPos(event);
    if (envelopeEditor.dragging() && track) {
        ClipLaneEnvelopeEditor::Edit edit;
        envelopeEditor.release(*track, edit);
        setCursor(Qt::ArrowCursor);
        commitEnvelopeEdit(edit);
        event->accept();
        return;
    }
    if (moveDragging) {
        moveDragging = false;
        moveDragClip = -1;
        emit clipDragFinished(globalPos(event));
        setCursor(Qt::ArrowCursor);
        event->accept();
        return;
    }
    if (trimClip >= 0) {
        trimClip = -1;
        emit clipTrimmed();
        update();
        event->accept();
        return;
    }
    if (fadeDragClip >= 0) {
        fadeDragKind = 0;
        fadeDragClip = -1;
        emit clipTrimmed();
        update();
        event->accept();
        return;
    }
    if (bodyDragClip >= 0) {
        bodyDragClip = -1;
        if (bodyMoved) {
            bodyMoved = false;
            setCursor(Qt::ArrowCursor);
            emit clipTrimmed();
            update();
        } else {
            movePlayheadTo(pos.x());
        }
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// ---- double-click ----

void AudioClipWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int hit = hitTestClip(localPos(event));
        if (hit >= 0) {
            emit clipDoubleClicked(hit);
            event->accept();
            return;
        }
    }
    QWidget::mouseDoubleClickEvent(event);
}
