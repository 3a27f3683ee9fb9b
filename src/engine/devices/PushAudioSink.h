#pragma once
// The default output in push mode, fed interleaved 16-bit stereo frames. The
// live instrument output and the metronome each own one and push to it from
// a 10 ms timer. Qt's sink waits for the sound server while it opens, and
// runs events while it is deleted: it is opened, fed, closed and deleted on
// a thread of its own (see PushAudioThread), and the caller never waits for
// that thread. Frames
// written go into a queue that thread hands to the device, converted to
// whatever format the device took. Where Qt's sink cannot start (Qt 6.4 gives
// its server connection up for the rest of the process once the server was
// away longer than its one retry), the frames go to a PulseAudio stream of
// its own instead.

#include <QAudioDevice>
#include <QAudioFormat>
#include <QtGlobal>

#include <chrono>
#include <memory>

class PushAudioSink {
public:
    ~PushAudioSink();

    // 16-bit stereo at sampleRate when the device takes it, else the device's
    // preferred format (usedPreferred set).
    static QAudioFormat chooseFormat(const QAudioDevice& device, int sampleRate, bool* usedPreferred);

    // Returns at once; the default output opens meanwhile, at sampleRate when
    // it takes that rate, with a buffer of about `bufferFrames` frames. False
    // only for a rate or buffer of none.
    bool start(int sampleRate, int bufferFrames);
    // Waits at most `limit` for the output to open; whether it is open.
    bool waitUntilOpen(std::chrono::milliseconds limit) const;
    // Returns at once: the output closes on its thread.
    void stop();
    // Opening or open: false once it failed to open, went with its server
    // (also while opening), or was stopped.
    bool isStarted() const;
    // The rate the output took; 0 until it is open.
    int sampleRate() const;

    // What write takes: interleaved 16-bit stereo.
    static constexpr int bytesPerFrame() { return 4; }
    // Bytes a write can take now without running further ahead of what is
    // heard than the device's buffer: none until the output is open.
    qint64 bytesFree() const;
    // Queues `frames` frames, all or none; returns the bytes taken.
    qint64 write(const short* stereo, int frames);

private:
    struct Shared;
    class Device;
    std::shared_ptr<Shared> shared;
};
