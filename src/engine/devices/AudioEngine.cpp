#include "engine/devices/AudioEngine.h"

#include "engine/devices/DeviceBlock.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// How long listing the devices may wait for the device thread.
constexpr std::chrono::milliseconds kDeviceListWait{200};

} // namespace

// What the device's threads reach of the engine, for as long as the engine
// lives: a stream closing on the device thread may outlive it.
struct AudioEngine::DeviceLink {
    std::mutex mutex; // the device thread's use of engine; starts and stops
    std::atomic<AudioEngine*> engine{nullptr};
    AudioBlockFence fence; // brackets each device block's use of engine
    // The stream whose blocks reach the engine (0: none), and the stream the
    // device opened last: a block of any other goes to nobody.
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<std::uint64_t> opened{0};
    std::uint64_t starts = 0; // under mutex
    std::uint64_t waiting = 0; // the start its caller waits for; under mutex
    std::atomic<bool> lost{false};
    std::atomic<int> latencyFrames{0};
    // The last start's outcome, under mutex.
    std::uint64_t finished = 0;
    bool startedOk = false;
    bool startHasInput = false;

    // Device thread: a start has ended. A failure of the start that is still
    // wanted, which its caller no longer waits for, stops the engine and is told.
    void finishStart(std::uint64_t number, bool ok, bool hasInput, int latency)
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = number;
        startedOk = ok;
        startHasInput = hasInput;
        if (ok)
            latencyFrames = latency;
        if (waiting == number || accepted != number)
            return;
        if (ok) {
            if (AudioEngine* target = engine.load())
                QMetaObject::invokeMethod(target, &AudioEngine::streamStarted, Qt::QueuedConnection);
            return;
        }
        accepted = 0;
        lost = true;
        if (AudioEngine* target = engine.load()) {
            qWarning() << "AudioEngine: the stream started in the background failed";
            target->watchForLoss(false);
            target->running = false;
            target->playing = false;
            QMetaObject::invokeMethod(target, &AudioEngine::streamLost, Qt::QueuedConnection);
        }
    }

    // Device thread: the stream that plays went away with its device.
    void markLost(std::uint64_t stream)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stream == 0 || accepted != stream)
            return;
        accepted = 0;
        lost = true;
        fence.waitForRunningBlock(); // no block of it reaches the engine from here on
        AudioEngine* target = engine.load();
        if (!target)
            return;
        target->watchForLoss(false);
        // What the device held when it went was never heard.
        if (target->playing) {
            target->position = std::max(target->position - latencyFrames.load(), target->playedFrom.load());
            target->playing = false;
        }
        qWarning() << "AudioEngine: the audio device or sound server went away; the stream is lost";
        QMetaObject::invokeMethod(target, &AudioEngine::streamLost, Qt::QueuedConnection);
    }
};

struct AudioEngine::StartRequest {
    std::uint64_t number = 0;
    bool withInput = false;
    bool requireInput = false;
    bool recordOnly = false;
    int outputDevice = -1;
    int inputDevice = -1;
    int sampleRate = 44100;
    int bufferSize = 512;
};

AudioEngine::AudioEngine()
    : router("AudioEngine"), link(std::make_shared<DeviceLink>())
{
    link->engine = this;
}

AudioEngine::AudioEngine(std::unique_ptr<AudioDeviceBackend> backend)
    : router(std::move(backend), "AudioEngine"), link(std::make_shared<DeviceLink>())
{
    link->engine = this;
}

void AudioEngine::watchForLoss(bool on)
{
    if (!on) {
        router.setIdleCall({}, DeviceCallRouter::kLossCheck);
        return;
    }
    const std::shared_ptr<DeviceLink> target = link;
    router.watchForLoss([target] { target->markLost(target->opened); });
}

