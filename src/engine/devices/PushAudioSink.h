#pragma once
// A Qt audio sink in push mode, fed interleaved 16-bit stereo frames that it
// converts to whatever format the device took. The live instrument output
// and the metronome each own one and push to it from a 10 ms timer. Where
// Qt's sink cannot start (Qt 6.4 gives its server connection up for the rest
// of the process once the server was away longer than its one retry), the
// frames go to a PulseAudio stream of its own instead.

#include "engine/devices/PulseOutputStream.h"
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
    // frames and starts it in push mode. A sink that yields no push device
    // gives way to a stream of its own in float stereo at the format's rate,
    // which connects meanwhile (no room until it plays). False, with nothing
    // kept, when the device is null, the format unusable or neither starts.
    bool start(const QAudioDevice& device, const QAudioFormat& format, int bufferFrames, QObject* parent);
    void stop();
    // False also once the stream went with its server, or failed to connect.
    bool isStarted() const { return io != nullptr || ownStream.isActive(); }

    const QAudioFormat& format() const { return format_; }
    int bytesPerFrame() const { return converter.bytesPerFrame(); }
    qint64 bytesFree() const;
    // Converts and writes `frames` frames; returns the bytes the device
    // accepted (none to a stream whose server went away).
    qint64 write(const short* stereo, int frames);

private:
    bool startOwnStream(int sampleRate, int bufferFrames);

    QAudioSink* sink = nullptr;
    // The sink deletes its push device when the stream fails (the sound
    // server went away, for one): the pointer must not outlive it.
    QPointer<QIODevice> io;
    QAudioFormat format_;
    StereoPcmConverter converter;
    QByteArray converted;
    PulseOutputStream ownStream; // active only while Qt's sink is not
};
