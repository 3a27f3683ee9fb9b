#include "multitrack/AuditionInstrument.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"

#include <algorithm>

AuditionInstrument::AuditionInstrument(SF2Sampler* soundFont, PianoSampler* sampledPiano, int trackChannel,
                                       int trackPreset)
    : channel(std::clamp(trackChannel, 0, 15))
    , preset(trackPreset)
{
    if (soundFont && soundFont->isLoaded())
        sf2 = soundFont;
    else if (sampledPiano && sampledPiano->sampleCount() > 0)
        piano = sampledPiano;
}

int AuditionInstrument::sampleRate() const
{
    if (sf2)
        return sf2->sampleRate();
    return piano ? piano->sampleRate() : 0;
}

void AuditionInstrument::setSampleRate(int rate) const
{
    if (sf2)
        sf2->setSampleRate(rate);
    else if (piano)
        piano->setSampleRate(rate);
}

void AuditionInstrument::noteOn(int pitch, int velocity) const
{
    if (sf2) {
        // Another track may share the channel with another preset.
        if (preset >= 0 && sf2->currentPresetIndex(channel) != preset)
            sf2->selectPreset(channel, preset);
        else if (sf2->currentPresetIndex(channel) < 0)
            sf2->selectPreset(channel, 0); // a channel sounds once prepared
        sf2->noteOn(channel, pitch, velocity);
    }
    else if (piano)
        piano->noteOn(pitch, velocity);
}

void AuditionInstrument::noteOff(int pitch) const
{
    if (sf2)
        sf2->noteOff(channel, pitch);
    else if (piano)
        piano->noteOff(pitch);
}

void AuditionInstrument::renderLive(short* out, int frames) const
{
    if (sf2)
        sf2->renderLive(out, frames);
    else if (piano)
        piano->renderLive(out, frames);
}

bool AuditionInstrument::isRenderedLive() const
{
    if (sf2)
        return sf2->isRenderedLive();
    return piano && piano->isRenderedLive();
}
