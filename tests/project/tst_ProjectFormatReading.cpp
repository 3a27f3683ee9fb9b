// The reading rules for hand-made and damaged documents, checked on both
// readers (a QJsonDocument and text parsed in place) so they never drift apart.

#include "ProjectTestData.h"
#include "project/Base64Floats.h"
#include "project/JsonErrorMessages.h"
#include "project/ProjectSerializer.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest/QtTest>
#include <cstring>
#include <limits>
#include <random>

using ProjectTestData::compareProjects;
using ProjectTestData::sameBits;
using ProjectTestData::sameSamples;

namespace {

QByteArray base64OfBytes(int count)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = char(i * 7 + 1);
    return bytes.toBase64();
}

QByteArray audioTrackWith(const QByteArray& audioData)
{
    return "{\"version\":\"1.0.0\",\"tracks\":[{\"type\":\"audio\",\"audioBlocks\":[{\"audioData\":" + audioData
           + "}]}]}";
}

QByteArray embeddedBase64(const QList<QByteArray>& channels)
{
    QByteArray list;
    for (const QByteArray& c : channels)
        list += (list.isEmpty() ? "\"" : ",\"") + c + "\"";
    return "{\"type\":\"embedded\",\"format\":\"float32_base64\",\"sampleRate\":22050,\"channels\":[" + list + "]}";
}

struct Loaded {
    bool ok = false;
    ProjectData data;
};

// Loads `json` through both readers; fails the test when they disagree on
// whether it opens or on anything it fills in.
Loaded loadBoth(const QByteArray& json)
{
    Loaded viaDocument;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    viaDocument.ok = parseError.error == QJsonParseError::NoError
                     && ProjectSerializer::loadProject(doc, viaDocument.data);

    Loaded viaText;
    QByteArray text = json;
    viaText.ok = ProjectSerializer::readProject(text, viaText.data, nullptr)
                 == ProjectSerializer::ParseResult::Loaded;

    // Read in pieces of a few bytes, every string and escape is split somewhere.
    Loaded viaPieces;
    QBuffer device;
    device.setData(json);
    device.open(QIODevice::ReadOnly);
    viaPieces.ok = ProjectSerializer::readProject(&device, viaPieces.data, nullptr, 3)
                   == ProjectSerializer::ParseResult::Loaded;

    [&] {
        QCOMPARE(viaText.ok, viaDocument.ok);
        QCOMPARE(viaPieces.ok, viaDocument.ok);
        if (viaText.ok) {
            compareProjects(viaText.data, viaDocument.data);
            compareProjects(viaPieces.data, viaDocument.data);
        }
    }();
    return viaText;
}

// A small saved project with every kind of record, as the corpus's seed.
QByteArray smallProjectText()
{
    TrackData audio;
    audio.name = QStringLiteral("人声");
    audio.color = QColor(0x12, 0xab, 0xef);
    audio.volumeEnvelope = {{0.5, 0.25f}, {1.5, 1.0f}};
    AudioClip clip;
    clip.samples = {0.5f, -0.25f, 1.0f, 0.125f};
    clip.stereoSamples = {0.5f, 0.5f, -0.25f, 0.75f};
    clip.sampleRate = 48000;
    clip.start = 1.25;
    clip.fadeIn = 0.01;
    audio.audioClips.push_back(clip);
    TrackData midi;
    midi.type = TrackType::MidiTrack;
    midi.name = QStringLiteral("piano");
    MidiClip notes;
    notes.notes = {MidiNote{60, 0.0, 0.5, 100}, MidiNote{64, 0.25, 1.0, 90}};
    midi.midiClips.push_back(notes);
    ProjectSettings settings;
    settings.tempo = 97.5;
    QByteArray text;
    QBuffer buffer(&text);
    buffer.open(QIODevice::WriteOnly);
    ProjectSerializer::writeProject(&buffer, QStringLiteral("demo"), {audio, midi}, settings, 0.0, 1.0,
                                    {{2.5, QStringLiteral("副歌"), QColor(255, 0, 0)}});
    return text;
}

} // namespace

