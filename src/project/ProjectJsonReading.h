#pragma once
// The reading rules of the project format, written once over a JSON node
// type (QtJsonNode or RapidJsonNode, see ProjectJsonNodes.h).
//
// "Default" means the value used when a key is absent or holds another JSON
// type. Keys read "only when present" assign 0 / empty for a present key of
// the wrong type. A number that is not finite where a time, rate, gain or
// tempo is expected reads as that key's default.

#include "Base64Floats.h"
#include "ProjectTypes.h"

#include <QColor>
#include <QDebug>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ProjectJsonReading {

inline const QColor kDefaultTrackColor = QColor(QStringLiteral("#4A90D9"));

template <class Node> double numberOr(const Node& object, const char* key, double fallback)
{
    const Node value = object.member(key);
    if (!value.isNumber())
        return fallback;
    const double number = value.number();
    return std::isfinite(number) ? number : fallback;
}

// A float field or sample: beyond the float range the narrowing would give
// an infinity, which spreads through every mix and filter; read as `fallback`.
inline float finiteFloat(double number, float fallback)
{
    return std::isfinite(number) && std::fabs(number) <= double(std::numeric_limits<float>::max())
               ? float(number)
               : fallback;
}

template <class Node> float floatOr(const Node& object, const char* key, float fallback)
{
    return finiteFloat(numberOr(object, key, fallback), fallback);
}

template <class Node>
void assignNumberIfPresent(const Node& object, const char* key, double& field, double fallback)
{
    if (!object.has(key))
        return;
    const Node value = object.member(key);
    if (!value.isNumber()) {
        field = 0.0;
        return;
    }
    const double number = value.number();
    field = std::isfinite(number) ? number : fallback;
}

template <class Node> void assignIntIfPresent(const Node& object, const char* key, int& field)
{
    if (object.has(key))
        field = object.member(key).toInt(0);
}

template <class Node> int intOr(const Node& object, const char* key, int fallback)
{
    return object.member(key).toInt(fallback);
}

template <class Node> bool boolOr(const Node& object, const char* key, bool fallback)
{
    const Node value = object.member(key);
    return value.isBool() ? value.boolean() : fallback;
}

template <class Node> QString stringOr(const Node& object, const char* key, const QString& fallback)
{
    const Node value = object.member(key);
    return value.isString() ? value.string() : fallback;
}

// A colour from a string value; anything unparseable gives an invalid colour.
template <class Node> QColor colorOf(const Node& value)
{
    return value.isString() ? QColor::fromString(value.string()) : QColor();
}

template <class Node> QList<float> numberList(const Node& array)
{
    QList<float> out;
    out.reserve(array.size());
    array.forEachElement([&](const Node& element) {
        out.append(element.isNumber() ? finiteFloat(element.number(), 0.0f) : 0.0f);
    });
    return out;
}

