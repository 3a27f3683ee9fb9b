#include "widgets/CurveFill.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace CurveFill {

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

void fillUnder(QPainter& painter, const QPainterPath& curve, double left, double right, double top,
               double bottom, const QColor& color, int topAlpha, int bottomAlpha)
{
    QPainterPath area = curve;
    area.lineTo(right, bottom);
    area.lineTo(left, bottom);
    area.closeSubpath();
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, withAlpha(color, topAlpha));
    gradient.setColorAt(1, withAlpha(color, bottomAlpha));
    painter.fillPath(area, gradient);
}

} // namespace CurveFill
