#pragma once
// The metronome's click track: an 800 Hz accented click on the first beat of
// each bar and a 600 Hz click on the others, 50 ms each with an exponential
// decay, counted in beats from the moment of prepare(). The first click comes
// one beat after the start; the beat advances before each click, so the first
// click of a run is a plain one and every beatsPerBar-th click is accented.

#include <QList>

class ClickGenerator {
public:
    // Synthesises both clicks at sampleRate and restarts the count.
    void prepare(int sampleRate, double bpm, int beatsPerBar);
    // Writes the clicks (volume applied, clamped) over `frames` interleaved
    // 16-bit stereo frames of out; frames without a click keep their values.
    void render(short* out, int frames, float volume);

    int clickLength() const { return clickLength_; }
    int sampleRate() const { return sampleRate_; }

private:
    int sampleRate_ = 44100;
    double bpm_ = 120.0;
    int beatsPerBar_ = 4;
    double phase_ = 0.0;
    int beat_ = 0;
    int clickLength_ = 0;
    int clickRemaining_ = 0;
    bool clicking_ = false;
    QList<float> accentClick_;
    QList<float> normalClick_;
};
