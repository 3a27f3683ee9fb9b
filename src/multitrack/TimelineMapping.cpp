#include "multitrack/TimelineMapping.h"

#include <cmath>

namespace {

// Far beyond any screen, yet small enough that drawing code can add widths.
constexpr double DrawingLimit = 1e12;

} // namespace

bool TimelineMapping::setViewStartSec(double sec)
{
    if (!std::isfinite(sec))
        return false;
    viewStart = sec;
    return true;
}

bool TimelineMapping::setZoom(double zoom)
{
    if (!std::isfinite(zoom) || zoom <= 0.0)
        return false;
    zoomLevel = zoom;
    return true;
}

int TimelineMapping::secondsToX(double sec) const
{
    const double x = std::trunc((sec - viewStart) * pixelsPerSecond());
    if (std::isnan(x))
        return -PixelLimit;
    if (x <= -PixelLimit)
        return -PixelLimit;
    if (x >= PixelLimit)
        return PixelLimit;
    return int(x);
}

double TimelineMapping::secondsToXF(double sec) const
{
    const double x = std::trunc((sec - viewStart) * pixelsPerSecond());
    if (std::isnan(x))
        return -DrawingLimit;
    return x < -DrawingLimit ? -DrawingLimit : (x > DrawingLimit ? DrawingLimit : x);
}

double TimelineMapping::xToSeconds(double x) const
{
    return viewStart + x / pixelsPerSecond();
}

double TimelineMapping::snapToBeat(double sec, double bpm)
{
    if (!std::isfinite(bpm) || bpm <= 0.0)
        return sec;
    const double beat = 60.0 / bpm;
    const double snapped = beat * std::round(sec / beat);
    return std::isfinite(snapped) ? snapped : sec;
}
