#pragma once
// The reading rules of the project format, written once over a JSON node
// type (QtJsonNode or RapidJsonNode, see ProjectJsonNodes.h).
//
// "Default" means the value used when a key is absent or holds another JSON
// type. Keys read "only when present" assign 0 / empty for a present key of
// the wrong type. A number that is not finite where a time, rate, gain or
// tempo is expected reads as that key's default.
//
// `null` for an optional list or object reads as if the key were absent.
//
// Content that would otherwise vanish or change is not defaulted: a list of
// tracks, clips, notes, envelope points or markers that is not an array, a
// clip's audio that cannot be read whole or disagrees with its "length", and
// a clip rate that names no whole number make the file unreadable. Audio
// whose rate is whole but unusable (earlier builds saved clips at 0 Hz)
// opens at the default rate, and the clip is named for the user.

#include "Base64Floats.h"
#include "ProjectTypes.h"

#include <QColor>
#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace ProjectJsonReading {

inline const QColor kDefaultTrackColor = QColor(QStringLiteral("#4A90D9"));

// A key that is present and not null: what an optional list or object needs.
template <class Node> bool present(const Node& object, const char* key)
{
    return object.has(key) && !object.member(key).isNull();
}

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

// A whole number, also written as text ("48000", 48000.0). A number that is
// not finite (only a document built in code has one) passes as whole, for
// the caller's range check to reject; a fraction, words, digits with group
// separators ("44,100" reads two ways) or another type fail.
template <class Node> bool wholeNumber(const Node& value, double* out)
{
    if (value.isNumber()) {
        *out = value.number();
        return !std::isfinite(*out) || *out == std::floor(*out);
    }
    static const QLocale plain = [] {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        return c;
    }();
    bool ok = false;
    if (value.isString())
        *out = plain.toDouble(value.string(), &ok);
    return ok && std::isfinite(*out) && *out == std::floor(*out);
}

template <class Node> ProjectSettings deserializeSettings(const Node& object)
{
    ProjectSettings settings;
    // A rate written as text is read as the number it names; one that names
    // no usable rate (absent, null, 0, a fraction, words) keeps the default.
    double rate = 0.0;
    if (wholeNumber(object.member("sampleRate"), &rate) && rate >= 1.0 && rate <= double(INT_MAX))
        settings.sampleRate = int(rate);
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

    // Not damage: clips with audio that opened at the default rate.
    QStringList defaultRateClips;

private:
    QString m_text;
};

// A list that is present must be an array; an absent one is empty.
template <class Node> bool listReadable(const Node& object, const char* key)
{
    return !present(object, key) || object.member(key).isArray();
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
// channels are not one mono entry, mono and one more (which is not read), or
// mono, left and right, each whole floats of the same length for the pair.
template <class Node> bool readBase64Channels(const Node& channels, AudioClip& clip)
{
    const qsizetype count = channels.size();
    if (!channels.isArray() || count < 1 || count > 3)
        return false;
    for (qsizetype i = 0; i < (count == 2 ? 1 : count); ++i) {
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
    if (!present(block, "channels"))
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

// The block's "length", when written, is the mono count: a channel string
// cut by whole groups of characters still decodes cleanly, to fewer samples.
template <class Node> bool lengthAgrees(const Node& block, qsizetype count)
{
    double length = 0.0;
    return !present(block, "length")
           || (wholeNumber(block.member("length"), &length) && length == double(count));
}

// Sets the rate of a clip `name` whose audio was read: absent gives the
// default; a rate that names no whole number is damage; a whole number below
// 1 Hz (or beyond int) gives the default, and a clip holding audio is listed.
template <class Node> void readRate(const Node& block, AudioClip& clip, const QString& name, Damage& damage)
{
    clip.sampleRate = AudioClip().sampleRate;
    if (!present(block, "sampleRate"))
        return;
    double rate = 0.0;
    if (!wholeNumber(block.member("sampleRate"), &rate))
        damage.note(name + QStringLiteral("的采样率无法读取"));
    else if (rate >= 1.0 && rate <= double(std::numeric_limits<int>::max()))
        clip.sampleRate = int(rate);
    else if (!clip.samples.isEmpty() || !clip.stereoSamples.isEmpty())
        damage.defaultRateClips.append(name);
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

    if (!present(object, "audioData"))
        return clip;
    const Node block = object.member("audioData");
    bool readable = isEmbeddedBlock(block);
    if (readable) {
        if (stringOr(block, "format", QString()) == QLatin1String("float32_base64"))
            readable = readBase64Channels(block.member("channels"), clip);
        else
            readable = readNumberChannels(block, clip);
        readable = readable && lengthAgrees(block, clip.samples.size());
    }
    const QString name = QStringLiteral("第%1条轨道第%2个音频片段").arg(track).arg(index);
    if (!readable)
        damage.note(name + QStringLiteral("的音频数据已损坏"));
    else
        readRate(block, clip, name, damage);
    return clip;
}

// The track-level block of older files: always arrays of numbers.
template <class Node>
void readLegacyAudioData(const Node& block, TrackData& track, int number, Damage& damage)
{
    if (!isEmbeddedBlock(block))
        return;
    AudioClip clip;
    const QString name = QStringLiteral("第%1条轨道第1个音频片段").arg(number);
    if (!readNumberChannels(block, clip))
        damage.note(name + QStringLiteral("的音频数据已损坏"));
    else
        readRate(block, clip, name, damage);
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
    if (present(root, "markers")) {
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
    project.createdAt = stringOr(root, "createdAt", QString());
    if (!QDateTime::fromString(project.createdAt, Qt::ISODate).isValid())
        project.createdAt.clear();
    project.name = stringOr(root, "name", QStringLiteral("Untitled"));
    project.version = stringOr(root, "version", QStringLiteral("1.0.0"));
    project.currentTime = numberOr(root, "currentTime", 0.0);
    project.zoom = numberOr(root, "zoom", 1.0);
    if (present(root, "settings"))
        project.settings = deserializeSettings(root.member("settings"));
    project.tracks = std::move(tracks);
    project.markers = std::move(markers);
    project.defaultRateClips = damage.defaultRateClips;
    if (!project.defaultRateClips.isEmpty())
        qWarning() << "ProjectSerializer: opened at the default rate:" << project.defaultRateClips;

    qDebug() << "ProjectSerializer: loaded" << project.name << project.tracks.size()
             << "track(s), version" << project.version;
    return LoadOutcome::Loaded;
}

} // namespace ProjectJsonReading
