#pragma once
// What the timeline ruler draws, as plain data: the ticks of its time scale
// (minutes and seconds, hundredths or thousandths) and of its bars-and-beats
// scale, and which marker a click falls on. The painter only draws these.
//
// Tick counts are bounded whatever the inputs: ticks are counted by an
// integer index and never more than a small multiple of the width, and a
// tempo or view start that gives no finite grid yields no ticks.

#include "project/ProjectTypes.h"

#include <QString>
#include <vector>

struct RulerTick {
    int x = 0;          // pixel of the tick line
    int lineTop = 0;    // the line runs from (x, lineTop) to (x, lineBottom)
    int lineBottom = 0;
    QString label;      // drawn at (x + 2, baseline 20); empty: no label
};

class TimelineRulerScale {
public:
    // Time mode: the first of 0.001 .. 30 s whose width is at least 80 px,
    // else 60 s.
    static double timeStep(double pixelsPerSecond);
    // Beats mode: the first of 0.125 .. 16 beats (in seconds at `bpm`) whose
    // width is at least 80 px, else 32 beats; 0 when the tempo gives no grid.
    static double beatStep(double pixelsPerSecond, double bpm);

    // The ticks on a ruler `width` px wide, each with 0 <= x <= width.
    static std::vector<RulerTick> timeTicks(double viewStart, double zoom, int width);
    static std::vector<RulerTick> beatTicks(double viewStart, double zoom, int width, double bpm);

    // The first marker (vector order) within 8 px of pixel x; -1 for none.
    static int markerAt(const std::vector<TimelineMarker>& markers, int x, double viewStart,
                        double zoom);
};
