// Saving and loading projects: exact round trips through both readers and
// the layout of the written text.

#include "ProjectTestData.h"
#include "project/ProjectSerializer.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest/QtTest>

using namespace ProjectTestData;

namespace {

QByteArray streamedText(const std::vector<TrackData>& tracks, const std::vector<TimelineMarker>& markers,
                        const ProjectSettings& settings = {}, const QString& name = QStringLiteral("Demo"))
{
    QByteArray text;
    QBuffer buffer(&text);
    buffer.open(QIODevice::WriteOnly);
    const bool ok = ProjectSerializer::writeProject(&buffer, name, tracks, settings, 0.0, 1.0, markers);
    return ok ? text : QByteArray();
}

void compareSamplesBitExact(const QList<float>& actual, const QList<float>& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (bitsOf(actual[i]) != bitsOf(expected[i]))
            QFAIL(qPrintable(QStringLiteral("sample %1 differs: %2 vs %3")
                                 .arg(i)
                                 .arg(bitsOf(actual[i]), 8, 16)
                                 .arg(bitsOf(expected[i]), 8, 16)));
    }
}

void compareLoadedProject(const ProjectData& loaded, const std::vector<TrackData>& saved,
                          const std::vector<TimelineMarker>& markers)
{
    QCOMPARE(loaded.tracks.size(), saved.size());
    for (size_t t = 0; t < saved.size(); ++t) {
        const TrackData& in = saved[t];
        const TrackData& out = loaded.tracks[t];
        QCOMPARE(out.type, in.type);
        QCOMPARE(out.name, in.name);
        if (in.color.isValid())
            QCOMPARE(out.color, QColor(in.color.rgb()));
        else
            QCOMPARE(out.color, QColor(QStringLiteral("#4A90D9")));
        QCOMPARE(bitsOf(out.volume), bitsOf(in.volume));
        QCOMPARE(bitsOf(out.pan), bitsOf(in.pan));
        QCOMPARE(out.muted, in.muted);
        QCOMPARE(out.solo, in.solo);
        QCOMPARE(out.envelopeEnabled, in.envelopeEnabled);
        // Reset on load.
        QCOMPARE(out.armed, false);
        QCOMPARE(out.pluginId, -1);
        QVERIFY(out.insertPlugins.empty());
        QCOMPARE(out.instrumentIndex, in.isMidi() ? in.instrumentIndex : 0);
        QCOMPARE(out.midiChannel, in.isMidi() ? in.midiChannel : 0);

        QCOMPARE(out.audioClips.size(), in.isMidi() ? size_t(0) : in.audioClips.size());
        for (size_t c = 0; c < out.audioClips.size(); ++c) {
            const AudioClip& a = in.audioClips[c];
            const AudioClip& b = out.audioClips[c];
            QVERIFY(b.name.isEmpty());
            compareSamplesBitExact(b.samples, a.samples);
            compareSamplesBitExact(b.stereoSamples, a.stereoSamples);
            QCOMPARE(b.sampleRate, a.sampleRate);
            QCOMPARE(b.start, a.start);
            QCOMPARE(b.audioStart, a.audioStart);
            QCOMPARE(b.audioEnd, a.audioEnd);
            QCOMPARE(b.fadeIn, a.fadeIn);
            QCOMPARE(b.fadeOut, a.fadeOut);
            QCOMPARE(b.fadeInCurve, a.fadeInCurve);
            QCOMPARE(b.fadeOutCurve, a.fadeOutCurve);
        }
        QCOMPARE(out.midiClips.size(), in.isMidi() ? in.midiClips.size() : size_t(0));
        for (size_t c = 0; c < out.midiClips.size(); ++c) {
            const MidiClip& a = in.midiClips[c];
            const MidiClip& b = out.midiClips[c];
            QCOMPARE(b.id, 0);
            QCOMPARE(b.start, a.start);
            QCOMPARE(b.duration, a.duration);
            QCOMPARE(b.notes.size(), a.notes.size());
            for (size_t n = 0; n < a.notes.size(); ++n) {
                QCOMPARE(b.notes[n].pitch, a.notes[n].pitch);
                QCOMPARE(b.notes[n].start, a.notes[n].start);
                QCOMPARE(b.notes[n].duration, a.notes[n].duration);
                QCOMPARE(b.notes[n].velocity, a.notes[n].velocity);
            }
        }
        // The envelope comes back sorted by time; equal times keep their order.
        std::vector<EnvelopePoint> sorted = in.volumeEnvelope;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const EnvelopePoint& x, const EnvelopePoint& y) { return x.time < y.time; });
        QCOMPARE(out.volumeEnvelope.size(), sorted.size());
        for (size_t p = 0; p < sorted.size(); ++p) {
            QCOMPARE(out.volumeEnvelope[p].time, sorted[p].time);
            QCOMPARE(bitsOf(out.volumeEnvelope[p].value), bitsOf(sorted[p].value));
        }
    }
    QCOMPARE(loaded.markers.size(), markers.size());
    for (size_t m = 0; m < markers.size(); ++m) {
        QCOMPARE(loaded.markers[m].time, markers[m].time);
        QCOMPARE(loaded.markers[m].label, markers[m].label);
        // Alpha is dropped; a marker without a valid colour reopens with the default.
        QCOMPARE(loaded.markers[m].color,
                 markers[m].color.isValid() ? QColor(markers[m].color.rgb()) : TimelineMarker().color);
    }
}

} // namespace