AudioEngine::~AudioEngine()
{
    stop();
    initialised = false;
    // No block or device call reaches the engine any more; the stream closes
    // on the device thread, which nobody waits for.
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->engine = nullptr;
    }
    link->fence.waitForRunningBlock();
    setProcessCallback({});
    setRecordCallback({});
    setPlaybackProcessCallback({});
    router.release();
}

bool AudioEngine::initialize(int rate, int frames)
{
    sampleRate = rate;
    bufferSize = frames;
    initialised = true;
    qDebug() << "AudioEngine: Initialized (RtAudio) SR=" << sampleRate << "BS=" << bufferSize;
    return true;
}

bool AudioEngine::start()
{
    return startWithInput(false);
}

bool AudioEngine::startWithInput(bool withInput)
{
    return startStream(withInput, false);
}

void AudioEngine::openOnDevice(AudioDeviceBackend& device, DeviceLink& link, const StartRequest& request)
{
    // A stream still open (one lost with its server) goes first.
    if (device.isStreamOpen()) {
        if (device.isStreamRunning())
            device.stopStream();
        device.closeStream();
    }
    if (device.getDeviceCount() == 0) {
        qWarning() << "AudioEngine: No audio device found";
        link.finishStart(request.number, false, false, 0);
        return;
    }

    AudioDeviceBackend::StreamParameters output;
    output.deviceId = request.outputDevice >= 0 ? unsigned(request.outputDevice)
                                                : device.getDefaultOutputDevice();
    output.nChannels = 2;
    output.firstChannel = 0;

    AudioDeviceBackend::StreamParameters input;
    bool useInput = false;
    if (request.withInput) {
        input.deviceId = request.inputDevice >= 0 ? unsigned(request.inputDevice)
                                                  : device.getDefaultInputDevice();
        input.nChannels = 1;
        input.firstChannel = 0;
        if (input.deviceId != 0 && device.getDeviceInfo(input.deviceId).inputChannels > 0) {
            useInput = true;
            qDebug() << "AudioEngine: Using input device" << input.deviceId;
        } else {
            qWarning() << "AudioEngine: No valid input device found for recording";
        }
    }
    // Without an input stream nothing would ever be recorded: that is a failure.
    if ((request.recordOnly || request.requireInput) && !useInput) {
        link.finishStart(request.number, false, false, 0);
        return;
    }

    link.opened = request.number; // before the stream can call back
    unsigned int frames = DeviceBlock::framesAt(request.bufferSize, request.sampleRate);
    auto result = device.openStream(request.recordOnly ? nullptr : &output, useInput ? &input : nullptr,
                                    unsigned(std::max(request.sampleRate, 0)), &frames,
                                    &AudioEngine::streamCallback, &link);
    if (result != AudioDeviceBackend::Result::NoError) {
        qWarning().noquote() << "AudioEngine: openStream failed:"
                             << QString::fromStdString(device.getErrorText());
        link.finishStart(request.number, false, false, 0);
        return;
    }
    result = device.startStream();
    if (result != AudioDeviceBackend::Result::NoError) {
        qWarning().noquote() << "AudioEngine: startStream failed:"
                             << QString::fromStdString(device.getErrorText());
        device.closeStream();
        link.finishStart(request.number, false, false, 0);
        return;
    }
    qDebug() << "AudioEngine: Started (RtAudio)";
    link.finishStart(request.number, true, useInput, int(device.outputLatencyFrames()));
}

