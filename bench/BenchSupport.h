#pragma once
// Timing helpers for the benchmark programs: time our code, time an outside
// reference command in the same run, print both with the ratio and the goal.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

namespace Bench {

// Best wall-clock seconds of `repeats` runs of fn.
double timeBest(const std::function<void()>& fn, int repeats = 3);

// Best wall-clock seconds of running an external command; negative when it
// cannot run (the reference tool is missing or fails).
double timeCommand(const QString& program, const QStringList& args, int repeats = 3);

// Peak resident memory of this process so far, in bytes (VmHWM).
qint64 peakResidentBytes();
// Resident memory now, in bytes (VmRSS).
qint64 residentBytes();
// Starts the peak over from the resident memory now; false where the
// system does not allow it.
bool resetPeakResidentBytes();

// Prints "name: ours X MB | reference Y MB (what) | ratio R (goal <= G) OK/TOO MUCH"
// and returns whether the goal was met.
bool reportMemory(const QString& name, qint64 ours, qint64 reference,
                  const QString& referenceName, double goalRatio);

// Prints "name: ours X s | reference Y s (what) | ratio R (goal <= G) OK/SLOW"
// and returns whether the goal was met.
bool report(const QString& name, double ours, double reference, const QString& referenceName,
            double goalRatio);

// A gain over time, as a clip's fades and a track's volume envelope give it:
// the fade curves (fadeCurveGain) over the first and last frames, times the
// envelope's points joined by straight lines (held before the first point
// and after the last).
struct PlainGainCurve {
    qsizetype frames = 0; // the track's length
    qsizetype fadeIn = 0;
    int fadeInCurve = 0;
    qsizetype fadeOut = 0;
    int fadeOutCurve = 0;
    std::vector<std::pair<double, float>> envelope; // (frame, gain) in frame order
    // The gains of frames [from, to) into gain.
    void fill(qsizetype from, qsizetype to, float* gain) const;
};

// One mono track of the plain mixing loop, with its gains into the left and
// right channel (volume, then balance by pan) and, when given, a gain over
// time applied frame by frame.
struct PlainMixTrack {
    PlainMixTrack(const float* samples, float volume, float pan, const PlainGainCurve* curve = nullptr);
    const float* samples;
    float left;
    float right;
    const PlainGainCurve* curve;
};

// Every track into a short run of output frames at a time, or each whole
// track into the whole output in turn.
enum class MixOrder { RunsOfFrames, WholeTracks };

// Best wall-clock seconds of the plain loop that sums `frames` samples of
// every track with its gains into a new interleaved stereo list (allocated
// as the mixes allocate theirs) and clips the sums to -1..1, the frames split
// between `parts` threads: the memory-bandwidth floor of an offline mix of
// the same material on as many threads. The last run's list goes to `result`
// when given.
double timePlainMix(const std::vector<PlainMixTrack>& tracks, qsizetype frames, MixOrder order,
                    int parts = 1, int repeats = 3, QList<float>* result = nullptr);

// Writes mono 32-bit floats as they lie in memory; false when the file cannot be written.
bool writeRawFloats(const QString& path, const QList<float>& data);
// sox's arguments that read such a file at `sampleRate`.
QStringList soxRawMonoInput(const QString& path, int sampleRate);

// A folder for generated inputs, kept between runs under the build folder.
QString workDir();

// Makes an input once: runs the program unless `path` exists already; false
// when the program fails.
bool ensureInput(const QString& path, const QString& program, const QStringList& args);

} // namespace Bench
