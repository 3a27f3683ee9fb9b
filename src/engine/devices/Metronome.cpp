#include "engine/devices/Metronome.h"

#include <QDebug>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kMaxPushFrames = 1024;
constexpr int kBufferFrames = 8192;
} // namespace

Metronome::Metronome(QObject* parent) : QObject(parent) {}

Metronome::~Metronome()
{
    stop();
}

bool Metronome::start(int rate, double beatsPerMinute, int beats)
{
    stop();
    sampleRate = rate;
    bpm = beatsPerMinute;
    beatsPerBar = beats;

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        qWarning() << "Metronome: no audio output device";
        return false;
    }
    const QAudioFormat format = PushAudioSink::chooseFormat(device, rate, nullptr);
    clicks.prepare(format.sampleRate() > 0 ? format.sampleRate() : rate, bpm, beatsPerBar);
    if (!output.start(device, format, kBufferFrames, this)) {
        qWarning() << "Metronome: failed to get IO device from QAudioSink";
        return false;
    }
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &Metronome::pushAudio);
    timer->start(10);
    running = true;
    qDebug() << "Metronome: started at" << bpm << "BPM, sampleRate=" << clicks.sampleRate();
    return true;
}

void Metronome::stop()
{
    running = false;
    if (timer) {
        timer->stop();
        delete timer;
        timer = nullptr;
    }
    output.stop();
}

void Metronome::render(short* out, int frames)
{
    if (!running || volume_ <= 0.0f || frames < 1)
        return;
    clicks.render(out, frames, volume_);
}

void Metronome::pushAudio()
{
    if (!running || !output.isStarted())
        return;
    const qint64 free = output.bytesFree();
    const int bytesPerFrame = output.bytesPerFrame();
    if (free < bytesPerFrame)
        return;
    const int frames = int(std::min<qint64>(free / bytesPerFrame, kMaxPushFrames));
    short pcm[2 * kMaxPushFrames] = {};
    render(pcm, frames);
    output.write(pcm, frames);
}