class ProjectSerializerTest : public QObject {
    Q_OBJECT
private slots:
    void roundTripThroughDocument()
    {
        const auto tracks = sampleTracks();
        const auto markers = sampleMarkers();
        ProjectSettings settings;
        settings.sampleRate = 48000;
        settings.bitDepth = 24;
        settings.channels = 1;
        settings.tempo = 97.5;
        settings.timeSignature = QStringLiteral("3/4");
        const QJsonDocument doc =
            ProjectSerializer::saveProject(QStringLiteral("歌"), tracks, settings, 12.5, 2.0, markers);
        // Through text, as the file goes.
        const QJsonDocument reparsed = QJsonDocument::fromJson(doc.toJson(QJsonDocument::Indented));
        ProjectData loaded;
        QVERIFY(ProjectSerializer::loadProject(reparsed, loaded));
        compareLoadedProject(loaded, tracks, markers);
        QCOMPARE(loaded.name, QStringLiteral("歌"));
        QCOMPARE(loaded.version, QStringLiteral("1.0.0"));
        QCOMPARE(loaded.currentTime, 12.5);
        QCOMPARE(loaded.zoom, 2.0);
        QCOMPARE(loaded.settings.sampleRate, 48000);
        QCOMPARE(loaded.settings.bitDepth, 24);
        QCOMPARE(loaded.settings.channels, 1);
        QCOMPARE(loaded.settings.tempo, 97.5);
        QCOMPARE(loaded.settings.timeSignature, QStringLiteral("3/4"));
        QVERIFY(!QUuid::fromString(loaded.id).isNull());
    }

    void roundTripThroughStreamedText()
    {
        const auto tracks = sampleTracks();
        const auto markers = sampleMarkers();
        QByteArray text = streamedText(tracks, markers);
        QVERIFY(!text.isEmpty());
        ProjectData loaded;
        QString error;
        QCOMPARE(ProjectSerializer::readProject(text, loaded, &error),
                 ProjectSerializer::ParseResult::Loaded);
        compareLoadedProject(loaded, tracks, markers);
    }

    // The streamed text is exactly what Qt's indented writer makes of the
    // same document, so files stay byte-compatible with Qt-written ones.
    void streamedTextMatchesQtLayout()
    {
        const QByteArray text = streamedText(sampleTracks(), sampleMarkers());
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc.toJson(QJsonDocument::Indented), text);

