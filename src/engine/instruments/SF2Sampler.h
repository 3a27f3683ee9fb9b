#pragma once
// The SoundFont instrument of MIDI tracks: live 16-bit stereo for monitoring,
// offline mono renders of whole tracks for playback and mixdown, and single
// notes. Preset index = position in the font's presets sorted by bank, then
// program (file order for ties); project files store that index.
//
// Channels: a MIDI channel (0..15) stays silent until it is initialised by
// selectPreset or sustain; initialising channel n also initialises the
// channels below it with preset 0. Every operation takes the sampler's mutex,
// so live rendering on an audio thread may overlap note calls on the GUI thread.

#include "project/ProjectTypes.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class FluidSynthInstance;

class SF2Sampler {
public:
    SF2Sampler();
    ~SF2Sampler();
    SF2Sampler(const SF2Sampler&) = delete;
    SF2Sampler& operator=(const SF2Sampler&) = delete;

    // Replaces the loaded SoundFont; false (and no SoundFont) when the file
    // cannot be opened or parsed.
    bool loadSoundFont(const QString& path);
    bool isLoaded() const;
    QString soundFontPath() const;

    // Output rate of live rendering (44100 when below 1). FluidSynth runs
    // between 8 and 96 kHz; outside that range it runs at the nearest rate
    // it takes and live and offline output are resampled to the rate asked
    // for. Sounding notes end only when FluidSynth's own rate has to change.
    void setSampleRate(int rate);
    int sampleRate() const;

    QStringList getPresetNames() const;
    void selectPreset(int channel, int presetIndex);
    int currentPresetIndex(int channel) const;

    // Velocity 0 releases the key. Sounds only on an initialised channel.
    void noteOn(int channel, int key, int velocity);
    void noteOff(int channel, int key);
    // Releases every sounding voice (each still fades with its release).
    void allNotesOff();
    void sustain(int channel, bool on);

    // Writes exactly 2 × frames interleaved 16-bit values; zeros without a font.
    void renderLive(short* out, int frames);
    // Whether a running live output renders the voices: each render takes
    // what it renders, so other outputs then leave them to it (any thread).
    void setRenderedLive(bool on) { renderedLive = on; }
    bool isRenderedLive() const { return renderedLive; }

    // The track's MIDI clips as a mono list at sampleRate, element 0 at time 0,
    // sampleRate + trunc(end × sampleRate) values; each note sounds alone for
    // exactly its duration (half a second when that is under one frame) with
    // the track's preset (instrumentIndex). Empty without a font or clips.
    // With `firstFrame`, the list starts where the first note does (element
    // 0 at that frame, which *firstFrame receives) instead of holding the
    // silence before it; empty when no note sounds.
    // At a rate FluidSynth does not take, it renders the same span at the
    // nearest rate it takes, resampled into the list afterwards.
    QList<float> renderTrack(const TrackData& track, int sampleRate, qint64* firstFrame = nullptr) const;
    // Bytes that renderTrack with `firstFrame` holds at once for the track:
    // the list, and the render it is resampled from when there is one.
    static qint64 renderBytes(const TrackData& track, int sampleRate);
    // One note on channel 0's preset as interleaved stereo, 2 × trunc(seconds × rate) values.
    QList<float> renderNotePreview(int note, int velocity, double seconds, int sampleRate) const;

private:
    struct Preset {
        int bank;
        int program;
        QString name;
    };

    void applyChannelPreset(int channel, int presetIndex);
    void ensureChannel(int channel);
    // A synthesiser of its own at `rate` sharing the loaded font; null on failure.
    std::unique_ptr<FluidSynthInstance> offlineSynth(int rate) const;
    // The track's notes mixed to mono into frames [from, frames) at `rate`;
    // target[0] is frame `from`, and no note starts before it.
    void renderNotes(FluidSynthInstance& offline, const TrackData& track, int rate, qint64 frames,
                     qint64 from, float* target) const;
    // Live output when FluidSynth runs at another rate than the output.
    void renderLiveResampled(short* out, int frames);
    void restartLiveResampling();

    std::unique_ptr<FluidSynthInstance> synth;
    std::atomic<bool> loaded{false};
    std::atomic<bool> renderedLive{false};
    QString path;
    int rate = 44100;
    mutable std::mutex mutex;
    std::vector<Preset> presets;
    std::array<int, 16> channelPresets; // -1: channel not initialised
    std::array<bool, 16> channelSustain;
    float scratch[512];
    // Live resampling: FluidSynth's frames in `scratch` from scratchNext to
    // scratchFrames not yet used; the output lies `livePhase` of the way
    // from frame livePrevious to frame liveNext.
    int scratchFrames = 0;
    int scratchNext = 0;
    double livePhase = 0.0;
    float livePrevious[2] = {0.0f, 0.0f};
    float liveNext[2] = {0.0f, 0.0f};
};
