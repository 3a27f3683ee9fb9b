#pragma once
// The piano-key column and the note rows beside it, as the pitch views draw
// them: rows from a high pitch down to a low one, black-key rows darker, a
// line on each row's top edge, gradient keys with "C4"-style labels on the
// C rows. The caller gives where a row's top edge lies and how high a row is.

#include <QRect>

#include <functional>

class QPainter;

namespace PianoKeyColumn {

bool isBlackKey(int pitch);

// The note rows across `grid`, clipped to it.
void paintRows(QPainter& painter, const QRect& grid, const std::function<double(int)>& rowTop,
               double rowHeight, int lowPitch, int highPitch);
// The keys in `column`, clipped to it, and the line along its right edge.
void paintKeys(QPainter& painter, const QRect& column, const std::function<double(int)>& rowTop,
               double rowHeight, int lowPitch, int highPitch);

// Quarter-beat lines across `grid`, from the quarter at or before
// `firstBeat` through `lastBeat`, beats and bars (four beats) stronger;
// `beatToX` places a beat.
void paintBeatLines(QPainter& painter, const QRect& grid, double firstBeat, double lastBeat,
                    const std::function<int(double)>& beatToX);

} // namespace PianoKeyColumn
