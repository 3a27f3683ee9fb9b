#pragma once
// AudioDeviceBackend over RtAudio 5: PulseAudio when a server answers, ALSA
// otherwise. Identifiers are the library's device indices plus one, so 0 is
// never a device; every RtAudioError becomes a result and an error text.

#include "engine/devices/AudioDeviceBackend.h"

#include <atomic>
#include <chrono>
#include <memory>

class RtAudio;

class RtAudioBackend final : public AudioDeviceBackend {
public:
    // Null, with the library's text in *error, when RtAudio cannot be created.
    static std::unique_ptr<RtAudioBackend> create(std::string* error = nullptr);
    ~RtAudioBackend() override;

    std::string apiDisplayName() const override;
    unsigned int getDeviceCount() override;
    std::vector<unsigned int> getDeviceIds() override;
    DeviceInfo getDeviceInfo(unsigned int id) override;
    unsigned int getDefaultOutputDevice() override;
    unsigned int getDefaultInputDevice() override;

    Result openStream(const StreamParameters* output, const StreamParameters* input,
                      unsigned int sampleRate, unsigned int* bufferFrames, StreamCallback callback,
                      void* userData) override;
    Result startStream() override;
    Result stopStream() override;
    void closeStream() override;
    bool isStreamOpen() const override;
    bool isStreamRunning() const override;
    std::string getErrorText() const override;
    unsigned int outputLatencyFrames() const override;
    bool mixesStreams() const override;
    bool isStreamLost() const override;

private:
    explicit RtAudioBackend(std::unique_ptr<RtAudio> audio);
    template <typename Call>
    Result guarded(Call&& call);
    static int deviceCallback(void* output, void* input, unsigned int frames, double streamTime,
                              unsigned int status, void* userData);

    std::unique_ptr<RtAudio> audio;
    std::string errorText;

    // The open stream's callback, and what the device thread keeps to tell a
    // live device from a dead one (see deviceCallback).
    StreamCallback userCallback = nullptr;
    void* userData = nullptr;
    unsigned int streamRate = 0;
    unsigned int outputChannels = 0;
    unsigned int outputLatency = 0;
    std::chrono::steady_clock::time_point firstBlock;
    double framesDelivered = 0.0;
    std::atomic<bool> deviceLost{false};
};
