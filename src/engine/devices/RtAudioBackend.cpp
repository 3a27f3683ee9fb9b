#include "engine/devices/RtAudioBackend.h"

#include "engine/devices/SoundLibraryMessages.h"
#include "engine/devices/SoundServerWatch.h"

#include <rtaudio/RtAudio.h>

#include <QDebug>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

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

// A failure the library reported to our error callback, on a thread that
// is not a stream's device thread: with the callback set it throws nothing.
struct ReportedFailure {
    bool failed = false;
    RtAudioError::Type type = RtAudioError::UNSPECIFIED;
    std::string text;
};
thread_local ReportedFailure* reportedFailure = nullptr;
// On a device thread, the lost flag of its stream when a block the library
// could not write or read means the device is gone.
thread_local std::atomic<bool>* lostFlagOfThisThread = nullptr;

// The library reports a block it could not write or read on the device
// thread, after the block went to the user and before the next one: marked
// lost there, the stream hands its user no stale block. Anywhere else a
// report is the failure of the call being made (runGuarded).
void onLibraryError(RtAudioError::Type type, const std::string& text)
{
    if (lostFlagOfThisThread) {
        *lostFlagOfThisThread = true;
        return;
    }
    if (reportedFailure && type != RtAudioError::WARNING && type != RtAudioError::DEBUG_WARNING
        && !reportedFailure->failed) {
        reportedFailure->failed = true;
        reportedFailure->type = type;
        reportedFailure->text = text;
    }
}

// Runs a library call; what it throws or reports becomes a result and *error.
AudioDeviceBackend::Result runGuarded(const std::function<void()>& call, std::string* error)
{
    ReportedFailure reported;
    ReportedFailure* outer = std::exchange(reportedFailure, &reported);
    struct Restore {
        ReportedFailure* outer;
        ~Restore() { reportedFailure = outer; }
    } restore{outer};
    try {
        call();
        if (!reported.failed)
            return AudioDeviceBackend::Result::NoError;
        *error = reported.text;
        return resultOf(reported.type);
    } catch (const RtAudioError& e) {
        *error = e.getMessage();
        return resultOf(e.getType());
    } catch (const std::exception& e) {
        *error = e.what();
    } catch (...) {
        *error = "unknown error";
    }
    return AudioDeviceBackend::Result::UnknownError;
}

std::unique_ptr<RtAudio> makeAudio(RtAudio::Api api)
{
    auto audio = std::make_unique<RtAudio>(api);
    // Failures reach us as exceptions; RtAudio's own stderr warnings are noise.
    audio->showWarnings(false);
    return audio;
}

// A stop, abort or close running on a thread of its own, and what it leaves
// for the thread that waits for it.
struct PendingCall {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    AudioDeviceBackend::Result result = AudioDeviceBackend::Result::NoError;
    std::string errorText;
    // Handed over when the waiting gave up: if the call returns after all,
    // its thread closes and frees them.
    std::unique_ptr<RtAudio> abandoned;
    std::shared_ptr<void> abandonedStream;
};

// The library's PulseAudio side lists devices through state it keeps for the
// whole process: two instances listing at once, on two threads, hang or free
// the same list twice. Listing and opening take turns across all instances.
std::mutex& deviceListingMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

// What the device thread reads of an open stream. It lives as long as the
// thread may call back: a stream that is given up keeps it.
struct RtAudioBackend::Stream {
    StreamCallback userCallback = nullptr;
    void* userData = nullptr;
    unsigned int rate = 0;
    unsigned int outputChannels = 0;
    unsigned int outputLatency = 0;

    // Whether the library's failure to write or read a block means the
    // device is gone (a sound server's connection ended), not an underrun.
    bool lostOnFailedBlock = false;
    // The sound server connection it was opened under (SoundServerWatch).
    std::uint64_t serverConnection = 0;

