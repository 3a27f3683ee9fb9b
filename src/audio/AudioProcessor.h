#pragma once
// One piece of audio with its file reading and writing and the offline
// operations that change the mono list in place. Instances are short-lived:
// fill or load, run one operation, read the fields back, delete.

#include <QList>
#include <QObject>
#include <QString>

struct DecodedAudio;
class QSaveFile;

class AudioProcessor : public QObject {
    Q_OBJECT
public:
    struct TempoResult {
        double bpm = 0.0;
        double confidence = 0.0;
        bool success = false;
        QString error;
    };

    explicit AudioProcessor(QObject* parent = nullptr);
    ~AudioProcessor() override;

    // ---- the audio held (public fields, read and written by callers) ----
    QList<float> samples;        // mono editing list
    QList<float> stereoSamples;  // interleaved L/R, only for two-channel sources
    int sampleRate = 44100;
    int channels = 2;
    QList<float> noiseProfile;   // per-bin noise power, survives clear() and loads
    int noiseFftSize = 2048;

    void clear();

    // ---- files (reading: AudioFileReading.cpp, writing: AudioFileWriting.cpp) ----
    bool loadAudioFile(const QString& filePath);
    // After a load that succeeded although the file was damaged or ends
    // early: what the user is told about it; empty for a sound file.
    QString damageNote() const { return m_damageNote; }
    bool saveAudioFile(const QString& filePath, const QList<float>& data, int sampleRate,
                       int channels, int bitsPerSample);

    // ---- unit conversions ----
    float dBToLinear(float dB) const;
    float linearToDB(float linear) const;
    int msToSamples(qint64 ms) const;
    int samplesToMs(int samples) const;
    qint64 getDuration() const;

    // ---- offline operations on `samples` (interleaved by `channels`) ----
    void applyGain(float gain);
    void applyGainDB(float dB);
    void normalize(float targetPeak);
    void reverse();
    void fadeIn(int durationMs);
    void fadeOut(int durationMs);
    QList<float> extractSegment(qint64 startMs, qint64 endMs) const;
    void insertSegment(const QList<float>& segment, qint64 positionMs);
    void deleteSegment(qint64 startMs, qint64 endMs);

    void applyReverb(float mix, float roomSize, float damping, float preDelayMs, float decay);
    void applyDelay(float mix, int delayMs, float feedback);
    void applyLowPassFilter(float cutoffHz);
    void applyHighPassFilter(float cutoffHz);
    void applyCompression(float thresholdDb, float ratio, float attackMs, float releaseMs,
                          float makeupDb, float kneeDb);
    void applyParametricEQ(const float* freqs, const float* gainsDb, const float* qs,
                           const int* types, const bool* enabled, int count);

    // ---- spectral noise reduction ----
    static void fftReal(float* re, float* im, int n, bool inverse);
    void analyzeNoiseProfile(int start, int end);
    void applyNoiseReduction(float amount);

    // ---- tempo detection (const: safe on a worker thread with its own object) ----
    TempoResult detectTempo() const;

signals:
    void audioLoaded(const QString& filePath, int sampleRate, int channels, qint64 durationMs);
    void audioProcessed();
    void errorOccurred(const QString& errorMessage);

private:
    // ---- file reading ----
    bool loadWavFile(const QString& filePath);
    bool loadMp3File(const QString& filePath);
    bool loadFlacFile(const QString& filePath);
    bool loadOggFile(const QString& filePath);
    // The common channel rule: mono list, stereo copy, rate, channels, audioLoaded.
    void takeDecodedAudio(const QString& filePath, DecodedAudio& audio);
    // Sets damageNote from what the decoder met (after the lists are filled).
    void noteDamage(const QString& filePath, const DecodedAudio& audio);

    // ---- file writing ----
    bool saveWavFile(const QString& filePath, const QList<float>& data, int sampleRate,
                     int channels, int bitsPerSample);
    bool saveMp3File(const QString& filePath, const QList<float>& data, int sampleRate,
                     int channels);
    bool saveFlacFile(const QString& filePath, const QList<float>& data, int sampleRate,
                      int channels, int bitsPerSample);
    // Shared steps of the writers; each emits errorOccurred when it fails.
    bool checkWriteParameters(int sampleRate, int channels);
    bool openSaveFile(QSaveFile& file, const QString& filePath);
    bool commitSaveFile(QSaveFile& file, const QString& filePath, bool written);

    QString m_damageNote;
};
