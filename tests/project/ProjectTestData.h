#pragma once
// A small project that exercises every saved field, for the project file tests.

#include "project/ProjectTypes.h"

#include <QtEndian>
#include <QtTest/QtTest>
#include <cstring>
#include <limits>

namespace ProjectTestData {

inline float floatFromBits(quint32 bits)
{
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

inline quint32 bitsOf(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// Values that a lossy path would change: NaN payloads, -0.0, denormals, extremes.
inline QList<float> awkwardSamples(int count, int seed)
{
    QList<float> out;
    out.reserve(count);
    const float specials[] = {-0.0f, floatFromBits(0x7fc12345u), floatFromBits(0xffa00001u),
                              std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::max(), -1.0f, 1.0f,
                              std::numeric_limits<float>::infinity()};
    quint32 state = 2463534242u + quint32(seed);
    for (int i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (i % 17 == 3)
            out.append(specials[(i / 17) % 8]);
        else
            out.append(float(int(state % 20001) - 10000) / 10000.0f);
    }
    return out;
}

inline std::vector<TrackData> sampleTracks()
{
    std::vector<TrackData> tracks;

    TrackData mono;
    mono.name = QStringLiteral("人声 \"take\" 1");
    mono.color = QColor(0x12, 0xab, 0xef);
    mono.volume = 0.8f;
    mono.pan = -0.3f;
    mono.muted = true;
    mono.armed = true;
    mono.pluginId = 7;
    mono.instrumentIndex = 5; // not saved for audio tracks
    mono.midiChannel = 3;
    mono.insertPlugins = {QStringLiteral("/x/y.vst3")};
    mono.envelopeEnabled = true;
    mono.volumeEnvelope = {{2.0, 0.5f}, {1.0, 1.25f}, {1.0, 0.0f}, {0.0, 0.8f}};
    AudioClip clip;
    clip.name = QStringLiteral("dropped");
    clip.samples = awkwardSamples(1001, 1);
    clip.sampleRate = 48000;
    clip.start = 1.5;
    clip.audioStart = 0.001;
    clip.audioEnd = 0.002;
    clip.fadeIn = 0.003;
    clip.fadeOut = 0.004;
    clip.fadeInCurve = 1;
    clip.fadeOutCurve = 3;
    mono.audioClips.push_back(clip);
    AudioClip stereo;
    stereo.samples = awkwardSamples(300, 2);
    stereo.stereoSamples = awkwardSamples(600, 3);
    stereo.sampleRate = 44100;
    stereo.start = 10.25;
    mono.audioClips.push_back(stereo);
    tracks.push_back(mono);

    TrackData midi;
    midi.type = TrackType::MidiTrack;
    midi.name = QStringLiteral("Piano");
    midi.color = QColor(QStringLiteral("#4a90d9"));
    midi.volume = 0.65f;
    midi.pan = 0.7f;
    midi.solo = true;
    midi.instrumentIndex = 12;
    midi.midiChannel = 9;
    MidiClip a;
    a.id = 4;
    a.start = 0.5;
    a.duration = 8.0;
    a.notes = {{60, 0.0, 0.5, 100}, {64, 0.25, 1.0 / 3.0, 1}, {127, 7.5, 2.0, 127}};
    MidiClip b;
    b.start = 16.0;
    b.duration = 0.125;
    midi.midiClips = {a, b};
    tracks.push_back(midi);

    TrackData empty; // no colour, no clips
    empty.name = QStringLiteral("空");
    tracks.push_back(empty);
    return tracks;
}

inline std::vector<TimelineMarker> sampleMarkers()
{
    return {{3.5, QStringLiteral("副歌"), QColor(255, 0, 0)},
            {0.1, QStringLiteral("intro\n\ttab"), QColor(1, 2, 3, 100)},
            {7.25, QStringLiteral("colour that did not parse"), QColor()}};
}

// Bit patterns, so that NaN samples compare equal to themselves.
template <class T> inline bool sameBits(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

inline bool sameSamples(const QList<float>& a, const QList<float>& b)
{
    return a.size() == b.size()
           && (a.isEmpty() || std::memcmp(a.constData(), b.constData(), size_t(a.size()) * 4) == 0);
}

// Every saved field of two track lists, compared bit for bit.
inline void compareTracks(const std::vector<TrackData>& a, const std::vector<TrackData>& b)
{
    QCOMPARE(a.size(), b.size());
    for (size_t t = 0; t < a.size(); ++t) {
        const TrackData& x = a[t];
        const TrackData& y = b[t];
        QCOMPARE(x.type, y.type);
        QCOMPARE(x.name, y.name);
        QCOMPARE(x.color, y.color);
        QVERIFY(sameBits(x.volume, y.volume) && sameBits(x.pan, y.pan));
        QCOMPARE(x.muted, y.muted);
        QCOMPARE(x.solo, y.solo);
        QCOMPARE(x.instrumentIndex, y.instrumentIndex);
        QCOMPARE(x.midiChannel, y.midiChannel);
        QCOMPARE(x.envelopeEnabled, y.envelopeEnabled);
        QCOMPARE(x.volumeEnvelope.size(), y.volumeEnvelope.size());
        for (size_t p = 0; p < x.volumeEnvelope.size(); ++p)
            QVERIFY(sameBits(x.volumeEnvelope[p].time, y.volumeEnvelope[p].time)
                    && sameBits(x.volumeEnvelope[p].value, y.volumeEnvelope[p].value));
        QCOMPARE(x.audioClips.size(), y.audioClips.size());
        for (size_t c = 0; c < x.audioClips.size(); ++c) {
            const AudioClip& u = x.audioClips[c];
            const AudioClip& v = y.audioClips[c];
            QVERIFY(sameSamples(u.samples, v.samples) && sameSamples(u.stereoSamples, v.stereoSamples));
            QCOMPARE(u.sampleRate, v.sampleRate);
            QVERIFY(sameBits(u.start, v.start) && sameBits(u.audioStart, v.audioStart)
                    && sameBits(u.audioEnd, v.audioEnd) && sameBits(u.fadeIn, v.fadeIn)
                    && sameBits(u.fadeOut, v.fadeOut));
            QCOMPARE(u.fadeInCurve, v.fadeInCurve);
            QCOMPARE(u.fadeOutCurve, v.fadeOutCurve);
        }
        QCOMPARE(x.midiClips.size(), y.midiClips.size());
        for (size_t c = 0; c < x.midiClips.size(); ++c) {
            const MidiClip& u = x.midiClips[c];
            const MidiClip& v = y.midiClips[c];
            QVERIFY(sameBits(u.start, v.start) && sameBits(u.duration, v.duration));
            QCOMPARE(u.notes.size(), v.notes.size());
            for (size_t n = 0; n < u.notes.size(); ++n) {
                QCOMPARE(u.notes[n].pitch, v.notes[n].pitch);
                QCOMPARE(u.notes[n].velocity, v.notes[n].velocity);
                QVERIFY(sameBits(u.notes[n].start, v.notes[n].start)
                        && sameBits(u.notes[n].duration, v.notes[n].duration));
            }
        }
    }
}

inline void compareMarkers(const std::vector<TimelineMarker>& a, const std::vector<TimelineMarker>& b)
{
    QCOMPARE(a.size(), b.size());
    for (size_t m = 0; m < a.size(); ++m) {
        QVERIFY(sameBits(a[m].time, b[m].time));
        QCOMPARE(a[m].label, b[m].label);
        QCOMPARE(a[m].color, b[m].color);
    }
}

// Everything a load fills in, compared bit for bit.
inline void compareProjects(const ProjectData& a, const ProjectData& b)
{
    QCOMPARE(a.name, b.name);
    QCOMPARE(a.version, b.version);
    QCOMPARE(a.id, b.id);
    QVERIFY(sameBits(a.currentTime, b.currentTime) && sameBits(a.zoom, b.zoom));
    QCOMPARE(a.settings.sampleRate, b.settings.sampleRate);
    QCOMPARE(a.settings.bitDepth, b.settings.bitDepth);
    QCOMPARE(a.settings.channels, b.settings.channels);
    QVERIFY(sameBits(a.settings.tempo, b.settings.tempo));
    QCOMPARE(a.settings.timeSignature, b.settings.timeSignature);
    QCOMPARE(a.defaultRateClips, b.defaultRateClips);
    compareTracks(a.tracks, b.tracks);
    if (QTest::currentTestFailed())
        return;
    compareMarkers(a.markers, b.markers);
}

} // namespace ProjectTestData
