#include "engine/devices/PushAudioSink.h"

#include <QAudioSink>
#include <QDebug>

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
    if (io)
        return true;
    delete sink;
    sink = nullptr;
    return startOwnStream(format.sampleRate(), bufferFrames);
}

bool PushAudioSink::startOwnStream(int sampleRate, int bufferFrames)
{
    if (!ownStream.start(sampleRate, bufferFrames))
        return false;
    format_ = QAudioFormat();
    format_.setSampleRate(sampleRate);
    format_.setChannelCount(2);
    format_.setSampleFormat(QAudioFormat::Float);
    converter = StereoPcmConverter(format_);
    qDebug() << "PushAudioSink: Qt's audio sink did not start; playing on a PulseAudio stream of its own";
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
    ownStream.stop();
}

qint64 PushAudioSink::bytesFree() const
{
    return sink ? sink->bytesFree() : qint64(ownStream.framesFree()) * converter.bytesPerFrame();
}

qint64 PushAudioSink::write(const short* stereo, int frames)
{
    // A stream whose sound server went away answers -1 for its room before
    // Qt hears of the loss. Qt 6.4 keeps its PulseAudio lock after a write
    // to such a stream fails, and hangs when it then lets the connection go:
    // nothing is written to it.
    if (frames < 1 || !isStarted() || (io && sink->bytesFree() < 0))
        return 0;
    const char* bytes = reinterpret_cast<const char*>(stereo);
    const qsizetype size = qsizetype(frames) * converter.bytesPerFrame();
    if (!converter.isPassThrough()) {
        if (converted.size() < size)
            converted.resize(size);
        converter.convert(stereo, frames, converted.data());
        bytes = converted.constData();
    }
    if (io)
        return io->write(bytes, size);
    return ownStream.write(reinterpret_cast<const float*>(bytes), frames) ? size : 0;
}
