// Mouse, wheel and key handling of the piano roll. Every edit is written
// into the clip's notes at once; the dialog pushes no undo command.
//
// A drag keeps the index of its note from the press, while Delete may erase
// notes in mid-drag: the deletion drops the drag's note index (it would name
// another note), and every handler checks its index against the notes first.

#include "multitrack/PianoRollDialog.h"

#include <QDebug>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int KeyVelocity = 100;
constexpr double ZoomInFactor = 1.1;
constexpr double ZoomOutFactor = 0.9;
constexpr double KeyZoomOut = 0.8;
constexpr double KeyZoomIn = 1.25;
// Wheel steps: 120 angle units a notch, two beats or 40 px a notch.
constexpr double AngleUnitsPerNotch = 120.0;
constexpr double BeatsPerNotch = 2.0;
constexpr double PixelsPerNotch = 40.0;

// Pointer positions in whole pixels, halves away from zero.
QPoint roundedPosition(const QPointF& position)
{
    return QPoint(int(std::lround(position.x())), int(std::lround(position.y())));
}

double zoomed(double zoom, double decidingValue)
{
    return std::clamp(zoom * (decidingValue > 0 ? ZoomInFactor : ZoomOutFactor), PianoRollDialog::MinZoom,
                      PianoRollDialog::MaxZoom);
}

} // namespace

bool PianoRollDialog::pressVelocity(const QPoint& pos)
{
    if (!clip || !velocityArea().contains(pos))
        return false;
    for (int i = int(clip->notes.size()) - 1; i >= 0; --i) {
        MidiNote& note = clip->notes[size_t(i)];
        if (pos.x() < noteLeft(note) || pos.x() > noteRight(note))
            continue;
        selectedNotes = {i};
        velocityDragging = true;
        note.velocity = velocityAt(pos.y());
        update();
        return true;
    }
    return true;
}

bool PianoRollDialog::pressKey(const QPoint& pos)
{
    const int pitch = yToPitch(pos.y());
    if (pitch < 0 || pitch > 127)
        return true;
    qDebug() << "PianoRoll: key press pitch=" << pitch;
    if (soundingKey >= 0)
        auditionOff(soundingKey);
    soundingKey = pitch;
    auditionOn(pitch, KeyVelocity);
    return true;
}

void PianoRollDialog::pressGrid(const QPoint& pos, bool alt)
{
    if (alt) {
        dragMode = CreatingNote;
        createPitch = yToPitch(pos.y());
        // Notes start at the clip's start or later.
        createStartBeat = std::max(0.0, xToBeat(pos.x()));
        snapToGrid(createStartBeat);
        createEndBeat = createStartBeat;
        update();
        return;
    }
    const int edge = hitTestNoteEdge(pos);
    if (edge >= 0) {
        const MidiNote& note = clip->notes[size_t(edge / 2)];
        dragMode = ResizingNote;
        resizeNoteIndex = edge / 2;
        resizeLeftEdge = edge % 2 == 0;
        selectedNotes = {resizeNoteIndex};
        resizeOrigStart = note.start;
        resizeOrigDuration = note.duration;
        update();
        return;
    }
    const int hit = hitTestNote(pos);
    if (hit >= 0) {
        const MidiNote& note = clip->notes[size_t(hit)];
        dragMode = MovingNote;
        selectedNotes = {hit};
        moveNoteIndex = hit;
        moveBeatOffset = xToBeat(pos.x()) - secondsToBeats(note.start);
        movePitchOffset = yToPitch(pos.y()) - note.pitch;
        update();
        return;
    }
    selectedNotes.clear();
    dragMode = RubberBand;
    rubberStartBeat = rubberEndBeat = xToBeat(pos.x());
    rubberStartY = rubberEndY = pos.y();
    update();
}

void PianoRollDialog::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = roundedPosition(event->position());
    const bool left = event->button() == Qt::LeftButton;
    if (left && velocityArea().contains(pos)) {
        pressVelocity(pos);
        return;
    }
    if (pos.x() < KeyColumnWidth) {
        if (left)
            pressKey(pos);
        else
            QDialog::mousePressEvent(event);
        return;
    }
    if (!left || !gridArea().contains(pos) || !clip) {
        QDialog::mousePressEvent(event);
        return;
    }
    pressGrid(pos, event->modifiers() & Qt::AltModifier);
}

