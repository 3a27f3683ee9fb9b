#pragma once
// The records of a multitrack project. Plain value types: copying one copies
// every member (sample lists are implicitly shared and detach on write).

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

// The kind of a track: the values of TrackData::type.
enum TrackType : int { AudioTrack = 0, MidiTrack = 1 };

// Fade curve codes of AudioClip::fadeInCurve / fadeOutCurve.
enum FadeCurve { FadeLinear = 0, FadeSmoothStep = 1, FadeSquare = 2, FadeSquareRoot = 3 };

// Gain of a fade curve at position t in 0..1; unknown codes are linear.
double fadeCurveGain(int curve, double t);

struct MidiNote {
    int pitch = 60;
    double start = 0.0;     // seconds from the clip start
    double duration = 0.5;  // seconds
    int velocity = 100;
};

struct EnvelopePoint {
    double time = 0.0;  // seconds on the timeline
    float value = 0.8f; // linear gain
};

struct AudioClip {
    QString name;               // not saved
    QList<float> samples;       // mono material: playback and length use it
    QList<float> stereoSamples; // optional interleaved L/R copy
    int sampleRate = 44100;
    double start = 0.0;         // timeline position of the first audible sample
    double audioStart = 0.0;    // trimmed off the head, s
    double audioEnd = 0.0;      // trimmed off the tail, s
    double fadeIn = 0.0;
    double fadeOut = 0.0;
    int fadeInCurve = FadeLinear;
    int fadeOutCurve = FadeLinear;

    // Seconds the clip occupies on the timeline (0 without material or rate).
    double playableLength() const;
    double end() const { return start + playableLength(); }
};

struct MidiClip {
    int id = 0;                   // not saved
    std::vector<MidiNote> notes;  // insertion order
    double start = 0.0;
    double duration = 4.0;

    double end() const { return start + duration; }
};

struct TrackData {
    int type = TrackType::AudioTrack;  // 0 audio; any other value is MIDI
    QString name;
    QColor color;                 // invalid until set
    float volume = 0.8f;
    float pan = 0.0f;
    bool muted = false;
    bool solo = false;
    bool armed = false;           // not saved
    int instrumentIndex = 0;
    int midiChannel = 0;
    int pluginId = -1;            // not saved
    std::vector<AudioClip> audioClips;
    std::vector<MidiClip> midiClips;
    std::vector<QString> insertPlugins; // not saved
    bool envelopeEnabled = false;
    std::vector<EnvelopePoint> volumeEnvelope;

    bool isMidi() const { return type != TrackType::AudioTrack; }
};

struct TimelineMarker {
    double time = 0.0;
    QString label;
    QColor color = QColor(255, 165, 0);
};

struct ProjectSettings {
    int sampleRate = 44100;
    int bitDepth = 32;
    int channels = 2;
    double tempo = 120.0;
    QString timeSignature = QStringLiteral("4/4");
};

// What one project keeps over all its saves: its id and the time it was
// first saved (ISO 8601, UTC). A save fills in what is empty.
struct ProjectIdentity {
    QString id;
    QString createdAt;
};

struct ProjectData {
    QString id;
    QString createdAt; // empty when the file gives no readable time
    QString name;
    QString version;
    ProjectSettings settings;
    std::vector<TrackData> tracks;
    std::vector<TimelineMarker> markers;
    double currentTime = 0.0;
    double zoom = 1.0;
    // Filled by a load: the clips ("第1条轨道第2个音频片段") whose audio had
    // no usable rate and opened at the default one, for the user to hear of.
    QStringList defaultRateClips;
};
