#pragma once
// The reading rules of the project format, written once over a JSON node
// type (QtJsonNode or RapidJsonNode, see ProjectJsonNodes.h).
//
// "Default" means the value used when a key is absent or holds another JSON
// type. Keys read "only when present" assign 0 / empty for a present key of
// the wrong type. A number that is not finite where a time, rate, gain or
// tempo is expected reads as that key's default.
//
// Content that would otherwise vanish is not defaulted: a list of tracks,
// clips, notes, envelope points or markers that is not an array, and a
// clip's audio that cannot be read whole or has no rate of at least 1 Hz,
// make the file unreadable.

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

// What could not be read, for the user; the first damage found counts.
// Content that would vanish on opening (and with the next save) makes the
// whole file unreadable instead.
class Damage {
public:
    bool found() const { return !m_text.isEmpty(); }
    const QString& text() const { return m_text; }
    void note(const QString& text)
    {
        if (m_text.isEmpty())
            m_text = text;
    }

private:
    QString m_text;
};

// A list that is present must be an array; an absent one is empty.
template <class Node> bool listReadable(const Node& object, const char* key)
{
    return !object.has(key) || object.member(key).isArray();
}

template <class Node>
MidiClip deserializeMidiClip(const Node& object, int track, int index, Damage& damage)
{
    MidiClip clip;
    clip.start = numberOr(object, "start", 0.0);
    clip.duration = numberOr(object, "duration", 4.0);
    if (!listReadable(object, "notes"))
        damage.note(QStringLiteral("第%1条轨道第%2个MIDI片段的音符无法读取").arg(track).arg(index));
    object.member("notes").forEachElement(
        [&](const Node& note) { clip.notes.push_back(deserializeNote(note)); });
    return clip;
}

// The mono list and the stereo pair of a Base64 block; false when the
// channels are not what the writer writes (one mono entry, or mono, left
// and right, each whole floats of the same length for the pair).
template <class Node> bool readBase64Channels(const Node& channels, AudioClip& clip)
{
    const qsizetype count = channels.size();
    if (!channels.isArray() || (count != 1 && count != 3))
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        if (!channels.at(i).isString())
            return false;
    }
    bool clean = channels.at(0).decodeChannel(clip.samples);
    if (count == 3)
        clean &= Node::decodeStereo(channels.at(1), channels.at(2), clip.stereoSamples);
    return clean;
}

// Arrays of numbers: the older form of the audio block. False when the
// block's channels are present but no list of arrays (the audio would open
// as nothing).
template <class Node> bool readNumberChannels(const Node& block, AudioClip& clip)
{
    if (!block.has("channels"))
        return true;
    const Node channels = block.member("channels");
    const qsizetype count = channels.size();
    if (!channels.isArray())
        return false;
    for (qsizetype i = 0; i < std::min<qsizetype>(count, 3); ++i) {
        if (!channels.at(i).isArray())
            return false;
    }
    if (count >= 1)
        clip.samples = numberList(channels.at(0));
    if (count >= 3)
        clip.stereoSamples = interleave(numberList(channels.at(1)), numberList(channels.at(2)));
    return true;
}

template <class Node> bool isEmbeddedBlock(const Node& block)
{
    const Node type = block.member("type");
    return type.isString() && type.string() == QLatin1String("embedded");
}

template <class Node>
AudioClip deserializeAudioClip(const Node& object, int track, int index, Damage& damage)
{
    AudioClip clip;
    assignNumberIfPresent(object, "start", clip.start, 0.0);
    assignNumberIfPresent(object, "audioStart", clip.audioStart, 0.0);
    assignNumberIfPresent(object, "audioEnd", clip.audioEnd, 0.0);
    assignNumberIfPresent(object, "fadeIn", clip.fadeIn, 0.0);
    assignNumberIfPresent(object, "fadeOut", clip.fadeOut, 0.0);
    assignIntIfPresent(object, "fadeInCurve", clip.fadeInCurve);
    assignIntIfPresent(object, "fadeOutCurve", clip.fadeOutCurve);

    if (!object.has("audioData"))
        return clip;
    const Node block = object.member("audioData");
    bool readable = isEmbeddedBlock(block);
    if (readable) {
        clip.sampleRate = intOr(block, "sampleRate", 44100);
        if (stringOr(block, "format", QString()) == QLatin1String("float32_base64"))
            readable = readBase64Channels(block.member("channels"), clip);
        else
            readable = readNumberChannels(block, clip);
        // Audio without a rate of at least 1 Hz has no length: it would
        // open as a clip that plays as silence.
        if (clip.sampleRate < 1 && !clip.samples.isEmpty())
            readable = false;
    }
    if (!readable)
        damage.note(QStringLiteral("第%1条轨道第%2个音频片段的音频数据已损坏").arg(track).arg(index));
    return clip;
}

