#pragma once
// The filled area under a curve, as the spectrum and response graphs draw
// it: the curve closed along a bottom edge and filled with a vertical
// gradient of one colour, stronger at the top.

#include <QColor>

class QPainter;
class QPainterPath;

namespace CurveFill {

QColor withAlpha(QColor color, int alpha);

// Closes `curve` through (right, bottom) and (left, bottom) and fills it from
// `top` (colour at topAlpha) down to `bottom` (at bottomAlpha).
void fillUnder(QPainter& painter, const QPainterPath& curve, double left, double right, double top,
               double bottom, const QColor& color, int topAlpha, int bottomAlpha);

} // namespace CurveFill
