#include "VST3PendingParameters.h"

#include "plugins/VST3ParameterChanges.h"

#include <algorithm>

VST3PendingParameters::VST3PendingParameters(std::vector<vst::ParamID> parameterIds)
    : ids(std::move(parameterIds))
    , entries(new Slot[ids.size()])
{
    order.reserve(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        order.emplace_back(ids[i], int(i));
    std::sort(order.begin(), order.end());
}

VST3PendingParameters::Slot* VST3PendingParameters::find(vst::ParamID id) const
{
    const auto found = std::lower_bound(order.begin(), order.end(), std::make_pair(id, 0));
    if (found == order.end() || found->first != id)
        return nullptr;
    return &entries[size_t(found->second)];
}

void VST3PendingParameters::mark(Slot& slot, double normalized)
{
    slot.known.store(normalized, std::memory_order_relaxed);
    // The value before the flag: whoever sees the flag reads this value or a later one.
    slot.value.store(normalized, std::memory_order_relaxed);
    slot.changed.store(true, std::memory_order_release);
    anyChanged.store(true, std::memory_order_release);
}

bool VST3PendingParameters::set(vst::ParamID id, double normalized)
{
    Slot* slot = find(id);
    if (!slot)
        return false;
    mark(*slot, normalized);
    return true;
}

bool VST3PendingParameters::setIfChanged(vst::ParamID id, double normalized)
{
    Slot* slot = find(id);
    // A report the controller has not been given yet: it differs only
    // because it is behind the processor.
    if (!slot || slot->reportedChanged.load(std::memory_order_acquire)
        || slot->known.load(std::memory_order_relaxed) == normalized)
        return false;
    mark(*slot, normalized);
    return true;
}

void VST3PendingParameters::remember(vst::ParamID id, double normalized)
{
    if (Slot* slot = find(id))
        slot->known.store(normalized, std::memory_order_relaxed);
}

void VST3PendingParameters::report(vst::ParamID id, double normalized)
{
    Slot* slot = find(id);
    if (!slot)
        return;
    slot->known.store(normalized, std::memory_order_relaxed);
    slot->reported.store(normalized, std::memory_order_relaxed);
    slot->reportedChanged.store(true, std::memory_order_release);
    anyReported.store(true, std::memory_order_release);
}

void VST3PendingParameters::discard()
{
    anyChanged.store(false, std::memory_order_relaxed);
    for (size_t i = 0; i < ids.size(); ++i)
        entries[i].changed.store(false, std::memory_order_relaxed);
}

void VST3PendingParameters::takeInto(VST3ParameterChanges& changes)
{
    if (!anyChanged.exchange(false, std::memory_order_acq_rel))
        return;
    for (size_t i = 0; i < ids.size(); ++i) {
        Slot& slot = entries[i];
        if (!slot.changed.exchange(false, std::memory_order_acquire))
            continue;
        vst::int32 index = 0;
        vst::IParamValueQueue* queue = changes.addParameterData(ids[i], index);
        if (queue)
            queue->addPoint(0, slot.value.load(std::memory_order_relaxed), index);
    }
}
