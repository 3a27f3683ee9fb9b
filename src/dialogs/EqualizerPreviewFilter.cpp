#include "dialogs/EqualizerPreviewFilter.h"

#include <algorithm>

void EqualizerPreviewFilter::setBands(const Band* bands, int count, float sampleRate)
{
    SlotSet slots{};
    for (int b = 0; b < std::min(count, MaxBands); ++b) {
        Slot& slot = slots[b];
        slot.applied = EqualiserBands::appliedCoefficients(bands[b], sampleRate, slot.coefficients);
    }
    std::lock_guard<std::mutex> lock(handover);
    pending = slots;
    pendingFresh = true;
}

void EqualizerPreviewFilter::resetState()
{
    for (auto& channel : states)
        channel.fill(BiquadState{});
}

void EqualizerPreviewFilter::process(float* interleaved, int frames, int channels)
{
    if (!interleaved || frames < 1 || channels < 1)
        return;
    if (handover.try_lock()) {
        if (pendingFresh) {
            active = pending;
            pendingFresh = false;
        }
        handover.unlock();
    }

    // The applied bands in order, each keeping its own state whatever the
    // other bands do.
    std::array<BiquadCoefficients, MaxBands> bands;
    std::array<int, MaxBands> slotOf;
    std::size_t count = 0;
    for (int b = 0; b < MaxBands; ++b) {
        if (active[b].applied) {
            bands[count] = active[b].coefficients;
            slotOf[count++] = b;
        }
    }
    if (count == 0)
        return;
    for (int c = 0; c < std::min(channels, MaxChannels); ++c) {
        std::array<BiquadState, MaxBands> running;
        for (std::size_t i = 0; i < count; ++i)
            running[i] = states[c][slotOf[i]];
        EqualiserBands::runCascade(bands.data(), running.data(), count, interleaved + c, frames,
                                   channels);
        for (std::size_t i = 0; i < count; ++i)
            states[c][slotOf[i]] = running[i];
    }
}
