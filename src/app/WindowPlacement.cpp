#include "app/WindowPlacement.h"

namespace WindowPlacement {

QRect centredGeometry(const QSize& wanted, const QRect& available)
{
    const QSize size = wanted.boundedTo(available.size());
    const int x = available.x() + (available.width() - size.width()) / 2;
    const int y = available.y() + (available.height() - size.height()) / 2;
    return QRect(QPoint(x, y), size);
}

} // namespace WindowPlacement
