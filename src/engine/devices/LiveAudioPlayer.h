#pragma once
// Makes live notes (MIDI keyboard) audible at once: every 10 ms on the GUI
// thread it renders the attached instrument (SoundFont, sampled piano or an
// instrument plug-in) and pushes it to an output on the default device
// (see PushAudioSink: it opens and closes off this thread). The instrument
// renders at the rate the output took, and the frames are converted to the
// output's sample type and channel count. Note on and note off go from the
// page to the instrument directly.

#include "engine/devices/PushAudioSink.h"

#include <QByteArray>
#include <QObject>

class AudioPluginBridge;
class PianoSampler;
class QTimer;
class SF2Sampler;

class LiveAudioPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPushFrames = 1024;
    static constexpr int kIntervalMs = 10;

    explicit LiveAudioPlayer(QObject* parent = nullptr);
    ~LiveAudioPlayer() override;

    // The SoundFont instrument becomes the source (the piano and plug-in are
    // dropped); while running it renders at the output's rate from now on.
    void setSf2Sampler(SF2Sampler* sampler);
    // The piano becomes the source (the SoundFont and plug-in are dropped),
    // likewise at the output's rate while running.
    void setPianoSampler(PianoSampler* sampler);
    SF2Sampler* soundFontSource() const { return sf2; }
    PianoSampler* pianoSource() const { return piano; }
    // The plug-in chain of `bridge` becomes the source while instrumentIndex >= 0.
    void setPluginInstrument(AudioPluginBridge* bridge, int instrumentIndex);

    // Starts opening the default output and returns at once (at once too when
    // already running); false for a rate of none. The instruments render at
    // sampleRate from now on, at the output's rate once it is open.
    bool start(int sampleRate);
    // Stops the output and silences the attached instruments.
    void stop();
    // True while the output opens; false once it failed to open or gave up
    // its stream (the sound server went away): a start then opens it anew.
    bool isRunning() const { return running && output.isStarted(); }
    // The rate the instruments render at (valid while running).
    int outputSampleRate() const { return sampleRate; }

    // One push: renders and writes as many frames as the sink has room for
    // (at most 1024, at least one).
    void pushAudio();
    // Frames of one push when the sink has bytesFree bytes free.
    static int framesToPush(qint64 bytesFree, int bytesPerFrame);

private:
    void renderPlugin(int frames);
    void useRate(int rate);
    // Tells the instrument that pushAudio renders, while running, whether it
    // does (other outputs leave its voices to this one).
    void markRenderedSource(bool rendered);

    PushAudioSink output;
    QTimer* timer = nullptr;
    SF2Sampler* sf2 = nullptr;
    PianoSampler* piano = nullptr;
    AudioPluginBridge* pluginBridge = nullptr;
    int pluginInstrumentIndex = -1;
    bool running = false;
    int sampleRate = 44100;
    QByteArray scratch; // one push of interleaved 16-bit stereo
};
