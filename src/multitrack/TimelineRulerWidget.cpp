#include "multitrack/TimelineRulerWidget.h"

#include "multitrack/TimelineMapping.h"
#include "multitrack/TimelineRulerScale.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int RulerHeight = 24;
constexpr int LabelBaseline = 20;
constexpr int FlagHeight = 9;
constexpr int FlagHalfWidth = 5;
// Markers this far outside the strip still draw the part of their flag inside.
constexpr int MarkerMargin = 20;

} // namespace

TimelineRulerWidget::TimelineRulerWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(RulerHeight);
    setMinimumWidth(200);
}

void TimelineRulerWidget::setViewStartSec(double seconds)
{
    viewStart = seconds;
    update();
}

void TimelineRulerWidget::setZoomLevel(double value)
{
    zoom = std::isnan(value) ? 1.0 : std::clamp(value, MinZoom, MaxZoom);
    update();
}

void TimelineRulerWidget::setDuration(double seconds)
{
    durationSec = seconds;
    update();
}

void TimelineRulerWidget::setPlayheadPosition(double seconds)
{
    playhead = seconds;
    update();
}

void TimelineRulerWidget::setRulerMode(RulerMode value)
{
    mode = value;
    update();
}

void TimelineRulerWidget::setBpm(double value)
{
    if (value > 0.0)
        tempo = value;
    update();
}

void TimelineRulerWidget::setMarkers(const std::vector<TimelineMarker>& list)
{
    if (&list != &markers)
        markers = list;
    update();
}

int TimelineRulerWidget::secondsToX(double seconds) const
{
    return TimelineMapping(viewStart, zoom).secondsToX(seconds);
}

void TimelineRulerWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int x = int(std::lround(event->position().x()));
        const int index = TimelineRulerScale::markerAt(markers, x, viewStart, zoom);
        if (index >= 0) {
            emit markerDoubleClicked(index);
            event->accept();
            return;
        }
    }
    QWidget::mouseDoubleClickEvent(event);
}

void TimelineRulerWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.fillRect(rect(), backgroundColor);
    painter.setPen(QPen(tickColor, 1));
    painter.setFont(QFont(QStringLiteral("Courier New"), 8));

    const std::vector<RulerTick> ticks = mode == Beats
        ? TimelineRulerScale::beatTicks(viewStart, zoom, w, tempo)
        : TimelineRulerScale::timeTicks(viewStart, zoom, w);
    for (const RulerTick& tick : ticks) {
        painter.drawLine(tick.x, tick.lineTop, tick.x, tick.lineBottom);
        if (!tick.label.isEmpty())
            painter.drawText(QPoint(tick.x + 2, LabelBaseline), tick.label);
    }

    drawMarkers(painter);

    const int x = secondsToX(playhead);
    if (x >= 0 && x <= w) {
        painter.setPen(QPen(playheadColor, 2));
        painter.drawLine(x, 0, x, h);
    }
}

void TimelineRulerWidget::drawMarkers(QPainter& painter)
{
    const int w = width();
    const int h = height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont labelFont = painter.font();
    labelFont.setPixelSize(9);
    labelFont.setWeight(QFont::Bold);
    const QFontMetrics metrics(labelFont);
    for (const TimelineMarker& marker : markers) {
        const int x = secondsToX(marker.time);
        if (x < -MarkerMargin || x > w + MarkerMargin)
            continue;
        // A colour the file gave but that could not be read shows as the default.
        const QColor colour = marker.color.isValid() ? marker.color : TimelineMarker().color;
        painter.setPen(QPen(colour, 1.5));
        painter.setBrush(colour);
        QPainterPath flag;
        flag.moveTo(x, h);
        flag.lineTo(x - FlagHalfWidth, h - FlagHeight);
        flag.lineTo(x + FlagHalfWidth, h - FlagHeight);
        flag.closeSubpath();
        painter.drawPath(flag);
        painter.drawLine(x, 0, x, h - FlagHeight);
        if (marker.label.isEmpty())
            continue;
        const int textWidth = metrics.horizontalAdvance(marker.label);
        const QRect box(QPoint(x + 3, 0), QPoint(x + textWidth + 8, 11));
        QColor fill = colour;
        fill.setAlpha(160);
        painter.fillRect(box, fill);
        painter.setPen(Qt::white);
        painter.setFont(labelFont);
        painter.drawText(box, Qt::AlignCenter, marker.label);
    }
    painter.restore();
}
