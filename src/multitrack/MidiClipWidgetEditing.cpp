// Mouse, key and context-menu handling of the MIDI clip lane.

#include "multitrack/MidiClipWidget.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A body drag waits until the mouse has moved more than this.
constexpr int DragThresholdPixels = 5;

QPoint localPos(const QMouseEvent* event)
{
    return event->position().toPoint();
}

QPoint globalPos(const QMouseEvent* event)
{
    return event->globalPosition().toPoint();
}

} // namespace

void MidiClipWidget::emitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit)
{
    emit envelopeEditCommitted(edit.before, edit.after);
    emit envelopeChanged();
}

void MidiClipWidget::movePlayheadTo(int x)
{
    playhead = std::max(0.0, xToSeconds(x));
    emit playheadMoved(playhead);
}

void MidiClipWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint pos = localPos(event);
    const bool alt = event->modifiers() & Qt::AltModifier;

    if (envelopeShown && track) {
        // A point under the mouse wins in every tool; Alt adds one at 0 s or later.
        ClipLaneEnvelopeEditor::Edit added;
        if (envelope.grab(*track, mapping, height(), pos)) {
            update();
            event->accept();
            return;
        }
        if (alt && ClipLaneEnvelopeEditor::addPoint(*track, xToSeconds(pos.x()), yToValue(pos.y()),
                                                    added)) {
            emitEnvelopeEdit(added);
            update();
            event->accept();
            return;
        }
    }

    const int hit = hitTestClip(pos);
    if (tool == MoveTool) {
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
    if (tool == ScissorsTool && hit >= 0) {
        emit scissorClicked(hit);
        event->accept();
        return;
    }
    if (tool != ScissorsTool) {
        if (alt) {
            creating = true;
            creationStart = creationEnd = xToSeconds(pos.x());
            update();
            event->accept();
            return;
        }
        const int edge = hitTestClipEdge(pos);
        if (const MidiClip* clip = clipAt(edge >= 0 ? edge / 2 : -1)) {
            trimClip = edge / 2;
            trimLeftEdge = edge % 2 == 0;
            trimAnchorStart = clip->start;
            trimAnchorDuration = clip->duration;
            emit clicked();
            event->accept();
            return;
        }
        if (const MidiClip* clip = clipAt(hit)) {
            bodyMoved = false;
            bodyDragClip = hit;
            bodyDragAnchor = clip->start;
            pressX = pos.x();
            selected = hit;
            setFocus(Qt::MouseFocusReason);
            emit clicked();
            update();
            event->accept();
            return;
        }
        selected = -1;
    }
    movePlayheadTo(pos.x());
    emit clicked();
    update();
    QWidget::mousePressEvent(event);
}

bool MidiClipWidget::dragBody(int x)
{
    MidiClip* clip = clipAt(bodyDragClip);
    if (!clip) {
        bodyDragClip = -1;
        bodyMoved = false;
        return false;
    }
    const int dx = x - pressX;
    if (!bodyMoved && std::abs(dx) <= DragThresholdPixels)
        return false;
    bodyMoved = true;
    double start = std::max(0.0, bodyDragAnchor + dx / mapping.pixelsPerSecond());
    if (snap)
        start = snapToGrid(start);
    clip->start = start;
    setCursor(Qt::ClosedHandCursor);
    update();
    return true;
}

bool MidiClipWidget::dragTrim(int x)
{
    MidiClip* clip = clipAt(trimClip);
    if (!clip) {
        trimClip = -1;
        return false;
    }
    const double t = xToSeconds(x);
    if (trimLeftEdge) {
        // The clip's end stays put; the notes keep their times from the new start.
        const double end = trimAnchorStart + trimAnchorDuration;
        double start = std::min(t, end - MinTrimmedSeconds);
        start = std::max(start, 0.0);
        clip->start = start;
        clip->duration = end - start;
    } else {
        clip->duration = std::max(t, clip->start + MinTrimmedSeconds) - clip->start;
    }
    update();
    return true;
}

void MidiClipWidget::hover(const QPoint& pos)
{
    if (envelopeShown && hitTestEnvelopePoint(pos) >= 0)
        setCursor(Qt::SizeAllCursor);
    else if (hitTestClipEdge(pos) >= 0)
        setCursor(Qt::SizeHorCursor);
    else
        setCursor(Qt::ArrowCursor);
}

void MidiClipWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!track) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = localPos(event);
    if (envelope.dragging() && envelope.dragTo(*track, xToSeconds(pos.x()), yToValue(pos.y()))) {
        setCursor(Qt::SizeAllCursor);
        update();
        event->accept();
        return;
    }
    if (moveDragging) {
        emit clipDragMoved(globalPos(event));
        event->accept();
        return;
    }
    if (tool == MoveTool || tool == ScissorsTool) {
        const bool overClip = hitTestClip(pos) >= 0;
        const Qt::CursorShape overShape = tool == MoveTool ? Qt::OpenHandCursor : Qt::CrossCursor;
        setCursor(overClip ? overShape : Qt::ArrowCursor);
        update();
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (bodyDragClip >= 0 && dragBody(pos.x())) {
        event->accept();
        return;
    }
    if (creating) {
        creationEnd = xToSeconds(pos.x());
        update();
        event->accept();
        return;
    }
    if (trimClip >= 0 && dragTrim(pos.x())) {
        event->accept();
        return;
    }
    hover(pos);
    // Repaint so the trim handles follow the mouse.
    update();
    if (envelopeShown && hitTestEnvelopePoint(pos) >= 0) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void MidiClipWidget::finishCreation()
{
    creating = false;
    double lo = std::min(creationStart, creationEnd);
    double hi = std::max(creationStart, creationEnd);
    if (snap) {
        lo = snapToGrid(lo);
        hi = snapToGrid(hi);
        if (hi <= lo)
            hi = lo + MinCreatedSeconds;
    }
    if (hi - lo >= MinCreatedSeconds)
        emit clipCreated(lo, hi - lo);
}

void MidiClipWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPoint pos = localPos(event);
    if (envelope.dragging()) {
        // A point that vanished under the drag (undo, rebinding) ends it quietly.
        ClipLaneEnvelopeEditor::Edit edit;
        const bool pointExists = track && envelope.dragPoint() < int(track->volumeEnvelope.size());
        if (!pointExists)
            envelope.cancel();
        else if (envelope.release(*track, edit))
            emitEnvelopeEdit(edit);
        setCursor(Qt::ArrowCursor);
        update();
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
    if (bodyDragClip >= 0) {
        const bool moved = bodyMoved;
        bodyMoved = false;
        bodyDragClip = -1;
        if (moved) {
            setCursor(Qt::ArrowCursor);
            emit clipTrimmed();
        } else {
            movePlayheadTo(pos.x());
        }
        update();
        event->accept();
        return;
    }
    if (creating) {
        finishCreation();
        update();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MidiClipWidget::mouseDoubleClickEvent(QMouseEvent* event)
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

void MidiClipWidget::keyPressEvent(QKeyEvent* event)
{
    const bool deleteKey = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (deleteKey && clipAt(selected)) {
        // The selection stays: the clip that takes this index is next.
        emit deleteClipRequested(selected);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MidiClipWidget::contextMenuEvent(QContextMenuEvent* event)
{
    const QPoint pos = event->pos();
    const int point = envelopeShown && track ? hitTestEnvelopePoint(pos) : -1;
    if (point >= 0) {
        QMenu menu(this);
        QAction* remove = menu.addAction(QStringLiteral("删除包络点"));
        if (menu.exec(event->globalPos()) == remove) {
            ClipLaneEnvelopeEditor::Edit edit;
            if (track && ClipLaneEnvelopeEditor::erasePoint(*track, point, edit))
                emitEnvelopeEdit(edit);
            update();
        }
        event->accept();
        return;
    }
    const int hit = hitTestClip(pos);
    if (hit >= 0) {
        selected = hit;
        setFocus(Qt::MouseFocusReason);
        update();
        QMenu menu(this);
        QAction* remove = menu.addAction(QStringLiteral("删除MIDI块"));
        // The menu runs its own loop: the clip list may change meanwhile.
        if (menu.exec(event->globalPos()) == remove && clipAt(hit))
            emit deleteClipRequested(hit);
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}
