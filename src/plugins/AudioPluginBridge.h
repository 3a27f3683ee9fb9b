#pragma once
// The plug-in manager's processing entry. This form hosts no plug-ins yet:
// it keeps the initialised state and the global-chain processing call that
// the live instrument output pulls an instrument plug-in through.

#include "AudioBuffer.h"

#include <atomic>
#include <mutex>

class AudioPluginBridge {
public:
    AudioPluginBridge();
    ~AudioPluginBridge();
    AudioPluginBridge(const AudioPluginBridge&) = delete;
    AudioPluginBridge& operator=(const AudioPluginBridge&) = delete;

    // Always true; a second call while initialised changes nothing.
    bool initialize(int sampleRate, int blockSize);
    void shutdown();
    bool isInitialized() const { return initialized; }

    // Runs the loaded plug-ins over the common channels and frames of the two
    // buffers into output; returns at once, output untouched, when not
    // initialised or when no plug-in is loaded.
    void process(const AudioBuffer& input, AudioBuffer& output);

private:
    std::mutex mutex;
    std::atomic<bool> initialized{false};
    int sampleRate = 44100;
    int blockSize = 512;
};
