#pragma once
// The objects the host hands to plug-ins: its identity, the sink for edits
// made in a plug-in's editor, the byte stream of plug-in state and the list
// of input events of one process call. Each offers only its own interface.

#include "plugins/VST3Interfaces.h"

#include <atomic>
#include <memory>
#include <vector>

class VST3PendingParameters;

// Reference counting and interface lookup shared by the host objects.
// A program-wide object (DeleteAtZero false) survives a plug-in that gives
// back more references than it took.
template <class Interface, bool DeleteAtZero = true>
class VST3HostObject : public Interface {
public:
    vst::tresult queryInterface(const vst::TUID queried, void** obj) override
    {
        if (!obj)
            return vst::kInvalidArgument;
        if (vst::FUnknown::iid.matches(queried) || Interface::iid.matches(queried)) {
            addRef();
            *obj = static_cast<Interface*>(this);
            return vst::kResultOk;
        }
        *obj = nullptr;
        return vst::kNoInterface;
    }
    vst::uint32 addRef() override { return vst::uint32(refCount.fetch_add(1) + 1); }
    vst::uint32 release() override
    {
        const int left = refCount.fetch_sub(1) - 1;
        if (left > 0)
            return vst::uint32(left);
        if (DeleteAtZero)
            delete this;
        else
            refCount.store(1);
        return 0;
    }
    int references() const { return refCount.load(); }

protected:
    VST3HostObject() = default;
    virtual ~VST3HostObject() = default;

private:
    std::atomic<int> refCount{1};
};

class VST3HostApplication final : public VST3HostObject<vst::IHostApplication, false> {
public:
    // The one program-wide instance, shared by every plug-in.
    static VST3HostApplication* instance();

    vst::tresult getName(vst::String128 name) override;
    vst::tresult createInstance(vst::TUID cid, vst::TUID iid, void** obj) override;
};

// Receives the edits a plug-in's editor reports and hands each value on to
// the processor with the next block; when the controller says its values
// changed (a program was loaded), passes on those that moved. One per
// plug-in instance.
class VST3ComponentHandler final : public VST3HostObject<vst::IComponentHandler> {
public:
    explicit VST3ComponentHandler(std::shared_ptr<VST3PendingParameters> pending);

    // The controller whose values are read after a program change; not
    // owned (it holds this handler), so detached before it is released.
    void attach(vst::IEditController* editController) { controller = editController; }

    vst::tresult beginEdit(vst::ParamID id) override;
    vst::tresult performEdit(vst::ParamID id, vst::ParamValue valueNormalized) override;
    vst::tresult endEdit(vst::ParamID id) override;
    vst::tresult restartComponent(vst::int32 flags) override;

private:
    std::shared_ptr<VST3PendingParameters> pending;
    std::atomic<vst::IEditController*> controller{nullptr};
};

// Plug-in state in memory. Writes always append at the end; reads start at
// the position, which seeks may move anywhere (reads outside the bytes read
// nothing). A read that reaches the end gives what is there and succeeds.
class VST3MemoryStream final : public VST3HostObject<vst::IBStream> {
public:
    // A plug-in's state larger than this is refused (a broken plug-in could
    // otherwise ask the host to copy gigabytes from a short buffer).
    static constexpr vst::int64 kMaxBytes = vst::int64(256) << 20;

    VST3MemoryStream() = default;
    explicit VST3MemoryStream(std::vector<char> bytes) : data(std::move(bytes)) {}

    vst::tresult read(void* buffer, vst::int32 numBytes, vst::int32* numBytesRead) override;
    vst::tresult write(void* buffer, vst::int32 numBytes, vst::int32* numBytesWritten) override;
    vst::tresult seek(vst::int64 pos, vst::int32 mode, vst::int64* result) override;
    vst::tresult tell(vst::int64* pos) override;

    const std::vector<char>& bytes() const { return data; }
    // True when a write was refused for its size: the stream is incomplete.
    bool overflowed() const { return refusedWrite; }

private:
    std::vector<char> data;
    vst::int64 position = 0;
    bool refusedWrite = false;
};

class VST3EventList final : public VST3HostObject<vst::IEventList> {
public:
    vst::int32 getEventCount() override;
    vst::tresult getEvent(vst::int32 index, vst::Event& e) override;
    vst::tresult addEvent(vst::Event& e) override;

    void clear() { events.clear(); }

private:
    std::vector<vst::Event> events;
};
