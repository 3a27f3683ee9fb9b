#pragma once
// Remembers the zoom and view start a scrolling view last reported, so that
// it signals a change of its visible range only when there is one (a view
// that follows another then does not echo the change back).

class VisibleRangeTracker {
public:
    // True, and remembered, when zoom or start differs from the last report.
    bool changed(double zoom, double viewStart)
    {
        if (zoom == lastZoom && viewStart == lastStart)
            return false;
        lastZoom = zoom;
        lastStart = viewStart;
        return true;
    }

private:
    double lastZoom = 1.0;
    double lastStart = 0.0;
};
