#include "VST3Message.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMaxTextUnits = VST3AttributeList::kMaxBytes / sizeof(vst::TChar);

} // namespace

const VST3AttributeList::Value* VST3AttributeList::find(AttrID id, Value::Kind kind) const
{
    if (!id)
        return nullptr;
    const auto it = values.find(id);
    return it != values.end() && it->second.kind == kind ? &it->second : nullptr;
}

vst::tresult VST3AttributeList::store(AttrID id, Value entry)
{
    if (!id)
        return vst::kInvalidArgument;
    values[id] = std::move(entry);
    return vst::kResultOk;
}

vst::tresult VST3AttributeList::setInt(AttrID id, vst::int64 value)
{
    Value entry;
    entry.kind = Value::Int;
    entry.integer = value;
    return store(id, std::move(entry));
}

vst::tresult VST3AttributeList::getInt(AttrID id, vst::int64& value)
{
    const Value* entry = find(id, Value::Int);
    if (!entry)
        return vst::kResultFalse;
    value = entry->integer;
    return vst::kResultOk;
}

vst::tresult VST3AttributeList::setFloat(AttrID id, double value)
{
    Value entry;
    entry.kind = Value::Float;
    entry.number = value;
    return store(id, std::move(entry));
}

vst::tresult VST3AttributeList::getFloat(AttrID id, double& value)
{
    const Value* entry = find(id, Value::Float);
    if (!entry)
        return vst::kResultFalse;
    value = entry->number;
    return vst::kResultOk;
}

vst::tresult VST3AttributeList::setString(AttrID id, const vst::TChar* string)
{
    if (!id || !string)
        return vst::kInvalidArgument;
    size_t length = 0;
    while (string[length] != 0) {
        if (++length > kMaxTextUnits)
            return vst::kOutOfMemory;
    }
    Value entry;
    entry.kind = Value::String;
    entry.text.assign(string, length);
    return store(id, std::move(entry));
}

vst::tresult VST3AttributeList::getString(AttrID id, vst::TChar* string, vst::uint32 sizeInBytes)
{
    const Value* entry = find(id, Value::String);
    if (!entry)
        return vst::kResultFalse;
    const size_t room = sizeInBytes / sizeof(vst::TChar);
    if (!string || room == 0)
        return vst::kInvalidArgument;
    const size_t count = std::min(entry->text.size(), room - 1);
    std::copy(entry->text.begin(), entry->text.begin() + count, string);
    string[count] = 0;
    return vst::kResultOk;
}

vst::tresult VST3AttributeList::setBinary(AttrID id, const void* data, vst::uint32 sizeInBytes)
{
    if (!id || (!data && sizeInBytes > 0))
        return vst::kInvalidArgument;
    if (sizeInBytes > kMaxBytes)
        return vst::kOutOfMemory;
    Value entry;
    entry.kind = Value::Binary;
    const char* bytes = static_cast<const char*>(data);
    entry.bytes.assign(bytes, bytes + sizeInBytes);
    return store(id, std::move(entry));
}

vst::tresult VST3AttributeList::getBinary(AttrID id, const void*& data, vst::uint32& sizeInBytes)
{
    const Value* entry = find(id, Value::Binary);
    if (!entry)
        return vst::kResultFalse;
    data = entry->bytes.data();
    sizeInBytes = vst::uint32(entry->bytes.size());
    return vst::kResultOk;
}

VST3Message::VST3Message() : attributes(new VST3AttributeList) {}

vst::FIDString VST3Message::getMessageID()
{
    return hasId ? messageId.c_str() : nullptr;
}

void VST3Message::setMessageID(vst::FIDString id)
{
    hasId = id != nullptr;
    messageId = id ? id : "";
}