void PianoRollDialog::dragMove(const QPoint& pos)
{
    if (!validNote(moveNoteIndex))
        return;
    double beat = xToBeat(pos.x()) - moveBeatOffset;
    snapToGrid(beat);
    beat = std::max(0.0, beat);
    MidiNote& note = clip->notes[size_t(moveNoteIndex)];
    note.start = beatsToSeconds(beat);
    note.pitch = std::clamp(yToPitch(pos.y()) - movePitchOffset, BottomPitch, TopPitch);
}

void PianoRollDialog::dragResize(const QPoint& pos)
{
    if (!validNote(resizeNoteIndex))
        return;
    double beat = xToBeat(pos.x());
    snapToGrid(beat);
    MidiNote& note = clip->notes[size_t(resizeNoteIndex)];
    if (resizeLeftEdge) {
        beat = std::max(0.0, beat);
        const double endBeat = secondsToBeats(resizeOrigStart + resizeOrigDuration);
        if (beat < endBeat - MinNoteBeats) {
            note.start = beatsToSeconds(beat);
            note.duration = beatsToSeconds(endBeat - beat);
        }
    } else {
        const double length = beat - secondsToBeats(resizeOrigStart);
        if (length >= MinNoteBeats)
            note.duration = beatsToSeconds(length);
    }
}

