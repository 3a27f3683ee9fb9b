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

bool VST3PendingParameters::set(vst::ParamID id, double normalized)
{
    const auto found = std::lower_bound(order.begin(), order.end(), std::make_pair(id, 0));
    if (found == order.end() || found->first != id)
        return false;
    Slot& slot = entries[size_t(found->second)];
    // The value before the flag: whoever sees the flag reads this value or a later one.
    slot.value.store(normalized, std::memory_order_relaxed);
    slot.changed.store(true, std::memory_order_release);
    anyChanged.store(true, std::memory_order_release);
    return true;
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
