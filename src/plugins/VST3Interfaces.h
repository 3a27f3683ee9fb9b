#pragma once
// Our own declarations of the VST3 binary interface as it is laid out on
// x86-64 Linux: basic types, result codes, interface ids, the pure virtual
// interfaces in their slot order and the records passed through them. The
// sizes and offsets are checked below; the host and the test plug-ins both
// build on this header, so it must stay free of anything but the interface.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vst {

using int16 = int16_t;
using int32 = int32_t;
using int64 = int64_t;
using uint16 = uint16_t;
using uint32 = uint32_t;
using uint64 = uint64_t;
using tresult = int32_t;
using TBool = uint8_t;
using TChar = char16_t;
using ParamID = uint32_t;
using ParamValue = double;
using String128 = TChar[128];
using TUID = char[16];
using FIDString = const char*;
using SpeakerArrangement = uint64_t;

enum : tresult {
    kNoInterface = -1,
    kResultOk = 0,
    kResultTrue = 0,
    kResultFalse = 1,
    kInvalidArgument = 2,
    kNotImplemented = 3,
    kInternalError = 4,
    kNotInitialized = 5,
    kOutOfMemory = 6,
};

// Media types, bus directions and bus types.
enum : int32 { kAudio = 0, kEvent = 1 };
enum : int32 { kInput = 0, kOutput = 1 };
enum : int32 { kMain = 0, kAux = 1 };
enum : uint32 { kDefaultActive = 1 };
// Process modes and sample sizes.
enum : int32 { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
enum : int32 { kSample32 = 0, kSample64 = 1 };
// Event types.
enum : uint16 { kNoteOnEvent = 0, kNoteOffEvent = 1 };
// Stream seek modes.
enum : int32 { kIBSeekSet = 0, kIBSeekCur = 1, kIBSeekEnd = 2 };
// IComponentHandler::restartComponent flag: the controller's parameter
// values changed (a program was loaded).
enum : int32 { kParamValuesChanged = 1 << 2 };
// ParameterInfo::flags
enum : int32 { kParameterIsReadOnly = 1 << 1 };
// ProcessContext state bit: the transport is playing.
enum : uint32 { kPlaying = 2 };

constexpr SpeakerArrangement kSpeakerMono = SpeakerArrangement(1) << 19;
constexpr SpeakerArrangement kSpeakerStereo = 3;

constexpr const char* kAudioModuleClass = "Audio Module Class";
constexpr const char* kComponentControllerClass = "Component Controller Class";
constexpr const char* kInstrumentSubCategory = "Instrument";
constexpr const char* kEditorViewName = "editor";
constexpr const char* kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";

// A 16-byte class or interface id. On Linux the four 32-bit words of its
// written form are each stored big-endian, in order.
struct Uid {
    char bytes[16];

    static constexpr Uid fromWords(uint32 a, uint32 b, uint32 c, uint32 d)
    {
        Uid id{};
        const uint32 words[4] = {a, b, c, d};
        for (int w = 0; w < 4; ++w)
            for (int k = 0; k < 4; ++k)
                id.bytes[w * 4 + k] = char((words[w] >> (24 - 8 * k)) & 0xFF);
        return id;
    }
    static Uid fromBytes(const char* raw)
    {
        Uid id{};
        std::memcpy(id.bytes, raw, 16);
        return id;
    }
    bool matches(const char* raw) const { return raw && std::memcmp(bytes, raw, 16) == 0; }
    bool operator==(const Uid& other) const { return std::memcmp(bytes, other.bytes, 16) == 0; }
    bool operator!=(const Uid& other) const { return !(*this == other); }
};

// ---- records ------------------------------------------------------------

struct PFactoryInfo {
    char vendor[64];
    char url[256];
    char email[128];
    int32 flags;
};

struct PClassInfo {
    TUID cid;
    int32 cardinality;
    char category[32];
    char name[64];
};

struct PClassInfo2 {
    TUID cid;
    int32 cardinality;
    char category[32];
    char name[64];
    uint32 classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct BusInfo {
    int32 mediaType;
    int32 direction;
    int32 channelCount;
    String128 name;
    int32 busType;
    uint32 flags;
};

struct RoutingInfo; // never used by this host

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    int32 unitId;
    int32 flags;
};

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

// Only the state and the sample rate are filled by this host; the rest of
// the record (positions, tempo, signature, chord, SMPTE, clock) stays zero.
struct ProcessContext {
    uint32 state;
    double sampleRate;
    char unusedFields[96];
};

struct NoteOnEvent {
    int16 channel;
    int16 pitch;
    float tuning;
    float velocity;
    int32 length;
    int32 noteId;
};

struct NoteOffEvent {
    int16 channel;
    int16 pitch;
    float velocity;
    int32 noteId;
    float tuning;
};

struct Event {
    int32 busIndex;
    int32 sampleOffset;
    double ppqPosition;
    uint16 flags;
    uint16 type;
    union {
        NoteOnEvent noteOn;
        NoteOffEvent noteOff;
        // The larger event kinds this host never sends; some hold pointers,
        // which give the union its 8-byte alignment.
        uint64 otherEvent[3];
    };
};

struct ViewRect {
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

class IEventList;
class IParameterChanges;

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

// ---- interfaces ---------------------------------------------------------
// Interfaces have no virtual destructor: the slot order is the binary
// contract, and objects are freed by their own release().

class FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
    virtual tresult queryInterface(const TUID iid, void** obj) = 0;
    virtual uint32 addRef() = 0;
    virtual uint32 release() = 0;
};

class IBStream : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
    virtual tresult read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;
    virtual tresult seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult tell(int64* pos) = 0;
};

