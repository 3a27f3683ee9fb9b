#pragma once
// Where a take's input stood against the playback heard meanwhile, noted at
// each tick of the take: how far the input taken so far runs ahead of the
// heard position. A dropout of the playback alone moves that by the
// dropout's length (the player heard the rest, and played it, that much
// later); a sound server that stalled the input with the playback (a
// suspended sink) moves it by nothing, and the take still lines up with
// the other tracks.

#include "engine/devices/MultiTrackAudioEngine.h"

#include <vector>

class TakeAlignmentTrace {
public:
    using PlaybackGap = MultiTrackAudioEngine::PlaybackGap;

    void clear() { points.clear(); }
    // heard: the timeline position heard now; inputSeconds: the input taken so far.
    void note(double heard, double inputSeconds);
    // The playback's gaps as far as they left the take later than the other
    // tracks: a gap the input stalled with is shortened by the stall, or
    // dropped when nothing is left of it. A gap without notes around it is
    // kept as the engine measured it.
    std::vector<PlaybackGap> lagsLeftBy(const std::vector<PlaybackGap>& gaps) const;

private:
    struct Point {
        double heard = 0.0;
        double offset = 0.0; // input seconds less the heard position
    };
    // The median offset of the notes heard in [from, to); false with too few.
    bool medianOffset(double from, double to, double& median) const;
    std::vector<Point> points;
};
