#pragma once
// The program's plug-in manager: owns every loaded plug-in under an id that
// is never reused, runs the active ones in load order over a block (the
// global chain), keeps named per-track chains, saves and loads presets,
// opens editors, renders MIDI offline through an instrument and holds the
// result of the last folder scan. One mutex serialises all use of the
// plug-ins, so callers on any thread may share a bridge.

#include "plugins/AudioBuffer.h"
#include "plugins/PluginInfo.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PluginScanner;
class VST3PluginInstance;

// One entry of a track chain.
struct TrackPluginSlot {
    int32_t pluginId = -1;
    bool bypassed = false;
};

// One timed note for renderOffline; type 1 is a note off, anything else a note on.
struct OfflineMidiEvent {
    int32_t sampleOffset = 0;
    int32_t type = 0;
    int32_t channel = 0;
    int32_t note = 0;
    float velocity = 0.0f;
};

// What a parameter callback would receive; nothing sends one yet.
struct ParameterValue {
    int32_t pluginId = -1;
    int32_t index = -1;
    float value = 0.0f;
};

class AudioPluginBridge {
public:
    using ProcessCallback = std::function<void(const AudioBuffer& in, AudioBuffer& out)>;
    using ParameterCallback = std::function<void(const ParameterValue&)>;
    using MidiCallback = std::function<void(const unsigned char* data, int length)>;

    // What plug-ins are run at: a rate or block size outside these is refused.
    static constexpr int kMinSampleRate = 8000;
    static constexpr int kMaxSampleRate = 384000;
    // Plug-ins assert on blocks of a single frame (they keep at least two).
    static constexpr int kMinBlockSize = 2;
    static constexpr int kMaxBlockSize = 16384;

    AudioPluginBridge();
    ~AudioPluginBridge();
    AudioPluginBridge(const AudioPluginBridge&) = delete;
    AudioPluginBridge& operator=(const AudioPluginBridge&) = delete;

    // False for a rate or block size outside the ranges above (the bridge
    // then stays uninitialised); a second call while initialised changes
    // nothing and is true.
    bool initialize(int sampleRate, int blockSize);
    // Releases every plug-in and chain; ids keep counting on afterwards.
    void shutdown();
    bool isInitialized() const { return initialized; }
    // Later loads use the new rate, and every loaded plug-in is set up again
    // for it; the plug-ins, their ids and the chains stay.
    void setSampleRate(int sampleRate);

    std::vector<PluginInfo> scanPlugins(const std::string& directory);
    std::vector<PluginInfo> getScannedPlugins() const;

    // The new plug-in's id (not yet active), or -1.
    int loadPlugin(const std::string& path);
    // Why the last refused load failed, for the user.
    std::string lastLoadError() const;
    bool unloadPlugin(int id);
    bool activatePlugin(int id);
    bool deactivatePlugin(int id);

    PluginInfo getPluginInfo(int id) const;
    std::vector<PluginInfo> getAvailablePlugins() const;
    std::vector<int> loadedPluginIds() const;
    std::string pluginName(int id) const;
    std::shared_ptr<VST3PluginInstance> getPluginInstance(int id) const;

    // True when the id is loaded and the value is a number (clamped to 0..1).
    bool setParameter(int id, int index, float value);
    float getParameter(int id, int index) const;
    std::vector<std::string> getParameterNames(int id) const;
    bool sendMidiEvent(int id, const unsigned char* data, int length);

    bool savePreset(int id, const std::string& path);
    bool loadPreset(int id, const std::string& path);

    // Programs are not supported: no programs, none current, none settable.
    int getProgramCount(int id) const;
    int getCurrentProgram(int id) const;
    bool setProgram(int id, int program);

    bool showPluginEditor(int id, void* parentView);
    bool hidePluginEditor(int id);
    bool isPluginEditorOpen(int id) const;

    void setProcessCallback(ProcessCallback callback);
    void setParameterCallback(ParameterCallback callback);
    void setMidiCallback(MidiCallback callback);

    // Runs the active plug-ins in load order over the common channels and
    // frames of the two buffers into output (a copy when none is active);
    // does nothing when not initialised or when no plug-in is loaded.
    // Input and output may be the same buffer.
    void process(const AudioBuffer& input, AudioBuffer& output);

    // Track chains, keyed by any text the caller chooses.
    int addPluginToTrack(const std::string& trackId, const std::string& path);
    bool removePluginFromTrack(const std::string& trackId, int slot);
    bool setTrackPluginBypass(const std::string& trackId, int slot, bool bypass);
    void processTrack(const std::string& trackId, const AudioBuffer& input, AudioBuffer& output);
    void clearTrackPlugins(const std::string& trackId);

    // Renders an instrument to numFrames interleaved stereo frames in blocks
    // of 512, each sorted event sounding from the start of its block.
    bool renderOffline(int id, const OfflineMidiEvent* events, int numEvents, int numFrames, int unused,
                       float* output);

private:
    std::shared_ptr<VST3PluginInstance> findLocked(int id) const;
    // body(instance) under the mutex, or the fallback when the id is not loaded.
    template <class Result, class Body>
    Result withInstance(int id, Result fallback, Body body) const;
    bool unloadLocked(int id);
    // The active ones of the plug-ins one after another over the common
    // channels and frames; a copy of the input when none is active.
    static void runInSeries(const std::vector<VST3PluginInstance*>& plugins, const AudioBuffer& input,
                            AudioBuffer& output);
    static void copyChannels(const AudioBuffer& input, AudioBuffer& output, int channels, int frames);

    std::unique_ptr<PluginScanner> scanner;
    std::vector<std::shared_ptr<VST3PluginInstance>> instances;
    std::map<int32_t, std::shared_ptr<VST3PluginInstance>> instancesById;
    std::vector<PluginInfo> scannedPlugins;
    mutable std::mutex mutex;
    std::atomic<bool> initialized{false};
    int32_t sampleRate = 44100;
    int32_t blockSize = 512;
    ProcessCallback processCallback;
    ParameterCallback parameterCallback;
    MidiCallback midiCallback;
    int32_t nextId = 0;
    std::map<std::string, std::vector<TrackPluginSlot>> trackChains;
    std::string loadError;
};
