#include "engine/devices/LiveAudioPlayer.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "plugins/AudioPluginBridge.h"

#include <QDebug>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace {
// Frames the output buffers (about 186 ms at 44100 Hz).
constexpr int kBufferFrames = 8192;
// How long a start waits for the output to open.
constexpr std::chrono::milliseconds kOpenWait{100};
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
    stop(); // an output left without its stream
    if (!output.start(requestedRate, kBufferFrames)) {
        qWarning() << "LiveAudioPlayer: no output at" << requestedRate << "Hz";
        return false;
    }
    // The instruments render at the rate the output took, known once it is
    // open: a start waits a moment for it, so that a note struck at once
    // keeps its pitch. An output slow to open (a server that answers nothing)
    // holds the key no longer; the rate asked for serves until it opens (see
    // pushAudio).
    output.waitUntilOpen(kOpenWait);
    useRate(output.sampleRate() > 0 ? output.sampleRate() : requestedRate);
    scratch.resize(kMaxPushFrames * 4);
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &LiveAudioPlayer::pushAudio);
    timer->start(kIntervalMs);
    running = true;
    markRenderedSource(true);
    qDebug() << "LiveAudioPlayer: Started (push mode, SR=" << sampleRate << "buffer=" << kMaxPushFrames
             << "frames, interval=" << kIntervalMs << "ms)";
    return true;
}

void LiveAudioPlayer::useRate(int rate)
{
    sampleRate = rate;
    if (piano)
        piano->setSampleRate(sampleRate);
    if (sf2)
        sf2->setSampleRate(sampleRate);
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
    const int rate = output.sampleRate();
    if (rate <= 0)
        return; // still opening
    if (rate != sampleRate)
        useRate(rate);
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
