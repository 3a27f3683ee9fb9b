#include "engine/devices/LiveAudioPlayer.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "plugins/AudioPluginBridge.h"

#include <QDebug>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace {
// Frames the sink buffers (about 186 ms at 44100 Hz).
constexpr int kBufferFrames = 8192;
} // namespace

LiveAudioPlayer::LiveAudioPlayer(QObject* parent) : QObject(parent) {}

LiveAudioPlayer::~LiveAudioPlayer()
{
    stop();
    scratch.clear();
}

void LiveAudioPlayer::setSf2Sampler(SF2Sampler* sampler)
{
    markRenderedSource(false);
    sf2 = sampler;
    piano = nullptr;
    pluginInstrumentIndex = -1;
    if (running && sf2)
        sf2->setSampleRate(sampleRate);
    markRenderedSource(true);
}

void LiveAudioPlayer::setPianoSampler(PianoSampler* sampler)
{
    markRenderedSource(false);
    piano = sampler;
    sf2 = nullptr;
    pluginInstrumentIndex = -1;
    if (running && piano)
        piano->setSampleRate(sampleRate);
    markRenderedSource(true);
}

void LiveAudioPlayer::setPluginInstrument(AudioPluginBridge* bridge, int instrumentIndex)
{
    markRenderedSource(false);
    pluginBridge = bridge;
    pluginInstrumentIndex = instrumentIndex;
    markRenderedSource(true);
}

void LiveAudioPlayer::markRenderedSource(bool rendered)
{
    // Only while running, and only the instrument pushAudio renders.
    if (!running || (pluginBridge && pluginInstrumentIndex >= 0))
        return;
    if (sf2)
        sf2->setRenderedLive(rendered);
    else if (piano)
        piano->setRenderedLive(rendered);
}

bool LiveAudioPlayer::start(int requestedRate)
{
    if (isRunning())
        return true;
    stop(); // a sink left without its stream
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        qWarning() << "LiveAudioPlayer: no audio output device";
        return false;
    }
    qDebug() << "LiveAudioPlayer: audio output =" << device.description();
    bool preferred = false;
    const QAudioFormat format = PushAudioSink::chooseFormat(device, requestedRate, &preferred);
    if (preferred)
        qDebug() << "LiveAudioPlayer: format NOT supported, using preferred";
    qDebug() << "LiveAudioPlayer: format =" << format.sampleRate() << "Hz," << format.channelCount() << "ch";

    // The instruments render at the rate the device runs at.
    sampleRate = format.sampleRate() > 0 ? format.sampleRate() : requestedRate;
    if (piano)
        piano->setSampleRate(sampleRate);
    if (sf2)
        sf2->setSampleRate(sampleRate);
    scratch.resize(kMaxPushFrames * 4);

    if (!output.start(device, format, kBufferFrames, this)) {
        qWarning() << "LiveAudioPlayer: QAudioSink::start() returned null!";
        return false;
    }
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &LiveAudioPlayer::pushAudio);
    timer->start(kIntervalMs);
    running = true;
    markRenderedSource(true);
    qDebug() << "LiveAudioPlayer: Started (push mode, SR=" << sampleRate << "buffer=" << kMaxPushFrames
             << "frames, interval=" << kIntervalMs << "ms)";
    return true;
}

void LiveAudioPlayer::stop()
{
    if (!running)
        return;
    markRenderedSource(false);
    running = false;
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    output.stop();
    if (sf2)
        sf2->allNotesOff();
    if (piano)
        piano->allNotesOff();
    qDebug() << "LiveAudioPlayer: Stopped";
}

int LiveAudioPlayer::framesToPush(qint64 bytesFree, int bytesPerFrame)
{
    if (bytesPerFrame < 1)
        return 1;
    if (bytesFree >= qint64(kMaxPushFrames) * bytesPerFrame)
        return kMaxPushFrames;
    // At least one frame on every tick, even when the sink reports no room.
    return int(std::max<qint64>(bytesFree / bytesPerFrame, 1));
}

void LiveAudioPlayer::pushAudio()
{
    if (!running || !output.isStarted())
        return;
    const int frames = framesToPush(output.bytesFree(), output.bytesPerFrame());
    scratch.fill(0);
    short* pcm = reinterpret_cast<short*>(scratch.data());
    if (pluginBridge && pluginInstrumentIndex >= 0)
        renderPlugin(frames);
    else if (sf2)
        sf2->renderLive(pcm, frames);
    else if (piano)
        piano->renderLive(pcm, frames);
    output.write(pcm, frames);
}

void LiveAudioPlayer::renderPlugin(int frames)
{
    // The plug-in writes its output over two zeroed channels in place.
    std::vector<float> left(size_t(frames), 0.0f), right(size_t(frames), 0.0f);
    float* channels[2] = {left.data(), right.data()};
    AudioBuffer view;
    view.data = channels;
    view.numChannels = 2;
    view.numFrames = frames;
    pluginBridge->process(view, view);
    view.data = nullptr; // the channels belong to this function, not to the view
    view.numChannels = 0;
    view.numFrames = 0;

    short* pcm = reinterpret_cast<short*>(scratch.data());
    for (int f = 0; f < frames; ++f) {
        pcm[2 * f] = short(std::clamp(left[size_t(f)], -1.0f, 1.0f) * 32767.0f);
        pcm[2 * f + 1] = short(std::clamp(right[size_t(f)], -1.0f, 1.0f) * 32767.0f);
    }
}
