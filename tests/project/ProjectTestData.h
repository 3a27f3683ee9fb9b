#pragma once
// A small project that exercises every saved field, for the project file tests.

#include "project/ProjectTypes.h"

#include <QtEndian>
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

} // namespace ProjectTestData
