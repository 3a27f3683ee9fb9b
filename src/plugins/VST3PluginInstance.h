#pragma once
// One loaded VST3 plug-in: its module, the audio component with its edit
// controller and processor, the bus layout, activation, block processing
// with queued MIDI notes, parameters, state files and the editor view.
// Calls other than the send... ones come from one thread at a time.

#include "plugins/PluginInfo.h"
#include "plugins/VST3HostObjects.h"
#include "plugins/VST3Interfaces.h"
#include "plugins/VST3Module.h"
#include "plugins/VST3ParameterChanges.h"
#include "plugins/VST3PendingParameters.h"
#include "plugins/VST3Ptr.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class VST3PluginInstance {
public:
    // One queued note; kind 0 note on, 1 note off, 2 any other message.
    struct PendingMidiEvent {
        int32_t kind = 0;
        int32_t channel = 0;
        int32_t pitch = 0;
        float velocity = 0.0f;
        int32_t sampleOffset = 0;
    };

    VST3PluginInstance();
    ~VST3PluginInstance();
    VST3PluginInstance(const VST3PluginInstance&) = delete;
    VST3PluginInstance& operator=(const VST3PluginInstance&) = delete;

    // Opens the bundle (or the .so in it), creates its last audio class with
    // its controller, lays out the busses and sets up processing. Does not
    // activate. False with an error line on any failure; nothing stays loaded.
    bool load(const std::string& path, int sampleRate, int blockSize);
    void unload();
    bool isLoaded() const { return loaded; }
    // Why the last load failed (the loader's own words where it refused the
    // library); empty after a load that succeeded.
    const std::string& lastLoadError() const { return loadError; }
    // Sets processing up again for a new rate, deactivated around the call as
    // plug-ins require; an active plug-in is active again afterwards.
    void changeSampleRate(int sampleRate);
    int processRate() const { return sampleRate; }

    bool activate();
    void deactivate();
    bool isActive() const { return active; }

    // One block of numChannels planar channels (entries may be null). Passes
    // audio through (an instrument gives silence) while inactive; blocks
    // longer than the processing block size run in several calls.
    void process(float** inputs, float** outputs, int numChannels, int numFrames);

    int getParameterCount() const;
    std::string getParameterName(int index) const;
    // Tells the controller and, with the next block, the processor. NaN and
    // read-only parameters are refused (false); other values are clamped to 0..1.
    bool setParameter(int index, float value);
    // Hands the controller what the processor reported first.
    float getParameter(int index) const;
    // Gives the controller the values the processor reported since the last
    // call. Only on the controller's own (GUI) thread, which may do this
    // while another thread processes; process() never calls the controller.
    void updateController() const;

    // The plug-in's raw component state as a file: saved atomically, true
    // only when every byte was written; loading is true only when the
    // plug-in accepted the state.
    bool saveState(const std::string& path);
    bool loadState(const std::string& path);

    // Creates the editor view and, with a parent X11 window id, attaches it
    // there; the frame (optional) answers the view's resize requests and
    // offers it the run loop. False only without a controller or a view.
    bool showEditor(void* parentView, vst::IPlugFrame* frame = nullptr);
    void hideEditor();
    bool isEditorOpen() const { return bool(view); }
    bool getEditorSize(int& width, int& height) const;

    void sendNoteOn(int channel, int pitch, float velocity);
    void sendNoteOff(int channel, int pitch, float velocity);
    void sendMidiEvent(const unsigned char* data, int length);

    PluginInfo getInfo() const { return info; }
    int inputChannelCount() const { return numInputChannels; }
    int outputChannelCount() const { return numOutputChannels; }

    bool connectController();
    bool setupBusses();

private:
    void failLoad(const std::string& text, const std::string& reason = {});
    VST3Ptr<vst::IEditController> createController(const vst::Uid& classId);
    void releaseAll();
    // Disconnects and terminates what was initialised, before it is released.
    void terminateAll();
    void setUpParameters();
    void rememberControllerValues();
    void forwardOutputChanges();
    void startProcessing();
    void stopProcessing();
    void passThrough(float** inputs, float** outputs, int numChannels, int numFrames) const;
    void processChunk(float** inputs, float** outputs, int numChannels, int offset, int frames,
                      bool withEvents);
    void fillBusses(std::vector<vst::AudioBusBuffers>& busses, const std::vector<int>& busChannels,
                    std::vector<float*>& pointers, float** given, int numChannels, int offset,
                    float* scratch, bool& scratchUsed);
    void queue(const PendingMidiEvent& event);
    bool parameterInfo(int index, vst::ParameterInfo& out) const;

    std::string path;
    std::string loadError;
    PluginInfo info;
    int sampleRate = 44100;
    int blockSize = 512;
    int numInputChannels = 0;
    int numOutputChannels = 2;
    int numInputBusses = 0;
    int numOutputBusses = 1;
    bool active = false;
    bool loaded = false;

    // Declared first so it is released after every object it made.
    std::shared_ptr<VST3Module> module;
    VST3Ptr<vst::IComponent> component;
    VST3Ptr<vst::IEditController> controller;
    VST3Ptr<vst::IAudioProcessor> processor;
    VST3Ptr<vst::IPlugView> view;
    VST3Ptr<vst::IConnectionPoint> componentConnection;
    VST3Ptr<vst::IConnectionPoint> controllerConnection;
    bool singleComponent = false; // the component is its own controller
    bool componentInitialized = false;
    bool viewAttached = false;

    std::vector<PendingMidiEvent> midiQueue;
    mutable std::mutex midiMutex;

    // Processing buffers, sized once at load: channel counts of the active
    // main busses, their bus records and channel pointers, and zeros for
    // inputs the caller did not give apart from a sink for missing outputs.
    std::vector<int> inputBusChannels;
    std::vector<int> outputBusChannels;
    std::vector<vst::AudioBusBuffers> inputBusses;
    std::vector<vst::AudioBusBuffers> outputBusses;
    std::vector<float*> inputPointers;
    std::vector<float*> outputPointers;
    std::vector<float> inputScratch;
    std::vector<float> outputScratch;
    VST3Ptr<VST3EventList> events;
    // Parameter values waiting for the processor, shared with the component
    // handler that the controller reports its editor's edits to; and the
    // changes passed in and out of each block.
    std::shared_ptr<VST3PendingParameters> pendingParameters;
    VST3Ptr<VST3ComponentHandler> componentHandler;
    VST3ParameterChanges inputChanges;
    VST3ParameterChanges outputChanges;
    vst::ProcessContext context{};
};
