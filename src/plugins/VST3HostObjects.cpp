#include "VST3HostObjects.h"

#include <algorithm>
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

vst::tresult VST3HostApplication::createInstance(vst::TUID, vst::TUID, void** obj)
{
    // The host makes no message or attribute objects for plug-ins.
    if (obj)
        *obj = nullptr;
    return vst::kResultFalse;
}

// ---- component handler --------------------------------------------------

VST3ComponentHandler* VST3ComponentHandler::instance()
{
    static VST3ComponentHandler* const handler = new VST3ComponentHandler;
    return handler;
}

// Edits made in a plug-in's own editor are neither recorded nor forwarded.
vst::tresult VST3ComponentHandler::beginEdit(vst::ParamID) { return vst::kResultOk; }
vst::tresult VST3ComponentHandler::performEdit(vst::ParamID, vst::ParamValue) { return vst::kResultOk; }
vst::tresult VST3ComponentHandler::endEdit(vst::ParamID) { return vst::kResultOk; }
vst::tresult VST3ComponentHandler::restartComponent(vst::int32) { return vst::kResultOk; }

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
