#pragma once
// One FluidSynth synthesiser set up the way the SoundFont instrument plays:
// 256 voices, 16 MIDI channels, no reverb or chorus, unit gain, velocity
// scaling the amplitude linearly. A SoundFont is either loaded by this
// instance (which then owns it) or borrowed from another one, so offline
// renders share the loaded samples with the live synthesiser.

#include <QString>
#include <memory>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sfont_t fluid_sfont_t;

class FluidSynthInstance {
public:
    static constexpr int kChannels = 16;
    // FluidSynth renders in blocks of this many frames.
    static constexpr int kBlockFrames = 64;

    // Null when FluidSynth cannot create a synthesiser at that rate.
    static std::unique_ptr<FluidSynthInstance> create(int sampleRate);
    ~FluidSynthInstance();
    FluidSynthInstance(const FluidSynthInstance&) = delete;
    FluidSynthInstance& operator=(const FluidSynthInstance&) = delete;

    // Loads a SoundFont file; this instance owns it afterwards.
    bool loadFont(const QString& path);
    // Uses the font of `owner` without owning it (released at destruction).
    bool borrowFont(const FluidSynthInstance& owner);
    // Takes over the font of `previous`, which must not sound afterwards.
    bool takeFont(FluidSynthInstance& previous);

    fluid_synth_t* synth() const { return synth_; }
    fluid_sfont_t* font() const { return font_; }
    int fontId() const { return fontId_; }
    double sampleRate() const;

    // Selects bank/program of the font on a channel; a negative bank leaves
    // the channel without a preset (silent).
    void selectProgram(int channel, int bank, int program);
    // Ends every voice at once and renders one discarded block. Called at a
    // block boundary (after whole blocks only), it leaves the synthesiser
    // silent and at the next boundary.
    void silence();
    // Renders interleaved stereo floats.
    void render(float* interleaved, int frames);

private:
    FluidSynthInstance() = default;
    void releaseFont();

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    fluid_sfont_t* font_ = nullptr;
    int fontId_ = -1;
    bool ownsFont_ = false;
};
