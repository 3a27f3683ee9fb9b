#include "multitrack/ClipLanePainting.h"

#include "multitrack/ClipLaneEnvelope.h"

#include <QFont>
#include <QPainter>
#include <QRectF>

namespace ClipLanePainting {

const QColor LaneBackground(0x14, 0x14, 0x1e);

void drawBackground(QPainter& painter, const QRect& lane)
{
    painter.fillRect(lane, LaneBackground);
}

void drawEmptyState(QPainter& painter, const QRect& lane, const QString& text)
{
    painter.save();
    painter.setPen(QColor(0x64, 0x64, 0x78));
    painter.setFont(QFont(QStringLiteral("sans-serif"), 12));
    painter.drawText(lane, Qt::AlignCenter, text);
    painter.restore();
}

void drawTrimHandles(QPainter& painter, double x1, double x2, int width, int laneHeight)
{
    constexpr double Bar = 5.0;
    const double top = ClipLaneEnvelope::BandMargin;
    const double height = laneHeight - 2 * ClipLaneEnvelope::BandMargin;
    const QColor fill(255, 255, 255, 60);
    for (const double left : {x1, x2 - Bar})
        if (left + Bar >= 0.0 && left <= width)
            painter.fillRect(QRectF(left, top, Bar, height), fill);
}

void drawPlayhead(QPainter& painter, int x, int width, int height)
{
    if (x < 0 || x > width)
        return;
    painter.save();
    // Crisp: the line covers pixel column x exactly.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(x, 0, x, height);
    painter.restore();
}

} // namespace ClipLanePainting
