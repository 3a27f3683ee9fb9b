#pragma once
// The measuring half of the frequency analyser, apart from its painting:
// ring buffers of the most recent samples (fed from a whole list played
// through in a loop, or pushed frame by frame), and the windowed spectrum
// with averaging, smoothing, falling peaks and an RMS level. The widget
// drives feedStep() and updateSpectrum() from its timers; tests drive them
// directly. Every operation takes the object's own lock, so frames may be
// pushed from another thread.

#include "audio/dsp/Fft.h"

#include <QList>
#include <QMutex>
#include <QRect>

#include <deque>
#include <vector>

// The analyser's axes: logarithmic frequency across, level up, against a
// plot rectangle whose width and height count both edges.
struct FrequencyAxes {
    float minFreq = 20.0f, maxFreq = 20000.0f;
    float minDb = -90.0f, maxDb = 0.0f;

    double freqToX(double frequency, const QRect& plot) const;
    double xToFreq(double x, const QRect& plot) const;
    double dbToY(double db, const QRect& plot) const;
    double yToDb(double y, const QRect& plot) const;
};

class FrequencyAnalysis {
public:
    enum WindowType { Rectangular = 0, Hann = 1, Hamming = 2, Blackman = 3 };

    static constexpr int RingSize = 131072;
    static constexpr int FeedBlock = 1024;     // samples moved per feed step
    static constexpr int DefaultRate = 44100;  // used for a rate of 0 or less

    // What painting needs, copied under the lock (the lists share their data).
    struct Snapshot {
        QList<float> frequencies;
        QList<float> smoothedLeft, smoothedRight, peakLeft, peakRight;
        float rmsLeftDb = -100.0f, rmsRightDb = -100.0f;
        bool isStereo = false;
        int sampleRate = DefaultRate;
    };

    FrequencyAnalysis();

    // A whole list to play through the rings in a loop; spectra start again.
    void setAudioData(const QList<float>& samples, int sampleRate);
    void setAudioDataStereo(const QList<float>& left, const QList<float>& right, int sampleRate);
    void clearAudioData();
    // Frames pushed by a caller; each value goes into both rings (mono) or
    // its own ring (stereo, which marks the analysis stereo).
    void processAudioFrame(const float* samples, int count);
    void processAudioFrameStereo(const float* left, const float* right, int count);

    // Moves the next FeedBlock samples of the list into the rings (from the
    // start again after the end); false when no list is being fed.
    bool feedStep();
    // Spectra of the newest fftSize() samples; false while fewer are buffered.
    bool updateSpectrum();
    // RMS levels alone; nothing while fewer than fftSize() samples are buffered.
    void updateRms();
    // A still picture of the whole list for while it is not fed: the mean
    // level per bin over about `windows` windows spread across the list,
    // shown as the smoothed spectrum and its peaks. False (nothing shown)
    // for a list shorter than one window.
    bool showOverview(int windows);

    // ---- settings ----
    void setFftSize(int size); // 256..65536, raised to a power of two
    int fftSize() const;
    void setWindowType(WindowType type);
    void setAveragingCount(int count); // at least 1
    void setSmoothing(float smoothing); // 0..0.95
    void setOverlapRatio(float ratio);  // 0..0.875
    void setPeakHoldEnabled(bool enabled);
    void setPeakHoldDecay(float dbPerSecond);
    bool isFeeding() const;
    int sampleRate() const;
    // Milliseconds of one feed block at the list's rate, truncated.
    int feedIntervalMs() const;
    int bufferedSamples() const;

    Snapshot snapshot() const;
    QList<float> spectrumLeft() const;

    // ---- spectra of given data ----
    // Mean level per bin over the frames of a whole list (hop from the overlap ratio).
    void computeSpectrumFromData(const QList<float>& data, QList<float>& out) const;
    // Level per bin of the first fftSize() values; cleared when count is smaller.
    void computeSpectrumFromBuffer(const float* buffer, int count, QList<float>& out) const;

    static float dbFromMagnitude(float magnitude);
    static float magnitudeFromDb(float db);

private:
    void rebuildWindow();
    void rebuildFrequencies();
    void resetSpectra();
    void startList(const QList<float>& left, const QList<float>& right, bool stereo, int rate);
    void writeFrame(float left, float right);
    void copyNewest(const std::vector<float>& ring, std::vector<float>& out) const;
    // Windows `size` values into the scratch and transforms them; then
    // binMagnitude(k) is bin k's magnitude, 1 for a full-scale sine on it.
    void transformWindowed(const float* buffer) const;
    float binMagnitude(int k) const;
    // Mean level per bin over the windows starting every `hop` values that
    // fit wholly in `length` values.
    void meanSpectrum(const float* data, qsizetype length, qsizetype hop, QList<float>& out) const;
    void spectrumOf(const float* buffer, QList<float>& out) const;
    void averageInto(std::deque<QList<float>>& history, QList<float>& spectrum) const;
    void smoothAndHold(const QList<float>& spectrum, QList<float>& smoothed, QList<float>& peak);
    void computeRms();

    mutable QMutex mutex;
    int size = 4096;
    WindowType windowType = Hann;
    std::vector<float> window;
    RealFft fft;
    mutable std::vector<float> fftScratch; // guarded by the lock
    float overlapRatio = 0.75f;

    QList<float> audioLeft, audioRight;
    bool stereo = false;
    int rate = DefaultRate;
    int feedPosition = 0;
    bool feeding = false;

    std::vector<float> ringLeft, ringRight;
    int writeIndex = 0;
    int available = 0;

    QList<float> frequencies;
    QList<float> spectrumL, spectrumR;
    QList<float> smoothedL, smoothedR;
    QList<float> peakL, peakR;
    std::deque<QList<float>> historyL, historyR;
    int averagingCount = 4;
    float rmsLeftDb = -100.0f, rmsRightDb = -100.0f;
    float smoothing = 0.8f;
    float peakHoldDecay = 6.0f;
    bool peakHoldEnabled = true;
};
