// Painting of the pitch correction view: key column, note rows with a
// quarter-beat grid, the detected pitch curve, each segment's target line
// and band, the bar ruler and the playhead.

#include "dialogs/PitchCorrectionDialog.h"

#include "widgets/PianoKeyColumn.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

namespace {

using Geometry = PitchRollGeometry;

} // namespace

void PitchCorrectionDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(pianoKeyArea(), QColor(30, 30, 40));
    painter.fillRect(gridArea(), QColor(25, 25, 35));
    painter.fillRect(QRect(0, 0, width(), Geometry::RulerHeight), QColor(35, 35, 45));
    drawGrid(painter);
    drawDetectedCurve(painter);
    drawTargets(painter);
    drawRuler(painter);
    drawPlayhead(painter);
}

void PitchCorrectionDialog::drawGrid(QPainter& painter)
{
    const auto rowTop = [this](int pitch) { return double(view.pitchToY(pitch)); };
    const double rowHeight = Geometry::RowHeight * view.zoomY;
    PianoKeyColumn::paintRows(painter, gridArea(), rowTop, rowHeight, Geometry::BottomPitch,
                              Geometry::TopPitch);

    // Quarter-beat lines; bars and beats stronger.
    const double beatsPerSecond = bpm / 60.0;
    PianoKeyColumn::paintBeatLines(
        painter, gridArea(), view.scrollSeconds * beatsPerSecond,
        beatsPerSecond * (view.scrollSeconds + view.visibleSeconds()) + 0.25,
        [this, beatsPerSecond](double beat) { return view.secToX(beat / beatsPerSecond); });

    PianoKeyColumn::paintKeys(painter, pianoKeyArea(), rowTop, rowHeight, Geometry::BottomPitch,
                              Geometry::TopPitch);
}

void PitchCorrectionDialog::drawDetectedCurve(QPainter& painter)
{
    const QRect grid = gridArea();
    QPolygonF line;
    for (const PitchFrame& frame : analysis->pitchFrames()) {
        if (!(frame.frequency > 0.0f) || frame.midiNote < 0)
            continue;
        const int x = view.secToX(frame.time);
        if (x < grid.left() || x > grid.right())
            continue;
        line << QPointF(x, view.rowCentre(PitchCorrectionSession::frequencyToPitch(frame.frequency)));
    }
    if (line.size() < 2)
        return;
    painter.save();
    painter.setClipRect(grid);
    painter.setPen(QPen(QColor(0, 220, 255, 200), 2));
    painter.drawPolyline(line);
    painter.restore();
}

void PitchCorrectionDialog::drawTargets(QPainter& painter)
{
    const QRect grid = gridArea();
    const auto& frames = analysis->pitchFrames();
    const auto& segments = analysis->noteSegments();
    painter.save();
    painter.setClipRect(grid);
    for (size_t i = 0; i < segments.size(); ++i) {
        const PitchCorrectionSegment& s = segments[i];
        const bool selected = int(i) == selectedSegment;
        const double pitch = PitchCorrectionSession::frequencyToPitch(s.targetFreq);
        const double centre = view.rowCentre(pitch);
        QPolygonF line;
        for (int f = std::max(s.startFrame, 0); f < s.endFrame && f < int(frames.size()); ++f) {
            if (!(frames[size_t(f)].frequency > 0.0f))
                continue;
            const int x = view.secToX(frames[size_t(f)].time);
            if (x >= grid.left() && x <= grid.right())
                line << QPointF(x, centre);
        }
        if (line.size() >= 2) {
            painter.setPen(selected ? QPen(QColor(255, 255, 100, 220), 3)
                                    : QPen(QColor(80, 255, 120, 180), 2));
            painter.drawPolyline(line);
        }
        const int left = view.secToX(analysis->frameTime(s.startFrame));
        const int right = view.secToX(analysis->frameTime(s.endFrame - 1)) - 1;
        const double top = view.pitchToY(pitch);
        painter.fillRect(QRectF(left, top, right - left + 1, Geometry::RowHeight * view.zoomY),
                         selected ? QColor(255, 255, 100, 50) : QColor(80, 255, 120, 30));
    }
    painter.restore();
}

void PitchCorrectionDialog::drawRuler(QPainter& painter)
{
    const QRect ruler = rulerArea();
    QFont font(QStringLiteral("sans-serif"));
    font.setPointSize(9);
    painter.setFont(font);
    const double secondsPerBar = 4.0 * 60.0 / bpm;
    const int firstBar = int(std::floor(view.scrollSeconds / secondsPerBar));
    const int lastBar = int(std::ceil((view.scrollSeconds + view.visibleSeconds()) / secondsPerBar));
    for (int bar = firstBar; bar <= lastBar; ++bar) {
        const int x = view.secToX(bar * secondsPerBar);
        if (x < ruler.left() || x > ruler.right() + 1)
            continue;
        painter.setPen(QPen(QColor(100, 100, 110), 1));
        painter.drawLine(x, 0, x, Geometry::RulerHeight);
        painter.setPen(QColor(160, 160, 170));
        painter.drawText(QRect(x + 4, 0, 60, Geometry::RulerHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(bar + 1));
    }
    painter.setPen(QPen(QColor(55, 55, 65), 1));
    painter.drawLine(ruler.left(), Geometry::RulerHeight - 1, ruler.right(), Geometry::RulerHeight - 1);
}

void PitchCorrectionDialog::drawPlayhead(QPainter& painter)
{
    const int x = view.secToX(playheadSeconds);
    if (x < Geometry::KeyWidth || x > width() - 1)
        return;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({QPointF(x - 5, 0), QPointF(x + 5, 0), QPointF(x, 8)}));
    painter.setPen(QPen(QColor(255, 255, 255, 200), 2));
    painter.drawLine(x, Geometry::RulerHeight, x, height() - Geometry::BarHeight);
}