    // Device thread only, to tell a live device from a dead one (see deviceCallback).
    std::chrono::steady_clock::time_point firstBlock;
    double framesDelivered = 0.0;
    // Set by each start: the device thread counts its blocks afresh.
    std::atomic<bool> countAfresh{true};
    std::atomic<bool> lost{false};
    // While set, blocks go to nobody and the output is silent.
    std::atomic<bool> muted{false};
    std::atomic<bool> inUserCallback{false};

    // Returns once no block is with the user and none reaches it until unmuted.
    void mute()
    {
        muted = true;
        while (inUserCallback)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
};

std::unique_ptr<RtAudioBackend> RtAudioBackend::create(std::string* error)
{
    SoundLibraryMessages::route();
    try {
        // PulseAudio when a server answers: the watch knows without a round
        // trip once connected; without it the back end lists no device then.
        SoundServerWatch& server = SoundServerWatch::instance();
        const bool watching = server.isWatching();
        std::unique_ptr<RtAudio> audio = makeAudio(RtAudio::LINUX_PULSE);
        bool pulse = audio->getCurrentApi() == RtAudio::LINUX_PULSE;
        if (pulse && watching && !server.connected()) {
            // A server that took the connection and answers nothing (stopped)
            // is there all the same: its streams open once it answers. The
            // sound card's layer would only reach it through its own plug-in,
            // which waits for it without a limit.
            if (server.connecting()) {
                static std::once_flag said;
                std::call_once(said, [] {
                    qWarning() << "RtAudioBackend: the sound server does not answer yet;"
                                  " playing and recording wait until it does";
                });
            } else {
                pulse = server.reachable(kStreamCallLimit);
            }
        } else if (pulse && !watching) {
            pulse = audio->getDeviceCount() > 0;
        }
        if (!pulse) {
            audio = makeAudio(RtAudio::LINUX_ALSA);
            // Said once: engines come and go, the machine stays as it is.
            static std::once_flag said;
            if (audio->getDeviceCount() == 0)
                std::call_once(said, [] {
                    qWarning() << "RtAudioBackend: no sound server or sound card found;"
                                  " nothing can be played or recorded";
                });
        }
        const int api = int(audio->getCurrentApi());
        auto backend = std::unique_ptr<RtAudioBackend>(new RtAudioBackend(std::move(audio), api));
        if (api == int(RtAudio::LINUX_PULSE) && watching)
            backend->watch = &server;
        return backend;
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
    } catch (...) {
        if (error)
            *error = "unknown error";
    }
    return nullptr;
}

RtAudioBackend::RtAudioBackend(std::unique_ptr<RtAudio> audio, int api)
    : api(api), audio(std::move(audio))
{
}

RtAudioBackend::~RtAudioBackend()
{
    closeStream();
}

template <typename Call>
AudioDeviceBackend::Result RtAudioBackend::guarded(Call&& call)
{
    if (!audio) {
        errorText = "the audio library could not be set up again";
        return Result::UnknownError;
    }
    return runGuarded(call, &errorText);
}

AudioDeviceBackend::Result RtAudioBackend::callWithTimeLimit(void (RtAudio::*call)())
{
    auto pending = std::make_shared<PendingCall>();
    RtAudio* target = audio.get();
    auto work = [pending, target, call] {
        std::string error;
        const Result result = runGuarded([&] { (target->*call)(); }, &error);
        std::unique_ptr<RtAudio> abandoned;
        std::shared_ptr<void> abandonedStream;
        {
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->done = true;
            pending->result = result;
            pending->errorText = error;
            abandoned = std::move(pending->abandoned);
            abandonedStream = std::move(pending->abandonedStream);
        }
        pending->finished.notify_all();
        if (abandoned) {
            // Given up, yet it returned: the stream's thread is joined before
            // what that thread reads goes.
            runGuarded([&] { if (abandoned->isStreamOpen()) abandoned->closeStream(); }, &error);
            abandoned.reset();
        }
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        work(); // no thread to be had: the call runs here, without a limit
    }

    // A call on a server that went away is given up once it has had a
    // moment; one on a server that still answers is waited for however
    // slow it is. Without a watch, or when the server answers nothing, the
    // time limit holds.
    using Clock = std::chrono::steady_clock;
    const auto isDone = [&] { return pending->done; };
    std::unique_lock<std::mutex> lock(pending->mutex);
    pending->finished.wait_for(lock, kGoneServerGrace, isDone);
    for (auto askedAt = Clock::now(); !pending->done && !serverGone();) {
        if (Clock::now() - askedAt >= kStreamCallLimit) {
            lock.unlock();
            const bool answering = watch && watch->answers(kStreamCallLimit);
            lock.lock();
            if (!answering)
                break;
            askedAt = Clock::now();
        }
        pending->finished.wait_for(lock, kGoneServerGrace, isDone);
    }
    if (pending->done) {
        if (pending->result != Result::NoError)
            errorText = pending->errorText;
        return pending->result;
    }
    // The library is stuck inside the stream: nothing here touches it again.
    if (stream)
        stream->mute();
    pending->abandoned = std::move(audio);
    pending->abandonedStream = std::move(stream);
    lock.unlock();
    qWarning() << "RtAudioBackend: the audio device is gone or does not answer; its stream is given up";
    try {
        audio = makeAudio(RtAudio::Api(api));
    } catch (...) {
        audio.reset();
    }
    errorText = "the audio device did not answer; its stream was given up";
    return Result::SystemError;
}

std::string RtAudioBackend::apiDisplayName() const
{
    return RtAudio::getApiDisplayName(RtAudio::Api(api));
}

unsigned int RtAudioBackend::getDeviceCount()
{
    // Without a server the library would list the devices it found last.
    if (watch && !watch->reachable(kStreamCallLimit))
        return 0;
    unsigned int count = 0;
    const std::lock_guard<std::mutex> turn(deviceListingMutex());
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
    const std::lock_guard<std::mutex> turn(deviceListingMutex());
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
    const std::lock_guard<std::mutex> turn(deviceListingMutex());
    guarded([&] {
        if (audio->getDeviceCount() > 0)
            id = audio->getDefaultOutputDevice() + 1;
    });
    return id;
}

unsigned int RtAudioBackend::getDefaultInputDevice()
{
    unsigned int id = 0;
    const std::lock_guard<std::mutex> turn(deviceListingMutex());
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
    if (isStreamOpen()) {
        errorText = "a stream is already open";
        return Result::InvalidUse;
    }
    unsigned int frames = bufferFrames ? *bufferFrames : 0;
    RtAudio::StreamOptions options;
    options.numberOfBuffers = kStreamBuffers;
    // Set before the device thread exists.
    auto opened = std::make_shared<Stream>();
    opened->userCallback = callback;
    opened->userData = userData;
    opened->rate = sampleRate;
    opened->outputChannels = output ? output->nChannels : 0;
    opened->lostOnFailedBlock = api == int(RtAudio::LINUX_PULSE);
    opened->serverConnection = watch && watch->reachable(kStreamCallLimit) ? watch->connection() : 0;
    std::unique_lock<std::mutex> turn(deviceListingMutex());
    const Result result = guarded([&] {
        audio->openStream(output ? &out : nullptr, input ? &in : nullptr, RTAUDIO_FLOAT32,
                          sampleRate, &frames, &RtAudioBackend::deviceCallback, opened.get(),
                          &options, &onLibraryError);
    });
    turn.unlock();
    if (result != Result::NoError)
        return result;
    stream = std::move(opened);
    if (bufferFrames)
        *bufferFrames = frames;
    if (output) {
        // PulseAudio's back end reports no latency: its buffer is what we asked for.
        long reported = 0;
        guarded([&] { reported = audio->getStreamLatency(); });
        stream->outputLatency = reported > 0 ? unsigned(reported) : frames * kStreamBuffers;
    }
    return result;
}

// When the device goes away under a running stream (the sound server quits),
// RtAudio's thread goes on calling back in a tight loop, with stale input and
// no output going anywhere: a recorder would be fed gigabytes of garbage in
// seconds. On a sound server the library reports the first block it could
// not write or read (onLibraryError); elsewhere such a stream runs far ahead
// of the clock. From then on it gets silence, its user gets no more blocks,
// and the thread waits a block's time each round until the stream is closed.
int RtAudioBackend::deviceCallback(void* output, void* input, unsigned int frames, double streamTime,
                                   unsigned int status, void* userData)
{
    auto* self = static_cast<Stream*>(userData);
    lostFlagOfThisThread = self->lostOnFailedBlock ? &self->lost : nullptr;
    const auto now = std::chrono::steady_clock::now();
    if (self->countAfresh.exchange(false))
        self->framesDelivered = 0.0;
    if (self->framesDelivered == 0.0)
        self->firstBlock = now;
    self->framesDelivered += frames;
    if (!self->lost && self->rate > 0) {
        const double elapsed = std::chrono::duration<double>(now - self->firstBlock).count();
        self->lost = self->framesDelivered / self->rate - elapsed > kMaxSecondsAhead;
    }
    // Announced before muted is read: a mute() that returns has seen this block.
    self->inUserCallback = true;
    if (self->lost || self->muted) {
        self->inUserCallback = false;
        if (output)
            std::memset(output, 0, sizeof(float) * frames * self->outputChannels);
        if (self->lost && self->rate > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(double(frames) / self->rate));
        return 0;
    }
    const int result = self->userCallback(output, input, frames, streamTime, status, self->userData);
    self->inUserCallback = false;
    return result;
}

AudioDeviceBackend::Result RtAudioBackend::startStream()
{
    // A stream kept open while stopped counts its blocks from this start, so
    // the time it stood idle cannot hide a runaway after the server is lost.
    if (stream) {
        stream->countAfresh = true;
        stream->muted = false;
    }
    return guarded([&] { audio->startStream(); });
}

AudioDeviceBackend::Result RtAudioBackend::stopStream()
{
    if (!isStreamOpen())
        return guarded([&] { audio->stopStream(); });
    return callWithTimeLimit(&RtAudio::stopStream);
}

void RtAudioBackend::closeStream()
{
    if (isStreamOpen())
        callWithTimeLimit(&RtAudio::closeStream);
    // Closed or given up: this backend's device thread calls back no more.
    stream.reset();
}

bool RtAudioBackend::isStreamOpen() const
{
    return audio && audio->isStreamOpen();
}

bool RtAudioBackend::isStreamRunning() const
{
    return audio && audio->isStreamRunning();
}

std::string RtAudioBackend::getErrorText() const
{
    return errorText;
}

bool RtAudioBackend::mixesStreams() const
{
    return api == int(RtAudio::LINUX_PULSE);
}

bool RtAudioBackend::serverGone() const
{
    return (stream && stream->lost) || (watch && !watch->reachable(kStreamCallLimit));
}

// The open stream's server went away, or another took its place, when our
// watch's connection ended, or was made again, since the stream opened.
bool RtAudioBackend::watchLeftStreamsServer() const
{
    return watch && (!watch->connected() || watch->connection() != stream->serverConnection);
}

bool RtAudioBackend::isStreamLost() const
{
    if (!isStreamOpen() || !stream)
        return false;
    // The library tells at the device thread's next failed block, which a
    // busy machine runs late; the watch's connection ends with the server.
    return stream->lost || (stream->serverConnection != 0 && watchLeftStreamsServer());
}

bool RtAudioBackend::stoppedStreamAnswers()
{
    if (!isStreamOpen() || !stream)
        return true;
    return !stream->lost && !watchLeftStreamsServer();
}

unsigned int RtAudioBackend::outputLatencyFrames() const
{
    return isStreamOpen() && stream ? stream->outputLatency : 0;
}
