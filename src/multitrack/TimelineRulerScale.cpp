#include "multitrack/TimelineRulerScale.h"

#include "multitrack/TimelineMapping.h"
#include "widgets/TimeAxisScale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double TimeSteps[] = {0.001, 0.005, 0.01, 0.05, 0.1, 0.5, 1, 2, 5, 10, 30};
constexpr double BeatSteps[] = {0.125, 0.25, 0.5, 1, 2, 4, 8, 16};
constexpr double LongestTimeStep = 60.0;
constexpr double LongestBeatStep = 32.0;
constexpr double StepPixels = 80.0;
// Time mode: narrower steps draw nothing, steps below LabelPixels draw lines only.
constexpr double MinTimeStepPixels = 40.0;
constexpr double LabelPixels = 60.0;
// Fine beat ruler: ticks between beats are labelled from this step width.
constexpr double SubBeatLabelPixels = 30.0;
constexpr double BeatEpsilon = 1e-9;
constexpr double OnGridEpsilon = 1e-6;
// Index tolerance for a view start that lies on a tick.
constexpr double OnTickTolerance = 1e-9;
// Whole bars above this are not labelled (no such project exists).
constexpr double MaxLabelledBeats = 1e12;

// Tick times step x (k0 + i) from the first multiple of step at or after
// viewStart (at least 0) up to visibleEnd, counted by an integer index and
// capped, so no input makes the loop run long.
template <typename Visit>
void forEachTick(double viewStart, double visibleEnd, double step, int width, Visit visit)
{
    if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(viewStart)
        || !std::isfinite(visibleEnd))
        return;
    // A view start on a tick keeps that tick, even when the division lands
    // a rounding error above its index (0.07 / 0.01 = 7.000000000000001).
    const double firstIndex = std::max(std::ceil(viewStart / step - OnTickTolerance), 0.0);
    if (!std::isfinite(firstIndex))
        return;
    const long long cap = 4LL * std::max(width, 0) + 16;
    double previous = -1.0;
    for (long long i = 0; i < cap; ++i) {
        const double t = (firstIndex + double(i)) * step;
        // At magnitudes where the index no longer changes the time, stop.
        if (t > visibleEnd || !(t > previous))
            break;
        previous = t;
        visit(t);
    }
}

QString barBeatLabel(long long bar, double beatInBar)
{
    return QStringLiteral("%1.%2").arg(bar).arg(int(beatInBar) + 1);
}

} // namespace

double TimelineRulerScale::timeStep(double pixelsPerSecond)
{
    for (double step : TimeSteps) {
        if (step * pixelsPerSecond >= StepPixels)
            return step;
    }
    return LongestTimeStep;
}

double TimelineRulerScale::beatStep(double pixelsPerSecond, double bpm)
{
    const double beatsPerSecond = bpm / 60.0;
    if (!(beatsPerSecond > 0.0) || !std::isfinite(beatsPerSecond))
        return 0.0;
    for (double beats : BeatSteps) {
        const double step = beats / beatsPerSecond;
        if (step * pixelsPerSecond >= StepPixels)
            return step;
    }
    return LongestBeatStep / beatsPerSecond;
}

std::vector<RulerTick> TimelineRulerScale::timeTicks(double viewStart, double zoom, int width)
{
    std::vector<RulerTick> ticks;
    const TimelineMapping mapping(viewStart, zoom);
    const double pixelsPerSecond = mapping.pixelsPerSecond();
    if (!(pixelsPerSecond > 0.0) || width <= 0)
        return ticks;
    const double step = timeStep(pixelsPerSecond);
    const double stepPixels = step * pixelsPerSecond;
    if (stepPixels < MinTimeStepPixels)
        return ticks;
    const bool labelled = stepPixels >= LabelPixels;
    const double visibleEnd = viewStart + width / pixelsPerSecond;
    forEachTick(viewStart, visibleEnd, step, width, [&](double t) {
        const int x = mapping.secondsToX(t);
        if (x < 0 || x > width)
            return;
        RulerTick tick;
        tick.x = x;
        tick.lineTop = 4;
        tick.lineBottom = 12;
        if (labelled)
            tick.label = TimeAxisScale::rulerLabel(t, step);
        ticks.push_back(tick);
    });
    return ticks;
}

std::vector<RulerTick> TimelineRulerScale::beatTicks(double viewStart, double zoom, int width,
                                                     double bpm)
{
    std::vector<RulerTick> ticks;
    const TimelineMapping mapping(viewStart, zoom);
    const double pixelsPerSecond = mapping.pixelsPerSecond();
    if (!(pixelsPerSecond > 0.0) || width <= 0)
        return ticks;
    const double step = beatStep(pixelsPerSecond, bpm);
    if (!(step > 0.0))
        return ticks;
    const double beatsPerSecond = bpm / 60.0;
    const bool fine = step * beatsPerSecond < 1.0 - OnGridEpsilon;
    const bool labelSubBeats = step * pixelsPerSecond >= SubBeatLabelPixels;
    const double visibleEnd = viewStart + width / pixelsPerSecond;
    forEachTick(viewStart, visibleEnd, step, width, [&](double t) {
        const int x = mapping.secondsToX(t);
        if (x < 0 || x > width)
            return;
        const double beats = beatsPerSecond * t;
        const double shifted = beats + BeatEpsilon;
        const double beatInBar = std::fmod(shifted, 4.0);
        const bool onBeat = shifted - std::floor(shifted) < OnGridEpsilon;
        const bool barStart = beatInBar < OnGridEpsilon;

        RulerTick tick;
        tick.x = x;
        tick.lineTop = barStart ? 0 : (onBeat ? 4 : 8);
        tick.lineBottom = barStart ? 16 : 14;
        if (beats < MaxLabelledBeats) {
            // Counted from the same nudged beat as the beat in bar: a tick
            // time a rounding error short of a bar line still starts that bar.
            const long long bar = static_cast<long long>(shifted / 4.0) + 1;
            if (!fine) {
                tick.label = barStart ? QString::number(bar) : barBeatLabel(bar, beatInBar);
            } else if (barStart || onBeat) {
                tick.label = barBeatLabel(bar, beatInBar);
            } else if (labelSubBeats) {
                const double fraction = beatInBar - std::floor(beatInBar);
                const int beat = int(beatInBar) + 1;
                if (std::abs(fraction - 0.5) < 0.01)
                    tick.label = QStringLiteral("%1+").arg(beat);
                else if (std::abs(fraction - 0.25) < 0.01)
                    tick.label = QStringLiteral("%1e").arg(beat);
                else if (std::abs(fraction - 0.75) < 0.01)
                    tick.label = QStringLiteral("%1a").arg(beat);
            }
        }
        ticks.push_back(tick);
    });
    return ticks;
}

int TimelineRulerScale::markerAt(const std::vector<TimelineMarker>& markers, int x,
                                 double viewStart, double zoom)
{
    const TimelineMapping mapping(viewStart, zoom);
    for (size_t i = 0; i < markers.size(); ++i) {
        const int mx = mapping.secondsToX(markers[i].time);
        if (std::abs(static_cast<long long>(mx) - x) < 9)
            return int(i);
    }
    return -1;
}