class IPluginBase : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
    virtual tresult initialize(FUnknown* context) = 0;
    virtual tresult terminate() = 0;
};

class IPluginFactory : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
    virtual tresult getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 countClasses() = 0;
    virtual tresult getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult createInstance(FIDString cid, FIDString iid, void** obj) = 0;
};

class IPluginFactory2 : public IPluginFactory {
public:
    static constexpr Uid iid = Uid::fromWords(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
    virtual tresult getClassInfo2(int32 index, PClassInfo2* info) = 0;
};

class IComponent : public IPluginBase {
public:
    static constexpr Uid iid = Uid::fromWords(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
    virtual tresult getControllerClassId(TUID classId) = 0;
    virtual tresult setIoMode(int32 mode) = 0;
    virtual int32 getBusCount(int32 type, int32 dir) = 0;
    virtual tresult getBusInfo(int32 type, int32 dir, int32 index, BusInfo& bus) = 0;
    virtual tresult getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult activateBus(int32 type, int32 dir, int32 index, TBool state) = 0;
    virtual tresult setActive(TBool state) = 0;
    virtual tresult setState(IBStream* state) = 0;
    virtual tresult getState(IBStream* state) = 0;
};

class IAudioProcessor : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
    virtual tresult setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                       SpeakerArrangement* outputs, int32 numOuts) = 0;
    virtual tresult getBusArrangement(int32 dir, int32 index, SpeakerArrangement& arr) = 0;
    virtual tresult canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 getLatencySamples() = 0;
    virtual tresult setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult setProcessing(TBool state) = 0;
    virtual tresult process(ProcessData& data) = 0;
    virtual uint32 getTailSamples() = 0;
};

class IComponentHandler : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
    virtual tresult beginEdit(ParamID id) = 0;
    virtual tresult performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult endEdit(ParamID id) = 0;
    virtual tresult restartComponent(int32 flags) = 0;
};

class IPlugView;

class IEditController : public IPluginBase {
public:
    static constexpr Uid iid = Uid::fromWords(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
    virtual tresult setComponentState(IBStream* state) = 0;
    virtual tresult setState(IBStream* state) = 0;
    virtual tresult getState(IBStream* state) = 0;
    virtual int32 getParameterCount() = 0;
    virtual tresult getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
    virtual tresult getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string) = 0;
    virtual tresult getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized) = 0;
    virtual ParamValue normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
    virtual ParamValue plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue getParamNormalized(ParamID id) = 0;
    virtual tresult setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* createView(FIDString name) = 0;
};

class IAttributeList : public FUnknown {
public:
    using AttrID = const char*;
    static constexpr Uid iid = Uid::fromWords(0x1E5F0AEB, 0xCC7F4533, 0xA2544011, 0x38AD5EE4);
    virtual tresult setInt(AttrID id, int64 value) = 0;
    virtual tresult getInt(AttrID id, int64& value) = 0;
    virtual tresult setFloat(AttrID id, double value) = 0;
    virtual tresult getFloat(AttrID id, double& value) = 0;
    virtual tresult setString(AttrID id, const TChar* string) = 0;
    virtual tresult getString(AttrID id, TChar* string, uint32 sizeInBytes) = 0;
    virtual tresult setBinary(AttrID id, const void* data, uint32 sizeInBytes) = 0;
    virtual tresult getBinary(AttrID id, const void*& data, uint32& sizeInBytes) = 0;
};

// What controller and processor send each other through notify().
class IMessage : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613);
    virtual FIDString getMessageID() = 0;
    virtual void setMessageID(FIDString id) = 0;
    virtual IAttributeList* getAttributes() = 0;
};