bool AudioEngine::startStream(bool withInput, bool requireInput)
{
    if (running)
        return true;
    if (!router.hasDevice()) {
        qWarning() << "AudioEngine: No audio device found";
        return false;
    }
    StartRequest request;
    request.withInput = withInput;
    request.requireInput = requireInput;
    request.recordOnly = recordOnly;
    request.outputDevice = outputDevice;
    request.inputDevice = inputDevice;
    request.sampleRate = sampleRate;
    request.bufferSize = bufferSize;
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        request.number = ++link->starts;
        link->accepted = request.number;
        link->waiting = request.number;
        link->lost = false;
        link->latencyFrames = 0;
        running = true;
        watchForLoss(true);
    }
    const std::shared_ptr<DeviceLink> target = link;
    router.run([target, request](AudioDeviceBackend& device) { openOnDevice(device, *target, request); },
               kStartWait);
    std::lock_guard<std::mutex> lock(link->mutex);
    link->waiting = 0;
    if (link->finished != request.number) {
        // Still under way: it counts as started, and says so if it fails.
        streamHasInput = withInput;
        qDebug() << "AudioEngine: the device is slow to answer; the stream starts in the background";
        return true;
    }
    if (!link->startedOk) {
        link->accepted = 0;
        watchForLoss(false);
        running = false;
        return false;
    }
    streamHasInput = link->startHasInput;
    return true;
}

void AudioEngine::stop()
{
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->accepted = 0;
        watchForLoss(false);
    }
    // From here on no block of the stream reaches the engine, whenever the
    // device lets go of it.
    link->fence.waitForRunningBlock();
    router.run([keep = link](AudioDeviceBackend& device) {
        if (device.isStreamOpen()) {
            if (device.isStreamRunning())
                device.stopStream();
            device.closeStream();
        }
    }, std::chrono::milliseconds(0));
    streamHasInput = false;
    running = false;
    qDebug() << "AudioEngine: Stopped";
}

void AudioEngine::shutdown()
{
    stop();
    initialised = false;
}

bool AudioEngine::isStarting() const
{
    std::lock_guard<std::mutex> lock(link->mutex);
    return running && link->accepted != 0 && link->finished != link->accepted;
}

bool AudioEngine::startFailedInBackground() const
{
    // Lost before it ever started: its start is the one that failed.
    std::lock_guard<std::mutex> lock(link->mutex);
    return link->lost && link->finished == link->starts && !link->startedOk;
}

bool AudioEngine::isStreamLost() const
{
    if (link->lost)
        return true;
    const AudioDeviceBackend* own = router.ownDevice();
    return own && own->isStreamLost();
}

bool AudioEngine::startRecording()
{
    const bool wasRunning = running;
    if (wasRunning)
        stop(); // reopened so that it has input
    if (!startStream(true, true)) {
        qWarning() << "AudioEngine: Failed to start with input for recording";
        if (wasRunning && !running)
            startWithInput(false); // keep the output going as it was
        return false;
    }
    recording = true;
    qDebug() << "AudioEngine: Recording started";
    return true;
}

void AudioEngine::stopRecording()
{
    recording = false;
    qDebug() << "AudioEngine: Recording stopped";
}

bool AudioEngine::reopenAtCurrentRate()
{
    const bool withInput = streamHasInput;
    stop();
    return startWithInput(withInput);
}

bool AudioEngine::startPlayback(const float* samples, int count, int rate, int startSample)
{
    if (!samples || count < 1)
        return false;
    stopPlayback();
    // A stream whose sound server went away calls back no more.
    if (running && isStreamLost())
        stop();

    // Material is played at its own rate, never at the stream's.
    if (rate > 0 && rate != sampleRate) {
        sampleRate = rate;
        if (running && !reopenAtCurrentRate())
            return false;
    }

    source = samples;
    sampleCount = count;
    position = std::max(startSample, 0);
    playedFrom = position.load();
    playing = true; // published last: the audio thread reads source after it

    if (!running && !startWithInput(false)) {
        playing = false;
        return false;
    }
    qDebug() << "AudioEngine: Playback started from sample" << startSample;
    emit playbackStarted();
    return true;
}

void AudioEngine::stopPlayback()
{
    playing = false;
    // After this no block reads the source: its owner may free it.
    fence.waitForRunningBlock();
    position = 0;
    source = nullptr;
    sampleCount = 0;
    qDebug() << "AudioEngine: Playback stopped";
}

