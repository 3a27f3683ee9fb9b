#include "VST3PluginInstance.h"

#include "common/SaveFileCommit.h"
#include "plugins/PluginLog.h"
#include "plugins/VST3Text.h"

#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Upper bounds on what a plug-in may report about itself.
constexpr vst::int32 kMaxBusses = 64;
constexpr vst::int32 kMaxBusChannels = 64;
constexpr vst::int32 kMaxParameters = 1 << 20;
constexpr int kMaxEditorSide = 1 << 15;

const char* const kLogPrefix = "VST3PluginInstance: ";

void logInfo(const std::string& text)
{
    PluginLog::info(kLogPrefix + text);
}

void logError(const std::string& text)
{
    PluginLog::error(kLogPrefix + text);
}

// Reads a preset file of at most limit bytes. Only a regular file: a
// device or a FIFO could be read without end or block the open, so the file
// is opened without blocking and checked through its descriptor, and the
// limit is held while reading (the file may grow meanwhile).
bool readRegularFile(const std::string& path, vst::int64 limit, std::vector<char>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!ok)
        logError("Not a regular file: " + path);
    bytes.clear();
    char buffer[65536];
    while (ok) {
        // Never more than one byte past the limit.
        const vst::int64 wanted = std::min<vst::int64>(sizeof buffer, limit + 1 - vst::int64(bytes.size()));
        const ssize_t count = ::read(fd, buffer, size_t(wanted));
        if (count == 0)
            break;
        if (count < 0) {
            ok = errno == EINTR;
            continue;
        }
        if (vst::int64(bytes.size()) + count > limit) {
            logError("State file too large: " + path);
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    ::close(fd);
    return ok;
}

bool hasSubCategory(const VST3ClassInfo& info, const char* wanted)
{
    return std::find(info.subCategories.begin(), info.subCategories.end(), wanted) != info.subCategories.end();
}

} // namespace

VST3PluginInstance::VST3PluginInstance() : events(new VST3EventList) {}

VST3PluginInstance::~VST3PluginInstance()
{
    unload();
    releaseAll();
}

// ---- loading ----------------------------------------------------------------

bool VST3PluginInstance::load(const std::string& bundlePath, int rate, int block)
{
    if (loaded) {
        failLoad("Already loaded");
        return false;
    }
    loadError.clear();
    path = bundlePath;
    sampleRate = rate > 0 ? rate : 44100;
    blockSize = block > 0 ? block : 512;

    std::string reason;
    module = VST3Module::open(path, reason);
    if (!module) {
        failLoad("Failed to load module: " + path + " error: " + reason, reason);
        return false;
    }
    try {
        logInfo("Module loaded: " + module->name());
        const std::vector<VST3ClassInfo>& classes = module->classInfos();
        logInfo("Factory has " + std::to_string(classes.size()) + " classes");

        const VST3ClassInfo* audioClass = nullptr;
        const VST3ClassInfo* controllerClass = nullptr;
        for (const VST3ClassInfo& entry : classes) {
            logInfo("Class: " + entry.name + " category: " + entry.category);
            // The last class of each kind in factory order wins.
            if (entry.category == vst::kAudioModuleClass)
                audioClass = &entry;
            else if (entry.category == vst::kComponentControllerClass)
                controllerClass = &entry;
        }
        if (!audioClass) {
            failLoad("No AudioEffect class found");
            releaseAll();
            return false;
        }
        info = PluginInfo{};
        info.name = audioClass->name;
        info.vendor = audioClass->vendor;
        info.uid = VST3Text::uidToString(audioClass->id);
        info.isInstrument = hasSubCategory(*audioClass, vst::kInstrumentSubCategory);

        component = module->createInstance<vst::IComponent>(audioClass->id);
        if (!component) {
            failLoad("Failed to create IComponent");
            releaseAll();
            return false;
        }
        if (component->initialize(VST3HostApplication::instance()) != vst::kResultOk) {
            failLoad("Failed to initialize IComponent");
            releaseAll();
            return false;
        }
        componentInitialized = true;

        controller = VST3Ptr<vst::IEditController>::query(component.get());
        if (controller) {
            singleComponent = true;
            logInfo("Controller from component (single-component)");
        }
        if (!controller && controllerClass) {
            controller = createController(controllerClass->id);
            if (controller)
                logInfo("Separate controller created");
        }
        if (!controller) {
            vst::TUID controllerId{};
            if (component->getControllerClassId(controllerId) == vst::kResultOk) {
                const vst::Uid id = vst::Uid::fromBytes(controllerId);
                if (!controllerClass || id != controllerClass->id) {
                    controller = createController(id);
                    if (controller)
                        logInfo("Controller from getControllerClassId");
                }
            }
        }
        setUpParameters();
        if (controller) {
            componentHandler->attach(controller.get());
            controller->setComponentHandler(componentHandler.get());
            connectController();
            rememberControllerValues();
        }

        setupBusses();

        processor = VST3Ptr<vst::IAudioProcessor>::query(component.get());
        if (processor) {
            vst::ProcessSetup setup{vst::kRealtime, vst::kSample32, blockSize, double(sampleRate)};
            processor->setupProcessing(setup);
            logInfo("Audio processor configured");
        }

        info.numInputChannels = numInputChannels;
        info.numOutputChannels = numOutputChannels;
        info.numParameters = getParameterCount();
        info.path = path;

        context = vst::ProcessContext{};
        context.state = vst::kPlaying;
        context.sampleRate = double(sampleRate);
        inputScratch.assign(size_t(blockSize), 0.0f);
        outputScratch.assign(size_t(blockSize), 0.0f);
    } catch (...) {
        failLoad("Plugin failed while loading: " + path);
        terminateAll();
        releaseAll();
        return false;
    }

    loaded = true;
    logInfo("Plugin loaded: " + info.name);
    return true;
}

