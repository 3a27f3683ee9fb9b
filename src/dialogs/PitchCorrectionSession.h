#pragma once
// The working state of note-by-note pitch correction, apart from its view:
// the YIN analysis of a mono list into pitch frames and note segments (split
// also where joined notes move to another pitch), each segment's target (the
// nearest note pulled in by the strength, or a note the user chose), and the
// correction itself: every segment that needs it is pitch-shifted on its own
// and crossfaded into the untouched audio.
//
// PitchRollGeometry maps the view's time and pitch axes to pixels and finds
// the segment under a point.

#include "audio/dsp/YinPitchDetector.h"

#include <QList>
#include <QPoint>
#include <QSize>

#include <vector>

class PitchCorrectionSession {
public:
    static constexpr int MinSegmentFrames = 3;
    static constexpr int MaxGapFrames = 2;
    // A run of voiced frames is split where the pitch moves more than this
    // from the current note's mean and holds there for SettleFrames frames
    // (longer than a vibrato stays on one side), swinging no wider than a
    // vibrato does.
    static constexpr double NoteChangeSemitones = 0.5;
    static constexpr int SettleFrames = 12;
    static constexpr double SettleSpreadSemitones = 1.0;
    static constexpr int MinShiftedSamples = 256;
    static constexpr float MinShiftSemitones = 0.01f;
    static constexpr double FadeSeconds = 0.008;

    // Analyses `samples` at once (detection, segments, targets at strength 1).
    PitchCorrectionSession(const QList<float>& samples, int sampleRate);

    const QList<float>& input() const { return samples; }
    int sampleRate() const { return rate; }
    int hopSize() const { return detector.hopSize; }
    double duration() const;
    const std::vector<PitchFrame>& pitchFrames() const { return frames; }
    const std::vector<PitchCorrectionSegment>& noteSegments() const { return segments; }
    float strength() const { return currentStrength; }

    // 0..1; automatic targets follow it, manual ones keep their note.
    void setStrength(float strength);
    // Makes `midi` (clamped to 0..127) the segment's manual target; false
    // for an index out of range.
    bool setSegmentTarget(int index, int midi);
    // The note a target drag lands on: the start target moved by the rows
    // dragged (upwards positive), to the nearest whole note, 0..127.
    static int draggedNote(float startTargetFreq, int startY, int y, double zoomY);

    // Time of a frame (its centre), 0 outside the frames.
    double frameTime(int frame) const;

    // The input with every segment that needs it shifted to its target.
    QList<float> corrected() const;
    // Another list (another channel of the same audio) with the same shifts
    // at the same times; a list of another length is covered as far as it
    // reaches.
    QList<float> corrected(const QList<float>& list) const;

    // Weight of the shifted audio at sample i of n with a crossfade of
    // `fade` samples at both ends: min(1, i/fade, (n-1-i)/fade); 1 when the
    // fade is under one sample. Symmetric, 0 at both ends.
    static float crossfadeGain(int i, int n, int fade);

    static double frequencyToPitch(double frequency); // fractional MIDI pitch

private:
    void updateShift(PitchCorrectionSegment& segment) const;
    void splitAtNoteChanges();
    bool settlesAway(int from, int end, double pitch) const;
    // A segment of frames [start, end) with its sung average; false when it has none.
    bool makeSegment(int start, int end, PitchCorrectionSegment& segment) const;

    QList<float> samples;
    int rate = 44100;
    YinPitchDetector detector;
    std::vector<PitchFrame> frames;
    std::vector<PitchCorrectionSegment> segments;
    float currentStrength = 1.0f;
};

// The pitch view's axes: 48 px of keys on the left, a 32 px ruler on top and
// the 60 px bar at the bottom; 100 px a second and 24 px a note at zoom 1,
// MIDI 119 in the top row down to MIDI 12.
struct PitchRollGeometry {
    static constexpr int KeyWidth = 48;
    static constexpr int RulerHeight = 32;
    static constexpr int BarHeight = 60;
    static constexpr int RowHeight = 24;
    static constexpr int PixelsPerSecond = 100;
    static constexpr int TopPitch = 119;
    static constexpr int BottomPitch = 12;
    static constexpr int RowCount = TopPitch - BottomPitch + 1;

    QSize size;
    double scrollSeconds = 0.0;
    double zoomX = 1.0;
    double zoomY = 1.0;
    int scrollY = 0;

    int secToX(double seconds) const;
    double xToSec(int x) const;
    int pitchToY(double pitch) const; // top edge of the row
    double yToPitch(int y) const;
    double rowCentre(double pitch) const;
    int gridBottom() const { return size.height() - BarHeight - 1; }
    bool inGrid(const QPoint& p) const;
    double visibleSeconds() const;
    // Largest scroll values for a list of `duration` seconds.
    double maxScrollSeconds(double duration) const;
    int maxScrollY() const;

    // The first segment whose span (4 px of slack) and target row (a row
    // and a half either way) hold the point; -1 when none or outside the grid.
    int hitTestSegment(const QPoint& p, const PitchCorrectionSession& session) const;
};
