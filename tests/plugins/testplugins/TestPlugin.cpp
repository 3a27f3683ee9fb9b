// Small VST3 modules the plug-in tests load, built from the host's own
// interface declarations. One source gives every variant (CDW_TEST_PLUGIN_KIND):
// a gain effect with a separate controller and an editor view, an instrument,
// and broken modules. Each appends the calls it receives, with their
// arguments, to the file named by CDW_TEST_PLUGIN_LOG, one line each. With
// CDW_TEST_PLUGIN_REFUSE_ACTIVE set, every variant refuses to be activated;
// with CDW_TEST_PLUGIN_MONO set, the main busses have one channel.

#include "plugins/VST3Interfaces.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vst;

#define CDW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum Kind {
    Gain = 0,
    Synth,
    NoEntry,
    NoFactory,
    NoAudioClass,
    InitFails,
    TwoClasses,
    SingleComponent,
    ZeroView,
    ControllerFails,
    NullInstance,
    Hostile,
    Throws,
    Unresolved,
    ThrowsLate,
};
constexpr int kKind = CDW_TEST_PLUGIN_KIND;
constexpr bool kInstrument = kKind == Synth;

const Uid kAudioClassA = Uid::fromWords(0xCD000001, 0x11111111, 0x22222222, 0x33333333);
const Uid kAudioClassB = Uid::fromWords(0xCD000002, 0x44444444, 0x55555555, 0x66666666);
const Uid kControllerClass = Uid::fromWords(0xCD0000C0, 0x77777777, 0x88888888, 0x99999999);

