#pragma once
// The message objects the host makes for plug-ins whose controller and
// processor talk through their connection points: a message with an id and
// an attribute list of named integers, floats, UTF-16 texts and bytes.

#include "plugins/VST3HostObjects.h"
#include "plugins/VST3Ptr.h"

#include <map>
#include <string>
#include <vector>

class VST3AttributeList final : public VST3HostObject<vst::IAttributeList> {
public:
    // Larger values are refused: a plug-in could otherwise ask for a copy
    // of gigabytes from a short buffer.
    static constexpr vst::uint32 kMaxBytes = 64u << 20;

    vst::tresult setInt(AttrID id, vst::int64 value) override;
    vst::tresult getInt(AttrID id, vst::int64& value) override;
    vst::tresult setFloat(AttrID id, double value) override;
    vst::tresult getFloat(AttrID id, double& value) override;
    vst::tresult setString(AttrID id, const vst::TChar* string) override;
    // Copies as much as fits, always terminated.
    vst::tresult getString(AttrID id, vst::TChar* string, vst::uint32 sizeInBytes) override;
    vst::tresult setBinary(AttrID id, const void* data, vst::uint32 sizeInBytes) override;
    // The bytes stay valid until the attribute is set again or the list goes.
    vst::tresult getBinary(AttrID id, const void*& data, vst::uint32& sizeInBytes) override;

private:
    struct Value {
        enum Kind { Int, Float, String, Binary } kind = Int;
        vst::int64 integer = 0;
        double number = 0.0;
        std::u16string text;
        std::vector<char> bytes;
    };
    const Value* find(AttrID id, Value::Kind kind) const;
    vst::tresult store(AttrID id, Value entry);

    std::map<std::string, Value> values;
};

class VST3Message final : public VST3HostObject<vst::IMessage> {
public:
    VST3Message();

    vst::FIDString getMessageID() override;
    void setMessageID(vst::FIDString id) override;
    vst::IAttributeList* getAttributes() override { return attributes.get(); }

private:
    std::string messageId;
    bool hasId = false;
    VST3Ptr<VST3AttributeList> attributes;
};
