#include "ProjectSerializer.h"

#include "JsonErrorMessages.h"
#include "JsonStreamWriter.h"
#include "JsonTextNormalizer.h"
#include "ProjectJsonNodes.h"
#include "ProjectJsonReading.h"
#include "ProjectTextSplitter.h"

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QUuid>

#include <rapidjson/error/error.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <locale.h>
#include <stdlib.h>
#include <string>

namespace {

// Keys are written in ascending order, the order Qt keeps object keys in.

void serializeSettings(JsonStreamWriter& w, const ProjectSettings& settings)
{
    w.beginObject();
    w.key("bitDepth");
    w.writeInteger(settings.bitDepth);
    w.key("channels");
    w.writeInteger(settings.channels);
    w.key("sampleRate");
    w.writeInteger(settings.sampleRate);
    w.key("tempo");
    w.writeDouble(settings.tempo);
    w.key("timeSignature");
    w.writeString(settings.timeSignature);
    w.endObject();
}

void serializeAudioData(JsonStreamWriter& w, const AudioClip& clip)
{
    w.beginObject();
    w.key("channels");
    w.beginArray();
    w.writeBase64Floats(clip.samples.constData(), clip.samples.size(), 1);
    if (!clip.stereoSamples.isEmpty()) {
        const qsizetype frames = clip.stereoSamples.size() / 2;
        w.writeBase64Floats(clip.stereoSamples.constData(), frames, 2);
        w.writeBase64Floats(clip.stereoSamples.constData() + 1, frames, 2);
    }
    w.endArray();
    w.key("duration");
    w.writeDouble(clip.playableLength());
    w.key("format");
    w.writeString(QStringLiteral("float32_base64"));
    w.key("length");
    w.writeInteger(clip.samples.size());
    w.key("sampleRate");
    w.writeInteger(clip.sampleRate);
    w.key("type");
    w.writeString(QStringLiteral("embedded"));
    w.endObject();
}

void serializeAudioClip(JsonStreamWriter& w, const AudioClip& clip)
{
    w.beginObject();
    w.key("audioData");
    serializeAudioData(w, clip);
    w.key("audioEnd");
    w.writeDouble(clip.audioEnd);
    w.key("audioStart");
    w.writeDouble(clip.audioStart);
    w.key("duration");
    w.writeDouble(clip.playableLength());
    w.key("fadeIn");
    w.writeDouble(clip.fadeIn);
    w.key("fadeInCurve");
    w.writeInteger(clip.fadeInCurve);
    w.key("fadeOut");
    w.writeDouble(clip.fadeOut);
    w.key("fadeOutCurve");
    w.writeInteger(clip.fadeOutCurve);
    w.key("start");
    w.writeDouble(clip.start);
    w.endObject();
}

void serializeMidiClip(JsonStreamWriter& w, const MidiClip& clip)
{
    w.beginObject();
    w.key("duration");
    w.writeDouble(clip.duration);
    w.key("notes");
    w.beginArray();
    for (const MidiNote& note : clip.notes) {
        w.beginObject();
        w.key("duration");
        w.writeDouble(note.duration);
        w.key("pitch");
        w.writeInteger(note.pitch);
        w.key("start");
        w.writeDouble(note.start);
        w.key("velocity");
        w.writeInteger(note.velocity);
        w.endObject();
    }
    w.endArray();
    w.key("start");
    w.writeDouble(clip.start);
    w.endObject();
}

void serializeTrack(JsonStreamWriter& w, const TrackData& track)
{
    const bool midi = track.isMidi();
    w.beginObject();
    if (!midi) {
        w.key("audioBlocks");
        w.beginArray();
        for (const AudioClip& clip : track.audioClips)
            serializeAudioClip(w, clip);
        w.endArray();
    }
    // An unset colour is left out so the track reopens with the default
    // colour rather than black.
    if (track.color.isValid()) {
        w.key("color");
        w.writeString(track.color.name());
    }
    w.key("envelopeEnabled");
    w.writeBool(track.envelopeEnabled);
    if (midi) {
        w.key("instrumentIndex");
        w.writeInteger(track.instrumentIndex);
        w.key("midiChannel");
        w.writeInteger(track.midiChannel);
        w.key("midiClips");
        w.beginArray();
        for (const MidiClip& clip : track.midiClips)
            serializeMidiClip(w, clip);
        w.endArray();
    }
    w.key("muted");
    w.writeBool(track.muted);
    w.key("name");
    w.writeString(track.name);
    w.key("pan");
    w.writeDouble(track.pan);
    w.key("solo");
    w.writeBool(track.solo);
    w.key("type");
    w.writeString(midi ? QStringLiteral("midi") : QStringLiteral("audio"));
    w.key("volume");
    w.writeDouble(track.volume);
    if (!track.volumeEnvelope.empty()) {
        w.key("volumeEnvelope");
        w.beginArray();
        for (const EnvelopePoint& point : track.volumeEnvelope) {
            w.beginObject();
            w.key("time");
            w.writeDouble(point.time);
            w.key("value");
            w.writeDouble(point.value);
            w.endObject();
        }
        w.endArray();
    }
    w.endObject();
}

void serializeMetadata(JsonStreamWriter& w)
{
    w.beginObject();
    for (const char* key : {"album", "artist", "description", "genre"}) {
        w.key(key);
        w.writeString(QString());
    }
    w.key("tags");
    w.beginArray();
    w.endArray();
    w.key("year");
    w.writeInteger(QDate::currentDate().year());
    w.endObject();
}

void serializeMarker(JsonStreamWriter& w, const TimelineMarker& marker)
{
    w.beginObject();
    // As for tracks: an unset colour is left out so the marker reopens with
    // the default colour rather than black.
    if (marker.color.isValid()) {
        w.key("color");
        w.writeString(marker.color.name());
    }
    w.key("label");
    w.writeString(marker.label);
    w.key("time");
    w.writeDouble(marker.time);
    w.endObject();
}

// RapidJSON's exact number conversion misreads or crashes on some digit
// strings ("0." and a few hundred zeros before a digit reads past its
// tables; "0e38" reads as a huge number), so numbers reach the document
// as text and are converted here: integers typed as RapidJSON types them,
// everything else by the C library's correctly rounded conversion in the
// "C" locale (the program's own locale may use a decimal comma).
class NumberConvertingHandler {
public:
    explicit NumberConvertingHandler(rapidjson::Document& document) : m_document(document) {}

