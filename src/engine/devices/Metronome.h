#pragma once
// The click track of the multitrack page while it plays or records with the
// metronome on: clicks (see ClickGenerator) pushed every 10 ms on the GUI
// thread to an output of its own on the default device (see PushAudioSink:
// it opens and closes off this thread), counted from the first push once the
// output is open, independent of the mixing engine. The clicks are made at
// the rate the output took and converted to its format.

#include "engine/devices/ClickGenerator.h"
#include "engine/devices/PushAudioSink.h"

#include <QObject>
#include <atomic>

class QTimer;

class Metronome : public QObject {
    Q_OBJECT
public:
    explicit Metronome(QObject* parent = nullptr);
    ~Metronome() override;

    // Restarts with these settings and returns at once, the output opening
    // meanwhile (see isRunning); false (stopped) for a rate of none.
    bool start(int sampleRate, double bpm, int beatsPerBar);
    void stop();
    // Writes the clicks over `frames` interleaved 16-bit stereo frames; nothing
    // when stopped, with volume 0 or less, or for no frames.
    void render(short* out, int frames);

    // True while the output opens; false once it failed to open or gave up
    // its stream (the sound server went away): a start then opens it anew.
    bool isRunning() const { return running && output.isStarted(); }
    float volume() const { return volume_; }
    void setVolume(float volume) { volume_ = volume; }
    // Rate the clicks are made at while running: the one asked for until the
    // output is open, then the output's.
    int outputSampleRate() const { return clicks.sampleRate(); }

private:
    void pushAudio();

    PushAudioSink output;
    QTimer* timer = nullptr;
    std::atomic<bool> running{false};
    int sampleRate = 44100;
    double bpm = 120.0;
    int beatsPerBar = 4;
    float volume_ = 0.5f;
    ClickGenerator clicks;
};
