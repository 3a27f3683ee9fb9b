#include "engine/devices/Metronome.h"

#include <QDebug>
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
    if (!output.start(rate, kBufferFrames)) {
        qWarning() << "Metronome: no output at" << rate << "Hz";
        return false;
    }
    // Made again at the output's rate once it is open, should it take another.
    clicks.prepare(rate, bpm, beatsPerBar);
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &Metronome::pushAudio);
    timer->start(10);
    running = true;
    qDebug() << "Metronome: started at" << bpm << "BPM, sampleRate=" << rate;
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
    const int rate = output.sampleRate();
    if (rate <= 0)
        return; // still opening
    // Before the first click is pushed: the count starts with what is heard.
    if (rate != clicks.sampleRate())
        clicks.prepare(rate, bpm, beatsPerBar);
    const qint64 free = output.bytesFree();
    const int bytesPerFrame = output.bytesPerFrame();
    if (free < bytesPerFrame)
        return;
    const int frames = int(std::min<qint64>(free / bytesPerFrame, kMaxPushFrames));
    short pcm[2 * kMaxPushFrames] = {};
    render(pcm, frames);
    output.write(pcm, frames);
}