void logLine(const char* format, ...)
{
    const char* path = std::getenv("CDW_TEST_PLUGIN_LOG");
    if (!path || !*path)
        return;
    FILE* file = std::fopen(path, "a");
    if (!file)
        return;
    std::fprintf(file, "%s: ", CDW_TEST_PLUGIN_NAME);
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

// For CdwTestEdit and CdwTestLoadProgram.
std::atomic<IComponentHandler*> editHandler{nullptr};
class ParameterController;
std::atomic<ParameterController*> programTarget{nullptr};

bool sameId(const char* a, const Uid& b)
{
    return a && std::memcmp(a, b.bytes, 16) == 0;
}

void copyText(char* field, size_t size, const char* text)
{
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

void copyText16(TChar* field, const char16_t* text)
{
    int i = 0;
    for (; text[i] && i < 127; ++i)
        field[i] = text[i];
    field[i] = 0;
}

// Reference counting for objects offering several interfaces.
class RefCounted {
public:
    virtual ~RefCounted() = default;

protected:
    uint32 retain() { return uint32(++refs); }
    uint32 drop()
    {
        const int left = --refs;
        if (left == 0)
            delete this;
        return uint32(left < 0 ? 0 : left);
    }

private:
    std::atomic<int> refs{1};
};

#define CDW_REFCOUNT                                  \
    uint32 addRef() override { return retain(); }     \
    uint32 release() override { return drop(); }

// Gain read from 4 bytes of state.
bool readGain(IBStream* state, float& gain)
{
    int32 read = 0;
    float value = 0.0f;
    if (!state || state->read(&value, 4, &read) != kResultOk || read != 4)
        return false;
    gain = value;
    return true;
}

// ---- editor view ------------------------------------------------------------

class View final : public IPlugView, public RefCounted {
public:
    View() { logLine("view created"); }
    ~View() override { logLine("view destroyed"); }
    CDW_REFCOUNT
    tresult queryInterface(const TUID queried, void** obj) override
    {
        if (FUnknown::iid.matches(queried) || IPlugView::iid.matches(queried)) {
            retain();
            *obj = static_cast<IPlugView*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    tresult isPlatformTypeSupported(FIDString type) override
    {
        return type && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultOk : kResultFalse;
    }
    tresult attached(void* parent, FIDString type) override
    {
        logLine("view attached %llu %s", (unsigned long long)(uintptr_t)parent, type ? type : "(null)");
        return kResultOk;
    }
    tresult removed() override
    {
        logLine("view removed");
        return kResultOk;
    }
    tresult onWheel(float) override { return kResultOk; }
    tresult onKeyDown(TChar, int16, int16) override { return kResultOk; }
    tresult onKeyUp(TChar, int16, int16) override { return kResultOk; }
    tresult getSize(ViewRect* size) override
    {
        if (!size)
            return kInvalidArgument;
        if (kKind == ZeroView)
            *size = ViewRect{10, 10, 10, 10};
        else if (kKind == Hostile)
            *size = ViewRect{0, 0, -400, -300};
        else
            *size = ViewRect{0, 0, 400, 300};
        return kResultOk;
    }
    tresult onSize(ViewRect*) override { return kResultOk; }
    tresult onFocus(TBool) override { return kResultOk; }
    tresult setFrame(IPlugFrame* frame) override
    {
        bool runLoop = false;
        if (frame) {
            void* loop = nullptr;
            if (frame->queryInterface(IRunLoop::iid.bytes, &loop) == kResultOk && loop) {
                runLoop = true;
                static_cast<IRunLoop*>(loop)->release();
            }
        }
        logLine("view setFrame %s runloop=%d", frame ? "set" : "null", int(runLoop));
        return kResultOk;
    }
    tresult canResize() override { return kResultFalse; }
    tresult checkSizeConstraint(ViewRect*) override { return kResultOk; }
};

// ---- edit-controller part shared by the controller and the single component --

// Two parameters (ids 100 and 101, the second titled with non-ASCII letters)
// and the editor view. The plug-in base calls (initialize, terminate, state)
// are left to the class that also is a component or a controller.
class ParameterController : public IEditController {
public:
    explicit ParameterController(const char* role) : role(role) {}

    int32 getParameterCount() override { return kKind == Hostile ? -7 : 2; }
    tresult getParameterInfo(int32 index, ParameterInfo& out) override
    {
        if (index < 0 || index > 1)
            return kInvalidArgument;
        std::memset(&out, 0, sizeof out);
        out.id = ParamID(100 + index);
        copyText16(out.title, index == 0 ? u"Gain" : u"Gr\u00f6\u00dfe");
        copyText16(out.shortTitle, index == 0 ? u"G" : u"S");
        out.defaultNormalizedValue = values[index];
        return kResultOk;
    }
    tresult getParamStringByValue(ParamID, ParamValue, String128) override { return kNotImplemented; }
    tresult getParamValueByString(ParamID, TChar*, ParamValue&) override { return kNotImplemented; }
    ParamValue normalizedParamToPlain(ParamID, ParamValue value) override { return value; }
    ParamValue plainParamToNormalized(ParamID, ParamValue value) override { return value; }
    ParamValue getParamNormalized(ParamID id) override
    {
        ParamValue* value = find(id);
        return value ? *value : 0.0;
    }
    tresult setParamNormalized(ParamID id, ParamValue value) override
    {
        logLine("%s setParamNormalized %u %.4f", role, id, value);
        // Controllers belong to the host's main thread.
        if (syscall(SYS_gettid) != getpid())
            logLine("%s setParamNormalized off the main thread", role);
        ParamValue* slot = find(id);
        if (!slot)
            return kInvalidArgument;
        *slot = value;
        return kResultOk;
    }
    tresult setComponentHandler(IComponentHandler* handler) override
    {
        logLine("%s setComponentHandler %s", role, handler ? "set" : "null");
        editHandler = handler;
        programTarget = handler ? this : nullptr;
        return kResultOk;
    }
    void loadProgram(double gain)
    {
        values[0] = gain;
        if (IComponentHandler* handler = editHandler)
            handler->restartComponent(kParamValuesChanged);
    }
    IPlugView* createView(FIDString name) override
    {
        logLine("%s createView %s", role, name ? name : "(null)");
        return name && std::strcmp(name, kEditorViewName) == 0 ? new View : nullptr;
    }

protected:
    ParamValue* find(ParamID id) { return id == 100 ? &values[0] : id == 101 ? &values[1] : nullptr; }

    const char* role;
    ParamValue values[2] = {1.0, 0.5};
};

// ---- edit controller ----------------------------------------------------------

class Controller final : public ParameterController, public IConnectionPoint, public RefCounted {
public:
    Controller() : ParameterController("controller") { logLine("controller created"); }
    ~Controller() override { logLine("controller destroyed"); }
    CDW_REFCOUNT
    tresult queryInterface(const TUID queried, void** obj) override
    {
        if (FUnknown::iid.matches(queried) || IPluginBase::iid.matches(queried) ||
            IEditController::iid.matches(queried)) {
            retain();
            *obj = static_cast<IEditController*>(this);
            return kResultOk;
        }
        if (IConnectionPoint::iid.matches(queried)) {
            retain();
            *obj = static_cast<IConnectionPoint*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    tresult initialize(FUnknown* context) override
    {
        logLine("controller initialize %s", context ? "host" : "null");
        return kKind == ControllerFails ? kResultFalse : kResultOk;
    }
    tresult terminate() override
    {
        logLine("controller terminate");
        return kResultOk;
    }
    tresult setComponentState(IBStream* state) override
    {
        float gain = 0.0f;
        const bool read = readGain(state, gain);
        if (read)
            values[0] = gain;
        logLine("controller setComponentState %s", read ? "gain" : "empty");
        return kResultOk;
    }
    tresult setState(IBStream*) override { return kResultOk; }
    tresult getState(IBStream*) override { return kResultOk; }
    tresult connect(IConnectionPoint*) override
    {
        logLine("controller connect");
        return kResultOk;
    }
    tresult disconnect(IConnectionPoint*) override
    {
        logLine("controller disconnect");
        return kResultOk;
    }
    tresult notify(IMessage* message) override
    {
        int64 answer = -1;
        if (message && message->getAttributes())
            message->getAttributes()->getInt("answer", answer);
        logLine("controller notify %s %lld", message && message->getMessageID() ? message->getMessageID() : "",
                (long long)answer);
        return kResultOk;
    }
};

// ---- audio component ------------------------------------------------------------

// The component also carries an edit controller, which it offers only in the
// single-component variant.
class Component final : public IComponent,
                        public IAudioProcessor,
                        public IConnectionPoint,
                        public ParameterController,
                        public RefCounted {
public:
    Component() : ParameterController("component") { logLine("component created"); }
    ~Component() override { logLine("component destroyed"); }
    CDW_REFCOUNT
    tresult queryInterface(const TUID queried, void** obj) override
    {
        void* found = nullptr;
        if (FUnknown::iid.matches(queried) || IPluginBase::iid.matches(queried) ||
            IComponent::iid.matches(queried))
            found = static_cast<IComponent*>(this);
        else if (IAudioProcessor::iid.matches(queried))
            found = static_cast<IAudioProcessor*>(this);
        else if (IConnectionPoint::iid.matches(queried))
            found = static_cast<IConnectionPoint*>(this);
        else if (kKind == SingleComponent && IEditController::iid.matches(queried))
            found = static_cast<IEditController*>(this);
        *obj = found;
        if (!found)
            return kNoInterface;
        retain();
        return kResultOk;
    }

    // IPluginBase (shared by IComponent and IEditController)
    tresult initialize(FUnknown* context) override
    {
        logLine("component initialize %s", context ? "host" : "null");
        if (context)
            context->queryInterface(IHostApplication::iid.bytes, reinterpret_cast<void**>(&host));
        if (kKind == Throws)
            throw std::runtime_error("initialize");
        return kKind == InitFails ? kResultFalse : kResultOk;
    }
    tresult terminate() override
    {
        logLine("component terminate");
        if (host)
            host->release();
        host = nullptr;
        return kResultOk;
    }

    // IComponent
    tresult getControllerClassId(TUID classId) override
    {
        if (kKind == Synth || kKind == SingleComponent)
            return kResultFalse;
        std::memcpy(classId, kControllerClass.bytes, 16);
        return kResultOk;
    }
    tresult setIoMode(int32) override { return kResultOk; }
    int32 getBusCount(int32 type, int32 dir) override
    {
        if (kKind == Hostile)
            return dir == kInput ? 1000000 : -5;
        if (type == kEvent)
            return kInstrument && dir == kInput ? 1 : 0;
        if (dir == kInput)
            return kInstrument ? 0 : 2;
        return 1;
    }
    tresult getBusInfo(int32 type, int32 dir, int32 index, BusInfo& bus) override
    {
        std::memset(&bus, 0, sizeof bus);
        bus.mediaType = type;
        bus.direction = dir;
        if (kKind == Hostile) {
            bus.channelCount = 1 << 30;
            bus.busType = kMain;
            return kResultOk;
        }
        if (index < 0 || index >= getBusCount(type, dir))
            return kInvalidArgument;
        bus.busType = index == 0 ? kMain : kAux;
        const int mainChannels = std::getenv("CDW_TEST_PLUGIN_MONO") ? 1 : 2;
        bus.channelCount = type == kEvent ? 16 : (index == 0 ? mainChannels : 1);
        bus.flags = index == 0 ? uint32(kDefaultActive) : 0u;
        copyText16(bus.name, index == 0 ? u"Main" : u"Side");
        return kResultOk;
    }
    tresult getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult activateBus(int32 type, int32 dir, int32 index, TBool state) override
    {
        if (kKind != Hostile)
            logLine("activateBus %s %s %d %d", type == kAudio ? "audio" : "event", dir == kInput ? "in" : "out",
                    index, int(state));
        return kResultOk;
    }
    tresult setActive(TBool state) override
    {
        logLine("setActive %d", int(state));
        if (state && std::getenv("CDW_TEST_PLUGIN_REFUSE_ACTIVE"))
            return kResultFalse;
        if (!state)
            level = 0.0f;
        return kResultOk;
    }
    tresult setState(IBStream* state) override
    {
        float value = 0.0f;
        if (kInstrument) {
            logLine("setState instrument");
            return kResultOk;
        }
        if (!readGain(state, value)) {
            logLine("setState refused");
            return kResultFalse;
        }
        gain = value;
        logLine("setState gain=%.4f", gain);
        return kResultOk;
    }
    tresult getState(IBStream* state) override
    {
        if (!state)
            return kInvalidArgument;
        int32 written = 0;
        if (kKind == Hostile) {
            char small[4] = {};
            const tresult result = state->write(small, 0x7FFFFFFF, &written);
            logLine("getState absurd result=%d written=%d", result, written);
            return kResultOk;
        }
        if (kInstrument)
            return kResultOk; // an instrument without state writes nothing
        float value = gain;
        state->write(&value, 4, &written);
        logLine("getState gain=%.4f", gain);
        return written == 4 ? kResultOk : kResultFalse;
    }

    // IAudioProcessor
    tresult setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
    {
        return kResultFalse;
    }
    tresult getBusArrangement(int32, int32, SpeakerArrangement& arrangement) override
    {
        arrangement = kSpeakerStereo;
        return kResultOk;
    }
    tresult canProcessSampleSize(int32 size) override { return size == kSample32 ? kResultOk : kResultFalse; }
    uint32 getLatencySamples() override { return 0; }
    tresult setupProcessing(ProcessSetup& setup) override
    {
        logLine("setupProcessing mode=%d size=%d max=%d rate=%.0f", setup.processMode, setup.symbolicSampleSize,
                setup.maxSamplesPerBlock, setup.sampleRate);
        if (kKind == ThrowsLate)
            throw std::runtime_error("setupProcessing");
        return kResultOk;
    }
    tresult setProcessing(TBool state) override
    {
        logLine("setProcessing %d", int(state));
        return kResultOk;
    }
    tresult process(ProcessData& data) override
    {
        logProcess(data);
        if (kInstrument)
            renderLevel(data);
        else {
            exchangeParameters(data);
            applyGain(data);
        }
        return kResultOk;
    }
    uint32 getTailSamples() override { return 0; }

    // IConnectionPoint
    tresult connect(IConnectionPoint* other) override
    {
        logLine("component connect %s", other == static_cast<IConnectionPoint*>(this) ? "self" : "other");
        IMessage* message = nullptr;
        if (host && other &&
            host->createInstance(const_cast<char*>(IMessage::iid.bytes), const_cast<char*>(IMessage::iid.bytes),
                                 reinterpret_cast<void**>(&message)) == kResultOk &&
            message) {
            message->setMessageID("hello");
            message->getAttributes()->setInt("answer", 42);
            other->notify(message);
            message->release();
        }
        return kResultOk;
    }
    tresult disconnect(IConnectionPoint*) override
    {
        logLine("component disconnect");
        return kResultOk;
    }
    tresult notify(IMessage*) override { return kResultOk; }

    // IEditController (single-component variant only; the rest is shared)
    tresult setComponentState(IBStream*) override
    {
        logLine("component setComponentState");
        return kResultOk;
    }

private:
    static int busChannels(const ProcessData& data, bool input, int bus)
    {
        const int32 count = input ? data.numInputs : data.numOutputs;
        const AudioBusBuffers* busses = input ? data.inputs : data.outputs;
        return bus < count && busses ? int(busses[bus].numChannels) : -1;
    }

    // Gain from parameter 100's last point; parameter 101 reported as half the gain.
    void exchangeParameters(ProcessData& data)
    {
        IParameterChanges* in = data.inputParameterChanges;
        for (int32 i = 0; in && i < in->getParameterCount(); ++i) {
            IParamValueQueue* queue = in->getParameterData(i);
            int32 offset = 0;
            ParamValue value = 0.0;
            const int32 points = queue ? queue->getPointCount() : 0;
            if (points < 1 || queue->getPoint(points - 1, offset, value) != kResultOk)
                continue;
            logLine("parameter %u=%.4f at %d", queue->getParameterId(), value, offset);
            if (queue->getParameterId() == 100)
                gain = float(value);
        }
        int32 index = 0;
        IParameterChanges* out = data.outputParameterChanges;
        if (IParamValueQueue* queue = out ? out->addParameterData(101, index) : nullptr)
            queue->addPoint(0, gain / 2.0, index);
    }

    void logProcess(const ProcessData& data)
    {
        const int events = data.inputEvents ? data.inputEvents->getEventCount() : 0;
        int aliased = 0;
        if (data.numInputs > 0 && data.numOutputs > 0)
            for (int i = 0; i < data.inputs[0].numChannels; ++i)
                for (int o = 0; o < data.outputs[0].numChannels; ++o)
                    aliased += data.inputs[0].channelBuffers32[i] == data.outputs[0].channelBuffers32[o] ? 1 : 0;
        logLine("process mode=%d size=%d n=%d ins=%d outs=%d in0=%d out0=%d events=%d aliased=%d state=%u rate=%.0f",
                data.processMode, data.symbolicSampleSize, data.numSamples, data.numInputs, data.numOutputs,
                busChannels(data, true, 0), busChannels(data, false, 0), events, aliased,
                data.processContext ? data.processContext->state : 0u,
                data.processContext ? data.processContext->sampleRate : 0.0);
        for (int i = 0; i < events; ++i) {
            Event e{};
            if (data.inputEvents->getEvent(i, e) != kResultOk)
                continue;
            if (e.type == kNoteOnEvent)
                logLine("noteOn bus=%d offset=%d ch=%d pitch=%d vel=%.4f id=%d", e.busIndex, e.sampleOffset,
                        e.noteOn.channel, e.noteOn.pitch, e.noteOn.velocity, e.noteOn.noteId);
            else if (e.type == kNoteOffEvent)
                logLine("noteOff bus=%d offset=%d ch=%d pitch=%d vel=%.4f id=%d", e.busIndex, e.sampleOffset,
                        e.noteOff.channel, e.noteOff.pitch, e.noteOff.velocity, e.noteOff.noteId);
        }
    }

    // out = in × gain over the main busses' common channels.
    void applyGain(ProcessData& data)
    {
        if (data.numOutputs < 1 || data.numInputs < 1)
            return;
        const AudioBusBuffers& in = data.inputs[0];
        const AudioBusBuffers& out = data.outputs[0];
        const int channels = in.numChannels < out.numChannels ? in.numChannels : out.numChannels;
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < data.numSamples; ++i)
                out.channelBuffers32[c][i] = in.channelBuffers32[c][i] * gain;
    }

    // A constant level on every output channel: a note on's velocity from its
    // offset on, zero from a note off's offset on.
    void renderLevel(ProcessData& data)
    {
        if (data.numOutputs < 1)
            return;
        const AudioBusBuffers& out = data.outputs[0];
        int32 eventCount = data.inputEvents ? data.inputEvents->getEventCount() : 0;
        int32 next = 0;
        for (int i = 0; i < data.numSamples; ++i) {
            Event e{};
            while (next < eventCount && data.inputEvents->getEvent(next, e) == kResultOk && e.sampleOffset <= i) {
                level = e.type == kNoteOnEvent ? e.noteOn.velocity : 0.0f;
                ++next;
            }
            for (int c = 0; c < out.numChannels; ++c)
                out.channelBuffers32[c][i] = level;
        }
    }

    float gain = 1.0f;
    float level = 0.0f;
    IHostApplication* host = nullptr;
};

// ---- factory ----------------------------------------------------------------------

struct ClassEntry {
    Uid id;
    const char* category;
    const char* name;
    const char* subCategories;
};

const ClassEntry kGainClasses[] = {
    {kAudioClassA, kAudioModuleClass, "Cdw Gain", "Fx|Dynamics"},
    {kControllerClass, kComponentControllerClass, "Cdw Gain Controller", ""},
};
const ClassEntry kSynthClasses[] = {{kAudioClassA, kAudioModuleClass, "Cdw Synth", "Instrument|Synth"}};
const ClassEntry kControllerOnly[] = {{kControllerClass, kComponentControllerClass, "Cdw Controller", ""}};
const ClassEntry kTwoAudioClasses[] = {
    {kAudioClassA, kAudioModuleClass, "Cdw Gain A", "Fx"},
    {kAudioClassB, kAudioModuleClass, "Cdw Gain B", "Fx"},
    {kControllerClass, kComponentControllerClass, "Cdw Gain Controller", ""},
};
const ClassEntry kSingleClass[] = {{kAudioClassA, kAudioModuleClass, "Cdw Single", "Fx"}};

template <size_t N>
constexpr size_t countOf(const ClassEntry (&)[N])
{
    return N;
}

const ClassEntry* classTable(int32& count)
{
    switch (kKind) {
    case Synth:
        count = int32(countOf(kSynthClasses));
        return kSynthClasses;
    case NoAudioClass:
        count = int32(countOf(kControllerOnly));
        return kControllerOnly;
    case TwoClasses:
        count = int32(countOf(kTwoAudioClasses));
        return kTwoAudioClasses;
    case SingleComponent:
        count = int32(countOf(kSingleClass));
        return kSingleClass;
    default:
        count = int32(countOf(kGainClasses));
        return kGainClasses;
    }
}

class Factory final : public IPluginFactory2, public RefCounted {
public:
    ~Factory() override { logLine("factory destroyed"); }
    CDW_REFCOUNT
    tresult queryInterface(const TUID queried, void** obj) override
    {
        if (FUnknown::iid.matches(queried) || IPluginFactory::iid.matches(queried) ||
            IPluginFactory2::iid.matches(queried)) {
            retain();
            *obj = static_cast<IPluginFactory2*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    tresult getFactoryInfo(PFactoryInfo* info) override
    {
        std::memset(info, 0, sizeof *info);
        copyText(info->vendor, sizeof info->vendor, "Calderwyn Test");
        return kResultOk;
    }
    int32 countClasses() override
    {
        int32 count = 0;
        classTable(count);
        return kKind == Hostile ? (1 << 30) : count;
    }
    tresult getClassInfo(int32 index, PClassInfo* info) override
    {
        PClassInfo2 full{};
        const tresult result = getClassInfo2(index, &full);
        if (result == kResultOk) {
            std::memcpy(info->cid, full.cid, 16);
            info->cardinality = full.cardinality;
            std::memcpy(info->category, full.category, sizeof info->category);
            std::memcpy(info->name, full.name, sizeof info->name);
        }
        return result;
    }
    tresult getClassInfo2(int32 index, PClassInfo2* info) override
    {
        int32 count = 0;
        const ClassEntry* table = classTable(count);
        if (index < 0 || index >= count)
            return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, table[index].id.bytes, 16);
        info->cardinality = 0x7FFFFFFF;
        copyText(info->category, sizeof info->category, table[index].category);
        copyText(info->name, sizeof info->name, table[index].name);
        copyText(info->subCategories, sizeof info->subCategories, table[index].subCategories);
        copyText(info->vendor, sizeof info->vendor, "Calderwyn Test");
        if (kKind == Hostile) {
            // Every text field filled to its end, with no terminating zero.
            std::memset(info->name, 'H', sizeof info->name);
            std::memset(info->vendor, 'V', sizeof info->vendor);
            std::memset(info->subCategories, 'S', sizeof info->subCategories);
        }
        return kResultOk;
    }
    tresult createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        *obj = nullptr;
        if (kKind == NullInstance)
            return kResultOk; // success without an object
        FUnknown* created = nullptr;
        if (sameId(cid, kAudioClassA) || sameId(cid, kAudioClassB)) {
            logLine("createInstance component %s", sameId(cid, kAudioClassB) ? "B" : "A");
            created = static_cast<IComponent*>(new Component);
        } else if (sameId(cid, kControllerClass)) {
            logLine("createInstance controller");
            created = static_cast<IEditController*>(new Controller);
        } else {
            return kInvalidArgument;
        }
        const tresult result = created->queryInterface(iid, obj);
        created->release();
        return result;
    }
};

} // namespace

#if CDW_TEST_PLUGIN_KIND == 13
// Defined nowhere, as in a library built against a newer system library.
extern "C" void cdwSymbolNobodyDefines();
#endif

CDW_EXPORT bool ModuleEntry(void*)
{
    logLine("ModuleEntry");
#if CDW_TEST_PLUGIN_KIND == 13
    cdwSymbolNobodyDefines();
#endif
    return kKind != NoEntry;
}

// A knob turned, then a program chosen, in the plug-in's editor.
CDW_EXPORT bool CdwTestEdit(ParamID id, ParamValue value)
{
    IComponentHandler* handler = editHandler;
    if (!handler)
        return false;
    handler->beginEdit(id);
    const tresult result = handler->performEdit(id, value);
    handler->endEdit(id);
    return result == kResultOk;
}

CDW_EXPORT bool CdwTestLoadProgram(ParamValue gain)
{
    ParameterController* controller = programTarget;
    if (!controller)
        return false;
    controller->loadProgram(gain);
    return true;
}

CDW_EXPORT bool ModuleExit()
{
    logLine("ModuleExit");
    return true;
}

#if CDW_TEST_PLUGIN_KIND != 3 // the no-factory variant leaves the export out
CDW_EXPORT IPluginFactory* GetPluginFactory()
{
    logLine("GetPluginFactory");
    return new Factory;
}
#endif
