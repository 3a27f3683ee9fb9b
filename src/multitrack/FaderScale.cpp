#include "multitrack/FaderScale.h"

#include <QPainter>

#include <cmath>

namespace {

// The groove runs from y 6 to H - 6.
constexpr int GrooveInset = 6;
constexpr int GrooveWidth = 8;

} // namespace

const double FaderScale::TickLevelsDb[6] = {0.0, -3.0, -6.0, -12.0, -24.0, -48.0};

FaderScale::FaderScale(QWidget* parent)
    : QWidget(parent)
{
}

double FaderScale::faderFraction(double db)
{
    return std::pow(10.0, db / 20.0) / FullScale;
}

int FaderScale::tickY(double db, int height)
{
    const int usable = height - 2 * GrooveInset;
    return (height - 7) - int(usable * faderFraction(db));
}

void FaderScale::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int h = height();

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1e, 0x1e, 0x2a));
    painter.drawRoundedRect(QRectF(GrooveInset, GrooveInset, GrooveWidth, h - 2 * GrooveInset), 4, 4);

    painter.setPen(QPen(QColor(60, 60, 80), 1));
    for (double db : TickLevelsDb) {
        const int y = tickY(db, h);
        painter.drawLine(3, y, 6, y);
        painter.drawLine(13, y, 16, y);
    }
    painter.setPen(QPen(QColor(42, 130, 218, 120), 1));
    const int zero = tickY(0.0, h);
    painter.drawLine(6, zero, 13, zero);
}