void AudioEngine::pausePlayback()
{
    playing = false;
    qDebug() << "AudioEngine: Playback paused";
}

void AudioEngine::resumePlayback()
{
    if (source && position < sampleCount) {
        playedFrom = position.load();
        playing = true;
        qDebug() << "AudioEngine: Playback resumed";
        emit playbackStarted();
    }
}

std::vector<std::string> AudioEngine::deviceNames(bool inputs)
{
    // Listed on the device thread; a device that does not answer soon lists nothing.
    auto names = std::make_shared<std::vector<std::string>>();
    const bool listed = router.run([names, inputs](AudioDeviceBackend& device) {
        for (unsigned int id : device.getDeviceIds()) {
            const AudioDeviceBackend::DeviceInfo info = device.getDeviceInfo(id);
            if ((inputs ? info.inputChannels : info.outputChannels) > 0)
                names->push_back(info.name);
        }
    }, kDeviceListWait);
    return listed ? *names : std::vector<std::string>();
}

std::vector<std::string> AudioEngine::getInputDevices()
{
    return deviceNames(true);
}

std::vector<std::string> AudioEngine::getOutputDevices()
{
    return deviceNames(false);
}

bool AudioEngine::setInputDevice(int id)
{
    inputDevice = id;
    return true;
}

bool AudioEngine::setOutputDevice(int id)
{
    outputDevice = id;
    return true;
}

void AudioEngine::setVolume(float v)
{
    volume = std::clamp(v, 0.0f, 1.0f);
}

float AudioEngine::getVolume() const
{
    return volume;
}

void AudioEngine::setProcessCallback(ProcessCallback callback)
{
    processCallback.replace(std::move(callback), fence);
}

void AudioEngine::setRecordCallback(RecordCallback callback)
{
    recordCallback.replace(std::move(callback), fence);
}

void AudioEngine::setPlaybackProcessCallback(PlaybackProcessCallback callback)
{
    playbackProcessCallback.replace(std::move(callback), fence);
}

AudioEngine::PlaybackProcessCallback AudioEngine::currentPlaybackProcessCallback() const
{
    return playbackProcessCallback.copy();
}

int AudioEngine::streamCallback(void* output, void* input, unsigned int frames, double, unsigned int,
                                void* userData)
{
    auto* link = static_cast<DeviceLink*>(userData);
    AudioBlockFence::Scope inBlock(link->fence);
    AudioEngine* engine = link->engine.load();
    if (engine && link->accepted.load() == link->opened.load())
        engine->processBlock(static_cast<float*>(output), static_cast<const float*>(input), int(frames));
    else if (output)
        std::fill_n(static_cast<float*>(output), 2 * std::size_t(frames), 0.0f);
    return 0;
}

void AudioEngine::processBlock(float* output, const float* input, int frames)
{
    if (frames <= 0 || (!output && !input))
        return;
    AudioBlockFence::Scope inBlock(fence);
    if (!output) {
        if (const RecordCallback* record = recording && input ? recordCallback.get() : nullptr)
            (*record)(input, frames);
        return;
    }
    std::memset(output, 0, sizeof(float) * 2 * size_t(frames));

    if (recording && input) {
        if (const RecordCallback* record = recordCallback.get())
            (*record)(input, frames);
    }
    if (const ProcessCallback* process = processCallback.get())
        (*process)(input, output, frames);

    if (playing && source) {
        const float* samples = source;
        const int count = sampleCount;
        const float gain = volume;
        int pos = position;
        int done = 0;
        for (; done < frames && pos < count; ++done, ++pos) {
            const float s = samples[pos] * gain;
            output[2 * done] += s;
            output[2 * done + 1] += s;
        }
        if (done < frames)
            playing = false; // the source ran out inside this block
        position = pos;
    }

    // Sees (and may change) the interleaved stereo block as it will be heard.
    if (const PlaybackProcessCallback* shape = playbackProcessCallback.get())
        (*shape)(output, frames);
}
