#include "engine/devices/DeviceCallRouter.h"

#include "engine/devices/RtAudioBackend.h"

#include <QDebug>
#include <QString>

#include <string>

namespace {

void tellReady(const char* owner, const AudioDeviceBackend& backend)
{
    qDebug().noquote() << QString::fromLatin1(owner) + QLatin1Char(':') << "RtAudio initialized, API:"
                       << QString::fromStdString(backend.apiDisplayName());
}

// Whether the device's running stream went away with its device. Asks the
// device nothing: the back end knows a lost stream without a round trip.
bool runningStreamLost(const AudioDeviceBackend& device)
{
    return device.isStreamRunning() && device.isStreamLost();
}

} // namespace

DeviceCallRouter::DeviceCallRouter(const char* owner)
{
    thread = std::make_unique<DeviceCallThread>([owner] {
        std::unique_ptr<AudioDeviceBackend> backend = createRtAudio(owner);
        if (backend)
            tellReady(owner, *backend);
        return backend;
    });
}

DeviceCallRouter::DeviceCallRouter(std::unique_ptr<AudioDeviceBackend> backend, const char* owner)
    : audio(std::move(backend))
{
    if (audio)
        tellReady(owner, *audio);
    if (audio && audio->mixesStreams())
        thread = std::make_unique<DeviceCallThread>(std::move(audio));
}

DeviceCallRouter::~DeviceCallRouter()
{
    release();
}

std::unique_ptr<AudioDeviceBackend> DeviceCallRouter::createRtAudio(const char* owner)
{
    std::string error;
    std::unique_ptr<AudioDeviceBackend> backend = RtAudioBackend::create(&error);
    if (!backend)
        qWarning().noquote() << QString::fromLatin1(owner) + QLatin1Char(':') << "RtAudio init failed:"
                             << QString::fromStdString(error);
    return backend;
}

bool DeviceCallRouter::run(Call call, std::chrono::milliseconds wait)
{
    if (thread) {
        const std::uint64_t posted = thread->post(std::move(call));
        return wait.count() > 0 && thread->waitFor(posted, wait);
    }
    if (!audio)
        return false;
    call(*audio);
    return true;
}

void DeviceCallRouter::post(Call call)
{
    if (thread)
        thread->post(std::move(call));
}

void DeviceCallRouter::setIdleCall(Call call, std::chrono::milliseconds interval)
{
    if (thread)
        thread->setIdleCall(std::move(call), interval);
}

void DeviceCallRouter::watchForLoss(std::function<void()> onLoss)
{
    setIdleCall([onLoss = std::move(onLoss)](AudioDeviceBackend& device) {
        if (runningStreamLost(device))
            onLoss();
    }, kLossCheck);
}

void DeviceCallRouter::release()
{
    DeviceCallThread::release(std::move(thread));
    audio.reset();
}
