// Painting of the piano roll, back to front: backgrounds, grid, keys,
// notes, velocity panel, ruler, playhead, then the note being drawn or the
// selection band.

#include "multitrack/PianoRollDialog.h"
#include "widgets/PianoKeyColumn.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor KeyColumnFill(30, 30, 40);
const QColor GridFill(25, 25, 35);
const QColor VelocityFill(20, 20, 28);
const QColor BottomFill(30, 30, 40);
const QColor RulerFill(35, 35, 45);
const QColor SeparatorLine(55, 55, 65);
const QColor NoteOutline(29, 78, 216);
const QColor SelectionOutline(250, 204, 21);
// Notes and their velocity bars: a selected note shades from light to
// mid blue, any other from mid to dark.
const QColor SelectedBar(96, 165, 250);
const QColor NoteBar(59, 130, 246);
const QColor NoteShade(37, 99, 235);
const QColor PlayheadColor(255, 60, 60);

} // namespace

void PianoRollDialog::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    painter.fillRect(pianoKeyArea(), KeyColumnFill);
    painter.fillRect(gridArea(), GridFill);
    painter.fillRect(velocityArea(), VelocityFill);
    painter.fillRect(QRect(0, h - BottomStripHeight, w, BottomStripHeight), BottomFill);
    // The ruler fills its own background: it is painted over the grid.

    paintGrid(painter);
    paintKeys(painter);
    paintNotes(painter);
    paintVelocityPanel(painter);
    paintRuler(painter);
    paintPlayhead(painter);
    if (dragMode == CreatingNote)
        paintCreatePreview(painter);
    else if (dragMode == RubberBand)
        paintRubberBand(painter);
}

void PianoRollDialog::paintGrid(QPainter& painter)
{
    const QRect grid = gridArea();
    PianoKeyColumn::paintRows(painter, grid, [this](int pitch) { return double(pitchToY(pitch)); },
                              rowHeight(), BottomPitch, TopPitch);
    PianoKeyColumn::paintBeatLines(painter, grid, scrollBeat, scrollBeat + visibleBeats() + 0.25,
                                   [this](double beat) { return beatToX(beat); });
}

void PianoRollDialog::paintKeys(QPainter& painter)
{
    PianoKeyColumn::paintKeys(painter, pianoKeyArea(),
                              [this](int pitch) { return double(pitchToY(pitch)); }, rowHeight(),
                              BottomPitch, TopPitch);
}

void PianoRollDialog::paintNotes(QPainter& painter)
{
    if (!clip)
        return;
    const QRect grid = gridArea();
    const int row = rowHeight();
    painter.save();
    painter.setClipRect(grid);
    for (int i = 0; i < int(clip->notes.size()); ++i) {
        const MidiNote& note = clip->notes[size_t(i)];
        const int x1 = noteLeft(note);
        const int x2 = noteRight(note);
        const int top = pitchToY(note.pitch);
        if (x2 < grid.left() || x1 > grid.right() || top + row < grid.top() || top > grid.bottom())
            continue;
        const int w = std::max(2, x2 - x1);
        const bool selected = selectedNotes.contains(i);
        QLinearGradient gradient(0, top + 1, 0, top + row - 1);
        gradient.setColorAt(0, selected ? SelectedBar : NoteBar);
        gradient.setColorAt(1, selected ? NoteBar : NoteShade);
        painter.setBrush(gradient);
        painter.setPen(QPen(NoteOutline, 1));
        painter.drawRoundedRect(QRectF(x1 + 1, top + 1, w - 2, row - 2), 2, 2);
        if (!selected)
            continue;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(SelectionOutline, 2));
        painter.drawRoundedRect(QRectF(x1, top, w, row), 3, 3);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 80));
        painter.drawRect(QRectF(x1, top + 1, 5, row - 2));
        painter.drawRect(QRectF(x2 - 5, top + 1, 5, row - 2));
    }
    painter.restore();
}

