#include "widgets/TimeAxisScale.h"

#include <cmath>

namespace {

constexpr double Steps[] = {0.001, 0.005, 0.01, 0.05, 0.1, 0.5, 1, 2, 5, 10, 30, 60};

QString twoDigits(long long value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// Fractional labels: whole seconds and hundredths or thousandths, rounded
// to the label's resolution so that 0.8 never reads as 0.79.
QString fractionLabel(double seconds, double step)
{
    const long long scale = step >= 0.01 ? 100 : 1000;
    const long long units = std::llround(seconds * double(scale));
    const long long whole = units / scale;
    const long long fraction = units % scale;
    return QStringLiteral("%1.%2")
        .arg(twoDigits(whole))
        .arg(fraction, scale == 100 ? 2 : 3, 10, QLatin1Char('0'));
}

} // namespace

double TimeAxisScale::stepFor(double visibleSeconds, double pixelWidth)
{
    if (visibleSeconds > 0.0) {
        for (double step : Steps) {
            if (step / visibleSeconds * pixelWidth >= 50.0)
                return step;
        }
    }
    return 1.0;
}

std::vector<double> TimeAxisScale::tickTimes(double startSeconds, double visibleSeconds,
                                             double step)
{
    std::vector<double> ticks;
    if (!(step > 0.0) || !(visibleSeconds >= 0.0))
        return ticks;
    const double first = std::max(step * std::ceil(startSeconds / step), 0.0);
    const double last = startSeconds + visibleSeconds;
    // Counting steps rather than adding them keeps the ticks on the grid.
    for (long long i = 0;; ++i) {
        const double t = first + double(i) * step;
        if (t > last + step * 1e-9 || i > 100000)
            break;
        ticks.push_back(t);
    }
    return ticks;
}

QString TimeAxisScale::spectrogramLabel(double seconds, double step)
{
    if (step >= 1.0) {
        const long long s = std::llround(seconds);
        if (s < 60)
            return QStringLiteral("%1s").arg(s);
        return QStringLiteral("%1:%2").arg(s / 60).arg(twoDigits(s % 60));
    }
    return fractionLabel(seconds, step);
}

QString TimeAxisScale::rulerLabel(double seconds, double step)
{
    if (step >= 1.0) {
        const long long s = std::llround(seconds);
        return QStringLiteral("%1:%2").arg(twoDigits(s / 60)).arg(twoDigits(s % 60));
    }
    return fractionLabel(seconds, step);
}
