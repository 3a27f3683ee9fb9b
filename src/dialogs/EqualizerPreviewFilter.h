#pragma once
// The equaliser's live preview filter: the dialog's bands run over the
// engine's interleaved output blocks on the audio thread, each channel with
// its own filter state. The GUI thread hands new coefficients over as one
// set; a block runs wholly with the old set or wholly with the new one, and
// the audio thread never waits for the GUI (it keeps the old set for a block
// when the hand-over is busy).

#include "audio/EqualiserBands.h"

#include <array>
#include <cstddef>
#include <mutex>

class EqualizerPreviewFilter {
public:
    static constexpr int MaxBands = 8;
    static constexpr int MaxChannels = 2;

    // Bands the offline equaliser skips (disabled, unknown type, frequency
    // outside 20 Hz to 0.49 x rate) pass through here too.
    using Band = EqualiserBandSettings;

    // GUI thread. Bands past MaxBands are ignored.
    void setBands(const Band* bands, int count, float sampleRate);
    // GUI thread, while no block runs through process(): silence in the filters.
    void resetState();
    // Audio thread: `frames` frames of `channels` interleaved values, in place.
    // Channels past MaxChannels are left as they are.
    void process(float* interleaved, int frames, int channels);

private:
    struct Slot {
        bool applied = false;
        BiquadCoefficients coefficients;
    };
    using SlotSet = std::array<Slot, MaxBands>;

    std::mutex handover;
    SlotSet pending;
    bool pendingFresh = false;

    // Audio thread only (and resetState while no block runs).
    SlotSet active;
    std::array<std::array<BiquadState, MaxBands>, MaxChannels> states{};
};