void PianoRollDialog::paintVelocityPanel(QPainter& painter)
{
    if (!clip)
        return;
    const QRect panel = velocityArea();
    painter.fillRect(panel, VelocityFill);
    painter.setPen(QPen(SeparatorLine, 1));
    painter.drawLine(panel.left(), panel.top(), panel.right(), panel.top());
    painter.setPen(QPen(QColor(40, 40, 50), 0.5, Qt::DashLine));
    const int middle = panel.top() + panel.height() / 2;
    painter.drawLine(panel.left(), middle, panel.right(), middle);

    painter.save();
    painter.setClipRect(panel);
    painter.setPen(Qt::NoPen);
    const int bottom = height() - BottomStripHeight;
    for (int i = 0; i < int(clip->notes.size()); ++i) {
        const MidiNote& note = clip->notes[size_t(i)];
        const int x1 = noteLeft(note);
        const int x2 = noteRight(note);
        if (x2 < panel.left() || x1 > panel.right())
            continue;
        const int barHeight = int(note.velocity / 127.0 * VelocityPanelHeight);
        const int barWidth = std::max(6, x2 - x1);
        painter.setBrush(selectedNotes.contains(i) ? SelectedBar : NoteBar);
        painter.drawRect(QRect(x1, bottom - barHeight, barWidth, barHeight));
    }
    painter.restore();
}

void PianoRollDialog::paintRuler(QPainter& painter)
{
    const int w = width();
    painter.fillRect(rulerArea(), RulerFill);
    QFont font(QStringLiteral("sans-serif"));
    font.setPointSize(9);
    painter.setFont(font);
    const long first = long(std::floor(scrollBeat / 4.0));
    const long last = long(std::ceil((scrollBeat + visibleBeats()) / 4.0));
    for (long bar = first; bar <= last; ++bar) {
        const int x = beatToX(4.0 * double(bar));
        if (x < KeyColumnWidth || x > w)
            continue;
        painter.setPen(QPen(QColor(100, 100, 110), 1));
        painter.drawLine(x, 0, x, RulerHeight);
        painter.setPen(QColor(160, 160, 170));
        painter.drawText(QRect(x + 4, 0, 60, RulerHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(bar + 1));
    }
    painter.setPen(QPen(SeparatorLine, 1));
    painter.drawLine(KeyColumnWidth, RulerHeight - 1, w - 1, RulerHeight - 1);
}

void PianoRollDialog::paintPlayhead(QPainter& painter)
{
    // The playhead comes in timeline seconds; the axis starts at the clip.
    const double clipStart = clip ? clip->start : 0.0;
    const int x = beatToX(secondsToBeats(playheadSeconds - clipStart));
    if (x < KeyColumnWidth || x > width() - 1)
        return;
    painter.setPen(QPen(PlayheadColor, 2));
    painter.drawLine(x, 0, x, height() - BottomStripHeight);
    QPainterPath triangle;
    triangle.moveTo(x - 6, 0);
    triangle.lineTo(x + 6, 0);
    triangle.lineTo(x, 8);
    triangle.closeSubpath();
    painter.fillPath(triangle, PlayheadColor);
}

void PianoRollDialog::paintCreatePreview(QPainter& painter)
{
    const double lo = std::min(createStartBeat, createEndBeat);
    const double hi = std::max(createStartBeat, createEndBeat);
    painter.save();
    painter.setClipRect(gridArea());
    painter.setBrush(QColor(59, 130, 246, 76));
    painter.setPen(QPen(QColor(96, 165, 250), 2, Qt::DashLine));
    const int x1 = beatToX(lo);
    painter.drawRoundedRect(QRect(x1, pitchToY(createPitch), beatToX(hi) - x1, rowHeight()), 2, 2);
    painter.restore();
}

void PianoRollDialog::paintRubberBand(QPainter& painter)
{
    const double lo = std::min(rubberStartBeat, rubberEndBeat);
    const double hi = std::max(rubberStartBeat, rubberEndBeat);
    const QRect band = QRect(QPoint(beatToX(lo), std::min(rubberStartY, rubberEndY)),
                             QPoint(beatToX(hi) - 1, std::max(rubberStartY, rubberEndY) - 1))
                           .intersected(gridArea());
    if (band.isEmpty())
        return;
    painter.setBrush(QColor(59, 130, 246, 25));
    painter.setPen(QPen(QColor(96, 165, 250), 2));
    painter.drawRect(band);
}