// The track-level block of older files: always arrays of numbers.
template <class Node>
void readLegacyAudioData(const Node& block, TrackData& track, int number, Damage& damage)
{
    if (!isEmbeddedBlock(block))
        return;
    AudioClip clip;
    clip.sampleRate = intOr(block, "sampleRate", 44100);
    if (!readNumberChannels(block, clip) || (clip.sampleRate < 1 && !clip.samples.isEmpty()))
        damage.note(QStringLiteral("第%1条轨道第1个音频片段的音频数据已损坏").arg(number));
    track.audioClips.push_back(std::move(clip));
}

// `number` counts from 1, for the messages.
template <class Node> TrackData deserializeTrack(const Node& object, int number, Damage& damage)
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
        if (!listReadable(object, "volumeEnvelope"))
            damage.note(QStringLiteral("第%1条轨道的音量包络无法读取").arg(number));
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
        if (!listReadable(object, "audioBlocks"))
            damage.note(QStringLiteral("第%1条轨道的音频片段无法读取").arg(number));
        object.member("audioBlocks").forEachElement([&](const Node& clip) {
            const int index = int(track.audioClips.size()) + 1;
            track.audioClips.push_back(deserializeAudioClip(clip, number, index, damage));
        });
        if (track.audioClips.empty() && object.has("audioData"))
            readLegacyAudioData(object.member("audioData"), track, number, damage);
    } else {
        if (!listReadable(object, "midiClips"))
            damage.note(QStringLiteral("第%1条轨道的MIDI片段无法读取").arg(number));
        object.member("midiClips").forEachElement([&](const Node& clip) {
            const int index = int(track.midiClips.size()) + 1;
            track.midiClips.push_back(deserializeMidiClip(clip, number, index, damage));
        });
        track.instrumentIndex = intOr(object, "instrumentIndex", 0);
        track.midiChannel = intOr(object, "midiChannel", 0);
    }
    return track;
}

enum class LoadOutcome {
    Loaded,
    NotProject, // not an object, or "tracks" / "version" missing
    Damaged,    // part of the content cannot be read; see `damage`
};

// `project` is changed only on Loaded.
template <class Node> LoadOutcome loadFromRoot(const Node& root, ProjectData& project, QString* damageText)
{
    if (!root.isObject()) {
        qWarning() << "ProjectSerializer: root is not an object";
        return LoadOutcome::NotProject;
    }
    if (!root.has("tracks") || !root.has("version")) {
        qWarning() << "ProjectSerializer: missing required fields (tracks/version)";
        return LoadOutcome::NotProject;
    }
    Damage damage;
    const Node trackList = root.member("tracks");
    if (!trackList.isArray())
        damage.note(QStringLiteral("轨道列表无法读取"));
    std::vector<TrackData> tracks;
    tracks.reserve(size_t(trackList.size()));
    trackList.forEachElement([&](const Node& track) {
        tracks.push_back(deserializeTrack(track, int(tracks.size()) + 1, damage));
    });

    std::vector<TimelineMarker> markers;
    if (root.has("markers")) {
        if (!listReadable(root, "markers"))
            damage.note(QStringLiteral("标记列表无法读取"));
        root.member("markers").forEachElement([&](const Node& element) {
            TimelineMarker marker;
            marker.time = numberOr(element, "time", 0.0);
            marker.label = stringOr(element, "label", QString());
            if (element.has("color"))
                marker.color = colorOf(element.member("color"));
            markers.push_back(marker);
        });
    }
    if (damage.found()) {
        qWarning() << "ProjectSerializer: damaged content:" << damage.text();
        if (damageText)
            *damageText = damage.text();
        return LoadOutcome::Damaged;
    }

    project.id = stringOr(root, "id", QString());
    project.name = stringOr(root, "name", QStringLiteral("Untitled"));
    project.version = stringOr(root, "version", QStringLiteral("1.0.0"));
    project.currentTime = numberOr(root, "currentTime", 0.0);
    project.zoom = numberOr(root, "zoom", 1.0);
    if (root.has("settings"))
        project.settings = deserializeSettings(root.member("settings"));
    project.tracks = std::move(tracks);
    project.markers = std::move(markers);

    qDebug() << "ProjectSerializer: loaded" << project.name << project.tracks.size()
             << "track(s), version" << project.version;
    return LoadOutcome::Loaded;
}

} // namespace ProjectJsonReading