    // True when parsing stopped at a number beyond the double range (too
    // large, or so small that it would read as 0), which Qt's parser
    // refuses as an illegal number.
    bool numberOutOfRange() const { return m_numberOutOfRange; }

    bool Null() { return m_document.Null(); }
    bool Bool(bool b) { return m_document.Bool(b); }
    bool Int(int i) { return m_document.Int(i); }
    bool Uint(unsigned i) { return m_document.Uint(i); }
    bool Int64(int64_t i) { return m_document.Int64(i); }
    bool Uint64(uint64_t i) { return m_document.Uint64(i); }
    bool Double(double d) { return m_document.Double(d); }
    bool String(const char* s, rapidjson::SizeType n, bool copy) { return m_document.String(s, n, copy); }
    bool StartObject() { return m_document.StartObject(); }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return m_document.Key(s, n, copy); }
    bool EndObject(rapidjson::SizeType members) { return m_document.EndObject(members); }
    bool StartArray() { return m_document.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return m_document.EndArray(elements); }

    bool RawNumber(const char* text, rapidjson::SizeType length, bool)
    {
        const char* end = text + length;
        const bool minus = length > 0 && text[0] == '-';
        if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == end) {
            quint64 magnitude = 0;
            const auto [rest, error] = std::from_chars(text + (minus ? 1 : 0), end, magnitude);
            if (error == std::errc() && rest == end) {
                if (!minus)
                    return magnitude <= std::numeric_limits<unsigned>::max()
                               ? m_document.Uint(unsigned(magnitude))
                               : m_document.Uint64(magnitude);
                if (magnitude <= quint64(std::numeric_limits<int>::max()) + 1)
                    return m_document.Int(int(-qint64(magnitude)));
                if (magnitude <= quint64(std::numeric_limits<qint64>::max()) + 1)
                    return m_document.Int64(qint64(0 - magnitude));
            }
        }
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const std::string copy(text, length);
        errno = 0;
        const double value = strtod_l(copy.c_str(), nullptr, cLocale);
        if (errno == ERANGE && (std::isinf(value) || value == 0.0)) {
            m_numberOutOfRange = true;
            return false;
        }
        // Qt keeps integral numbers as integers, so "-0.0" reads as 0 there.
        return m_document.Double(value == 0.0 ? 0.0 : value);
    }