void VST3PluginInstance::failLoad(const std::string& text, const std::string& reason)
{
    loadError = reason.empty() ? text : reason;
    logError(text);
}

void VST3PluginInstance::changeSampleRate(int rate)
{
    if (!loaded || rate < 1 || rate == sampleRate)
        return;
    const bool wasActive = active;
    deactivate();
    sampleRate = rate;
    context.sampleRate = double(rate);
    try {
        if (processor) {
            vst::ProcessSetup setup{vst::kRealtime, vst::kSample32, blockSize, double(sampleRate)};
            processor->setupProcessing(setup);
        }
    } catch (...) {
        logError("Plugin failed while changing the sample rate: " + path);
    }
    if (wasActive)
        activate();
    logInfo("Sample rate changed to " + std::to_string(sampleRate));
}

VST3Ptr<vst::IEditController> VST3PluginInstance::createController(const vst::Uid& classId)
{
    VST3Ptr<vst::IEditController> created = module->createInstance<vst::IEditController>(classId);
    if (created && created->initialize(VST3HostApplication::instance()) != vst::kResultOk) {
        // A controller that failed to start is given back, not used.
        logError("Failed to initialize the edit controller");
        created.reset();
    }
    return created;
}

void VST3PluginInstance::setUpParameters()
{
    // Every parameter the controller lists can be handed to the processor.
    std::vector<vst::ParamID> ids;
    const int count = getParameterCount();
    ids.reserve(size_t(count));
    for (int index = 0; index < count; ++index) {
        vst::ParameterInfo parameter;
        if (parameterInfo(index, parameter))
            ids.push_back(parameter.id);
    }
    inputChanges.resize(int(ids.size()));
    outputChanges.resize(int(ids.size()));
    pendingParameters = std::make_shared<VST3PendingParameters>(std::move(ids));
    componentHandler.reset(new VST3ComponentHandler(pendingParameters));
}

void VST3PluginInstance::rememberControllerValues()
{
    // What the controller shows now is what the processor has.
    if (!controller || !pendingParameters)
        return;
    for (vst::ParamID id : pendingParameters->parameterIds())
        pendingParameters->remember(id, controller->getParamNormalized(id));
}

bool VST3PluginInstance::connectController()
{
    if (!component || !controller)
        return false;
    // A single-component plug-in would only be talking to itself.
    if (!singleComponent) {
        auto componentPoint = VST3Ptr<vst::IConnectionPoint>::query(component.get());
        auto controllerPoint = VST3Ptr<vst::IConnectionPoint>::query(controller.get());
        if (componentPoint && controllerPoint) {
            componentPoint->connect(controllerPoint.get());
            controllerPoint->connect(componentPoint.get());
            logInfo("Component\u2194Controller connected");
            // Kept until unload, which disconnects both before terminating.
            componentConnection = std::move(componentPoint);
            controllerConnection = std::move(controllerPoint);
        }
    }
    VST3Ptr<VST3MemoryStream> state(new VST3MemoryStream);
    if (component->getState(state.get()) == vst::kResultOk && !state->overflowed()) {
        state->seek(0, vst::kIBSeekSet, nullptr);
        controller->setComponentState(state.get());
    }
    return true;
}

