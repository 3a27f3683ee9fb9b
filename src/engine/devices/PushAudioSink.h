#pragma once
// A Qt audio sink in push mode, fed interleaved 16-bit stereo frames that it
// converts to whatever format the device took. The live instrument output
// and the metronome each own one and push to it from a 10 ms timer.

#include "engine/devices/StereoPcmConverter.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QIODevice>
#include <QPointer>

class QAudioSink;
class QObject;

class PushAudioSink {
public:
    ~PushAudioSink();

    // 16-bit stereo at sampleRate when the device takes it, else the device's
    // preferred format (usedPreferred set).
    static QAudioFormat chooseFormat(const QAudioDevice& device, int sampleRate, bool* usedPreferred);

    // Creates the sink (a child of parent) with a buffer of `bufferFrames`
    // frames and starts it in push mode; false, with nothing kept, when the
    // format is unusable or the sink yields no push device.
    bool start(const QAudioDevice& device, const QAudioFormat& format, int bufferFrames, QObject* parent);
    void stop();
    bool isStarted() const { return io != nullptr; }

    const QAudioFormat& format() const { return format_; }
    int bytesPerFrame() const { return converter.bytesPerFrame(); }
    qint64 bytesFree() const;
    // Converts and writes `frames` frames; returns the bytes the device
    // accepted (none to a stream whose server went away).
    qint64 write(const short* stereo, int frames);

private:
    QAudioSink* sink = nullptr;
    // The sink deletes its push device when the stream fails (the sound
    // server went away, for one): the pointer must not outlive it.
    QPointer<QIODevice> io;
    QAudioFormat format_;
    StereoPcmConverter converter;
    QByteArray converted;
};