void PianoRollDialog::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = roundedPosition(event->position());
    switch (dragMode) {
    case NoDrag:
        if (pos.x() >= KeyColumnWidth) {
            if (hitTestNoteEdge(pos) >= 0)
                setCursor(Qt::SizeHorCursor);
            else if (hitTestNote(pos) >= 0)
                setCursor(Qt::SizeAllCursor);
            else
                setCursor(Qt::ArrowCursor);
        }
        break;
    case CreatingNote:
        createEndBeat = std::max(0.0, xToBeat(pos.x()));
        snapToGrid(createEndBeat);
        update();
        return;
    case MovingNote:
        dragMove(pos);
        update();
        return;
    case ResizingNote:
        dragResize(pos);
        update();
        return;
    case RubberBand:
        rubberEndBeat = xToBeat(pos.x());
        rubberEndY = pos.y();
        update();
        return;
    }
    if (velocityDragging && clip && !selectedNotes.isEmpty()) {
        for (int index : selectedNotes) {
            if (validNote(index))
                clip->notes[size_t(index)].velocity = velocityAt(pos.y());
        }
        update();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void PianoRollDialog::finishCreation()
{
    const double lo = std::min(createStartBeat, createEndBeat);
    const double hi = std::max(createStartBeat, createEndBeat);
    const double length = std::max(MinNoteBeats, hi - lo);
    if (!clip || createPitch < BottomPitch || createPitch > TopPitch)
        return;
    MidiNote note;
    note.pitch = createPitch;
    note.start = beatsToSeconds(lo);
    note.duration = beatsToSeconds(length);
    note.velocity = newNoteVelocity;
    clip->notes.push_back(note);
    selectedNotes = {int(clip->notes.size()) - 1};
    // The new note sounds for its own length (or until the dialog goes).
    auditionOn(note.pitch, newNoteVelocity);
    const int pitch = note.pitch;
    QTimer::singleShot(int(std::ceil(note.duration * 1000.0)), this, [this, pitch] {
        if (soundingKey != pitch)
            auditionOff(pitch);
    });
}

void PianoRollDialog::finishRubberBand()
{
    if (!clip)
        return;
    const double lo = std::min(rubberStartBeat, rubberEndBeat);
    const double hi = std::max(rubberStartBeat, rubberEndBeat);
    const int top = std::min(rubberStartY, rubberEndY);
    const int bottom = std::max(rubberStartY, rubberEndY);
    selectedNotes.clear();
    for (int i = 0; i < int(clip->notes.size()); ++i) {
        const MidiNote& note = clip->notes[size_t(i)];
        const double startBeat = secondsToBeats(note.start);
        const double endBeat = secondsToBeats(note.start + note.duration);
        const int rowTop = pitchToY(note.pitch);
        if (endBeat >= lo && startBeat <= hi && rowTop >= top && rowTop <= bottom)
            selectedNotes.insert(i);
    }
}

void PianoRollDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QDialog::mouseReleaseEvent(event);
        return;
    }
    switch (dragMode) {
    case CreatingNote:
        dragMode = NoDrag;
        finishCreation();
        update();
        return;
    case MovingNote:
        dragMode = NoDrag;
        moveNoteIndex = -1;
        update();
        return;
    case ResizingNote:
        dragMode = NoDrag;
        resizeNoteIndex = -1;
        update();
        return;
    case RubberBand:
        dragMode = NoDrag;
        finishRubberBand();
        update();
        return;
    default:
        break;
    }
    if (velocityDragging) {
        velocityDragging = false;
        return;
    }
    if (soundingKey >= 0) {
        // The key pressed is released, wherever the pointer is now.
        auditionOff(soundingKey);
        soundingKey = -1;
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void PianoRollDialog::wheelEvent(QWheelEvent* event)
{
    const QPoint pixels = event->pixelDelta();
    const QPoint angles = event->angleDelta();
    const bool twoAxis = pixels.x() != 0 && pixels.y() != 0 && ((pixels.x() > 0) == (pixels.y() > 0));
    const int dy = pixels.y() != 0 ? pixels.y() : angles.y();
    const int dx = pixels.x() != 0 ? pixels.x() : angles.x();

    if ((event->modifiers() & Qt::ControlModifier) || twoAxis) {
        const int deciding = twoAxis ? pixels.x() : dy;
        if (deciding != 0)
            zoomX = zoomed(zoomX, deciding);
        if (twoAxis)
            zoomY = zoomed(zoomY, pixels.y());
    } else if (event->modifiers() & Qt::ShiftModifier) {
        if (dy == 0) {
            event->accept();
            return;
        }
        zoomY = zoomed(zoomY, dy);
    } else {
        if (dx == 0 && dy == 0) {
            event->accept();
            return;
        }
        if (dx != 0) {
            if (pixels.x() != 0)
                scrollBeat -= dx / (PixelsPerBeat * zoomX);
            else
                scrollBeat -= dx / AngleUnitsPerNotch * BeatsPerNotch;
            clampScroll();
        }
        if (dy != 0) {
            if (pixels.y() != 0)
                scrollY -= dy;
            else
                scrollY += int(-dy / AngleUnitsPerNotch * PixelsPerNotch);
            const int maxScroll = std::max(0, int(RowCount * PixelsPerRow * zoomY) - gridArea().height());
            scrollY = std::clamp(scrollY, 0, maxScroll);
        }
    }
    update();
    event->accept();
}

bool PianoRollDialog::handleEditKey(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool hasSelection = clip && !selectedNotes.isEmpty();
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace: {
        if (modifiers != Qt::NoModifier)
            return false;
        if (hasSelection) {
            QList<int> indices = selectedNotes.values();
            std::sort(indices.begin(), indices.end(), std::greater<int>());
            for (int index : indices) {
                if (validNote(index))
                    clip->notes.erase(clip->notes.begin() + index);
            }
            selectedNotes.clear();
            // A drag's note index from the press now names another note, or none.
            moveNoteIndex = -1;
            resizeNoteIndex = -1;
            update();
        }
        return true;
    }
    case Qt::Key_G:
        if (modifiers != Qt::NoModifier)
            return false;
        zoomX = std::max(MinZoom, zoomX * KeyZoomOut);
        clampScroll();
        update();
        return true;
    case Qt::Key_H:
        if (modifiers != Qt::NoModifier)
            return false;
        zoomX = std::min(MaxZoom, zoomX * KeyZoomIn);
        clampScroll();
        update();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (!hasSelection)
            return false;
        const int step = (modifiers & Qt::ControlModifier) ? 12 : 1;
        const int delta = event->key() == Qt::Key_Up ? step : -step;
        for (int index : selectedNotes) {
            if (validNote(index)) {
                MidiNote& note = clip->notes[size_t(index)];
                note.pitch = std::clamp(note.pitch + delta, 0, 127);
            }
        }
        update();
        return true;
    }
    case Qt::Key_D: {
        if (!(modifiers & Qt::ControlModifier) || !hasSelection)
            return false;
        QList<int> indices = selectedNotes.values();
        std::sort(indices.begin(), indices.end());
        QSet<int> copies;
        for (int index : indices) {
            if (!validNote(index))
                continue;
            MidiNote copy = clip->notes[size_t(index)];
            copy.start += copy.duration;
            clip->notes.push_back(copy);
            copies.insert(int(clip->notes.size()) - 1);
        }
        selectedNotes = copies;
        update();
        return true;
    }
    default:
        return false;
    }
}

void PianoRollDialog::keyPressEvent(QKeyEvent* event)
{
    if (handleEditKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PianoRollDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    clampScroll();
    update();
}