class IConnectionPoint : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
    virtual tresult connect(IConnectionPoint* other) = 0;
    virtual tresult disconnect(IConnectionPoint* other) = 0;
    virtual tresult notify(IMessage* message) = 0;
};

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
    virtual tresult isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult attached(void* parent, FIDString type) = 0;
    virtual tresult removed() = 0;
    virtual tresult onWheel(float distance) = 0;
    virtual tresult onKeyDown(TChar key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult onKeyUp(TChar key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult getSize(ViewRect* size) = 0;
    virtual tresult onSize(ViewRect* newSize) = 0;
    virtual tresult onFocus(TBool state) = 0;
    virtual tresult setFrame(IPlugFrame* frame) = 0;
    virtual tresult canResize() = 0;
    virtual tresult checkSizeConstraint(ViewRect* rect) = 0;
};

class IPlugFrame : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
    virtual tresult resizeView(IPlugView* view, ViewRect* newSize) = 0;
};

class IEventHandler : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
    virtual void onFDIsSet(int fd) = 0;
};

class ITimerHandler : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
    virtual void onTimer() = 0;
};

class IRunLoop : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
    virtual tresult registerEventHandler(IEventHandler* handler, int fd) = 0;
    virtual tresult unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult registerTimer(ITimerHandler* handler, uint64 milliseconds) = 0;
    virtual tresult unregisterTimer(ITimerHandler* handler) = 0;
};

class IHostApplication : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
    virtual tresult getName(String128 name) = 0;
    virtual tresult createInstance(TUID cid, TUID iid, void** obj) = 0;
};

class IEventList : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
    virtual int32 getEventCount() = 0;
    virtual tresult getEvent(int32 index, Event& e) = 0;
    virtual tresult addEvent(Event& e) = 0;
};

// The points of one parameter within a block: sample offsets and normalised values.
class IParamValueQueue : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
    virtual ParamID getParameterId() = 0;
    virtual int32 getPointCount() = 0;
    virtual tresult getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;
    virtual tresult addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;
};

class IParameterChanges : public FUnknown {
public:
    static constexpr Uid iid = Uid::fromWords(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
    virtual int32 getParameterCount() = 0;
    virtual IParamValueQueue* getParameterData(int32 index) = 0;
    virtual IParamValueQueue* addParameterData(const ParamID& id, int32& index) = 0;
};

// ---- layout checks --------------------------------------------------------

static_assert(sizeof(PFactoryInfo) == 452 && offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116 && offsetof(PClassInfo, cardinality) == 16 &&
              offsetof(PClassInfo, category) == 20 && offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440 && offsetof(PClassInfo2, classFlags) == 116 &&
              offsetof(PClassInfo2, subCategories) == 120 && offsetof(PClassInfo2, vendor) == 248 &&
              offsetof(PClassInfo2, version) == 312 && offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(BusInfo) == 276 && offsetof(BusInfo, channelCount) == 8 &&
              offsetof(BusInfo, name) == 12 && offsetof(BusInfo, busType) == 268 &&
              offsetof(BusInfo, flags) == 272);
static_assert(sizeof(ParameterInfo) == 792 && offsetof(ParameterInfo, title) == 4 &&
              offsetof(ParameterInfo, shortTitle) == 260 && offsetof(ParameterInfo, units) == 516 &&
              offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 &&
              offsetof(ParameterInfo, unitId) == 784 && offsetof(ParameterInfo, flags) == 788);
static_assert(sizeof(ProcessSetup) == 24 && offsetof(ProcessSetup, maxSamplesPerBlock) == 8 &&
              offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24 && offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(ProcessData) == 80 && offsetof(ProcessData, numOutputs) == 16 &&
              offsetof(ProcessData, inputs) == 24 && offsetof(ProcessData, outputs) == 32 &&
              offsetof(ProcessData, inputParameterChanges) == 40 &&
              offsetof(ProcessData, outputParameterChanges) == 48 &&
              offsetof(ProcessData, inputEvents) == 56 && offsetof(ProcessData, outputEvents) == 64 &&
              offsetof(ProcessData, processContext) == 72);
static_assert(sizeof(ProcessContext) == 112 && offsetof(ProcessContext, sampleRate) == 8);
static_assert(sizeof(Event) == 48 && offsetof(Event, ppqPosition) == 8 && offsetof(Event, flags) == 16 &&
              offsetof(Event, type) == 18 && offsetof(Event, noteOn) == 24);
static_assert(sizeof(NoteOnEvent) == 20 && offsetof(NoteOnEvent, velocity) == 8 &&
              offsetof(NoteOnEvent, noteId) == 16);
static_assert(sizeof(NoteOffEvent) == 16 && offsetof(NoteOffEvent, velocity) == 4 &&
              offsetof(NoteOffEvent, tuning) == 12);
static_assert(sizeof(ViewRect) == 16 && sizeof(TBool) == 1 && sizeof(String128) == 256);

} // namespace vst
