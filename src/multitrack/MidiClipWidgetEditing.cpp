// Mouse, key and context-menu handling of the MIDI clip lane. The envelope,
// the Move and Scissors tools and body drags are ClipLaneWidget's; here are
// the Alt-drag creation, trims, Delete and the clip menu.

#include "multitrack/MidiClipWidget.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>
#include <cmath>

bool MidiClipWidget::pressNormalTool(QMouseEvent* event, const QPoint& pos)
{
    if (event->modifiers() & Qt::AltModifier) {
        // Wherever the press lands, over clips too.
        creating = true;
        creationStart = creationEnd = xToSeconds(pos.x());
        update();
        return true;
    }
    const int edge = hitTestClipEdge(pos);
    if (const MidiClip* clip = clipAt(edge >= 0 ? edge / 2 : -1)) {
        trimClip = edge / 2;
        trimLeftEdge = edge % 2 == 0;
        // Anchors in timeline seconds, where the edge is dragged.
        trimAnchorStart = timelineStart(*clip);
        trimAnchorDuration = clip->duration * scale;
        emit clicked();
        update();
        return true;
    }
    const int hit = hitTestClip(pos);
    if (hit >= 0) {
        pressBody(hit, pos);
        return true;
    }
    selected = -1;
    return false;
}

bool MidiClipWidget::dragTrim(int x)
{
    MidiClip* clip = clipAt(trimClip);
    if (!clip)
        return false;
    // Worked out on the timeline, written back as held times.
    const double t = xToSeconds(x);
    if (trimLeftEdge) {
        // The clip's end stays put; the notes keep their times from the new start.
        const double end = trimAnchorStart + trimAnchorDuration;
        double start = std::min(t, end - MinTrimmedSeconds);
        start = std::max(start, 0.0);
        clip->start = start / scale;
        clip->duration = (end - start) / scale;
    } else {
        const double start = timelineStart(*clip);
        clip->duration = (std::max(t, start + MinTrimmedSeconds) - start) / scale;
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

bool MidiClipWidget::moveNormalTool(const QPoint& pos)
{
    if (dragBody(pos))
        return true;
    if (creating) {
        creationEnd = xToSeconds(pos.x());
        update();
        return true;
    }
    if (dragTrim(pos.x()))
        return true;
    hover(pos);
    return envelopeShown && hitTestEnvelopePoint(pos) >= 0;
}

void MidiClipWidget::finishCreation()
{
    creating = false;
    double lo = std::min(creationStart, creationEnd);
    double hi = std::max(creationStart, creationEnd);
    double duration = hi - lo;
    if (snap) {
        lo = snapToGrid(lo);
        hi = snapToGrid(hi);
        // Both ends on one beat: the shortest clip from that beat. Its length
        // is set, not measured: (0.2 + 0.5) - 0.2 falls short of 0.5.
        duration = hi <= lo ? MinCreatedSeconds : hi - lo;
    }
    if (duration >= MinCreatedSeconds)
        emit clipCreated(lo / scale, duration / scale);
}

bool MidiClipWidget::releaseNormalTool(const QPoint& pos)
{
    if (trimClip >= 0) {
        trimClip = -1;
        emit clipTrimmed();
        update();
        return true;
    }
    if (releaseBody(pos))
        return true;
    if (creating) {
        finishCreation();
        update();
        return true;
    }
    return false;
}

void MidiClipWidget::keyPressEvent(QKeyEvent* event)
{
    // Shift+Delete is the page's: it removes the track.
    const bool deleteKey = (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)
                           && !(event->modifiers() & Qt::ShiftModifier);
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
    if (showEnvelopePointMenu(pos, event->globalPos())) {
        event->accept();
        return;
    }
    const int hit = hitTestClip(pos);
    if (hit >= 0) {
        selected = hit;
        setFocus(Qt::MouseFocusReason);
        update();
        QMenu menu;
        QAction* remove = menu.addAction(QStringLiteral("删除MIDI块"));
        const QPointer<MidiClipWidget> alive(this);
        // The menu runs its own loop: the lane or its clips may change meanwhile.
        if (menu.exec(event->globalPos()) == remove && alive && clipAt(hit))
            emit deleteClipRequested(hit);
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}
