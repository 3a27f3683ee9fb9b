#include "engine/RtAudioBackend.h"

#include <rtaudio/RtAudio.h>

#include <type_traits>

static_assert(std::is_same_v<AudioDeviceBackend::StreamCallback, RtAudioCallback>,
              "our stream callback must be RtAudio's");

namespace {

AudioDeviceBackend::Result resultOf(RtAudioError::Type type)
{
    using R = AudioDeviceBackend::Result;
    switch (type) {
    case RtAudioError::WARNING:
    case RtAudioError::DEBUG_WARNING: return R::Warning;
    case RtAudioError::NO_DEVICES_FOUND: return R::NoDevicesFound;
    case RtAudioError::INVALID_DEVICE: return R::InvalidDevice;
    case RtAudioError::MEMORY_ERROR: return R::MemoryError;
    case RtAudioError::INVALID_PARAMETER: return R::InvalidParameter;
    case RtAudioError::INVALID_USE: return R::InvalidUse;
    case RtAudioError::DRIVER_ERROR: return R::DriverError;
    case RtAudioError::SYSTEM_ERROR: return R::SystemError;
    case RtAudioError::THREAD_ERROR: return R::ThreadError;
    case RtAudioError::UNSPECIFIED: break;
    }
    return R::UnknownError;
}

std::unique_ptr<RtAudio> makeAudio(RtAudio::Api api)
{
    auto audio = std::make_unique<RtAudio>(api);
    // Failures reach us as exceptions; RtAudio's own stderr warnings are noise.
    audio->showWarnings(false);
    return audio;
}

} // namespace

std::unique_ptr<RtAudioBackend> RtAudioBackend::create(std::string* error)
{
    try {
        // The PulseAudio back end lists no device when no server answers.
        std::unique_ptr<RtAudio> audio = makeAudio(RtAudio::LINUX_PULSE);
        if (audio->getCurrentApi() != RtAudio::LINUX_PULSE || audio->getDeviceCount() == 0)
            audio = makeAudio(RtAudio::LINUX_ALSA);
        return std::unique_ptr<RtAudioBackend>(new RtAudioBackend(std::move(audio)));
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
    } catch (...) {
        if (error)
            *error = "unknown error";
    }
    return nullptr;
}

RtAudioBackend::RtAudioBackend(std::unique_ptr<RtAudio> audio) : audio(std::move(audio)) {}

RtAudioBackend::~RtAudioBackend()
{
    closeStream();
}

template <typename Call>
AudioDeviceBackend::Result RtAudioBackend::guarded(Call&& call)
{
    try {
        call();
        return Result::NoError;
    } catch (const RtAudioError& e) {
        errorText = e.getMessage();
        return resultOf(e.getType());
    } catch (const std::exception& e) {
        errorText = e.what();
    } catch (...) {
        errorText = "unknown error";
    }
    return Result::UnknownError;
}

std::string RtAudioBackend::apiDisplayName() const
{
    return RtAudio::getApiDisplayName(audio->getCurrentApi());
}

unsigned int RtAudioBackend::getDeviceCount()
{
    unsigned int count = 0;
    guarded([&] { count = audio->getDeviceCount(); });
    return count;
}

std::vector<unsigned int> RtAudioBackend::getDeviceIds()
{
    std::vector<unsigned int> ids;
    const unsigned int count = getDeviceCount();
    for (unsigned int index = 0; index < count; ++index)
        ids.push_back(index + 1);
    return ids;
}

AudioDeviceBackend::DeviceInfo RtAudioBackend::getDeviceInfo(unsigned int id)
{
    DeviceInfo info;
    if (id == 0)
        return info;
    guarded([&] {
        const RtAudio::DeviceInfo found = audio->getDeviceInfo(id - 1);
        if (!found.probed)
            return;
        info.id = id;
        info.name = found.name;
        info.outputChannels = found.outputChannels;
        info.inputChannels = found.inputChannels;
        info.isDefaultOutput = found.isDefaultOutput;
        info.isDefaultInput = found.isDefaultInput;
        info.preferredSampleRate = found.preferredSampleRate;
        info.sampleRates = found.sampleRates;
    });
    return info;
}

unsigned int RtAudioBackend::getDefaultOutputDevice()
{
    // RtAudio answers index 0 also when there is no device at all.
    unsigned int id = 0;
    guarded([&] {
        if (audio->getDeviceCount() > 0)
            id = audio->getDefaultOutputDevice() + 1;
    });
    return id;
}

unsigned int RtAudioBackend::getDefaultInputDevice()
{
    unsigned int id = 0;
    guarded([&] {
        if (audio->getDeviceCount() > 0)
            id = audio->getDefaultInputDevice() + 1;
    });
    return id;
}

AudioDeviceBackend::Result RtAudioBackend::openStream(const StreamParameters* output,
                                                      const StreamParameters* input,
                                                      unsigned int sampleRate,
                                                      unsigned int* bufferFrames,
                                                      StreamCallback callback, void* userData)
{
    if ((output && output->deviceId == 0) || (input && input->deviceId == 0)) {
        errorText = "no such audio device";
        return Result::InvalidDevice;
    }
    RtAudio::StreamParameters out;
    RtAudio::StreamParameters in;
    if (output)
        out = {output->deviceId - 1, output->nChannels, output->firstChannel};
    if (input)
        in = {input->deviceId - 1, input->nChannels, input->firstChannel};
    unsigned int frames = bufferFrames ? *bufferFrames : 0;
    const Result result = guarded([&] {
        audio->openStream(output ? &out : nullptr, input ? &in : nullptr, RTAUDIO_FLOAT32,
                          sampleRate, &frames, callback, userData);
    });
    if (result == Result::NoError && bufferFrames)
        *bufferFrames = frames;
    return result;
}

AudioDeviceBackend::Result RtAudioBackend::startStream()
{
    return guarded([&] { audio->startStream(); });
}

AudioDeviceBackend::Result RtAudioBackend::stopStream()
{
    return guarded([&] { audio->stopStream(); });
}

void RtAudioBackend::closeStream()
{
    guarded([&] {
        if (audio->isStreamOpen())
            audio->closeStream();
    });
}

bool RtAudioBackend::isStreamOpen() const
{
    return audio->isStreamOpen();
}

bool RtAudioBackend::isStreamRunning() const
{
    return audio->isStreamRunning();
}

std::string RtAudioBackend::getErrorText() const
{
    return errorText;
}
