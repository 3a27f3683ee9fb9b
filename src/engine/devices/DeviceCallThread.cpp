#include "engine/devices/DeviceCallThread.h"

namespace {

// What a thread whose back end could not be made answers: no device.
class NoDeviceBackend final : public AudioDeviceBackend {
public:
    std::string apiDisplayName() const override { return "none"; }
    unsigned int getDeviceCount() override { return 0; }
    std::vector<unsigned int> getDeviceIds() override { return {}; }
    DeviceInfo getDeviceInfo(unsigned int) override { return {}; }
    unsigned int getDefaultOutputDevice() override { return 0; }
    unsigned int getDefaultInputDevice() override { return 0; }
    Result openStream(const StreamParameters*, const StreamParameters*, unsigned int, unsigned int*,
                      StreamCallback, void*) override
    {
        return Result::NoDevicesFound;
    }
    Result startStream() override { return Result::InvalidUse; }
    Result stopStream() override { return Result::InvalidUse; }
    void closeStream() override {}
    bool isStreamOpen() const override { return false; }
    bool isStreamRunning() const override { return false; }
    std::string getErrorText() const override { return "no audio device"; }
};

} // namespace

DeviceCallThread::DeviceCallThread(std::unique_ptr<AudioDeviceBackend> device)
    : backend(std::move(device))
{
    startWorker(nullptr);
}

DeviceCallThread::DeviceCallThread(BackendFactory factory)
{
    startWorker(std::move(factory));
}

void DeviceCallThread::startWorker(BackendFactory factory)
{
    worker = std::thread([this, factory = std::move(factory)] {
        if (factory)
            backend = factory();
        if (!backend)
            backend = std::make_unique<NoDeviceBackend>();
        run();
        bool freeItself = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            freeItself = released;
        }
        if (freeItself)
            delete this;
    });
}

DeviceCallThread::~DeviceCallThread()
{
    if (!worker.joinable())
        return; // released: this is the thread's own ending
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_all();
    worker.join();
}

std::uint64_t DeviceCallThread::post(Call call)
{
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::move(call));
        number = ++posted;
    }
    changed.notify_all();
    return number;
}

bool DeviceCallThread::waitFor(std::uint64_t number, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done >= number; });
}

void DeviceCallThread::setIdleCall(Call call, std::chrono::milliseconds interval)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        idleCall = std::move(call);
        idleInterval = interval;
    }
    changed.notify_all();
}

void DeviceCallThread::release(std::unique_ptr<DeviceCallThread> thread)
{
    if (!thread)
        return;
    DeviceCallThread* self = thread.release();
    // Told under the lock: once it is released the thread may end and free
    // itself, condition variable and all.
    std::lock_guard<std::mutex> lock(self->mutex);
    self->ending = true;
    self->released = true;
    self->worker.detach();
    self->changed.notify_all();
}

void DeviceCallThread::run()
{
    using Clock = std::chrono::steady_clock;
    auto nextIdle = Clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (!calls.empty()) {
            Call call = std::move(calls.front());
            calls.pop_front();
            lock.unlock();
            call(*backend);
            call = nullptr; // what it holds goes on this thread, before it counts as done
            lock.lock();
            ++done;
            changed.notify_all();
            continue;
        }
        if (ending)
            return;
        if (!idleCall) {
            changed.wait(lock);
            continue;
        }
        if (Clock::now() < nextIdle) {
            changed.wait_until(lock, nextIdle);
            continue;
        }
        nextIdle = Clock::now() + idleInterval;
        Call idle = idleCall;
        lock.unlock();
        idle(*backend);
        idle = nullptr;
        lock.lock();
    }
}
