#pragma once
// Runs the calls on one audio-device back end in order, on a thread of its
// own, so that a sound server slow to answer (just started, busy, gone)
// never holds the thread that asks: the caller waits for a call a short
// while, or not at all. Once handed over, the back end is touched by this
// thread alone. While no call is queued, an idle call (if set) runs at a
// fixed interval.

#include "engine/devices/AudioDeviceBackend.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class DeviceCallThread {
public:
    using Call = std::function<void(AudioDeviceBackend&)>;
    using BackendFactory = std::function<std::unique_ptr<AudioDeviceBackend>()>;

    explicit DeviceCallThread(std::unique_ptr<AudioDeviceBackend> backend);
    // Makes its back end on its own thread before the first call: making
    // one can wait on a sound server too. A factory that gives none leaves
    // a back end without devices.
    explicit DeviceCallThread(BackendFactory factory);
    // Runs the calls queued so far, then ends.
    ~DeviceCallThread();
    DeviceCallThread(const DeviceCallThread&) = delete;
    DeviceCallThread& operator=(const DeviceCallThread&) = delete;

    // Queues a call; calls run in the order of the numbers returned.
    std::uint64_t post(Call call);
    // Waits at most `limit` for call `number` to have run; whether it has.
    bool waitFor(std::uint64_t number, std::chrono::milliseconds limit);
    // An empty call stops the idle calls.
    void setIdleCall(Call call, std::chrono::milliseconds interval);
    // Lets the thread run what is queued and then end and free itself with
    // the back end, without anyone waiting for it.
    static void release(std::unique_ptr<DeviceCallThread> thread);

private:
    void run();
    void startWorker(BackendFactory factory);

    std::unique_ptr<AudioDeviceBackend> backend;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Call> calls;
    std::uint64_t posted = 0;
    std::uint64_t done = 0;
    Call idleCall;
    std::chrono::milliseconds idleInterval{0};
    bool ending = false;
    bool released = false;
    std::thread worker;
};
