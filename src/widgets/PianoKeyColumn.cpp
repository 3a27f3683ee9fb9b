#include "widgets/PianoKeyColumn.h"

#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace PianoKeyColumn {

bool isBlackKey(int pitch)
{
    static const bool black[12] = {false, true, false, true, false, false,
                                   true,  false, true, false, true, false};
    return black[((pitch % 12) + 12) % 12];
}

void paintRows(QPainter& painter, const QRect& grid, const std::function<double(int)>& rowTop,
               double rowHeight, int lowPitch, int highPitch)
{
    painter.save();
    painter.setClipRect(grid);
    for (int pitch = highPitch; pitch >= lowPitch; --pitch) {
        const double top = rowTop(pitch);
        if (top + rowHeight < grid.top() || top > grid.bottom())
            continue;
        if (isBlackKey(pitch))
            painter.fillRect(QRectF(grid.left(), top, grid.width(), rowHeight), QColor(22, 22, 32));
        painter.setPen(QColor(42, 42, 52));
        painter.drawLine(QPointF(grid.left(), top), QPointF(grid.right(), top));
    }
    painter.restore();
}

void paintKeys(QPainter& painter, const QRect& column, const std::function<double(int)>& rowTop,
               double rowHeight, int lowPitch, int highPitch)
{
    painter.save();
    painter.setClipRect(column);
    QFont font(QStringLiteral("monospace"));
    font.setPointSize(8);
    painter.setFont(font);
    for (int pitch = highPitch; pitch >= lowPitch; --pitch) {
        const double top = rowTop(pitch);
        if (top + rowHeight < column.top() || top > column.bottom())
            continue;
        const QRectF key(column.left(), top, column.width(), rowHeight);
        QLinearGradient gradient(0, top, 0, top + rowHeight);
        if (isBlackKey(pitch)) {
            gradient.setColorAt(0, QColor(40, 40, 50));
            gradient.setColorAt(1, QColor(30, 30, 38));
        } else {
            gradient.setColorAt(0, QColor(90, 90, 100));
            gradient.setColorAt(1, QColor(75, 75, 85));
        }
        painter.fillRect(key, gradient);
        painter.setPen(QColor(50, 50, 60));
        painter.drawLine(QPointF(column.left(), top + rowHeight),
                         QPointF(column.right() + 1, top + rowHeight));
        if (pitch % 12 == 0) {
            painter.setPen(QColor(200, 200, 210));
            painter.drawText(QRectF(column.left() + 4, top, column.width() - 6, rowHeight),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             QStringLiteral("C%1").arg(pitch / 12 - 1));
        }
    }
    painter.restore();
    painter.setPen(QColor(55, 55, 65));
    painter.drawLine(column.right() + 1, column.top(), column.right() + 1, column.bottom());
}

void paintBeatLines(QPainter& painter, const QRect& grid, double firstBeat, double lastBeat,
                    const std::function<int(double)>& beatToX)
{
    for (double beat = std::floor(firstBeat * 4.0) / 4.0; beat <= lastBeat; beat += 0.25) {
        const int x = beatToX(beat);
        if (x < grid.left() || x > grid.right())
            continue;
        const long k = std::lround(beat * 4.0);
        if (k % 16 == 0)
            painter.setPen(QPen(QColor(80, 80, 90), 1.5));
        else if (k % 4 == 0)
            painter.setPen(QPen(QColor(55, 55, 65), 1.0));
        else
            painter.setPen(QPen(QColor(38, 38, 48), 0.5));
        painter.drawLine(x, grid.top(), x, grid.bottom());
    }
}

} // namespace PianoKeyColumn
