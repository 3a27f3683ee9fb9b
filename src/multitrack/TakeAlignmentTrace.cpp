#include "multitrack/TakeAlignmentTrace.h"

#include <algorithm>
#include <limits>

namespace {

// The notes each side of a gap that tell where the take stood: before it,
// and after it once the device refilled and played on.
constexpr double WindowSeconds = 0.5;
constexpr double SettleSeconds = 0.2;
constexpr std::size_t MinNotes = 3;
// Less than this is the jitter of the blocks and the ticks, not a stall or a lag.
constexpr double ToleranceSeconds = 0.03;

} // namespace

void TakeAlignmentTrace::note(double heard, double inputSeconds)
{
    points.push_back({heard, inputSeconds - heard});
}

bool TakeAlignmentTrace::medianOffset(double from, double to, double& median) const
{
    std::vector<double> offsets;
    for (const Point& point : points)
        if (point.heard >= from && point.heard < to)
            offsets.push_back(point.offset);
    if (offsets.size() < MinNotes)
        return false;
    auto middle = offsets.begin() + std::ptrdiff_t(offsets.size() / 2);
    std::nth_element(offsets.begin(), middle, offsets.end());
    median = *middle;
    return true;
}

std::vector<TakeAlignmentTrace::PlaybackGap> TakeAlignmentTrace::lagsLeftBy(const std::vector<PlaybackGap>& gaps) const
{
    std::vector<PlaybackGap> lags;
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        const PlaybackGap& gap = gaps[i];
        const double previous = i > 0 ? gaps[i - 1].at : -std::numeric_limits<double>::infinity();
        const double next = i + 1 < gaps.size() ? gaps[i + 1].at : std::numeric_limits<double>::infinity();
        double before = 0.0, after = 0.0;
        if (!medianOffset(std::max(gap.at - WindowSeconds, previous), gap.at, before)
            || !medianOffset(gap.at + SettleSeconds, std::min(gap.at + SettleSeconds + WindowSeconds, next), after)) {
            lags.push_back(gap);
            continue;
        }
        const double lag = after - before;
        if (gap.seconds - lag < ToleranceSeconds) {
            lags.push_back(gap); // the input did not stall: the engine's measure holds
        } else if (lag >= ToleranceSeconds) {
            lags.push_back({gap.at, std::min(lag, gap.seconds)});
        }
    }
    return lags;
}