bool VST3PluginInstance::setupBusses()
{
    if (!component)
        return false;
    numInputChannels = numOutputChannels = numInputBusses = numOutputBusses = 0;
    inputBusChannels.clear();
    outputBusChannels.clear();

    auto walk = [this](vst::int32 mediaType, vst::int32 direction, std::vector<int>* channels) {
        const vst::int32 count = std::clamp(component->getBusCount(mediaType, direction), 0, kMaxBusses);
        for (vst::int32 index = 0; index < count; ++index) {
            vst::BusInfo bus{};
            if (component->getBusInfo(mediaType, direction, index, bus) != vst::kResultOk)
                continue;
            const bool main = bus.busType == vst::kMain;
            component->activateBus(mediaType, direction, index, main ? 1 : 0);
            if (main && channels)
                channels->push_back(std::clamp(bus.channelCount, 0, kMaxBusChannels));
        }
    };
    walk(vst::kAudio, vst::kInput, &inputBusChannels);
    walk(vst::kAudio, vst::kOutput, &outputBusChannels);
    // Instruments hear their notes only through an active event input.
    walk(vst::kEvent, vst::kInput, nullptr);

    for (int channels : inputBusChannels)
        numInputChannels += channels;
    for (int channels : outputBusChannels)
        numOutputChannels += channels;
    numInputBusses = int(inputBusChannels.size());
    numOutputBusses = int(outputBusChannels.size());
    if (numOutputChannels == 0) {
        numOutputChannels = 2;
        numOutputBusses = 1;
        outputBusChannels.assign(1, 2);
    }
    inputBusses.assign(inputBusChannels.size(), vst::AudioBusBuffers{});
    outputBusses.assign(outputBusChannels.size(), vst::AudioBusBuffers{});
    inputPointers.assign(size_t(numInputChannels), nullptr);
    outputPointers.assign(size_t(numOutputChannels), nullptr);
    logInfo("Busses \u2014 in=" + std::to_string(numInputChannels) + " out=" + std::to_string(numOutputChannels));
    return true;
}

void VST3PluginInstance::releaseAll()
{
    // Objects first, then the module that made them.
    view.reset();
    componentConnection.reset();
    controllerConnection.reset();
    controller.reset();
    processor.reset();
    component.reset();
    componentHandler.reset();
    pendingParameters.reset();
    inputChanges.resize(0);
    outputChanges.resize(0);
    module.reset();
    singleComponent = false;
    componentInitialized = false;
    viewAttached = false;
    active = false;
}

void VST3PluginInstance::terminateAll()
{
    try {
        hideEditor();
        deactivate();
        if (componentConnection && controllerConnection) {
            componentConnection->disconnect(controllerConnection.get());
            controllerConnection->disconnect(componentConnection.get());
        }
        componentConnection.reset();
        controllerConnection.reset();
        if (componentHandler)
            componentHandler->attach(nullptr);
        if (controller) {
            controller->setComponentHandler(nullptr);
            // A single-component plug-in is terminated once, as the component;
            // a separate controller is kept only once it was initialised.
            if (!singleComponent)
                controller->terminate();
            controller.reset();
        }
        processor.reset();
        if (component && componentInitialized)
            component->terminate();
        component.reset();
        componentInitialized = false;
    } catch (...) {
        logError("Plugin failed while unloading: " + path);
    }
}

void VST3PluginInstance::unload()
{
    if (!loaded)
        return;
    terminateAll();
    releaseAll();
    loaded = false;
    path.clear();
    logInfo("Plugin unloaded");
}

// ---- activation ---------------------------------------------------------------

bool VST3PluginInstance::activate()
{
    if (!component)
        return false;
    if (active)
        return true;
    try {
        if (component->setActive(1) != vst::kResultOk)
            return false;
        active = true;
        startProcessing();
    } catch (...) {
        logError("Plugin failed while activating: " + path);
        return false;
    }
    logInfo("Activated");
    return true;
}

void VST3PluginInstance::deactivate()
{
    if (!component || !active)
        return;
    try {
        stopProcessing();
        component->setActive(0);
    } catch (...) {
        logError("Plugin failed while deactivating: " + path);
    }
    active = false;
    logInfo("Deactivated");
}

