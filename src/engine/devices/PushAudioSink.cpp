#include "engine/devices/PushAudioSink.h"

#include <QAudioSink>

PushAudioSink::~PushAudioSink()
{
    stop();
}

QAudioFormat PushAudioSink::chooseFormat(const QAudioDevice& device, int sampleRate, bool* usedPreferred)
{
    QAudioFormat wanted;
    wanted.setSampleRate(sampleRate);
    wanted.setChannelCount(2);
    wanted.setSampleFormat(QAudioFormat::Int16);
    const bool supported = device.isFormatSupported(wanted);
    if (usedPreferred)
        *usedPreferred = !supported;
    return supported ? wanted : device.preferredFormat();
}

bool PushAudioSink::start(const QAudioDevice& device, const QAudioFormat& format, int bufferFrames,
                          QObject* parent)
{
    stop();
    converter = StereoPcmConverter(format);
    if (device.isNull() || !format.isValid() || !converter.isValid())
        return false;
    format_ = format;
    sink = new QAudioSink(device, format, parent);
    sink->setBufferSize(qsizetype(bufferFrames) * converter.bytesPerFrame());
    io = sink->start();
    if (!io) {
        delete sink;
        sink = nullptr;
        return false;
    }
    return true;
}

void PushAudioSink::stop()
{
    io = nullptr;
    if (sink) {
        sink->stop();
        delete sink;
        sink = nullptr;
    }
}

qint64 PushAudioSink::bytesFree() const
{
    return sink ? sink->bytesFree() : 0;
}

qint64 PushAudioSink::write(const short* stereo, int frames)
{
    // A stream whose sound server went away answers -1 for its room before
    // Qt hears of the loss. Qt 6.4 keeps its PulseAudio lock after a write
    // to such a stream fails, and hangs when it then lets the connection go:
    // nothing is written to it.
    if (!io || frames < 1 || sink->bytesFree() < 0)
        return 0;
    if (converter.isPassThrough())
        return io->write(reinterpret_cast<const char*>(stereo), qint64(frames) * 4);
    const qsizetype bytes = qsizetype(frames) * converter.bytesPerFrame();
    if (converted.size() < bytes)
        converted.resize(bytes);
    converter.convert(stereo, frames, converted.data());
    return io->write(converted.constData(), bytes);
}
