#include "engine/devices/AudioEngine.h"

#include "engine/devices/DeviceBlock.h"
#include "engine/devices/RtAudioBackend.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

AudioEngine::AudioEngine()
{
    std::string error;
    audio = RtAudioBackend::create(&error);
    if (audio)
        qDebug().noquote() << "AudioEngine: RtAudio initialized, API:"
                           << QString::fromStdString(audio->apiDisplayName());
    else
        qWarning().noquote() << "AudioEngine: RtAudio init failed:" << QString::fromStdString(error);
}

AudioEngine::AudioEngine(std::unique_ptr<AudioDeviceBackend> backend)
    : audio(std::move(backend))
{
    if (audio)
        qDebug().noquote() << "AudioEngine: RtAudio initialized, API:"
                           << QString::fromStdString(audio->apiDisplayName());
}

AudioEngine::~AudioEngine()
{
    stop();
    initialised = false;
    // The stream is closed: no block can call the callbacks any more.
    setProcessCallback({});
    setRecordCallback({});
    setPlaybackProcessCallback({});
    audio.reset();
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
    if (running)
        return true;
    if (!audio || audio->getDeviceCount() == 0) {
        qWarning() << "AudioEngine: No audio device found";
        return false;
    }

    AudioDeviceBackend::StreamParameters output;
    output.deviceId = outputDevice >= 0 ? unsigned(outputDevice) : audio->getDefaultOutputDevice();
    output.nChannels = 2;
    output.firstChannel = 0;

    AudioDeviceBackend::StreamParameters input;
    bool useInput = false;
    if (withInput) {
        input.deviceId = inputDevice >= 0 ? unsigned(inputDevice) : audio->getDefaultInputDevice();
        input.nChannels = 1;
        input.firstChannel = 0;
        if (input.deviceId != 0 && audio->getDeviceInfo(input.deviceId).inputChannels > 0) {
            useInput = true;
            qDebug() << "AudioEngine: Using input device" << input.deviceId;
        } else {
            qWarning() << "AudioEngine: No valid input device found for recording";
        }
    }

    if (recordOnly && !useInput)
        return false;
    unsigned int frames = DeviceBlock::framesAt(bufferSize, sampleRate);
    auto result = audio->openStream(recordOnly ? nullptr : &output, useInput ? &input : nullptr,
                                    unsigned(std::max(sampleRate, 0)), &frames,
                                    &AudioEngine::streamCallback, this);
    if (result != AudioDeviceBackend::Result::NoError) {
        qWarning().noquote() << "AudioEngine: openStream failed:"
                             << QString::fromStdString(audio->getErrorText());
        return false;
    }
    result = audio->startStream();
    if (result != AudioDeviceBackend::Result::NoError) {
        qWarning().noquote() << "AudioEngine: startStream failed:"
                             << QString::fromStdString(audio->getErrorText());
        audio->closeStream();
        return false;
    }
    streamHasInput = useInput;
    running = true;
    qDebug() << "AudioEngine: Started (RtAudio)";
    return true;
}

void AudioEngine::stop()
{
    if (audio && audio->isStreamOpen()) {
        if (audio->isStreamRunning())
            audio->stopStream();
        audio->closeStream();
    }
    streamHasInput = false;
    running = false;
    qDebug() << "AudioEngine: Stopped";
}

void AudioEngine::shutdown()
{
    stop();
    initialised = false;
}

bool AudioEngine::startRecording()
{
    const bool wasRunning = running;
    if (wasRunning)
        stop(); // reopened so that it has input
    // Without an input stream nothing would ever be recorded: that is a failure.
    if (!startWithInput(true) || !streamHasInput) {
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
    // A stream left running whose sound server went away calls back no more.
    if (running && audio && audio->isStreamLost())
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
        playing = true;
        qDebug() << "AudioEngine: Playback resumed";
        emit playbackStarted();
    }
}

std::vector<std::string> AudioEngine::deviceNames(bool inputs)
{
    std::vector<std::string> names;
    if (!audio)
        return names;
    for (unsigned int id : audio->getDeviceIds()) {
        const AudioDeviceBackend::DeviceInfo info = audio->getDeviceInfo(id);
        if ((inputs ? info.inputChannels : info.outputChannels) > 0)
            names.push_back(info.name);
    }
    return names;
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
    static_cast<AudioEngine*>(userData)->processBlock(static_cast<float*>(output),
                                                      static_cast<const float*>(input), int(frames));
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
