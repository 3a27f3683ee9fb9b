#pragma once
// Pieces of the picture that the audio and MIDI clip lanes share: the lane
// fill, the empty-lane text, the trim-handle bars of a clip and the playhead.

#include <QColor>
#include <QString>

class QPainter;
class QRect;

namespace ClipLanePainting {

extern const QColor LaneBackground;   // #14141E

// The lane fill over the whole rectangle.
void drawBackground(QPainter& painter, const QRect& lane);
// text centred in the lane, #646478, "sans-serif" 12 pt.
void drawEmptyState(QPainter& painter, const QRect& lane, const QString& text);
// Two 5 px bars, white at alpha 60, at the inner sides of a clip spanning
// x1..x2 over the clip band; bars outside the lane's width are skipped.
void drawTrimHandles(QPainter& painter, double x1, double x2, int width, int laneHeight);
// A white 1 px line over the lane height at x, when 0 <= x <= width.
void drawPlayhead(QPainter& painter, int x, int width, int height);

} // namespace ClipLanePainting
