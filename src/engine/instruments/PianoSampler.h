#pragma once
// The built-in piano of MIDI tracks when no SoundFont is loaded: one decoded
// recording per sampled pitch (88 MP3 files named "A0.mp3" .. "C8.mp3", sharps
// as "Csharp4.mp3"), played transposed by linear-interpolation resampling.
// Live output goes through 16 voices into 16-bit stereo; offline renders give
// mono float lists. Note calls and live rendering are serialised by a mutex;
// the recordings are written only by the loaders, before any rendering, and
// read without a lock.

#include "project/ProjectTypes.h"

#include <QList>
#include <QString>
#include <array>
#include <atomic>
#include <map>
#include <mutex>

// One decoded recording (PianoSampler::SampleBuffer).
struct PianoSampleBuffer {
    QList<float> samples; // mono
    int sampleRate = 44100;
};

// One of the 16 live voice slots.
struct PianoVoice {
    int note = 60;
    const PianoSampleBuffer* sample = nullptr; // recording played (not owned)
    double position = 0.0;        // read position in source samples
    int length = 0;               // sample count of the recording
    float gain = 1.0f;            // velocity / 127
    float ratio = 1.0f;           // source samples per output frame
    bool active = false;
};

class PianoSampler {
public:
    using SampleBuffer = PianoSampleBuffer;

    PianoSampler();
    ~PianoSampler();
    PianoSampler(const PianoSampler&) = delete;
    PianoSampler& operator=(const PianoSampler&) = delete;

    // "A0.mp3" -> 21, "Csharp4.mp3" -> 61, "c8.MP3" -> 108; -1 for other names.
    int filenameToPitch(const QString& fileName) const;
    // Loads every *.mp3 of a folder on disk / of a resource folder (":/piano")
    // whose name is a note; true when at least one loaded. Empties the map first.
    bool loadSampleLibrary(const QString& dir);
    bool loadSampleLibraryFromResources(const QString& resourceDir);
    // Number of recordings loaded; the piano is usable with one or more.
    int sampleCount() const;

    // The recorded pitch nearest to note (ties to the lower); -1 without recordings.
    int findNearestPitch(int note) const;

    void setSampleRate(int rate);
    int sampleRate() const;
    void noteOn(int note, int velocity);
    void noteOff(int note);
    void allNotesOff();
    void sustain(bool on);
    // Writes exactly 2 × frames interleaved 16-bit values.
    void renderLive(short* out, int frames);
    // Whether a running live output renders the voices: each render takes
    // what it renders, so other outputs then leave them to it (any thread).
    void setRenderedLive(bool on) { renderedLive = on; }
    bool isRenderedLive() const { return renderedLive; }

    // The track's MIDI clips as a mono list at sampleRate, element 0 at time 0,
    // sampleRate + trunc(end × sampleRate) values; each note lasts the shorter
    // of its duration and its transposed recording. Empty without recordings.
    // With `firstFrame`, the list starts where the first note does (element
    // 0 at that frame, which *firstFrame receives) instead of holding the
    // silence before it; empty when no note sounds.
    QList<float> renderTrack(const TrackData& track, int sampleRate, qint64* firstFrame = nullptr) const;
    QList<float> renderNotePreview(int note, int velocity, double seconds, int sampleRate) const;
    // One recording of the map transposed to note at outputRate, at most `seconds` long.
    QList<float> resample(const SampleBuffer& recording, int note, int outputRate, double seconds) const;

private:
    friend class PianoSamplerTest;

    bool loadFolder(const QString& dir, bool fromResources);
    const SampleBuffer* nearestRecording(int note, int* pitch) const;
    // Values of a transposed recording at most `seconds` long, limited to `limit`.
    static qint64 resampleLength(const SampleBuffer& recording, int recordedPitch, int note,
                                 int outputRate, double seconds, qint64 limit);
    // Adds gain × the first `length` values of the transposed recording into out.
    static void resampleInto(const SampleBuffer& recording, int recordedPitch, int note,
                             int outputRate, float gain, float* out, qint64 length);

    std::map<int, SampleBuffer> samples;
    std::array<PianoVoice, 16> voices;
    int rate = 44100;
    mutable std::mutex mutex;
    float mixBuffer[2048];
    bool sustainOn = false;
    std::atomic<bool> renderedLive{false};
    std::array<int, 128> sustainedVoices; // per note: slot whose note-off the pedal deferred, -1 none
};