// Plug-ins expect processing to be switched on after activation and off
// before deactivation; many answer that they need no such call.
void VST3PluginInstance::startProcessing()
{
    if (processor)
        processor->setProcessing(1);
}

void VST3PluginInstance::stopProcessing()
{
    if (processor)
        processor->setProcessing(0);
}

// ---- processing -----------------------------------------------------------------

void VST3PluginInstance::passThrough(float** inputs, float** outputs, int numChannels, int numFrames) const
{
    if (numChannels < 1 || !outputs)
        return;
    for (int c = 0; c < numChannels; ++c) {
        float* out = outputs[c];
        if (!out)
            continue;
        if (numInputChannels == 0) {
            std::fill(out, out + numFrames, 0.0f);
            continue;
        }
        const float* in = inputs ? inputs[c] : nullptr;
        if (in && in != out)
            std::memmove(out, in, size_t(numFrames) * sizeof(float));
    }
}

void VST3PluginInstance::process(float** inputs, float** outputs, int numChannels, int numFrames)
{
    if (numFrames <= 0)
        return;
    if (!processor || !active) {
        passThrough(inputs, outputs, numChannels, numFrames);
        return;
    }
    try {
        // The plug-in was promised blocks of at most blockSize frames; queued
        // notes go with the first of them.
        for (int offset = 0; offset < numFrames; offset += blockSize)
            processChunk(inputs, outputs, numChannels, offset, std::min(blockSize, numFrames - offset),
                         offset == 0);
    } catch (...) {
        logError("Plugin failed while processing: " + path);
    }
}

void VST3PluginInstance::fillBusses(std::vector<vst::AudioBusBuffers>& busses,
                                    const std::vector<int>& busChannels, std::vector<float*>& pointers,
                                    float** given, int numChannels, int offset, float* scratch,
                                    bool& scratchUsed)
{
    // Each bus gets exactly its own channel count, so a plug-in that trusts
    // its layout never reads past the arrays; channels the caller did not
    // give are the scratch block.
    size_t slot = 0;
    int running = 0;
    for (size_t b = 0; b < busses.size(); ++b) {
        vst::AudioBusBuffers& bus = busses[b];
        const int count = busChannels[b];
        bus.numChannels = count;
        bus.silenceFlags = 0;
        bus.channelBuffers32 = count > 0 ? &pointers[slot] : nullptr;
        for (int k = 0; k < count; ++k, ++slot) {
            const int channel = running + k;
            float* source = (given && channel < numChannels) ? given[channel] : nullptr;
            if (source) {
                pointers[slot] = source + offset;
            } else {
                pointers[slot] = scratch;
                scratchUsed = true;
            }
        }
        running += count;
    }
}

void VST3PluginInstance::processChunk(float** inputs, float** outputs, int numChannels, int offset,
                                      int frames, bool withEvents)
{
    bool inputScratchUsed = false;
    bool outputScratchUsed = false;
    fillBusses(inputBusses, inputBusChannels, inputPointers, inputs, numChannels, offset,
               inputScratch.data(), inputScratchUsed);
    fillBusses(outputBusses, outputBusChannels, outputPointers, outputs, numChannels, offset,
               outputScratch.data(), outputScratchUsed);
    // Missing inputs read as silence, even after a plug-in wrote into them.
    if (inputScratchUsed)
        std::fill(inputScratch.begin(), inputScratch.begin() + frames, 0.0f);

    events->clear();
    inputChanges.clear();
    outputChanges.clear();
    if (withEvents && pendingParameters)
        pendingParameters->takeInto(inputChanges);
    if (withEvents) {
        std::lock_guard<std::mutex> lock(midiMutex);
        for (const PendingMidiEvent& pending : midiQueue) {
            if (pending.kind != 0 && pending.kind != 1)
                continue;
            vst::Event event{};
            event.busIndex = 0;
            event.sampleOffset = pending.sampleOffset;
            if (pending.kind == 0) {
                event.type = vst::kNoteOnEvent;
                event.noteOn = vst::NoteOnEvent{vst::int16(pending.channel), vst::int16(pending.pitch), 0.0f,
                                                pending.velocity, 0, -1};
            } else {
                event.type = vst::kNoteOffEvent;
                event.noteOff = vst::NoteOffEvent{vst::int16(pending.channel), vst::int16(pending.pitch),
                                                  pending.velocity, -1, 0.0f};
            }
            events->addEvent(event);
        }
        midiQueue.clear();
    }

    vst::ProcessData data{};
    data.processMode = vst::kRealtime;
    data.symbolicSampleSize = vst::kSample32;
    data.numSamples = frames;
    data.numInputs = numInputBusses;
    data.numOutputs = numOutputBusses;
    data.inputs = inputBusses.empty() ? nullptr : inputBusses.data();
    data.outputs = outputBusses.empty() ? nullptr : outputBusses.data();
    data.inputParameterChanges = &inputChanges;
    data.outputParameterChanges = &outputChanges;
    data.inputEvents = events->getEventCount() > 0 ? events.get() : nullptr;
    data.processContext = &context;
    processor->process(data);
    forwardOutputChanges();
}