class ProjectFormatReadingTest : public QObject {
    Q_OBJECT
private slots:
    void requiredFields_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("loads");
        QTest::newRow("root array") << QByteArray("[{\"version\":\"1.0.0\",\"tracks\":[]}]") << false;
        QTest::newRow("root string") << QByteArray("\"x\"") << false;
        QTest::newRow("no version") << QByteArray("{\"tracks\":[]}") << false;
        QTest::newRow("no tracks") << QByteArray("{\"version\":\"1.0.0\"}") << false;
        QTest::newRow("tracks an object") << QByteArray("{\"version\":\"1.0.0\",\"tracks\":{}}") << false;
        QTest::newRow("version a number") << QByteArray("{\"version\":2,\"tracks\":[]}") << true;
    }

    void requiredFields()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, loads);
        ProjectData untouched;
        untouched.name = QStringLiteral("keep");
        untouched.tracks.resize(2);
        const Loaded result = loadBoth(json);
        QCOMPARE(result.ok, loads);

        // A refused document leaves the caller's record as it was.
        QByteArray text = json;
        ProjectData data = untouched;
        ProjectSerializer::readProject(text, data, nullptr);
        if (!loads) {
            QCOMPARE(data.name, QStringLiteral("keep"));
            QCOMPARE(data.tracks.size(), size_t(2));
        } else {
            QVERIFY(data.tracks.empty());
            // The loadable row carries a number (which reads as the default).
            QCOMPARE(data.version, QStringLiteral("1.0.0"));
        }
    }

    void rootDefaults()
    {
        const Loaded result = loadBoth("{\"version\":\"0.9\",\"tracks\":[]}");
        QVERIFY(result.ok);
        QCOMPARE(result.data.name, QStringLiteral("Untitled"));
        QCOMPARE(result.data.version, QStringLiteral("0.9"));
        QCOMPARE(result.data.zoom, 1.0);
        QVERIFY(result.data.markers.empty());
    }

    void settingsKeys()
    {
        // Absent settings keep the caller's; present ones start from the defaults.
        QByteArray text = "{\"version\":\"1\",\"tracks\":[]}";
        ProjectData data;
        data.settings.sampleRate = 96000;
        QCOMPARE(ProjectSerializer::readProject(text, data, nullptr), ProjectSerializer::ParseResult::Loaded);
        QCOMPARE(data.settings.sampleRate, 96000);

        const Loaded wrongType =
            loadBoth("{\"version\":\"1\",\"tracks\":[],\"settings\":{\"sampleRate\":\"48000\",\"tempo\":\"fast\"}}");
        QCOMPARE(wrongType.data.settings.sampleRate, 48000); // the rate the text names
        QCOMPARE(wrongType.data.settings.tempo, 0.0);
        QCOMPARE(wrongType.data.settings.bitDepth, 32);

        const Loaded absent = loadBoth("{\"version\":\"1\",\"tracks\":[],\"settings\":{\"bitDepth\":24.0}}");
        QCOMPARE(absent.data.settings.sampleRate, 44100);
        QCOMPARE(absent.data.settings.bitDepth, 24);
        QCOMPARE(absent.data.settings.timeSignature, QStringLiteral("4/4"));

        const Loaded fractional = loadBoth("{\"version\":\"1\",\"tracks\":[],\"settings\":{\"channels\":1.5}}");
        QCOMPARE(fractional.data.settings.channels, 0);
    }

    void trackKeys()
    {
        const Loaded result = loadBoth("{\"version\":\"1\",\"tracks\":[\n"
"            {\"type\":\"MIDI\",\"name\":7,\"volume\":\"loud\",\"pan\":0.25,\"muted\":1,\"solo\":true},\n"
"            {\"type\":\"midi\",\"color\":\"not a colour\",\"instrumentIndex\":3.5,\"midiChannel\":2,\n"
"             \"midiClips\":[{\"notes\":[{\"pitch\":200,\"velocity\":0}, 5]}, \"x\"]},\n"
"            {\"color\":\"#abc\"},\n"
"            42]}");
        QVERIFY(result.ok);
        QCOMPARE(result.data.tracks.size(), size_t(4));
        const TrackData& capitalMidi = result.data.tracks[0];
        QCOMPARE(capitalMidi.type, 0);
        QCOMPARE(capitalMidi.name, QString());
        QCOMPARE(capitalMidi.color, QColor(QStringLiteral("#4A90D9")));
        QCOMPARE(capitalMidi.volume, 0.8f);
        QCOMPARE(capitalMidi.pan, 0.25f);
        QCOMPARE(capitalMidi.muted, false);
        QCOMPARE(capitalMidi.solo, true);

        const TrackData& midi = result.data.tracks[1];
        QCOMPARE(midi.type, 1);
        QVERIFY(!midi.color.isValid());
        QCOMPARE(midi.instrumentIndex, 0);
        QCOMPARE(midi.midiChannel, 2);
        QCOMPARE(midi.midiClips.size(), size_t(2));
        QCOMPARE(midi.midiClips[0].duration, 4.0);
        QCOMPARE(midi.midiClips[0].notes.size(), size_t(2));
        QCOMPARE(midi.midiClips[0].notes[0].pitch, 200); // no range checks on reading
        QCOMPARE(midi.midiClips[0].notes[0].velocity, 0);
        QCOMPARE(midi.midiClips[0].notes[1].pitch, 60);
        QCOMPARE(midi.midiClips[0].notes[1].duration, 0.5);
        QVERIFY(midi.midiClips[1].notes.empty());

        QCOMPARE(result.data.tracks[2].color, QColor(0xaa, 0xbb, 0xcc));
        QCOMPARE(result.data.tracks[3].type, 0); // a non-object element is a default track
    }

    void envelopeSortsStably()
    {
        const Loaded result = loadBoth("{\"version\":\"1\",\"tracks\":[{\"envelopeEnabled\":true,\n"
            "            \"volumeEnvelope\":[{\"time\":2,\"value\":0.1},{\"time\":1,\"value\":0.2},{\"time\":1,\"value\":0.3},\n"
            "                              {\"time\":1,\"value\":0.4},{\"value\":0.5},\"bad\"]}]}");
        const auto& envelope = result.data.tracks.at(0).volumeEnvelope;
        QCOMPARE(envelope.size(), size_t(6));
        QVERIFY(result.data.tracks[0].envelopeEnabled);
        const float expected[] = {0.5f, 0.8f, 0.2f, 0.3f, 0.4f, 0.1f};
        const double times[] = {0, 0, 1, 1, 1, 2};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(envelope[i].value, expected[i]);
            QCOMPARE(envelope[i].time, times[i]);
        }
    }

    void audioBlocks_data()
    {
        QTest::addColumn<QByteArray>("audioData");
        QTest::addColumn<int>("mono");
        QTest::addColumn<int>("stereo");
        QTest::addColumn<int>("rate");
        QTest::newRow("mono only") << embeddedBase64({base64OfBytes(8)}) << 2 << 0 << 22050;
        QTest::newRow("mono and stereo")
            << embeddedBase64({base64OfBytes(8), base64OfBytes(400), base64OfBytes(400)}) << 2 << 200 << 22050;
        QTest::newRow("one and two padding characters")
            << embeddedBase64({base64OfBytes(4), base64OfBytes(8), base64OfBytes(8)}) << 1 << 4 << 22050;
        QTest::newRow("no audio") << embeddedBase64({""}) << 0 << 0 << 22050;
        QTest::newRow("number arrays")
            << QByteArray("{\"type\":\"embedded\",\"format\":\"raw\",\"channels\":[[0.5,0.25,\"x\"],[1,2],[3]]}") << 3 << 2 << 44100;
    }

    void audioBlocks()
    {
        QFETCH(QByteArray, audioData);
        QFETCH(int, mono);
        QFETCH(int, stereo);
        QFETCH(int, rate);
        const Loaded result = loadBoth(audioTrackWith(audioData));
        QVERIFY(result.ok);
        const auto& clips = result.data.tracks.at(0).audioClips;
        QCOMPARE(clips.size(), size_t(1));
        QCOMPARE(clips[0].samples.size(), mono);
        QCOMPARE(clips[0].stereoSamples.size(), stereo);
        QCOMPARE(clips[0].sampleRate, rate);
    }

    // Audio not readable whole would be lost with the next save: the file is
    // refused, with a message that names the clip.
    void damagedContentIsRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("named");
        const auto clip = audioTrackWith;
        const QString firstClip = QStringLiteral("第1条轨道第1个音频片段的音频数据已损坏");
        QTest::newRow("part of a float") << clip(embeddedBase64({base64OfBytes(10)})) << firstClip;
        QTest::newRow("stereo pair of two lengths")
            << clip(embeddedBase64({base64OfBytes(8), base64OfBytes(400), base64OfBytes(404)})) << firstClip;
        QTest::newRow("no channels") << clip(embeddedBase64({})) << firstClip;
        QTest::newRow("cut short") << clip(embeddedBase64({base64OfBytes(12).chopped(1)})) << firstClip;
        QTest::newRow("line break, then part of a float") << clip(embeddedBase64({"AAAAAAAA\\nAAAA"})) << firstClip;
        QTest::newRow("data after padding") << clip(embeddedBase64({"AAA=AAAA"})) << firstClip;
        QTest::newRow("channel not a string")
            << clip("{\"type\":\"embedded\",\"format\":\"float32_base64\",\"channels\":[5]}") << firstClip;
        QTest::newRow("channels not an array")
            << clip("{\"type\":\"embedded\",\"format\":\"float32_base64\",\"channels\":\"AAAA\"}") << firstClip;
        QTest::newRow("not embedded") << clip("{\"type\":\"file\",\"channels\":[[0.5]]}") << firstClip;
        QTest::newRow("rate of another type")
            << clip("{\"type\":\"embedded\",\"sampleRate\":[],\"channels\":[[0.5,0.25]]}")
            << QStringLiteral("第1条轨道第1个音频片段的采样率无法读取");
        QTest::newRow("track audio of older files not arrays")
            << QByteArray("{\"version\":\"1\",\"tracks\":[{\"audioData\":{\"type\":\"embedded\",\"channels\":5}}]}")
            << firstClip;
        QTest::newRow("second clip of the second track")
            << QByteArray("{\"version\":\"1\",\"tracks\":[{},{\"audioBlocks\":[{},{\"audioData\":"
                          + embeddedBase64({"AAAAA"}) + "}]}]}")
            << QStringLiteral("第2条轨道第2个音频片段的音频数据已损坏");
        QTest::newRow("tracks not a list")
            << QByteArray("{\"version\":\"1\",\"tracks\":\"oops\"}") << QStringLiteral("轨道列表无法读取");
        QTest::newRow("clips not a list")
            << QByteArray("{\"version\":\"1\",\"tracks\":[{\"audioBlocks\":{}}]}")
            << QStringLiteral("第1条轨道的音频片段无法读取");
        QTest::newRow("notes not a list")
            << QByteArray("{\"version\":\"1\",\"tracks\":[{\"type\":\"midi\",\"midiClips\":[{\"notes\":7}]}]}")
            << QStringLiteral("第1条轨道第1个MIDI片段的音符无法读取");
    }

    void damagedContentIsRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, named);
        QVERIFY(!loadBoth(json).ok);
        ProjectData data;
        data.name = QStringLiteral("keep");
        QString message;
        QCOMPARE(ProjectSerializer::readProject(json, data, &message), ProjectSerializer::ParseResult::Damaged);
        QCOMPARE(message, named);
        QCOMPARE(data.name, QStringLiteral("keep"));
    }

    // What earlier builds and other writers made opens with exactly its
    // content; damage that would open changed is refused, naming what.
    void writtenFormsOpenDamageIsRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("defaulted");
        auto block = [](const QByteArray& channels, const QByteArray& rate) {
            return audioTrackWith("{\"type\":\"embedded\",\"format\":\"float32_base64\",\"length\":2,"
                                  "\"sampleRate\":" + rate + ",\"channels\":[" + channels + "]}");
        };
        const QByteArray plain = "\"//9/PwAAgL4=\""; // 0.99999994f, -0.25f
        const QStringList none;
        QTest::newRow("rate 0") << block(plain, "0") << QString() << 44100 << QStringList{"第1条轨道第1个音频片段"};
        QTest::newRow("rate as text") << block(plain, "\"48000\"") << QString() << 48000 << none;
        QTest::newRow("wrapped lines") << block("\"//9/\\r\\nPw\\t AAgL4=\\n\"", "8000") << QString() << 8000 << none;
        QTest::newRow("raw line break") << block("\"//9/Pw\nAAgL4=\"", "8000") << QString() << 8000 << none;
        QTest::newRow("escaped slash") << block("\"\\/\\/9\\/PwAAgL4=\"", "8000") << QString() << 8000 << none;
        QTest::newRow("no padding") << block("\"//9/PwAAgL4\"", "8000") << QString() << 8000 << none;
        QTest::newRow("two entries") << block(plain + ",\"AAAA\"", "8000") << QString() << 8000 << none;
        QTest::newRow("null lists") << QByteArray("{\"version\":\"1\",\"settings\":null,\"markers\":null,\"tracks\":["
                                                  "{\"volumeEnvelope\":null,\"audioBlocks\":[{\"audioData\":null}]},"
                                                  "{\"type\":\"midi\",\"midiClips\":[{\"notes\":null}]},"
                                                  "{\"audioBlocks\":null},{\"type\":\"midi\",\"midiClips\":null}]}")
                                    << QString() << 44100 << none;
        const QString audio = QStringLiteral("第1条轨道第1个音频片段的音频数据已损坏");
        const QString rate = QStringLiteral("第1条轨道第1个音频片段的采样率无法读取");
        QTest::newRow("length disagrees") << block('"' + base64OfBytes(24).remove(8, 16) + '"', "8000") << audio << 0 << none;
        QTest::newRow("foreign character") << block("\"//9/*PwAAgL4=\"", "8000") << audio << 0 << none;
        QTest::newRow("rate a fraction") << block(plain, "44100.5") << rate << 0 << none;
        QTest::newRow("rate in words") << block(plain, "\"fast\"") << rate << 0 << none;
        QTest::newRow("rate with a group separator") << block(plain, "\"44,100\"") << rate << 0 << none;
    }

    void writtenFormsOpenDamageIsRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, refusal);
        QFETCH(int, rate);
        QFETCH(QStringList, defaulted);
        const QList<float> content = json.contains("AAgL4") ? QList<float>{0.99999994f, -0.25f} : QList<float>();
        const Loaded result = loadBoth(json);
        ProjectData data;
        QString message;
        QCOMPARE(ProjectSerializer::readProject(json, data, &message),
                 refusal.isEmpty() ? ProjectSerializer::ParseResult::Loaded : ProjectSerializer::ParseResult::Damaged);
        QCOMPARE(message, refusal);
        if (!refusal.isEmpty())
            return;
        const AudioClip& clip = result.data.tracks.at(0).audioClips.at(0);
        QCOMPARE(clip.samples, content);
        QVERIFY(clip.stereoSamples.isEmpty());
        QCOMPARE(clip.sampleRate, rate);
        QCOMPARE(result.data.defaultRateClips, defaulted);
    }

    // The decoder treats any text the way QByteArray::fromBase64 does.
    void base64MatchesQtOnGarbage()
    {
        std::mt19937 random(1234);
        const QByteArray alphabet = "ABCxyz019+/=-_!\n \"\\\x80\xff";
        for (int round = 0; round < 2000; ++round) {
            QByteArray text;
            const int length = int(random() % 64);
            for (int i = 0; i < length; ++i)
                text += alphabet[int(random() % alphabet.size())];
            const QByteArray reference = QByteArray::fromBase64(text);
            QByteArray ours(text.size() * 3 / 4 + 1, '\0');
            const qsizetype n = Base64Floats::decodeBytes(text, reinterpret_cast<unsigned char*>(ours.data()));
            ours.truncate(n);
            if (ours != reference)
                QFAIL(qPrintable("differs on " + text.toPercentEncoding()));
            QCOMPARE(Base64Floats::decodeFloats(text).size(), reference.size() / 4);
        }
    }

    void clipScalarKeys()
    {
        const Loaded result = loadBoth(audioTrackWith(
            "{\"type\":\"embedded\"}, \"start\":\"x\", \"audioStart\":0.5, \"fadeInCurve\":2, \"fadeOutCurve\":\"y\""));
        const AudioClip& clip = result.data.tracks.at(0).audioClips.at(0);
        QCOMPARE(clip.start, 0.0); // present with the wrong type: 0
        QCOMPARE(clip.audioStart, 0.5);
        QCOMPARE(clip.fadeInCurve, 2);
        QCOMPARE(clip.fadeOutCurve, 0);
    }

    void legacyTrackAudio()
    {
        const Loaded legacy = loadBoth("{\"version\":\"1\",\"tracks\":[{\"audioBlocks\":[],\n"
            "            \"audioData\":{\"type\":\"embedded\",\"sampleRate\":8000,\"channels\":[[0.5,0.25],[1,2,3],[4,5]]}}]}");
        const auto& clips = legacy.data.tracks.at(0).audioClips;
        QCOMPARE(clips.size(), size_t(1));
        QCOMPARE(clips[0].samples, QList<float>({0.5f, 0.25f}));
        QCOMPARE(clips[0].stereoSamples, QList<float>({1, 4, 2, 5}));
        QCOMPARE(clips[0].sampleRate, 8000);
        QCOMPARE(clips[0].start, 0.0);

        const Loaded ignored = loadBoth("{\"version\":\"1\",\"tracks\":[{\"audioBlocks\":[{}],\n"
            "            \"audioData\":{\"type\":\"embedded\",\"channels\":[[0.5,0.25]]}}]}");
        QCOMPARE(ignored.data.tracks.at(0).audioClips.size(), size_t(1));
        QVERIFY(ignored.data.tracks[0].audioClips[0].samples.isEmpty());

        const Loaded notEmbedded = loadBoth("{\"version\":\"1\",\"tracks\":[{\"audioData\":{\"type\":\"x\"}}]}");
        QVERIFY(notEmbedded.data.tracks.at(0).audioClips.empty());

        const Loaded midiIgnores = loadBoth("{\"version\":\"1\",\"tracks\":[{\"type\":\"midi\",\n"
            "            \"audioData\":{\"type\":\"embedded\",\"channels\":[[0.5]]}}]}");
        QVERIFY(midiIgnores.data.tracks.at(0).audioClips.empty());
    }

    void markers()
    {
        const Loaded result = loadBoth("{\"version\":\"1\",\"tracks\":[],\"markers\":[\n"
            "            {\"time\":1.5,\"label\":\"A\"},{\"color\":\"#00ff00\"},{\"color\":3},\"x\"]}");
        QCOMPARE(result.data.markers.size(), size_t(4));
        QCOMPARE(result.data.markers[0].color, QColor(255, 165, 0));
        QCOMPARE(result.data.markers[0].label, QStringLiteral("A"));
        QCOMPARE(result.data.markers[1].color, QColor(0, 255, 0));
        QVERIFY(!result.data.markers[2].color.isValid());
        QCOMPARE(result.data.markers[3].time, 0.0);
    }

    // Non-finite numbers can only come from a document built in code; they
    // read as the key's default rather than poisoning the timeline.
    void nonFiniteNumbersReadAsDefaults()
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QJsonObject clip{{"start", nan}, {"fadeIn", inf},
                         {"audioData", QJsonObject{{"type", "embedded"}, {"sampleRate", inf}}}};
        QJsonObject track{{"volume", nan}, {"pan", -inf}, {"audioBlocks", QJsonArray{clip}},
                          {"volumeEnvelope", QJsonArray{QJsonObject{{"time", nan}, {"value", inf}}}}};
        QJsonObject midiTrack{{"type", "midi"},
                              {"midiClips", QJsonArray{QJsonObject{
                                                {"start", inf}, {"duration", nan},
                                                {"notes", QJsonArray{QJsonObject{{"start", nan}, {"duration", inf}}}}}}}};
        QJsonObject root{{"version", "1"}, {"tracks", QJsonArray{track, midiTrack}}, {"zoom", inf},
                         {"currentTime", nan}, {"settings", QJsonObject{{"tempo", inf}}},
                         {"markers", QJsonArray{QJsonObject{{"time", nan}}}}};
        ProjectData data;
        QVERIFY(ProjectSerializer::loadProject(QJsonDocument(root), data));
        QCOMPARE(data.zoom, 1.0);
        QCOMPARE(data.currentTime, 0.0);
        QCOMPARE(data.settings.tempo, 120.0);
        QCOMPARE(data.markers.at(0).time, 0.0);
        const TrackData& t = data.tracks.at(0);
        QCOMPARE(t.volume, 0.8f);
        QCOMPARE(t.pan, 0.0f);
        QCOMPARE(t.volumeEnvelope.at(0).time, 0.0);
        QCOMPARE(t.volumeEnvelope.at(0).value, 0.8f);
        QCOMPARE(t.audioClips.at(0).start, 0.0);
        QCOMPARE(t.audioClips.at(0).fadeIn, 0.0);
        QCOMPARE(t.audioClips.at(0).sampleRate, 44100);
        const MidiClip& m = data.tracks.at(1).midiClips.at(0);
        QCOMPARE(m.start, 0.0);
        QCOMPARE(m.duration, 4.0);
        QCOMPARE(m.notes.at(0).start, 0.0);
        QCOMPARE(m.notes.at(0).duration, 0.5);
    }

    // Gains and number-list samples become floats: a number beyond the float
    // range would become an infinity that spreads through every mix and
    // filter. Gains read as their defaults, samples as silence.
    void numbersBeyondFloatRange()
    {
        const Loaded result = loadBoth("{\"version\":\"1\",\"tracks\":[{\"volume\":1e300,\"pan\":-1e39,\n"
            "            \"volumeEnvelope\":[{\"time\":1,\"value\":4e38}],\n"
            "            \"audioData\":{\"type\":\"embedded\",\"channels\":[[1e300,0.5,-1e39],[3.5e38],[0.25]]}}]}");
        QVERIFY(result.ok);
        const TrackData& track = result.data.tracks.at(0);
        QCOMPARE(track.volume, 0.8f);
        QCOMPARE(track.pan, 0.0f);
        QCOMPARE(track.volumeEnvelope.at(0).value, 0.8f);
        QCOMPARE(track.audioClips.at(0).samples, (QList<float>{0.0f, 0.5f, 0.0f}));
        QCOMPARE(track.audioClips.at(0).stereoSamples, (QList<float>{0.0f, 0.25f}));
    }

    // Numbers read exactly as Qt reads them, also in forms that RapidJSON's
    // own conversion got wrong: "0e38" read as about -1.9e227.
    void numbersReadExactly()
    {
        const QByteArray tiny = "0." + QByteArray(300, '0') + "1";
        const QByteArray json = "{\"version\":\"1\",\"zoom\":1.7976931348623157e308,\"currentTime\":-0,\n"
            "    \"settings\":{\"sampleRate\":48000,\"bitDepth\":4294967296,\"channels\":-2147483648,\"tempo\":0e38},\n"
            "    \"tracks\":[{\"audioBlocks\":[{\"start\":0e38,\"fadeIn\":" + tiny + ",\n"
            "        \"fadeOut\":1e-5,\"audioEnd\":0.1,\"audioStart\":123456789012345678901234567890}]}]}";
        const Loaded result = loadBoth(json);
        QVERIFY(result.ok);
        QVERIFY(result.data.zoom == std::numeric_limits<double>::max());
        QVERIFY(result.data.currentTime == 0.0);
        QCOMPARE(result.data.settings.sampleRate, 48000);
        QCOMPARE(result.data.settings.bitDepth, 0); // integral, but beyond int: read as 0
        QCOMPARE(result.data.settings.channels, std::numeric_limits<int>::min());
        QVERIFY(result.data.settings.tempo == 0.0);
        const AudioClip& clip = result.data.tracks.at(0).audioClips.at(0);
        QVERIFY(clip.start == 0.0);
        QVERIFY(clip.fadeIn == 1e-301);
        QVERIFY(clip.fadeOut == 1e-5);
        QVERIFY(clip.audioEnd == 0.1);
        QVERIFY(clip.audioStart == 1.2345678901234568e29);
    }

    // Text that Qt's parser reads more leniently than strict JSON, and text
    // that it refuses although RapidJSON alone would take it.
    void readsWhatQtReads_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("opens");
        const QByteArray head = "{\"version\":\"1\",\"tracks\":[],";
        auto named = [&](const QByteArray& name) { return head + "\"name\":\"" + name + "\"}"; };
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + head + "\"name\":\"x\"}" << true;
        QTest::newRow("mark, then spaces") << "\xEF\xBB\xBF \n" + head + "\"zoom\":2}" << true;
        QTest::newRow("mark after a space") << " \xEF\xBB\xBF" + head + "\"zoom\":2}" << false;
        QTest::newRow("raw tab, newline, 0x01") << named("a\tb\nc\x01" "d\x1f") << true;
        QTest::newRow("raw NUL in a string") << named(QByteArray("a\0b", 3)) << true;
        QTest::newRow("raw control in a key") << head + "\"na\x02me\":\"x\",\"name\":\"y\"}" << true;
        QTest::newRow("numbers 2. .5 -.5 2.e1 0.")
            << head + "\"zoom\":2.,\"currentTime\":.5,\"settings\":{\"sampleRate\":48000.,\"tempo\":-.5,"
                      "\"bitDepth\":2.e1,\"channels\":0.}}" << true;
        QTest::newRow("numbers .5e1 -0. 1.E+2")
            << head + "\"markers\":[{\"time\":.5e1},{\"time\":-0.},{\"time\":1.E+2}]}" << true;
        QTest::newRow("number . alone") << head + "\"zoom\":.}" << false;
        QTest::newRow("number .e5") << head + "\"zoom\":.e5}" << false;
        QTest::newRow("number 2.5.") << head + "\"zoom\":2.5.}" << false;
        QTest::newRow("number 2..5") << head + "\"zoom\":2..5}" << false;
        QTest::newRow("number 1 .5") << head + "\"zoom\":1 .5}" << false;
        QTest::newRow("any character escaped") << named("\\q\\'\\a\\ \\%") << true;
        QTest::newRow("control character escaped") << named("a\\\x01" "b") << true;
        QTest::newRow("non-ASCII escaped") << named("\\\xC3\xA9") << false;
        QTest::newRow("lead byte escaped, then ASCII") << named("\\\xE8" "d") << true;
        QTest::newRow("zeros with huge exponents") << head + "\"zoom\":0e400,\"currentTime\":-0.e99999}" << true;
        QTest::newRow("lone high surrogate") << named("x\\ud800y") << true;
        QTest::newRow("lone high surrogate at the end") << named("x\\uDBFF") << true;
        QTest::newRow("lone low surrogate") << named("\\udc00") << true;
        QTest::newRow("two high surrogates, then a pair") << named("\\ud800\\ud83d\\ude00") << true;
        QTest::newRow("escaped key") << QByteArray("{\"\\u0076ersion\":\"1\",\"tr\\acks\":[]}") << true;
        QTest::newRow("a scalar root") << QByteArray("17") << false;
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("NUL after the root") << QByteArray("{\"version\":\"1\",\"tracks\":[]}\0", 28) << false;
        QTest::newRow("NUL between values") << QByteArray("{\"version\":\"1\",\0\"tracks\":[]}", 28) << false;
        const QByteArray deep = QByteArray(1023, '[') + QByteArray(1023, ']'); // the root is level 1
        QTest::newRow("1024 levels") << head + "\"x\":" + deep + "}" << true;
        QTest::newRow("1025 levels") << head + "\"x\":[" + deep + "]}" << false;
    }

    void readsWhatQtReads()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, opens);
        QCOMPARE(loadBoth(json).ok, opens);
    }

    // A seeded corpus of damaged copies of a saved project, with the damage
    // drawn from what the two parsers treat differently: both readers open
    // the same ones and read the same things from them.
    void mutatedProjectsReadAlike()
    {
        const QByteArray seed = smallProjectText();
        QVERIFY(seed.size() > 500);
        const QList<QByteArray> pieces = {"\xEF\xBB\xBF", QByteArray(1, '\0'), "\x01", "\t", "\n", "\x1f",
                                          "\\", "\\u", "\\ud800", "\\udc00", "\\q", "\"", ".", "-.", "0.",
                                          ".5", "e", "E+", "[", "]", "{", "}", ",", ":", " ", "\xC3\xA9",
                                          "1", "00", "-", "true", "null"};
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        std::mt19937 random(20261207);
        int opened = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray text = seed;
            for (int edits = 1 + int(random() % 3); edits > 0; --edits) {
                const qsizetype at = qsizetype(random() % quint32(text.size()));
                switch (random() % 4) {
                case 0:
                    text.insert(at, pieces[qsizetype(random() % quint32(pieces.size()))]);
                    break;
                case 1:
                    text.replace(at, 1, pieces[qsizetype(random() % quint32(pieces.size()))]);
                    break;
                case 2:
                    text.remove(at, 1 + qsizetype(random() % 3));
                    break;
                default:
                    text[at] = char(random());
                    break;
                }
            }
            const Loaded result = loadBoth(text);
            if (QTest::currentTestFailed()) {
                qInstallMessageHandler(previous);
                QFAIL(qPrintable("the readers differ on " + text.toPercentEncoding()));
            }
            opened += result.ok ? 1 : 0;
        }
        qInstallMessageHandler(previous);
        QVERIFY2(opened > 400, qPrintable(QString::number(opened)));
    }

    void syntaxErrorsSayWhatQtSaysInChinese_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("unterminated string") << QByteArray("{\"version\":\"1.0");
        QTest::newRow("garbage after") << QByteArray("{\"version\":\"1\",\"tracks\":[]} x");
        QTest::newRow("missing colon") << QByteArray("{\"version\" \"1\"}");
        QTest::newRow("unterminated array") << QByteArray("{\"tracks\":[1,2");
        QTest::newRow("bad escape") << QByteArray("{\"a\":\"\\u12G4\"}");
        QTest::newRow("illegal value") << QByteArray("{\"a\":tru}");
        QTest::newRow("number too big") << QByteArray("{\"version\":\"1\",\"zoom\":1e400}");
        QTest::newRow("number below the double range") << QByteArray("{\"version\":\"1\",\"zoom\":1e-400}");
        // RapidJSON's own conversion read past its tables on this one (a crash).
        QTest::newRow("zeros below the double range")
            << "{\"version\":\"1\",\"zoom\":0." + QByteArray(400, '0') + "1}";
        QTest::newRow("nul inside") << QByteArray("{\"version\":\"1\",\"tracks\":[]}\0junk", 33);
        QTest::newRow("too deep") << QByteArray(1025, '[') + QByteArray(1025, ']');
    }

    // Syntax errors are named as Qt's parser names them, in the interface's language.
    void syntaxErrorsSayWhatQtSaysInChinese()
    {
        QFETCH(QByteArray, json);
        QJsonParseError qtError;
        QJsonDocument::fromJson(json, &qtError);
        QVERIFY(qtError.error != QJsonParseError::NoError);
        QByteArray text = json;
        ProjectData data;
        QString ours;
        QCOMPARE(ProjectSerializer::readProject(text, data, &ours),
                 ProjectSerializer::ParseResult::SyntaxError);
        QStringList chinese;
        for (int e = QJsonParseError::UnterminatedObject; e <= QJsonParseError::GarbageAtEnd; ++e)
            chinese << JsonErrorMessages::describe(QJsonParseError::ParseError(e));
        QVERIFY2(chinese.contains(ours), qPrintable(ours));
    }
};

QTEST_GUILESS_MAIN(ProjectFormatReadingTest)
#include "tst_ProjectFormatReading.moc"
