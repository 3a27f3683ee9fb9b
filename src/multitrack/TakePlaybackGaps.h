#pragma once
// A take recorded while its playback dropped out: the player heard nothing
// for the gap, and everything after it that much later, while the input ran
// on. Taking the input of each gap out of the take puts what was played
// after it back where it was heard.

#include "engine/devices/MultiTrackAudioEngine.h"

#include <QList>

#include <vector>

namespace TakePlaybackGaps {

// Removes, for each gap, the gap's length of input ending where the gap
// ended (sample 0 of the take taken at inputBeganNs on the steady clock, at
// `rate`), joining the two sides with a crossfade of a few milliseconds.
// Gaps outside the take, and any that would leave nothing, are left alone.
// Returns the seconds removed.
double remove(QList<float>& take, const std::vector<MultiTrackAudioEngine::PlaybackGap>& gaps,
              qint64 inputBeganNs, int rate);

} // namespace TakePlaybackGaps
