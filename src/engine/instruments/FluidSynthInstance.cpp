#include "engine/instruments/FluidSynthInstance.h"

#include <QDebug>
#include <QFile>
#include <fluidsynth.h>
#include <mutex>

namespace {

// FluidSynth's own messages go to Qt's debug log instead of standard error;
// the sampler reports failures itself.
void logToQt(int level, const char* message, void*)
{
    Q_UNUSED(level);
    qDebug() << "SF2Sampler: fluidsynth:" << message;
}

} // namespace

std::unique_ptr<FluidSynthInstance> FluidSynthInstance::create(int sampleRate)
{
    static std::once_flag logOnce;
    std::call_once(logOnce, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, logToQt, nullptr);
    });
    std::unique_ptr<FluidSynthInstance> instance(new FluidSynthInstance);
    instance->settings_ = new_fluid_settings();
    if (!instance->settings_)
        return nullptr;
    fluid_settings_t* s = instance->settings_;
    fluid_settings_setnum(s, "synth.sample-rate", sampleRate);
    fluid_settings_setint(s, "synth.polyphony", 256);
    fluid_settings_setint(s, "synth.midi-channels", kChannels);
    fluid_settings_setint(s, "synth.reverb.active", 0);
    fluid_settings_setint(s, "synth.chorus.active", 0);
    fluid_settings_setnum(s, "synth.gain", 1.0);
    // The owner serialises every call under its own mutex.
    fluid_settings_setint(s, "synth.threadsafe-api", 0);
    instance->synth_ = new_fluid_synth(s);
    if (!instance->synth_)
        return nullptr;

    // Velocity scales the amplitude linearly (v / 127) instead of FluidSynth's
    // default square law: the same concave curve at half the attenuation range.
    fluid_mod_t* velocityToGain = new_fluid_mod();
    if (velocityToGain) {
        fluid_mod_set_source1(velocityToGain, FLUID_MOD_VELOCITY,
                              FLUID_MOD_GC | FLUID_MOD_CONCAVE | FLUID_MOD_UNIPOLAR | FLUID_MOD_NEGATIVE);
        fluid_mod_set_source2(velocityToGain, FLUID_MOD_NONE, 0);
        fluid_mod_set_dest(velocityToGain, GEN_ATTENUATION);
        fluid_mod_set_amount(velocityToGain, 480.0);
        fluid_synth_add_default_mod(instance->synth_, velocityToGain, FLUID_SYNTH_OVERWRITE);
        delete_fluid_mod(velocityToGain);
    }
    for (int channel = 0; channel < kChannels; ++channel)
        fluid_synth_unset_program(instance->synth_, channel);
    return instance;
}

FluidSynthInstance::~FluidSynthInstance()
{
    releaseFont();
    if (synth_)
        delete_fluid_synth(synth_);
    if (settings_)
        delete_fluid_settings(settings_);
}

bool FluidSynthInstance::loadFont(const QString& path)
{
    releaseFont();
    const QByteArray fileName = QFile::encodeName(path);
    // SoundFont 2 files only (FluidSynth would also try other instrument formats).
    if (!fluid_is_soundfont(fileName.constData()))
        return false;
    const int id = fluid_synth_sfload(synth_, fileName.constData(), 0);
    if (id == FLUID_FAILED)
        return false;
    font_ = fluid_synth_get_sfont_by_id(synth_, id);
    fontId_ = id;
    ownsFont_ = true;
    return font_ != nullptr;
}

bool FluidSynthInstance::borrowFont(const FluidSynthInstance& owner)
{
    releaseFont();
    if (!owner.font_)
        return false;
    const int id = fluid_synth_add_sfont(synth_, owner.font_);
    if (id == FLUID_FAILED)
        return false;
    font_ = owner.font_;
    fontId_ = id;
    ownsFont_ = false;
    return true;
}

bool FluidSynthInstance::takeFont(FluidSynthInstance& previous)
{
    if (!previous.ownsFont_ || !borrowFont(previous))
        return false;
    // The font moves: this synthesiser frees it, the previous one only lets go.
    ownsFont_ = true;
    previous.ownsFont_ = false;
    previous.releaseFont();
    return true;
}

double FluidSynthInstance::sampleRate() const
{
    double rate = 0.0;
    fluid_settings_getnum(settings_, "synth.sample-rate", &rate);
    return rate;
}

void FluidSynthInstance::selectProgram(int channel, int bank, int program)
{
    if (bank < 0 || !font_)
        fluid_synth_unset_program(synth_, channel);
    else
        fluid_synth_program_select(synth_, channel, fontId_, bank, program);
}

void FluidSynthInstance::silence()
{
    fluid_synth_all_sounds_off(synth_, -1);
    // Ended voices are only released when the next block is mixed; a note
    // started before that could be handed a voice that still sounds.
    float discarded[2 * kBlockFrames];
    render(discarded, kBlockFrames);
}

void FluidSynthInstance::render(float* interleaved, int frames)
{
    fluid_synth_write_float(synth_, frames, interleaved, 0, 2, interleaved, 1, 2);
}

void FluidSynthInstance::releaseFont()
{
    if (!font_)
        return;
    if (!ownsFont_) {
        // No voice or channel may keep pointing into a font this synthesiser
        // does not free; the owner frees it later.
        fluid_synth_all_sounds_off(synth_, -1);
        for (int channel = 0; channel < kChannels; ++channel)
            fluid_synth_unset_program(synth_, channel);
        fluid_synth_remove_sfont(synth_, font_);
    } else {
        fluid_synth_all_sounds_off(synth_, -1);
        for (int channel = 0; channel < kChannels; ++channel)
            fluid_synth_unset_program(synth_, channel);
        fluid_synth_sfunload(synth_, fontId_, 0);
    }
    font_ = nullptr;
    fontId_ = -1;
    ownsFont_ = false;
}