        const QByteArray empty = streamedText({}, {});
        QCOMPARE(QJsonDocument::fromJson(empty).toJson(QJsonDocument::Indented), empty);
    }

    void writtenKeysAndValues()
    {
        auto tracks = sampleTracks();
        tracks[0].audioClips[0].sampleRate = 0; // no length without a rate
        const QJsonObject root =
            ProjectSerializer::saveProject(QString(), tracks, ProjectSettings(), 0.0, 1.0, {}).object();
        QCOMPARE(root.value("name").toString(), QStringLiteral("Untitled"));
        QCOMPARE(root.value("version").toString(), QStringLiteral("1.0.0"));
        QVERIFY(root.value("effects").toArray().isEmpty());
        QVERIFY(root.value("automation").toArray().isEmpty());
        QVERIFY(root.value("markers").isArray());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                    .match(root.value("createdAt").toString())
                    .hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                    .match(root.value("id").toString())
                    .hasMatch());
        const QJsonObject metadata = root.value("metadata").toObject();
        QCOMPARE(metadata.value("year").toInt(), QDate::currentDate().year());
        QCOMPARE(metadata.value("artist").toString(), QString());

        const QJsonArray jsonTracks = root.value("tracks").toArray();
        const QJsonObject audio = jsonTracks.at(0).toObject();
        QCOMPARE(audio.value("type").toString(), QStringLiteral("audio"));
        QCOMPARE(audio.value("color").toString(), QStringLiteral("#12abef"));
        QCOMPARE(audio.value("volume").toDouble(), double(0.8f));
        QVERIFY(!audio.contains("midiClips"));
        QVERIFY(!audio.contains("instrumentIndex"));
        QVERIFY(!audio.contains("armed"));
        const QJsonObject rateless = audio.value("audioBlocks").toArray().at(0).toObject();
        QCOMPARE(rateless.value("duration").toDouble(), 0.0);
        QCOMPARE(rateless.value("audioData").toObject().value("duration").toDouble(), 0.0);
        QCOMPARE(rateless.value("audioData").toObject().value("length").toInt(), 1001);
        const QJsonObject stereoData =
            audio.value("audioBlocks").toArray().at(1).toObject().value("audioData").toObject();
        QCOMPARE(stereoData.value("format").toString(), QStringLiteral("float32_base64"));
        QCOMPARE(stereoData.value("channels").toArray().size(), 3);
        // Channel 1 is the even (left) values of the interleaved list.
        const QByteArray left = QByteArray::fromBase64(
            stereoData.value("channels").toArray().at(1).toString().toLatin1());
        QCOMPARE(left.size(), 300 * 4);
        float firstLeft;
        std::memcpy(&firstLeft, left.constData(), 4);
        QCOMPARE(bitsOf(firstLeft), bitsOf(tracks[0].audioClips[1].stereoSamples[0]));

        const QJsonObject midi = jsonTracks.at(1).toObject();
        QCOMPARE(midi.value("type").toString(), QStringLiteral("midi"));
        QVERIFY(!midi.contains("audioBlocks"));
        QCOMPARE(midi.value("instrumentIndex").toInt(), 12);
        QVERIFY(!midi.contains("volumeEnvelope")); // only written with points

        // A track without a colour has no "color" key and reopens with the default.
        QVERIFY(!jsonTracks.at(2).toObject().contains("color"));

        // So has a marker (and is not saved as black).
        const QJsonArray jsonMarkers =
            ProjectSerializer::saveProject("m", {}, {}, 0, 1, sampleMarkers()).object().value("markers").toArray();
        QCOMPARE(jsonMarkers.size(), 3);
        QCOMPARE(jsonMarkers.at(0).toObject().value("color").toString(), QStringLiteral("#ff0000"));
        QVERIFY(!jsonMarkers.at(2).toObject().contains("color"));
    }

    void everySaveHasItsOwnId()
    {
        const QJsonObject a = ProjectSerializer::saveProject("a", {}, {}, 0, 1, {}).object();
        const QJsonObject b = ProjectSerializer::saveProject("a", {}, {}, 0, 1, {}).object();
        QVERIFY(a.value("id").toString() != b.value("id").toString());
    }
};

QTEST_GUILESS_MAIN(ProjectSerializerTest)
#include "tst_ProjectSerializer.moc"
