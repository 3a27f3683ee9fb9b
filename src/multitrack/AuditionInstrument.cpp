#include "multitrack/AuditionInstrument.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"

AuditionInstrument::AuditionInstrument(SF2Sampler* soundFont, PianoSampler* sampledPiano)
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
    // The SoundFont sounds on channel 0, where the roll's auditions go.
    if (sf2)
        sf2->noteOn(0, pitch, velocity);
    else if (piano)
        piano->noteOn(pitch, velocity);
}

void AuditionInstrument::noteOff(int pitch) const
{
    if (sf2)
        sf2->noteOff(0, pitch);
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
