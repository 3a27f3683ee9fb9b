#include "AudioPluginBridge.h"

#include <cstdio>

AudioPluginBridge::AudioPluginBridge() = default;

AudioPluginBridge::~AudioPluginBridge()
{
    shutdown();
}

bool AudioPluginBridge::initialize(int rate, int block)
{
    if (initialized)
        return true;
    sampleRate = rate;
    blockSize = block;
    initialized = true;
    std::printf("AudioPluginBridge: Initialized SR=%d BS=%d\n", sampleRate, blockSize);
    std::fflush(stdout);
    return true;
}

void AudioPluginBridge::shutdown()
{
    if (!initialized)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    initialized = false;
    std::printf("AudioPluginBridge: Shutdown\n");
    std::fflush(stdout);
}

void AudioPluginBridge::process(const AudioBuffer& input, AudioBuffer& output)
{
    (void)input;
    (void)output;
    if (!initialized)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    // No plug-in can be loaded into this bridge: nothing to run.
}
