#include "engine/devices/RtAudioBackend.h"

#include <rtaudio/RtAudio.h>

#include <cstring>
#include <thread>
#include <type_traits>

static_assert(std::is_same_v<AudioDeviceBackend::StreamCallback, RtAudioCallback>,
              "our stream callback must be RtAudio's");

namespace {

// A device never takes more than its buffer ahead of the clock (PulseAudio
// buffers two seconds at most).
constexpr double kMaxSecondsAhead = 5.0;
// Blocks a stream holds ahead of the device. Without it PulseAudio buffers
// two seconds of output, and a duplex stream starts its output only once
// its input has filled that; ALSA takes it as its number of periods.
constexpr unsigned int kStreamBuffers = 4;

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
    if (audio->isStreamOpen()) {
        errorText = "a stream is already open";
        return Result::InvalidUse;
    }
    unsigned int frames = bufferFrames ? *bufferFrames : 0;
    RtAudio::StreamOptions options;
    options.numberOfBuffers = kStreamBuffers;
    // Set before the device thread exists, read only by it.
    userCallback = callback;
    this->userData = userData;
    streamRate = sampleRate;
    outputChannels = output ? output->nChannels : 0;
    outputLatency = 0;
    framesDelivered = 0.0;
    deviceLost = false;
    const Result result = guarded([&] {
        audio->openStream(output ? &out : nullptr, input ? &in : nullptr, RTAUDIO_FLOAT32,
                          sampleRate, &frames, &RtAudioBackend::deviceCallback, this, &options);
    });
    if (result != Result::NoError)
        return result;
    if (bufferFrames)
        *bufferFrames = frames;
    if (output) {
        // PulseAudio's back end reports no latency: its buffer is what we asked for.
        long reported = 0;
        guarded([&] { reported = audio->getStreamLatency(); });
        outputLatency = reported > 0 ? unsigned(reported) : frames * kStreamBuffers;
    }
    return result;
}

// When the device goes away under a running stream (the sound server quits),
// RtAudio's thread goes on calling back in a tight loop, with stale input and
// no output going anywhere: a recorder would be fed gigabytes of garbage in
// seconds. Such a stream runs far ahead of the clock; from then on it gets
// silence, its user gets no more blocks, and the thread waits a block's time each
// round until the stream is closed.
int RtAudioBackend::deviceCallback(void* output, void* input, unsigned int frames, double streamTime,
                                   unsigned int status, void* userData)
{
    auto* self = static_cast<RtAudioBackend*>(userData);
    const auto now = std::chrono::steady_clock::now();
    if (self->framesDelivered == 0.0)
        self->firstBlock = now;
    self->framesDelivered += frames;
    if (!self->deviceLost && self->streamRate > 0) {
        const double elapsed = std::chrono::duration<double>(now - self->firstBlock).count();
        self->deviceLost = self->framesDelivered / self->streamRate - elapsed > kMaxSecondsAhead;
    }
    if (self->deviceLost) {
        if (output)
            std::memset(output, 0, sizeof(float) * frames * self->outputChannels);
        if (self->streamRate > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(double(frames) / self->streamRate));
        return 0;
    }
    return self->userCallback(output, input, frames, streamTime, status, self->userData);
}

AudioDeviceBackend::Result RtAudioBackend::startStream()
{
    // A stream kept open while stopped counts its blocks from this start, so
    // the time it stood idle cannot hide a runaway after the server is lost.
    framesDelivered = 0.0;
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

bool RtAudioBackend::mixesStreams() const
{
    return audio->getCurrentApi() == RtAudio::LINUX_PULSE;
}

bool RtAudioBackend::isStreamLost() const
{
    return audio->isStreamOpen() && deviceLost;
}

unsigned int RtAudioBackend::outputLatencyFrames() const
{
    return audio->isStreamOpen() ? outputLatency : 0;
}
