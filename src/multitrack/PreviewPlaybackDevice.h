#pragma once
// What the piano roll's audio output pulls: the live voices of the page's
// shared instruments (the SoundFont when one is loaded, else the sampled
// piano), rendered on demand as 16-bit stereo and written in the format the
// sink took, through the same conversion the live output uses. It never
// reaches an end: without a voice, or without a usable instrument, it reads
// silence.
//
// Rendering takes the voices it renders: two outputs drawing on the same
// voices would each play every other block. A device told not to draw
// reads silence and leaves the voices to whichever output draws them; so
// does every device while a running live output (the MIDI keyboard's)
// renders the instrument, which then sounds the auditions too.
//
// readData runs on the thread on which the audio sink pulls. Its only
// mutable state is the atomic draw switch: the instruments serialise
// rendering with note calls by their own mutexes, and both must outlive
// the device.

#include "engine/devices/StereoPcmConverter.h"

#include <QAudioFormat>
#include <QIODevice>

#include <atomic>

class PianoSampler;
class SF2Sampler;

class PreviewPlaybackDevice : public QIODevice {
    Q_OBJECT
public:
    PreviewPlaybackDevice(SF2Sampler* sf2, PianoSampler* piano, const QAudioFormat& format,
                          QObject* parent = nullptr);
    ~PreviewPlaybackDevice() override;

    // Fills all maxSize bytes: whole frames rendered, the rest zero; returns maxSize.
    qint64 readData(char* data, qint64 maxSize) override;
    // Nothing is written: returns 0.
    qint64 writeData(const char* data, qint64 maxSize) override;

    int bytesPerFrame() const { return converter.bytesPerFrame(); }
    // Whether reads render the instruments' voices (on from the start).
    void setDrawingVoices(bool draw) { drawing = draw; }
    bool drawsVoices() const { return drawing; }

private:
    SF2Sampler* sampler;
    PianoSampler* pianoSampler;
    StereoPcmConverter converter;
    std::atomic<bool> drawing{true};
};
