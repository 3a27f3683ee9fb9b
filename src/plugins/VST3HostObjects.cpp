#include "VST3HostObjects.h"

#include "plugins/VST3Message.h"
#include "plugins/VST3PendingParameters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- host application ---------------------------------------------------

VST3HostApplication* VST3HostApplication::instance()
{
    static VST3HostApplication* const application = new VST3HostApplication;
    return application;
}

vst::tresult VST3HostApplication::getName(vst::String128 name)
{
    if (!name)
        return vst::kInvalidArgument;
    static const char text[] = "CalderwynStudio";
    size_t i = 0;
    for (; text[i] != '\0'; ++i)
        name[i] = vst::TChar(text[i]);
    name[i] = 0;
    return vst::kResultOk;
}

vst::tresult VST3HostApplication::createInstance(vst::TUID cid, vst::TUID iid, void** obj)
{
    if (!obj)
        return vst::kInvalidArgument;
    *obj = nullptr;
    if (!cid || !iid)
        return vst::kInvalidArgument;
    // Messages and attribute lists are the objects plug-ins ask the host for;
    // the new object's one reference goes to the caller.
    vst::FUnknown* created = nullptr;
    if (vst::IMessage::iid.matches(cid))
        created = new VST3Message;
    else if (vst::IAttributeList::iid.matches(cid))
        created = new VST3AttributeList;
    else
        return vst::kResultFalse;
    const vst::tresult result = created->queryInterface(iid, obj);
    created->release();
    return result == vst::kResultOk ? vst::kResultOk : vst::kNoInterface;
}

// ---- component handler --------------------------------------------------

VST3ComponentHandler::VST3ComponentHandler(std::shared_ptr<VST3PendingParameters> pendingParameters)
    : pending(std::move(pendingParameters))
{
}

// The controller already holds the edited value; only the processor needs
// to hear it. The gesture's begin and end carry no value.
vst::tresult VST3ComponentHandler::beginEdit(vst::ParamID) { return vst::kResultOk; }

vst::tresult VST3ComponentHandler::performEdit(vst::ParamID id, vst::ParamValue valueNormalized)
{
    if (std::isnan(valueNormalized))
        return vst::kInvalidArgument;
    if (!pending || !pending->set(id, std::clamp(valueNormalized, 0.0, 1.0)))
        return vst::kResultFalse;
    return vst::kResultOk;
}

vst::tresult VST3ComponentHandler::endEdit(vst::ParamID) { return vst::kResultOk; }
vst::tresult VST3ComponentHandler::restartComponent(vst::int32 flags)
{
    vst::IEditController* editController = controller;
    if ((flags & vst::kParamValuesChanged) && editController && pending)
        for (vst::ParamID id : pending->parameterIds())
            pending->setIfChanged(id, std::clamp(editController->getParamNormalized(id), 0.0, 1.0));
    return vst::kResultOk;
}

// ---- memory stream ------------------------------------------------------

vst::tresult VST3MemoryStream::read(void* buffer, vst::int32 numBytes, vst::int32* numBytesRead)
{
    if (numBytesRead)
        *numBytesRead = 0;
    const vst::int64 size = vst::int64(data.size());
    // A position before the start or past the end has nothing to read.
    const vst::int64 available = (position < 0 || position > size) ? 0 : size - position;
    const vst::int64 count = std::clamp<vst::int64>(numBytes, 0, available);
    if (count > 0) {
        if (!buffer)
            return vst::kInvalidArgument;
        std::memcpy(buffer, data.data() + position, size_t(count));
        position += count;
    }
    if (numBytesRead)
        *numBytesRead = vst::int32(count);
    // Reading at or past the end succeeds with what is there (possibly
    // nothing): plug-ins read their state in fixed-size pieces until a read
    // gives no bytes, and take a failed read as a broken state.
    return position < 0 ? vst::kResultFalse : vst::kResultOk;
}

vst::tresult VST3MemoryStream::write(void* buffer, vst::int32 numBytes, vst::int32* numBytesWritten)
{
    if (numBytesWritten)
        *numBytesWritten = 0;
    if (numBytes < 1)
        return numBytes == 0 ? vst::kResultOk : vst::kInvalidArgument;
    if (!buffer)
        return vst::kInvalidArgument;
    if (vst::int64(data.size()) + numBytes > kMaxBytes) {
        refusedWrite = true;
        return vst::kOutOfMemory;
    }
    const char* bytes = static_cast<const char*>(buffer);
    data.insert(data.end(), bytes, bytes + numBytes);
    position = vst::int64(data.size());
    if (numBytesWritten)
        *numBytesWritten = numBytes;
    return vst::kResultOk;
}

vst::tresult VST3MemoryStream::seek(vst::int64 pos, vst::int32 mode, vst::int64* result)
{
    vst::int64 base = position;
    switch (mode) {
    case vst::kIBSeekSet:
        base = 0;
        break;
    case vst::kIBSeekCur:
        break;
    case vst::kIBSeekEnd:
        base = vst::int64(data.size());
        break;
    default:
        pos = 0;
        break;
    }
    // A position out of the 64-bit range leaves the stream where it was.
    vst::int64 moved = 0;
    if (__builtin_add_overflow(base, pos, &moved)) {
        if (result)
            *result = position;
        return vst::kInvalidArgument;
    }
    position = moved;
    if (result)
        *result = position;
    return vst::kResultOk;
}

vst::tresult VST3MemoryStream::tell(vst::int64* pos)
{
    if (pos)
        *pos = position;
    return vst::kResultOk;
}

// ---- event list ---------------------------------------------------------

vst::int32 VST3EventList::getEventCount()
{
    return vst::int32(events.size());
}

vst::tresult VST3EventList::getEvent(vst::int32 index, vst::Event& e)
{
    if (index < 0 || size_t(index) >= events.size())
        return vst::kResultFalse;
    e = events[size_t(index)];
    return vst::kResultOk;
}

vst::tresult VST3EventList::addEvent(vst::Event& e)
{
    events.push_back(e);
    return vst::kResultOk;
}
