#pragma once
// YIN pitch tracking of a mono buffer and its grouping into note segments
// with targets on the equal-tempered scale (A4 = 440 Hz), for pitch
// correction. A plain class: configure, detect, build segments, compute
// targets, all on the caller's thread.

#include <cstddef>
#include <vector>

struct PitchFrame {
    double time = 0.0;       // seconds, frame centre
    float frequency = 0.0f;  // Hz, 0 when unvoiced
    float confidence = 0.0f; // 1 − normalised difference at the chosen lag
    int midiNote = -1;       // nearest note, −1 when unvoiced
};

struct PitchCorrectionSegment {
    int startFrame = 0;
    int endFrame = 0; // one past the last frame
    float avgFreq = 0.0f;
    float targetFreq = 0.0f;
    float shiftSemitones = 0.0f;
    int targetMidi = 0;
    bool manual = false; // the target note was chosen by the user
};

class YinPitchDetector {
public:
    float sampleRate = 44100.0f;
    int windowSize = 1764; // 40 ms at 44.1 kHz
    int hopSize = 441;     // 10 ms at 44.1 kHz, at least 1
    float threshold = 0.15f;

    void configure(float sampleRate, float windowMs, float hopMs, float threshold);

    // One frame per hop while a whole window fits.
    std::vector<PitchFrame> detect(const float* samples, size_t count) const;

    // Runs of voiced frames, bridging gaps of up to maxGap unvoiced frames;
    // segments shorter than minFrames are dropped.
    std::vector<PitchCorrectionSegment> buildSegments(const std::vector<PitchFrame>& frames,
                                                      int minFrames, int maxGap);

    // Pulls each segment's target toward its note by strength (0 keeps the
    // sung pitch, 1 lands on the note); the same strength always gives the
    // same targets.
    void computeTargets(std::vector<PitchCorrectionSegment>& segments, float strength);

    // A frame that carries a pitch: segments are built from runs of these.
    static bool isVoiced(const PitchFrame& frame);

    // Nearest MIDI note (halves away from zero) and a note's frequency.
    static int frequencyToMidi(double frequency);
    static double midiToFrequency(double midi);
};
