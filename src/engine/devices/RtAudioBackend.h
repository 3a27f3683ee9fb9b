#pragma once
// AudioDeviceBackend over RtAudio 5: PulseAudio when a server answers, ALSA
// otherwise. Identifiers are the library's device indices plus one, so 0 is
// never a device; every RtAudioError becomes a result and an error text.
//
// Stops and closes run on a thread of their own: when the sound server goes
// away under a recording, the library's PulseAudio reader can lock up with
// libpulse's own thread, and a stop or close would then wait for ever. A
// call on a server that is gone (SoundServerWatch), or that answers nothing
// for kStreamCallLimit, is given up with its stream and the RtAudio object
// holding it (never touched again; freed only if the call does return after
// all), and a fresh RtAudio object takes its place. A slow server's call is
// waited for.

#include "engine/devices/AudioDeviceBackend.h"

#include <atomic>
#include <chrono>
#include <memory>

class RtAudio;
class SoundServerWatch;

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
    bool stoppedStreamAnswers() override;

    // How long a stop or close may go unanswered before the server is asked
    // whether it answers at all, and how long it has to answer.
    static constexpr std::chrono::milliseconds kStreamCallLimit{1500};
    // How long a stop or close on a server that is gone may take.
    static constexpr std::chrono::milliseconds kGoneServerGrace{100};

private:
    struct Stream;
    RtAudioBackend(std::unique_ptr<RtAudio> audio, int api);
    template <typename Call>
    Result guarded(Call&& call);
    // Runs a stop, abort or close of the open stream off this thread.
    Result callWithTimeLimit(void (RtAudio::*call)());
    // Whether the open stream's device or server went away.
    bool serverGone() const;
    // Whether the watch's connection is no longer the one the open stream was made under.
    bool watchLeftStreamsServer() const;
    static int deviceCallback(void* output, void* input, unsigned int frames, double streamTime,
                              unsigned int status, void* userData);

    int api = 0; // the RtAudio::Api that a fresh object is made for
    std::unique_ptr<RtAudio> audio; // null only when a fresh one could not be made
    std::shared_ptr<Stream> stream; // what the open stream's device thread reads
    std::string errorText;
    SoundServerWatch* watch = nullptr; // on a sound server: whether it is there
};
