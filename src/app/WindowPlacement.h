#pragma once
// Where a top-level window first appears on a screen.

#include <QRect>
#include <QSize>

namespace WindowPlacement {

// The wanted size shrunk to fit the available area, centred in it (integer
// halves toward zero).
QRect centredGeometry(const QSize& wanted, const QRect& available);

} // namespace WindowPlacement