private:
    rapidjson::Document& m_document;
    bool m_numberOutOfRange = false;
};

QString utcNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// RapidJSON's errors as Qt's parser names them, so messages read the same
// whichever parser ran.
QString syntaxErrorText(rapidjson::ParseErrorCode code)
{
    switch (code) {
    case rapidjson::kParseErrorDocumentRootNotSingular:
        return JsonErrorMessages::describe(QJsonParseError::GarbageAtEnd);
    case rapidjson::kParseErrorObjectMissName:
        return JsonErrorMessages::describe(QJsonParseError::MissingObject);
    case rapidjson::kParseErrorObjectMissColon:
        return JsonErrorMessages::describe(QJsonParseError::MissingNameSeparator);
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
    case rapidjson::kParseErrorTermination:
        return JsonErrorMessages::describe(QJsonParseError::UnterminatedObject);
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
        return JsonErrorMessages::describe(QJsonParseError::UnterminatedArray);
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
    case rapidjson::kParseErrorStringEscapeInvalid:
        return JsonErrorMessages::describe(QJsonParseError::IllegalEscapeSequence);
    case rapidjson::kParseErrorStringMissQuotationMark:
        return JsonErrorMessages::describe(QJsonParseError::UnterminatedString);
    case rapidjson::kParseErrorStringInvalidEncoding:
        return JsonErrorMessages::describe(QJsonParseError::IllegalUTF8String);
    case rapidjson::kParseErrorNumberTooBig:
    case rapidjson::kParseErrorNumberMissFraction:
    case rapidjson::kParseErrorNumberMissExponent:
        return JsonErrorMessages::describe(QJsonParseError::IllegalNumber);
    default:
        return JsonErrorMessages::describe(QJsonParseError::IllegalValue);
    }
}

} // namespace

bool ProjectSerializer::writeProject(QIODevice* device, const QString& name,
                                     const std::vector<TrackData>& tracks,
                                     const ProjectSettings& settings, double currentTime,
                                     double zoom, const std::vector<TimelineMarker>& markers,
                                     ProjectIdentity* identity)
{
    ProjectIdentity fresh;
    ProjectIdentity& kept = identity ? *identity : fresh;
    if (kept.createdAt.isEmpty())
        kept.createdAt = utcNow();
    if (kept.id.isEmpty())
        kept.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString updatedAt = utcNow();

    JsonStreamWriter w(device);
    w.beginObject();
    w.key("automation");
    w.beginArray();
    w.endArray();
    w.key("createdAt");
    w.writeString(kept.createdAt);
    w.key("currentTime");
    w.writeDouble(currentTime);
    w.key("effects");
    w.beginArray();
    w.endArray();
    w.key("id");
    w.writeString(kept.id);
    w.key("markers");
    w.beginArray();
    for (const TimelineMarker& marker : markers)
        serializeMarker(w, marker);
    w.endArray();
    w.key("metadata");
    serializeMetadata(w);
    w.key("name");
    w.writeString(name.isEmpty() ? QStringLiteral("Untitled") : name);
    w.key("settings");
    serializeSettings(w, settings);
    w.key("tracks");
    w.beginArray();
    for (const TrackData& track : tracks)
        serializeTrack(w, track);
    w.endArray();
    w.key("updatedAt");
    w.writeString(updatedAt);
    w.key("version");
    w.writeString(QStringLiteral("1.0.0"));
    w.key("zoom");
    w.writeDouble(zoom);
    w.endObject();
    return w.finish();
}

