// The multitrack page's own keys (track removal, undo and redo, marker,
// play, snapping) and the zoom input over the lanes and the ruler: pinch
// and native zoom gestures, Ctrl+wheel, and a trackpad's fine wheel.

#include "multitrack/MultiTrackEditorPage.h"

#include "multitrack/ClipLaneWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineRulerWidget.h"

#include <QDebug>
#include <QGestureEvent>
#include <QKeyEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QPushButton>
#include <QScrollArea>
#include <QUndoStack>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr double WheelZoomStep = 1.15;
// A wheel turn of a mouse notch; finer steps with pixel deltas come from a trackpad.
constexpr int WheelNotch = 120;

} // namespace

void MultiTrackEditorPage::undo()
{
    stepHistory(false);
}

void MultiTrackEditorPage::redo()
{
    stepHistory(true);
}

void MultiTrackEditorPage::stepHistory(bool forward)
{
    // A take's stop snapshot and its clip are found by track and clip
    // index: an undo or redo would move them under it.
    if (takeRunning()) {
        qDebug() << "MultiTrackEditorPage:" << (forward ? "redo" : "undo") << "refused while recording";
        return;
    }
    if (forward)
        undoStack->redo();
    else
        undoStack->undo();
    forEachLane([](ClipLaneWidget* lane) { lane->update(); });
    updateRuler();
}

void MultiTrackEditorPage::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool removeKey = key == Qt::Key_Delete || key == Qt::Key_Backspace;
    if (removeKey && (modifiers & Qt::ShiftModifier) && selectedTrack >= 0) {
        removeTrack(selectedTrack);
    } else if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (event->matches(QKeySequence::Redo)) {
        redo();
    } else if (key == Qt::Key_M && modifiers == Qt::ControlModifier) {
        addMarkerAtPlayhead();
    } else if (key == Qt::Key_Space && modifiers == Qt::NoModifier) {
        onPlayPause();
    } else if (key == Qt::Key_J && modifiers == Qt::NoModifier) {
        // The button's toggled handler turns snapping on or off everywhere.
        snapButton->setChecked(!snapEnabled);
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool MultiTrackEditorPage::eventFilter(QObject* watched, QEvent* event)
{
    const bool viewport = clipScrollArea && watched == clipScrollArea->viewport();
    // The visible span, and with it the zoom range, the scroll range and the
    // ruler's width, follows the lanes' width.
    if (viewport && event->type() == QEvent::Resize)
        syncZoomAll();
    const bool zoomSource = viewport || watched == ruler;
    if (zoomSource && zoomFromInput(watched, event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool MultiTrackEditorPage::zoomFromInput(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Gesture: {
        auto* gestures = static_cast<QGestureEvent*>(event);
        auto* pinch = static_cast<QPinchGesture*>(gestures->gesture(Qt::PinchGesture));
        if (!pinch)
            return false;
        // The centre comes in screen coordinates.
        auto* widget = qobject_cast<QWidget*>(watched);
        const int x = widget ? widget->mapFromGlobal(pinch->centerPoint().toPoint()).x()
                             : int(pinch->centerPoint().x());
        applyZoom(zoomLevel * pinch->scaleFactor(), x);
        gestures->accept(pinch);
        return true;
    }
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::ZoomNativeGesture
            && gesture->gestureType() != Qt::SmartZoomNativeGesture)
            return false;
        applyZoom(zoomLevel * (gesture->value() + 1.0), int(std::lround(gesture->position().x())));
        return true;
    }
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int pixelY = wheel->pixelDelta().y();
        const int angleY = wheel->angleDelta().y();
        int delta = 0;
        if (wheel->modifiers() & Qt::ControlModifier)
            delta = pixelY != 0 ? pixelY : angleY;
        else if (pixelY != 0 && std::abs(angleY) < WheelNotch)
            delta = pixelY; // a trackpad's pinch arrives as fine wheel steps
        if (delta == 0)
            return false; // scrolls as usual
        applyZoom(zoomLevel * (delta > 0 ? WheelZoomStep : 1.0 / WheelZoomStep),
                  int(wheel->position().x()));
        return true;
    }
    default:
        return false;
    }
}
