#pragma once
// Parameter changes passed with a process call: one queue of points (sample
// offset, normalised value) per parameter. Every queue and point is made
// when the list is sized, so filling and reading it in a block allocates
// nothing; a list that is full refuses further parameters and points.

#include "plugins/VST3HostObjects.h"

#include <memory>
#include <vector>

class VST3ParamValueQueue final : public VST3HostObject<vst::IParamValueQueue, false> {
public:
    static constexpr int kMaxPoints = 64;

    VST3ParamValueQueue() = default;
    void reset(vst::ParamID id);

    vst::ParamID getParameterId() override { return parameterId; }
    vst::int32 getPointCount() override { return count; }
    vst::tresult getPoint(vst::int32 index, vst::int32& sampleOffset, vst::ParamValue& value) override;
    // Points stay sorted by offset; a second point at the same offset replaces the first.
    vst::tresult addPoint(vst::int32 sampleOffset, vst::ParamValue value, vst::int32& index) override;

private:
    struct Point {
        vst::int32 offset;
        vst::ParamValue value;
    };
    vst::ParamID parameterId = 0;
    vst::int32 count = 0;
    Point points[kMaxPoints]{};
};

class VST3ParameterChanges final : public VST3HostObject<vst::IParameterChanges, false> {
public:
    // Room for this many parameters; not while a process call uses the list.
    void resize(int parameters);
    void clear() { used = 0; }

    vst::int32 getParameterCount() override { return used; }
    vst::IParamValueQueue* getParameterData(vst::int32 index) override;
    // The queue of this parameter, added when it has none yet; null when full.
    vst::IParamValueQueue* addParameterData(const vst::ParamID& id, vst::int32& index) override;

private:
    std::vector<std::unique_ptr<VST3ParamValueQueue>> queues;
    vst::int32 used = 0;
};