QJsonDocument ProjectSerializer::saveProject(const QString& name,
                                             const std::vector<TrackData>& tracks,
                                             const ProjectSettings& settings, double currentTime,
                                             double zoom,
                                             const std::vector<TimelineMarker>& markers)
{
    QByteArray text;
    QBuffer buffer(&text);
    buffer.open(QIODevice::WriteOnly);
    writeProject(&buffer, name, tracks, settings, currentTime, zoom, markers);
    buffer.close();
    return QJsonDocument::fromJson(text);
}

bool ProjectSerializer::loadProject(const QJsonDocument& doc, ProjectData& project)
{
    const QJsonValue root = doc.isObject() ? QJsonValue(doc.object())
                            : doc.isArray() ? QJsonValue(doc.array())
                                            : QJsonValue(QJsonValue::Undefined);
    return ProjectJsonReading::loadFromRoot(QtJsonNode(root), project, nullptr)
           == ProjectJsonReading::LoadOutcome::Loaded;
}

ProjectSerializer::ParseResult ProjectSerializer::readProject(QByteArray& jsonText,
                                                              ProjectData& project,
                                                              QString* errorText)
{
    QBuffer buffer(&jsonText);
    buffer.open(QIODevice::ReadOnly);
    return readProject(&buffer, project, errorText);
}

ProjectSerializer::ParseResult ProjectSerializer::readProject(QIODevice* device, ProjectData& project,
                                                              QString* errorText, qint64 blockSize)
{
    // The audio is decoded while the text is read; what the parser gets is
    // the rest of the text, which is small.
    ProjectTextSplitter splitter;
    if (!splitter.read(device, blockSize)) {
        if (errorText)
            *errorText = device->errorString();
        return ParseResult::ReadError;
    }
    QByteArray& jsonText = splitter.text();
    ExtractedChannels extracted;
    extracted.channels = &splitter.channels();
    extracted.offsets.reserve(extracted.channels->size());
    for (const ProjectTextSplitter::Channel& channel : *extracted.channels)
        extracted.offsets.push_back(channel.offset);

    // In-place parsing: strings stay in the text instead of being copied
    // into the document.
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag
                                | rapidjson::kParseNumbersAsStringsFlag;
    // Whatever Qt's parser takes is put in a form RapidJSON takes (usually
    // the text as it is); what Qt refuses, including a NUL outside strings
    // where the in-place parser would stop short, is refused here. This also
    // checks the UTF-8 in one vectorised pass, which lets the parser skip
    // over string contents sixteen bytes at a time.
    qsizetype start = 0;
    if (JsonTextNormalizer::normalize(jsonText, start, errorText, &extracted.offsets)
        == JsonTextNormalizer::Outcome::Refused)
        return ParseResult::SyntaxError;
    // The vectorised scan reads aligned sixteen-byte blocks; keep them inside
    // the allocation.
    jsonText.reserve(jsonText.size() + 16);
    extracted.text = jsonText.constData();
    rapidjson::Document document;
    NumberConvertingHandler handler(document);
    rapidjson::ParseResult parsed;
    auto parse = [&](rapidjson::Document&) {
        rapidjson::Reader reader;
        rapidjson::InsituStringStream stream(jsonText.data() + start);
        parsed = reader.Parse<kFlags>(stream, handler);
        return !parsed.IsError();
    };
    document.Populate(parse);
    if (parsed.IsError()) {
        if (errorText)
            *errorText = syntaxErrorText(handler.numberOutOfRange() ? rapidjson::kParseErrorNumberTooBig
                                                                : parsed.Code());
        return ParseResult::SyntaxError;
    }
    switch (ProjectJsonReading::loadFromRoot(RapidJsonNode(&document, &extracted), project, errorText)) {
    case ProjectJsonReading::LoadOutcome::Loaded:
        return ParseResult::Loaded;
    case ProjectJsonReading::LoadOutcome::Damaged:
        return ParseResult::Damaged;
    case ProjectJsonReading::LoadOutcome::NotProject:
        break;
    }
    return ParseResult::InvalidProject;
}