inline QList<float> interleave(const QList<float>& left, const QList<float>& right)
{
    const qsizetype frames = std::min(left.size(), right.size());
    QList<float> out(frames * 2);
    for (qsizetype i = 0; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return out;
}

template <class Node> ProjectSettings deserializeSettings(const Node& object)
{
    ProjectSettings settings;
    assignIntIfPresent(object, "sampleRate", settings.sampleRate);
    assignIntIfPresent(object, "bitDepth", settings.bitDepth);
    assignIntIfPresent(object, "channels", settings.channels);
    assignNumberIfPresent(object, "tempo", settings.tempo, ProjectSettings().tempo);
    if (object.has("timeSignature"))
        settings.timeSignature = stringOr(object, "timeSignature", QString());
    return settings;
}

template <class Node> MidiNote deserializeNote(const Node& object)
{
    MidiNote note;
    note.pitch = intOr(object, "pitch", 60);
    note.start = numberOr(object, "start", 0.0);
    note.duration = numberOr(object, "duration", 0.5);
    note.velocity = intOr(object, "velocity", 100);
    return note;
}

template <class Node> MidiClip deserializeMidiClip(const Node& object)
{
    MidiClip clip;
    clip.start = numberOr(object, "start", 0.0);
    clip.duration = numberOr(object, "duration", 4.0);
    object.member("notes").forEachElement(
        [&](const Node& note) { clip.notes.push_back(deserializeNote(note)); });
    return clip;
}

// The mono list and the optional stereo pair of an "embedded" audio block.
template <class Node>
void readEmbeddedChannels(const Node& channels, bool base64, AudioClip& clip)
{
    const qsizetype count = channels.size();
    if (base64) {
        QByteArray storage0, storage1, storage2;
        if (count >= 1)
            clip.samples = Base64Floats::decodeFloats(channels.at(0).bytes(storage0));
        if (count >= 3)
            clip.stereoSamples = Base64Floats::decodeInterleaved(channels.at(1).bytes(storage1),
                                                                 channels.at(2).bytes(storage2));
        return;
    }
    if (count >= 1)
        clip.samples = numberList(channels.at(0));
    if (count >= 3)
        clip.stereoSamples = interleave(numberList(channels.at(1)), numberList(channels.at(2)));
}

template <class Node> bool isEmbeddedBlock(const Node& block)
{
    const Node type = block.member("type");
    return type.isString() && type.string() == QLatin1String("embedded");
}

template <class Node> AudioClip deserializeAudioClip(const Node& object)
{
    AudioClip clip;
    assignNumberIfPresent(object, "start", clip.start, 0.0);
    assignNumberIfPresent(object, "audioStart", clip.audioStart, 0.0);
    assignNumberIfPresent(object, "audioEnd", clip.audioEnd, 0.0);
    assignNumberIfPresent(object, "fadeIn", clip.fadeIn, 0.0);
    assignNumberIfPresent(object, "fadeOut", clip.fadeOut, 0.0);
    assignIntIfPresent(object, "fadeInCurve", clip.fadeInCurve);
    assignIntIfPresent(object, "fadeOutCurve", clip.fadeOutCurve);

    const Node block = object.member("audioData");
    if (isEmbeddedBlock(block)) {
        clip.sampleRate = intOr(block, "sampleRate", 44100);
        const bool base64 = stringOr(block, "format", QString()) == QLatin1String("float32_base64");
        readEmbeddedChannels(block.member("channels"), base64, clip);
    }
    return clip;
}

// The track-level block of older files: always arrays of numbers.
template <class Node> void readLegacyAudioData(const Node& block, TrackData& track)
{
    if (!isEmbeddedBlock(block))
        return;
    AudioClip clip;
    clip.sampleRate = intOr(block, "sampleRate", 44100);
    readEmbeddedChannels(block.member("channels"), false, clip);
    track.audioClips.push_back(std::move(clip));
}

template <class Node> TrackData deserializeTrack(const Node& object)
{
    TrackData track;
    const Node type = object.member("type");
    track.type = (type.isString() && type.string() == QLatin1String("midi")) ? TrackType::MidiTrack
                                                                           : TrackType::AudioTrack;
    track.name = stringOr(object, "name", QString());
    const Node color = object.member("color");
    track.color = color.isString() ? colorOf(color) : kDefaultTrackColor;
    track.volume = floatOr(object, "volume", 0.8f);
    track.pan = floatOr(object, "pan", 0.0f);
    track.muted = boolOr(object, "muted", false);
    track.solo = boolOr(object, "solo", false);
    track.envelopeEnabled = boolOr(object, "envelopeEnabled", false);

    if (object.has("volumeEnvelope")) {
        object.member("volumeEnvelope").forEachElement([&](const Node& element) {
            EnvelopePoint point;
            point.time = numberOr(element, "time", 0.0);
            point.value = floatOr(element, "value", 0.8f);
            track.volumeEnvelope.push_back(point);
        });
        // Stable, so points at the same time (a vertical step) keep their order.
        std::stable_sort(track.volumeEnvelope.begin(), track.volumeEnvelope.end(),
                         [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.time < b.time; });
    }

    if (!track.isMidi()) {
        object.member("audioBlocks").forEachElement(
            [&](const Node& clip) { track.audioClips.push_back(deserializeAudioClip(clip)); });
        if (track.audioClips.empty() && object.has("audioData"))
            readLegacyAudioData(object.member("audioData"), track);
    } else {
        object.member("midiClips").forEachElement(
            [&](const Node& clip) { track.midiClips.push_back(deserializeMidiClip(clip)); });
        track.instrumentIndex = intOr(object, "instrumentIndex", 0);
        track.midiChannel = intOr(object, "midiChannel", 0);
    }
    return track;
}

template <class Node> bool loadFromRoot(const Node& root, ProjectData& project)
{
    if (!root.isObject()) {
        qWarning() << "ProjectSerializer: root is not an object";
        return false;
    }
    if (!root.has("tracks") || !root.has("version")) {
        qWarning() << "ProjectSerializer: missing required fields (tracks/version)";
        return false;
    }
    project.id = stringOr(root, "id", QString());
    project.name = stringOr(root, "name", QStringLiteral("Untitled"));
    project.version = stringOr(root, "version", QStringLiteral("1.0.0"));
    project.currentTime = numberOr(root, "currentTime", 0.0);
    project.zoom = numberOr(root, "zoom", 1.0);
    if (root.has("settings"))
        project.settings = deserializeSettings(root.member("settings"));

    project.tracks.clear();
    root.member("tracks").forEachElement(
        [&](const Node& track) { project.tracks.push_back(deserializeTrack(track)); });

    project.markers.clear();
    if (root.has("markers")) {
        root.member("markers").forEachElement([&](const Node& element) {
            TimelineMarker marker;
            marker.time = numberOr(element, "time", 0.0);
            marker.label = stringOr(element, "label", QString());
            if (element.has("color"))
                marker.color = colorOf(element.member("color"));
            project.markers.push_back(marker);
        });
    }

    qDebug() << "ProjectSerializer: loaded" << project.name << project.tracks.size()
             << "track(s), version" << project.version;
    return true;
}

} // namespace ProjectJsonReading
