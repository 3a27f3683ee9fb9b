#pragma once
// Parameter values set outside the audio thread (by the host, or by the
// plug-in's own editor through the component handler) that the processor
// has not heard yet. Any thread may set a value; the thread that processes
// takes them into the next block's input changes without locking or
// allocating. Only the latest value of each parameter is kept. The value
// the processor was last given or reported is remembered too, so that after
// a program change only what the controller moved is passed on. Values the
// processor reports go the other way: kept here by the processing thread
// until the controller's own thread hands them on.

#include "plugins/VST3Interfaces.h"

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

class VST3ParameterChanges;

class VST3PendingParameters {
public:
    // The parameters that can be set; only while nothing sets or takes values.
    explicit VST3PendingParameters(std::vector<vst::ParamID> ids);

    // False for a parameter not in the list.
    bool set(vst::ParamID id, double normalized);
    // set() only when the value differs from the one remembered and no
    // report for it is waiting for the controller.
    bool setIfChanged(vst::ParamID id, double normalized);
    // Remembers a value the processor already has.
    void remember(vst::ParamID id, double normalized);
    // A value the processor reported: remembered, and kept for takeReported.
    void report(vst::ParamID id, double normalized);
    // Calls give(id, value) for each value reported since the last call.
    template <class Give>
    void takeReported(Give give);
    const std::vector<vst::ParamID>& parameterIds() const { return ids; }
    // Forgets what was set and not yet taken.
    void discard();
    // Adds one point at offset 0 for each parameter set since the last take.
    void takeInto(VST3ParameterChanges& changes);
    int size() const { return int(order.size()); }

private:
    struct Slot;
    Slot* find(vst::ParamID id) const;
    void mark(Slot& slot, double normalized);

    struct Slot {
        std::atomic<double> value{0.0};
        std::atomic<bool> changed{false};
        std::atomic<double> known{-1.0};
        std::atomic<double> reported{0.0};
        std::atomic<bool> reportedChanged{false};
    };
    // (id, slot) sorted by id, for lookups that allocate nothing.
    std::vector<std::pair<vst::ParamID, int>> order;
    std::vector<vst::ParamID> ids;
    std::unique_ptr<Slot[]> entries;
    std::atomic<bool> anyChanged{false};
    std::atomic<bool> anyReported{false};
};

template <class Give>
void VST3PendingParameters::takeReported(Give give)
{
    if (!anyReported.exchange(false, std::memory_order_acq_rel))
        return;
    for (size_t i = 0; i < ids.size(); ++i)
        if (entries[i].reportedChanged.exchange(false, std::memory_order_acquire))
            give(ids[i], entries[i].reported.load(std::memory_order_relaxed));
}