void VST3PluginInstance::forwardOutputChanges()
{
    // What the processor reports (its last value in the block) waits for the
    // controller's thread: the controller is not called from this one.
    if (!pendingParameters)
        return;
    for (vst::int32 i = 0; i < outputChanges.getParameterCount(); ++i) {
        vst::IParamValueQueue* queue = outputChanges.getParameterData(i);
        const vst::int32 points = queue ? queue->getPointCount() : 0;
        vst::int32 offset = 0;
        vst::ParamValue value = 0.0;
        if (points > 0 && queue->getPoint(points - 1, offset, value) == vst::kResultOk)
            pendingParameters->report(queue->getParameterId(), value);
    }
}

void VST3PluginInstance::updateController() const
{
    if (!controller || !pendingParameters)
        return;
    try {
        pendingParameters->takeReported(
            [this](vst::ParamID id, double value) { controller->setParamNormalized(id, value); });
    } catch (...) {
        logError("Plugin failed while taking reported values: " + path);
    }
}

// ---- parameters -------------------------------------------------------------------

int VST3PluginInstance::getParameterCount() const
{
    if (!controller)
        return 0;
    return std::clamp(controller->getParameterCount(), 0, kMaxParameters);
}

bool VST3PluginInstance::parameterInfo(int index, vst::ParameterInfo& out) const
{
    if (!controller || index < 0 || index >= getParameterCount())
        return false;
    out = vst::ParameterInfo{};
    return controller->getParameterInfo(index, out) == vst::kResultOk;
}

std::string VST3PluginInstance::getParameterName(int index) const
{
    vst::ParameterInfo parameter;
    if (!parameterInfo(index, parameter))
        return {};
    return VST3Text::asciiFromString128(parameter.title);
}

bool VST3PluginInstance::setParameter(int index, float value)
{
    if (std::isnan(value))
        return false;
    const double normalized = std::clamp(double(value), 0.0, 1.0);
    vst::ParameterInfo parameter;
    if (!parameterInfo(index, parameter))
        return false;
    // Meters and the plug-in's own bookkeeping (buffer size, rate) are read
    // only: a written value breaks what the plug-in relies on.
    if (parameter.flags & vst::kParameterIsReadOnly) {
        logError("Parameter " + std::to_string(index) + " is read-only");
        return false;
    }
    controller->setParamNormalized(parameter.id, normalized);
    if (pendingParameters)
        pendingParameters->set(parameter.id, normalized);
    return true;
}

float VST3PluginInstance::getParameter(int index) const
{
    vst::ParameterInfo parameter;
    if (!parameterInfo(index, parameter))
        return 0.0f;
    updateController();
    return float(controller->getParamNormalized(parameter.id));
}

// ---- state files -------------------------------------------------------------------

bool VST3PluginInstance::saveState(const std::string& filePath)
{
    if (!component)
        return false;
    VST3Ptr<VST3MemoryStream> state(new VST3MemoryStream);
    if (component->getState(state.get()) != vst::kResultOk || state->overflowed()) {
        logError("The plugin did not give its state");
        return false;
    }
    struct stat existing {};
    if (::stat(filePath.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        logError("Not a regular file: " + filePath);
        return false;
    }
    // Written beside the old file and renamed over it, so a failed save
    // leaves the earlier preset whole.
    QSaveFile file(QString::fromStdString(filePath));
    if (!file.open(QIODevice::WriteOnly)) {
        logError("Cannot write state file: " + filePath);
        return false;
    }
    const std::vector<char>& bytes = state->bytes();
    // The file replaces the old one only once its bytes are on the disk.
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())
        || !SaveFileCommit::commit(file)) {
        logError("Failed to write state file: " + filePath);
        return false;
    }
    return true;
}

