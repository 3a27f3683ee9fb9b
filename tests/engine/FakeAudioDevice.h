#pragma once
// A scripted audio-device back end: the test chooses the devices and what
// opening and starting answer, and drives the opened stream's callback itself,
// block by block, as the device thread would.

#include "engine/devices/AudioDeviceBackend.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FakeDeviceState {
    using Result = AudioDeviceBackend::Result;

    std::vector<AudioDeviceBackend::DeviceInfo> devices;
    unsigned int defaultOutput = 0;
    unsigned int defaultInput = 0;
    Result openResult = Result::NoError;
    Result startResult = Result::NoError;
    std::string errorText;
    bool mixes = false; // a sound server's device: its calls run on the engine's device thread
    bool lost = false; // the open stream's device went away
    // Called as each open, start, stop and close begins, on the calling thread.
    std::function<void(const std::string& call)> onCall;

    int opens = 0;
    int closes = 0;
    bool open = false;
    bool running = false;
    AudioDeviceBackend::StreamParameters output;
    AudioDeviceBackend::StreamParameters input;
    bool hasInput = false;
    unsigned int rate = 0;
    unsigned int bufferFrames = 0;
    unsigned int outputLatency = 0; // frames an open output holds ahead of what is heard
    AudioDeviceBackend::StreamCallback callback = nullptr;
    void* userData = nullptr;

    // One block through the stream's callback: interleaved stereo output.
    std::vector<float> runBlock(int frames, const float* inputBlock = nullptr) const
    {
        std::vector<float> out(2 * std::size_t(frames), 123.0f); // never left as it was
        if (open && callback)
            callback(out.data(), const_cast<float*>(inputBlock), unsigned(frames), 0.0, 0, userData);
        return out;
    }

    // Output device 1 "FakeOut" (2 channels), input device 2 "FakeMic" (1 channel).
    static std::shared_ptr<FakeDeviceState> withDevices(bool withInput = true)
    {
        auto state = std::make_shared<FakeDeviceState>();
        AudioDeviceBackend::DeviceInfo out;
        out.id = 1;
        out.name = "FakeOut";
        out.outputChannels = 2;
        out.isDefaultOutput = true;
        state->devices.push_back(out);
        state->defaultOutput = 1;
        if (withInput) {
            AudioDeviceBackend::DeviceInfo mic;
            mic.id = 2;
            mic.name = "FakeMic";
            mic.inputChannels = 1;
            mic.isDefaultInput = true;
            state->devices.push_back(mic);
            state->defaultInput = 2;
        }
        return state;
    }

    // The ways a start can fail: 0 no back end at all (null), 1 a back end
    // without devices, 2 the stream refused on open, 3 refused on start.
    static std::shared_ptr<FakeDeviceState> failing(int kind, const std::string& error,
                                                    Result startError)
    {
        if (kind == 0)
            return nullptr;
        auto state = kind == 1 ? std::make_shared<FakeDeviceState>() : withDevices();
        state->errorText = error;
        if (kind == 2)
            state->openResult = Result::SystemError;
        if (kind == 3)
            state->startResult = startError;
        return state;
    }
};

class FakeAudioDevice : public AudioDeviceBackend {
public:
    explicit FakeAudioDevice(std::shared_ptr<FakeDeviceState> state) : state(std::move(state)) {}

    static std::unique_ptr<AudioDeviceBackend> make(const std::shared_ptr<FakeDeviceState>& state)
    {
        return std::make_unique<FakeAudioDevice>(state);
    }

    std::string apiDisplayName() const override { return "Fake"; }
    unsigned int getDeviceCount() override { return unsigned(state->devices.size()); }
    std::vector<unsigned int> getDeviceIds() override
    {
        std::vector<unsigned int> ids;
        for (const auto& d : state->devices)
            ids.push_back(d.id);
        return ids;
    }
    DeviceInfo getDeviceInfo(unsigned int id) override
    {
        for (const auto& d : state->devices)
            if (d.id == id)
                return d;
        return {};
    }
    unsigned int getDefaultOutputDevice() override { return state->defaultOutput; }
    unsigned int getDefaultInputDevice() override { return state->defaultInput; }

    Result openStream(const StreamParameters* output, const StreamParameters* input,
                      unsigned int sampleRate, unsigned int* bufferFrames, StreamCallback callback,
                      void* userData) override
    {
        called("open");
        if (state->open) {
            state->errorText = "a stream is already open";
            return Result::InvalidUse;
        }
        if (state->openResult != Result::NoError)
            return state->openResult;
        ++state->opens;
        state->open = true;
        state->output = output ? *output : StreamParameters{};
        state->hasInput = input != nullptr;
        state->input = input ? *input : StreamParameters{};
        state->rate = sampleRate;
        state->bufferFrames = bufferFrames ? *bufferFrames : 0;
        state->callback = callback;
        state->userData = userData;
        return Result::NoError;
    }
    Result startStream() override
    {
        called("start");
        if (state->startResult != Result::NoError)
            return state->startResult;
        state->running = state->open;
        return state->open ? Result::NoError : Result::InvalidUse;
    }
    Result stopStream() override
    {
        called("stop");
        state->running = false;
        return Result::NoError;
    }
    void closeStream() override
    {
        called("close");
        if (!state->open)
            return;
        ++state->closes;
        state->open = false;
        state->running = false;
        state->callback = nullptr;
    }
    bool isStreamOpen() const override { return state->open; }
    bool isStreamRunning() const override { return state->running; }
    unsigned int outputLatencyFrames() const override { return state->open ? state->outputLatency : 0; }
    std::string getErrorText() const override { return state->errorText; }
    bool mixesStreams() const override { return state->mixes; }
    bool isStreamLost() const override { return state->open && state->lost; }

private:
    void called(const std::string& call) const
    {
        if (state->onCall)
            state->onCall(call);
    }

    std::shared_ptr<FakeDeviceState> state;
};
