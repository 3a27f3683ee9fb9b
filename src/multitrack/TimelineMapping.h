#pragma once
// The multitrack timeline's mapping between time and pixels, shared by the
// ruler and the clip lanes: x = (t - view start) * zoom * 100 px, truncated
// toward zero (100 px a second at zoom 1), and the beat grid that snapping
// uses (one beat = 60 / tempo seconds).

class TimelineMapping {
public:
    static constexpr double PixelsPerSecondAtZoom1 = 100.0;
    // Pixel positions are held within +-2^30, so sums and differences of a
    // few of them stay inside int.
    static constexpr int PixelLimit = 1 << 30;

    TimelineMapping() = default;
    TimelineMapping(double viewStartSec, double zoom) : viewStart(viewStartSec), zoomLevel(zoom) {}

    double viewStartSec() const { return viewStart; }
    double zoom() const { return zoomLevel; }
    // Both ignore values that are not finite, and the zoom ignores values <= 0.
    bool setViewStartSec(double sec);
    bool setZoom(double zoom);

    double pixelsPerSecond() const { return zoomLevel * PixelsPerSecondAtZoom1; }

    // Truncated toward zero and clamped to +-PixelLimit before the
    // conversion; a time that is not a number maps to -PixelLimit.
    int secondsToX(double sec) const;
    // The same truncated position in floating point, kept finite (for drawing
    // spans wider than the int range allows).
    double secondsToXF(double sec) const;
    double xToSeconds(double x) const;

    // The nearest beat line to sec (halves away from zero); sec unchanged
    // when the tempo is not a finite positive number.
    static double snapToBeat(double sec, double bpm);

private:
    double viewStart = 0.0;
    double zoomLevel = 1.0;
};
