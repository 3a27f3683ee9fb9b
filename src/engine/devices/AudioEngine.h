#pragma once
// The single-track real-time engine: one duplex device stream that plays a
// mono sample list handed over by pointer and passes each microphone block
// to a record callback. Users poll the playing flag and the position; a
// signal tells when playback starts, another when the stream is lost.
//
// The device is opened, started, stopped and closed on a thread of its own
// (DeviceCallThread): a sound server that is gone, frozen or whose sink is
// suspended never holds the caller. A start waits for it a short while
// only; one still under way then counts as started, and if it fails after
// all the engine stops and says so (streamLost). A stop never waits for the
// device: from its return no block of the stream reaches the engine, while
// the device thread waits for the device as long as the device answers.
// While a stream is open, and only then, the device thread looks whether
// it was lost whenever it is idle.

#include "engine/devices/AudioDeviceBackend.h"
#include "engine/devices/AudioThreadHandoff.h"
#include "engine/devices/DeviceCallRouter.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AudioEngine : public QObject {
    Q_OBJECT
public:
    // Mono input block (or null) and the interleaved stereo output block,
    // before playback is added.
    using ProcessCallback = std::function<void(const float* input, float* output, int frames)>;
    // One mono input block while recording.
    using RecordCallback = std::function<void(const float* input, int frames)>;
    // The interleaved stereo output block (frames x 2 values) after playback
    // was added; what the callback leaves is heard.
    using PlaybackProcessCallback = std::function<void(float* buffer, int frames)>;

    // How long a start waits for the device thread before it goes on in the background.
    static constexpr std::chrono::milliseconds kStartWait{50};

    AudioEngine();
    // Runs on the given device back end; null behaves as no device at all.
    // A sound server's back end (mixesStreams) is used on a device thread,
    // any other on the caller's.
    explicit AudioEngine(std::unique_ptr<AudioDeviceBackend> backend);
    ~AudioEngine() override;

    bool initialize(int sampleRate, int bufferSize);
    bool start();
    bool startWithInput(bool withInput);
    void stop();
    void shutdown();

    bool startRecording();
    void stopRecording();
    // A record-only engine opens its input alone, without output: a duplex
    // stream reads its input at the pace of its output, so input it fell
    // behind on once stays that late. Set before starting.
    void setRecordOnly(bool recordOnly) { this->recordOnly = recordOnly; }

    // The caller keeps samples alive and unchanged until stopPlayback() or the
    // next startPlayback() has returned. A sampleRate other than the stream's
    // reopens the stream at that rate.
    bool startPlayback(const float* samples, int sampleCount, int sampleRate, int startSample);
    void stopPlayback();
    void pausePlayback();
    void resumePlayback();

    std::vector<std::string> getInputDevices();
    std::vector<std::string> getOutputDevices();
    bool setInputDevice(int id);
    bool setOutputDevice(int id);

    void setVolume(float volume);
    float getVolume() const;

    // Each replacement waits for a block that is running, so once it returns
    // the previous callback is gone and never called again.
    void setProcessCallback(ProcessCallback callback);
    void setRecordCallback(RecordCallback callback);
    void setPlaybackProcessCallback(PlaybackProcessCallback callback);
    // The playback-process callback set now (empty when none), so that a
    // temporary one can pass blocks on to it and put it back afterwards.
    PlaybackProcessCallback currentPlaybackProcessCallback() const;

    bool isInitialized() const { return initialised.load(); }
    bool isRunning() const { return running.load(); }
    bool isRecording() const { return recording.load(); }
    bool isPlaying() const { return playing.load(); }
    // Whether the open stream's device went away under it, or a start that
    // went on in the background failed: no block comes any more.
    bool isStreamLost() const;
    // Whether the stream was lost because its start, gone on in the
    // background, failed: it never played or recorded anything.
    bool startFailedInBackground() const;
    // Whether a start still goes on in the background (the device was slow
    // to answer): streamStarted or streamLost tells how it ended.
    bool isStarting() const;
    // Once the stream was lost, the position is where its sound stopped: what
    // the device still held then was never heard.
    int getPosition() const { return position.load(); }
    // The list that playback reads (null when stopped): lets a user of a
    // shared engine tell whether the playback running is its own.
    const float* playbackData() const { return source; }
    int getSampleRate() const { return sampleRate; }
    int getBufferSize() const { return bufferSize; }

    // The audio thread's work for one block: output is interleaved stereo
    // (null for a record-only stream), input mono or null. The device
    // callback calls it; so may a test.
    void processBlock(float* output, const float* input, int frames);

signals:
    // Playback started or resumed, on the thread that started it. A stop, a
    // pause or the end of the list says nothing: poll isPlaying().
    void playbackStarted();
    // A start that went on in the background has started, told on the engine's thread.
    void streamStarted();
    // The stream stopped for good (see isStreamLost), told on the engine's
    // thread: playing has dropped, and recording gets no more input.
    void streamLost();

private:
    struct DeviceLink;
    struct StartRequest;
    static int streamCallback(void* output, void* input, unsigned int frames, double streamTime,
                              unsigned int status, void* userData);
    // Opens and starts the stream on the device (thread) for request.
    static void openOnDevice(AudioDeviceBackend& device, DeviceLink& link, const StartRequest& request);
    // Has the device thread look for a lost stream whenever it is idle, or
    // no more; under link->mutex, so that a watch ending with a stream lost
    // on the device thread leaves a later start's watch alone.
    void watchForLoss(bool on);
    bool startStream(bool withInput, bool requireInput);
    std::vector<std::string> deviceNames(bool inputs);
    bool reopenAtCurrentRate();

    DeviceCallRouter router; // where the device calls run
    std::shared_ptr<DeviceLink> link; // what the device's threads reach of the engine
    std::atomic<bool> initialised{false};
    std::atomic<bool> running{false};
    std::atomic<bool> recording{false};
    std::atomic<bool> playing{false};
    const float* source = nullptr;
    int sampleCount = 0;
    std::atomic<int> position{0};
    std::atomic<int> playedFrom{0}; // where playback last started or resumed
    int sampleRate = 44100;
    int bufferSize = 512; // frames of a device block at 44100 Hz (see DeviceBlock)
    std::atomic<float> volume{1.0f};
    int inputDevice = -1;
    int outputDevice = -1;
    bool streamHasInput = false;
    bool recordOnly = false;

    AudioBlockFence fence;
    AudioCallbackSlot<ProcessCallback> processCallback;
    AudioCallbackSlot<RecordCallback> recordCallback;
    AudioCallbackSlot<PlaybackProcessCallback> playbackProcessCallback;
};
