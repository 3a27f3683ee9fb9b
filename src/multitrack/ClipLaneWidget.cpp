#include "multitrack/ClipLaneWidget.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A body press must travel further than this before the clip moves.
constexpr int BodyDragThreshold = 5;
// Presses within this many pixels of a clip's head or tail grab the edge.
constexpr int EdgeGrab = 6;

QPoint localPos(const QMouseEvent* event)
{
    return event->position().toPoint();
}

QPoint globalPos(const QMouseEvent* event)
{
    return event->globalPosition().toPoint();
}

} // namespace

ClipLaneWidget::ClipLaneWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(LaneHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setStyleSheet(QStringLiteral(
        "background-color: #14141e; border-top: 1px solid #333; border-bottom: 1px solid #333;"));
}

// ---- view fields ----

void ClipLaneWidget::bindTrack(TrackData* newTrack)
{
    track = newTrack;
    // A track without a colour (a default, invalid one) keeps the lane's,
    // rather than drawing its clips in no colour at all.
    if (track && track->color.isValid())
        wave = track->color;
    // A gesture survives a re-pointing to the same track at a new address;
    // one whose clip or point is gone ends here.
    dropStaleGestures();
    update();
}

void ClipLaneWidget::setViewStartSec(double sec)
{
    mapping.setViewStartSec(sec);
    update();
}

void ClipLaneWidget::setZoomLevel(double zoom)
{
    mapping.setZoom(zoom);
    update();
}

void ClipLaneWidget::setPlayheadPosition(double sec)
{
    if (!std::isnan(sec))
        playhead = sec;
    update();
}

void ClipLaneWidget::setWaveColor(const QColor& color)
{
    wave = color;
    update();
}

void ClipLaneWidget::setToolMode(int mode)
{
    tool = mode;
    moveDragging = false;
    moveDragClip = -1;
    endLaneGestures(false);
    envelope.cancel();
    setCursor(Qt::ArrowCursor);
}

void ClipLaneWidget::setShowEnvelope(bool show)
{
    envelopeShown = show;
    if (!show)
        envelope.cancel();
    update();
}

void ClipLaneWidget::setSnapEnabled(bool enabled)
{
    snap = enabled;
}

void ClipLaneWidget::setSnapBpm(double bpm)
{
    if (std::isfinite(bpm) && bpm > 0.0)
        snapTempo = bpm;
}

// ---- geometry ----

int ClipLaneWidget::secondsToX(double sec) const
{
    return mapping.secondsToX(sec);
}

double ClipLaneWidget::xToSeconds(int x) const
{
    return mapping.xToSeconds(x);
}

double ClipLaneWidget::snapToGrid(double sec) const
{
    return TimelineMapping::snapToBeat(sec, snapTempo);
}

double ClipLaneWidget::valueToY(float value) const
{
    return ClipLaneEnvelope::valueToY(value, height());
}

float ClipLaneWidget::yToValue(int y) const
{
    return ClipLaneEnvelope::yToValue(y, height());
}

int ClipLaneWidget::hitTestEnvelopePoint(const QPoint& pos) const
{
    if (!track)
        return -1;
    return ClipLaneEnvelope::hitTestPoint(track->volumeEnvelope, mapping, height(), pos);
}

int ClipLaneWidget::hitTestClip(const QPoint& pos) const
{
    if (!inClipBand(pos.y()))
        return -1;
    for (int i = clipCount() - 1; i >= 0; --i) {
        const auto [x1, x2] = clipSpanX(i);
        if (x1 <= pos.x() && pos.x() <= x2)
            return i;
    }
    return -1;
}

int ClipLaneWidget::hitTestClipEdge(const QPoint& pos) const
{
    if (!inClipBand(pos.y()))
        return -1;
    const auto edgeOf = [&](int i) {
        if (!clipHasEdges(i))
            return -1;
        const auto [x1, x2] = clipSpanX(i);
        if (std::llabs(pos.x() - (long long)x1) <= EdgeGrab)
            return 2 * i;
        if (std::llabs(pos.x() - (long long)x2) <= EdgeGrab)
            return 2 * i + 1;
        return -1;
    };
    const int over = hitTestClip(pos);
    if (over >= 0)
        return edgeOf(over);
    for (int i = clipCount() - 1; i >= 0; --i) {
        const int edge = edgeOf(i);
        if (edge >= 0)
            return edge;
    }
    return -1;
}

bool ClipLaneWidget::inClipBand(int y) const
{
    return track && y >= ClipLaneEnvelope::BandMargin && y <= height() - ClipLaneEnvelope::BandMargin;
}

void ClipLaneWidget::dropStaleGestures()
{
    endLaneGestures(true);
    if (bodyDragClip >= 0 && !validClip(bodyDragClip)) {
        bodyDragClip = -1;
        bodyMoved = false;
    }
    // A Move drag belongs to the page, which still needs its release.
    if (moveDragClip >= 0 && !validClip(moveDragClip))
        moveDragClip = -1;
    if (envelope.dragging()
        && (!track || envelope.dragPoint() >= int(track->volumeEnvelope.size())))
        envelope.cancel();
}

// ---- mouse ----

void ClipLaneWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dropStaleGestures();
    const QPoint pos = localPos(event);
    if (pressEnvelope(event, pos) || pressMoveOrScissors(event, pos))
        return;
    if (tool != ScissorsTool && pressNormalTool(event, pos)) {
        event->accept();
        return;
    }
    movePlayheadTo(pos.x());
    emit clicked();
    QWidget::mousePressEvent(event);
}

void ClipLaneWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!track) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    dropStaleGestures();
    const QPoint pos = localPos(event);
    updateHoveredClip(pos);
    if (moveShared(event, pos))
        return;
    if (moveNormalTool(pos)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void ClipLaneWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dropStaleGestures();
    if (releaseShared(event))
        return;
    if (releaseNormalTool(localPos(event))) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// ---- shared gesture steps ----

bool ClipLaneWidget::pressEnvelope(QMouseEvent* event, const QPoint& pos)
{
    if (!envelopeShown || !track)
        return false;
    if (!track->volumeEnvelope.empty() && envelope.grab(*track, mapping, height(), pos)) {
        update();
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

bool ClipLaneWidget::pressMoveOrScissors(QMouseEvent* event, const QPoint& pos)
{
    if (tool != MoveTool && tool != ScissorsTool)
        return false;
    const int hit = hitTestClip(pos);
    if (hit >= 0) {
        if (tool == MoveTool) {
            moveDragging = true;
            moveDragClip = hit;
            emit clipDragStarted(hit, globalPos(event));
        } else {
            emit scissorClicked(hit);
        }
        event->accept();
        return true;
    }
    if (tool == MoveTool) {
        // The Move tool never moves the playhead.
        QWidget::mousePressEvent(event);
        return true;
    }
    return false;
}

void ClipLaneWidget::pressBody(int clip, const QPoint& pos)
{
    selected = clip;
    setFocus(Qt::MouseFocusReason);
    bodyMoved = false;
    bodyDragClip = clip;
    bodyDragAnchor = clipStart(clip);
    pressX = pos.x();
    emit clicked();
    update();
}

void ClipLaneWidget::movePlayheadTo(int x)
{
    playhead = std::max(0.0, xToSeconds(x));
    emit playheadMoved(playhead);
    update();
}

void ClipLaneWidget::commitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit)
{
    emit envelopeEditCommitted(edit.before, edit.after);
    emit envelopeChanged();
    update();
}

bool ClipLaneWidget::moveShared(QMouseEvent* event, const QPoint& pos)
{
    if (envelope.dragging()) {
        const double t = std::max(0.0, xToSeconds(pos.x()));
        if (envelope.dragTo(*track, t, yToValue(pos.y()))) {
            setCursor(Qt::SizeAllCursor);
            update();
            event->accept();
            return true;
        }
    }
    if (moveDragging) {
        emit clipDragMoved(globalPos(event));
        event->accept();
        return true;
    }
    if (tool == MoveTool || tool == ScissorsTool) {
        const bool overClip = hitTestClip(pos) >= 0;
        setCursor(overClip ? (tool == MoveTool ? Qt::OpenHandCursor : Qt::CrossCursor)
                           : Qt::ArrowCursor);
        QWidget::mouseMoveEvent(event);
        return true;
    }
    return false;
}

bool ClipLaneWidget::dragBody(const QPoint& pos)
{
    if (!validClip(bodyDragClip))
        return false;
    const int dx = pos.x() - pressX;
    if (!bodyMoved) {
        if (std::abs(dx) <= BodyDragThreshold)
            return false; // not yet a drag: handled as a hover
        bodyMoved = true;
    }
    double start = std::max(0.0, bodyDragAnchor + dx / mapping.pixelsPerSecond());
    if (snap)
        start = snapToGrid(start);
    setClipStart(bodyDragClip, start);
    setCursor(Qt::ClosedHandCursor);
    update();
    return true;
}

bool ClipLaneWidget::releaseShared(QMouseEvent* event)
{
    if (envelope.dragging() && track) {
        ClipLaneEnvelopeEditor::Edit edit;
        envelope.release(*track, edit);
        setCursor(Qt::ArrowCursor);
        commitEnvelopeEdit(edit);
        event->accept();
        return true;
    }
    if (moveDragging) {
        moveDragging = false;
        moveDragClip = -1;
        emit clipDragFinished(globalPos(event));
        setCursor(Qt::ArrowCursor);
        event->accept();
        return true;
    }
    return false;
}

bool ClipLaneWidget::releaseBody(const QPoint& pos)
{
    if (bodyDragClip < 0)
        return false;
    bodyDragClip = -1;
    if (bodyMoved) {
        bodyMoved = false;
        setCursor(Qt::ArrowCursor);
        emit clipTrimmed();
        update();
    } else {
        // A press that never became a drag moves the playhead; the clip
        // stays selected.
        movePlayheadTo(pos.x());
    }
    return true;
}

void ClipLaneWidget::updateHoveredClip(const QPoint& pos)
{
    const int hit = hitTestClip(pos);
    if (hit != hoveredClip) {
        hoveredClip = hit;
        update();
    }
}

void ClipLaneWidget::leaveEvent(QEvent* event)
{
    hoveredClip = -1;
    update();
    QWidget::leaveEvent(event);
}

void ClipLaneWidget::mouseDoubleClickEvent(QMouseEvent* event)
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

bool ClipLaneWidget::showEnvelopePointMenu(const QPoint& pos, const QPoint& globalPos)
{
    if (!envelopeShown || !track || track->volumeEnvelope.empty())
        return false;
    const int point = hitTestEnvelopePoint(pos);
    if (point < 0)
        return false;
    // No parent: the menu must outlive nothing but this call, even when the
    // lane is deleted while it is open.
    QMenu menu;
    QAction* erase = menu.addAction(QStringLiteral("删除包络点"));
    const QPointer<ClipLaneWidget> alive(this);
    QAction* chosen = menu.exec(globalPos);
    // The menu ran the event loop: the lane or its track may have changed.
    if (!alive || chosen != erase || !track)
        return true;
    ClipLaneEnvelopeEditor::Edit edit;
    if (ClipLaneEnvelopeEditor::erasePoint(*track, point, edit))
        commitEnvelopeEdit(edit);
    return true;
}
