#pragma once
// Where a device engine's calls on its audio device run: on the caller's
// thread for a device of its own, on a DeviceCallThread for a sound
// server's, so that a server slow to answer never holds the caller. Makes
// the RtAudio back end, and watches a running stream for its loss, the same
// way for every engine. Log lines carry the owning engine's name.

#include "engine/devices/AudioDeviceBackend.h"
#include "engine/devices/DeviceCallThread.h"

#include <chrono>
#include <functional>
#include <memory>

class DeviceCallRouter {
public:
    using Call = DeviceCallThread::Call;

    // How often the device thread looks whether a running stream was lost.
    static constexpr std::chrono::milliseconds kLossCheck{50};

    // Makes the RtAudio back end on a device thread: making one asks the
    // sound server too. `owner` names the engine in the log; it outlives the
    // device thread (a string literal).
    explicit DeviceCallRouter(const char* owner);
    // Runs on the given back end; null behaves as no device at all. A sound
    // server's back end (mixesStreams) is used on a device thread, any other
    // on the caller's.
    DeviceCallRouter(std::unique_ptr<AudioDeviceBackend> backend, const char* owner);
    ~DeviceCallRouter();
    DeviceCallRouter(const DeviceCallRouter&) = delete;
    DeviceCallRouter& operator=(const DeviceCallRouter&) = delete;

    // The RtAudio back end, or null, which the log tells under `owner`.
    static std::unique_ptr<AudioDeviceBackend> createRtAudio(const char* owner);

    bool hasDevice() const { return audio || thread; }
    bool onSoundServer() const { return thread != nullptr; }
    // The device of its own; null on a sound server or without a device.
    AudioDeviceBackend* ownDevice() const { return audio.get(); }

    // Runs a call on the device: here for a device of its own, else on the
    // device thread, waiting at most `wait`; whether it has run.
    bool run(Call call, std::chrono::milliseconds wait);
    // Queues a call on the device thread; nothing without one.
    void post(Call call);
    // The device thread's idle call (DeviceCallThread::setIdleCall); an
    // empty one stops it. Nothing without a device thread.
    void setIdleCall(Call call, std::chrono::milliseconds interval);
    // Has the device thread look every kLossCheck, while idle, whether the
    // running stream was lost; onLoss is called there each time it was.
    void watchForLoss(std::function<void()> onLoss);
    // The device thread runs what is queued and ends on its own, nobody
    // waiting; a device of its own goes at once.
    void release();

private:
    std::unique_ptr<AudioDeviceBackend> audio; // a device of its own: used here
    std::unique_ptr<DeviceCallThread> thread; // a sound server's: it holds the back end
};
