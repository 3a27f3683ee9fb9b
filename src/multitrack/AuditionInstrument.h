#pragma once
// The instrument the piano roll sounds through, chosen afresh at each use
// from the page's shared instruments: the SoundFont when one is loaded, on
// the clip's track channel with the track's preset, else the piano once it
// has samples, else none (every call does nothing).

class PianoSampler;
class SF2Sampler;

class AuditionInstrument {
public:
    // preset -1 leaves the channel's preset as it is.
    AuditionInstrument(SF2Sampler* sf2, PianoSampler* piano, int channel = 0, int preset = -1);

    bool isUsable() const { return sf2 || piano; }
    // 0 without a usable instrument.
    int sampleRate() const;
    void setSampleRate(int rate) const;
    void noteOn(int pitch, int velocity) const;
    void noteOff(int pitch) const;
    // Live voices as 16-bit interleaved stereo.
    void renderLive(short* out, int frames) const;
    // Whether a running live output renders this instrument's voices.
    bool isRenderedLive() const;

private:
    SF2Sampler* sf2 = nullptr;
    PianoSampler* piano = nullptr;
    int channel = 0;
    int preset = -1;
};