bool VST3PluginInstance::loadState(const std::string& filePath)
{
    if (!component)
        return false;
    std::vector<char> bytes;
    if (!readRegularFile(filePath, VST3MemoryStream::kMaxBytes, bytes))
        return false;
    VST3Ptr<VST3MemoryStream> state(new VST3MemoryStream(std::move(bytes)));
    // Values set before the state was loaded must not override it afterwards.
    if (pendingParameters)
        pendingParameters->discard();
    if (component->setState(state.get()) != vst::kResultOk) {
        logError("The plugin refused the state in " + filePath);
        return false;
    }
    if (controller) {
        state->seek(0, vst::kIBSeekSet, nullptr);
        controller->setComponentState(state.get());
        rememberControllerValues();
    }
    return true;
}

// ---- editor ------------------------------------------------------------------------

bool VST3PluginInstance::showEditor(void* parentView, vst::IPlugFrame* frame)
{
    if (!controller)
        return false;
    // The view starts from what the processor last reported.
    updateController();
    if (!active && component) {
        component->setActive(1);
        active = true;
        startProcessing();
    }
    hideEditor();
    view.reset(controller->createView(vst::kEditorViewName));
    if (!view) {
        logError("Failed to create editor view");
        return false;
    }
    logInfo("Editor view created");
    if (!parentView) {
        logInfo("Editor view created without parent window (headless)");
        return true;
    }
    if (view->isPlatformTypeSupported(vst::kPlatformTypeX11EmbedWindowID) != vst::kResultOk) {
        logError(std::string("Plugin does not support ") + vst::kPlatformTypeX11EmbedWindowID + " platform type");
        return true;
    }
    if (frame)
        view->setFrame(frame);
    const vst::tresult result = view->attached(parentView, vst::kPlatformTypeX11EmbedWindowID);
    if (result != vst::kResultOk) {
        logError("Failed to attach editor view (result=" + std::to_string(result) + ")");
        return true;
    }
    viewAttached = true;
    logInfo("Editor view attached to X11 window");
    int width = 0;
    int height = 0;
    if (getEditorSize(width, height))
        logInfo("Editor view size: " + std::to_string(width) + "x" + std::to_string(height));
    return true;
}

void VST3PluginInstance::hideEditor()
{
    if (!view)
        return;
    // Only a view that was attached is told it was removed.
    if (viewAttached)
        view->removed();
    view->setFrame(nullptr);
    viewAttached = false;
    view.reset();
}

bool VST3PluginInstance::getEditorSize(int& width, int& height) const
{
    if (!view)
        return false;
    vst::ViewRect rect{};
    if (view->getSize(&rect) != vst::kResultOk)
        return false;
    const long long w = (long long)rect.right - rect.left;
    const long long h = (long long)rect.bottom - rect.top;
    if (w < 1 || h < 1 || w > kMaxEditorSide || h > kMaxEditorSide)
        return false;
    width = int(w);
    height = int(h);
    return true;
}

// ---- MIDI queue ----------------------------------------------------------------------

void VST3PluginInstance::queue(const PendingMidiEvent& event)
{
    std::lock_guard<std::mutex> lock(midiMutex);
    midiQueue.push_back(event);
}

void VST3PluginInstance::sendNoteOn(int channel, int pitch, float velocity)
{
    queue({0, channel, pitch, velocity, 0});
}

void VST3PluginInstance::sendNoteOff(int channel, int pitch, float velocity)
{
    queue({1, channel, pitch, velocity, 0});
}

void VST3PluginInstance::sendMidiEvent(const unsigned char* data, int length)
{
    if (!data || length < 2)
        return;
    const int status = data[0] & 0xF0;
    const bool note = status == 0x80 || status == 0x90;
    // A note message needs its three bytes; a short one is not read past its end.
    if (note && length < 3)
        return;
    PendingMidiEvent event;
    event.channel = data[0] & 0x0F;
    event.pitch = data[1] & 0x7F;
    if (status == 0x90 && data[2] != 0) {
        event.kind = 0;
        event.velocity = float(data[2]) / 127.0f;
    } else {
        event.kind = note ? 1 : 2;
        event.velocity = 0.0f;
    }
    queue(event);
}
