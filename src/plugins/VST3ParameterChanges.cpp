#include "VST3ParameterChanges.h"

#include <algorithm>

void VST3ParamValueQueue::reset(vst::ParamID id)
{
    parameterId = id;
    count = 0;
}

vst::tresult VST3ParamValueQueue::getPoint(vst::int32 index, vst::int32& sampleOffset, vst::ParamValue& value)
{
    if (index < 0 || index >= count)
        return vst::kInvalidArgument;
    sampleOffset = points[index].offset;
    value = points[index].value;
    return vst::kResultOk;
}

vst::tresult VST3ParamValueQueue::addPoint(vst::int32 sampleOffset, vst::ParamValue value, vst::int32& index)
{
    vst::int32 at = 0;
    while (at < count && points[at].offset < sampleOffset)
        ++at;
    if (at < count && points[at].offset == sampleOffset) {
        points[at].value = value;
        index = at;
        return vst::kResultOk;
    }
    if (count == kMaxPoints)
        return vst::kResultFalse;
    for (vst::int32 i = count; i > at; --i)
        points[i] = points[i - 1];
    points[at] = Point{sampleOffset, value};
    ++count;
    index = at;
    return vst::kResultOk;
}

void VST3ParameterChanges::resize(int parameters)
{
    used = 0;
    queues.resize(size_t(std::max(parameters, 0)));
    for (auto& queue : queues)
        if (!queue)
            queue = std::make_unique<VST3ParamValueQueue>();
}

vst::IParamValueQueue* VST3ParameterChanges::getParameterData(vst::int32 index)
{
    return index >= 0 && index < used ? queues[size_t(index)].get() : nullptr;
}

vst::IParamValueQueue* VST3ParameterChanges::addParameterData(const vst::ParamID& id, vst::int32& index)
{
    for (vst::int32 i = 0; i < used; ++i) {
        if (queues[size_t(i)]->getParameterId() == id) {
            index = i;
            return queues[size_t(i)].get();
        }
    }
    if (used == vst::int32(queues.size()))
        return nullptr;
    VST3ParamValueQueue* queue = queues[size_t(used)].get();
    queue->reset(id);
    index = used++;
    return queue;
}
