#include "engine/midi/MidiFileReader.h"

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <random>

namespace {

QByteArray quantity(quint32 value)
{
    QByteArray out(1, char(value & 0x7F));
    while (value >>= 7)
        out.prepend(char(0x80 | (value & 0x7F)));
    return out;
}

QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
    return out;
}

QByteArray header(int format, int tracks, int division)
{
    return "MThd" + bigEndian(6, 4) + bigEndian(format, 2) + bigEndian(tracks, 2) + bigEndian(division, 2);
}

QByteArray chunk(const QByteArray& events, const char* id = "MTrk")
{
    return QByteArray(id) + bigEndian(quint32(events.size()), 4) + events;
}

// One event: delta time then the raw bytes.
QByteArray ev(quint32 delta, std::initializer_list<int> bytes)
{
    QByteArray out = quantity(delta);
    for (int b : bytes)
        out.append(char(b));
    return out;
}

QByteArray tempo(quint32 delta, quint32 microsPerQuarter)
{
    return ev(delta, {0xFF, 0x51, 0x03}) + bigEndian(microsPerQuarter, 3);
}

QByteArray trackName(quint32 delta, const QByteArray& name)
{
    return ev(delta, {0xFF, 0x03}) + quantity(quint32(name.size())) + name;
}

QByteArray endOfTrack(quint32 delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }

struct Parsed {
    bool ok = false;
    QList<ImportedMidiTrack> tracks;
    double duration = -1.0;
    double bpm = -1.0;
};

Parsed parse(const QByteArray& bytes)
{
    Parsed p;
    p.ok = parseMidiData(bytes, p.tracks, p.duration, p.bpm);
    return p;
}

} // namespace

class MidiFileReaderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void division96WithoutTempo()
    {
        const QByteArray file = header(0, 1, 96)
            + chunk(ev(96, {0x90, 60, 100}) + ev(96, {0x80, 60, 0}) + endOfTrack());
        const Parsed p = parse(file);
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 1);
        QCOMPARE(p.tracks[0].name, QStringLiteral("Track 1"));
        QCOMPARE(p.tracks[0].notes.size(), size_t(1));
        const MidiNote& note = p.tracks[0].notes[0];
        QCOMPARE(note.pitch, 60);
        QCOMPARE(note.velocity, 100);
        QCOMPARE(note.start, 0.5);
        QCOMPARE(note.duration, 0.5);
        QCOMPARE(p.duration, 1.0);
        QCOMPARE(p.bpm, 120.0);
    }

    void format1TempoTrackAppliesToAllTracks()
    {
        // 480 ticks a beat; 0.6 s beats from tick 0, 0.25 s beats from tick 480.
        const QByteArray tempoTrack = tempo(0, 600000) + tempo(480, 250000) + endOfTrack();
        const QByteArray melody = trackName(0, "旋律") + ev(0, {0x91, 64, 90}) + ev(480, {0x81, 64, 0})
            + ev(0, {0x91, 67, 80}) + ev(480, {0x81, 67, 0}) + endOfTrack();
        const QByteArray unnamed = ev(960, {0x92, 72, 70}) + ev(240, {0x82, 72, 0}) + endOfTrack();
        const Parsed p = parse(header(1, 3, 480) + chunk(tempoTrack) + chunk(melody) + chunk(unnamed));
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 2); // the note-less tempo track is dropped
        QCOMPARE(p.tracks[0].name, QStringLiteral("旋律"));
        QCOMPARE(p.tracks[1].name, QStringLiteral("Track 3"));
        const auto& notes = p.tracks[0].notes;
        QCOMPARE(notes[0].start, 0.0);
        QCOMPARE(notes[0].duration, 0.6);
        QCOMPARE(notes[1].start, 0.6);
        QCOMPARE(notes[1].duration, 0.25);
        QCOMPARE(p.tracks[1].notes[0].start, 0.85);
        QCOMPARE(p.tracks[1].notes[0].duration, 0.125);
        QCOMPARE(p.duration, 0.975);
        QCOMPARE(p.bpm, 100.0);
    }

    void bpmRules_data()
    {
        QTest::addColumn<int>("tempoTick");  // -1: no tempo event
        QTest::addColumn<int>("tempoValue");
        QTest::addColumn<double>("bpm");
        QTest::addColumn<double>("noteStart"); // note on at tick 960 (two beats of 480)
        QTest::newRow("no tempo") << -1 << 0 << 120.0 << 1.0;
        QTest::newRow("tick-0 default") << 0 << 500000 << 120.0 << 1.0;
        QTest::newRow("tick-0 600000") << 0 << 600000 << 100.0 << 1.2;
        QTest::newRow("later change") << 480 << 1000000 << 120.0 << 1.5;
        // A tempo of 0 would stop the clock; it is ignored.
        QTest::newRow("tick-0 zero") << 0 << 0 << 120.0 << 1.0;
    }

    void bpmRules()
    {
        QFETCH(int, tempoTick);
        QFETCH(int, tempoValue);
        QFETCH(double, bpm);
        QFETCH(double, noteStart);
        QByteArray track;
        int tick = 0;
        if (tempoTick >= 0) {
            track += tempo(quint32(tempoTick), quint32(tempoValue));
            tick = tempoTick;
        }
        track += ev(quint32(960 - tick), {0x90, 60, 1}) + ev(10, {0x80, 60, 0}) + endOfTrack();
        const Parsed p = parse(header(0, 1, 480) + chunk(track));
        QVERIFY(p.ok);
        QCOMPARE(p.bpm, bpm);
        QCOMPARE(p.tracks[0].notes[0].start, noteStart);
    }

    void tempoEventsAtOneTickApplyInFileOrder()
    {
        // Both chunks set a tempo at tick 0: the later one (chunk order) governs
        // timing, while bpm reports the first tick-0 tempo that is not the default.
        const QByteArray first = tempo(0, 300000) + endOfTrack();
        const QByteArray second = tempo(0, 600000) + ev(480, {0x90, 60, 64}) + ev(480, {0x80, 60, 0})
            + endOfTrack();
        const Parsed p = parse(header(1, 2, 480) + chunk(first) + chunk(second));
        QVERIFY(p.ok);
        QCOMPARE(p.bpm, 200.0);
        QCOMPARE(p.tracks[0].notes[0].start, 0.6);
    }

    void sameNotePairsFirstInFirstOutAcrossChannels()
    {
        const QByteArray track = ev(0, {0x90, 60, 90}) + ev(10, {0x93, 60, 80}) // two opens of 60
            + ev(10, {0x85, 60, 0})                                           // off on channel 5
            + ev(10, {0x9A, 60, 0})                                           // note-on velocity 0
            + ev(10, {0x80, 60, 0})                                           // nothing left open
            + endOfTrack();
        const Parsed p = parse(header(0, 1, 100) + chunk(track));
        QVERIFY(p.ok);
        const auto& notes = p.tracks[0].notes;
        QCOMPARE(notes.size(), size_t(2));
        QCOMPARE(notes[0].velocity, 90);
        QCOMPARE(notes[0].start, 0.0);
        QCOMPARE(notes[0].duration, 0.1);
        QCOMPARE(notes[1].velocity, 80);
        QCOMPARE(notes[1].start, 0.05);
        QCOMPARE(notes[1].duration, 0.1);
    }

    void unclosedNotesEndAtLastEventInPitchOrder()
    {
        const QByteArray track = ev(0, {0x90, 64, 50}) + ev(0, {0x90, 62, 60}) + ev(50, {0x90, 62, 70})
            + ev(50, {0x90, 70, 10}) + ev(0, {0x80, 70, 0}) // zero-length note
            + ev(100, {0xB0, 7, 100})                        // last event, tick 200
            + endOfTrack();
        const Parsed p = parse(header(0, 1, 100) + chunk(track));
        QVERIFY(p.ok);
        const auto& notes = p.tracks[0].notes;
        QCOMPARE(notes.size(), size_t(4));
        // Closed order: the zero-length 70 first, then the open ones by pitch and opening order.
        QCOMPARE(notes[0].pitch, 70);
        QCOMPARE(notes[0].duration, 0.001);
        QCOMPARE(notes[1].pitch, 62);
        QCOMPARE(notes[1].velocity, 60);
        QCOMPARE(notes[1].duration, 1.0);
        QCOMPARE(notes[2].pitch, 62);
        QCOMPARE(notes[2].velocity, 70);
        QCOMPARE(notes[2].start, 0.25);
        QCOMPARE(notes[2].duration, 0.75);
        QCOMPARE(notes[3].pitch, 64);
        QCOMPARE(p.duration, 1.0);
    }

    void runningStatusSurvivesMetaAndSysex()
    {
        const QByteArray track = ev(0, {0x90, 60, 100}) + trackName(0, "x")
            + ev(0, {0xF0, 0x02, 0x01, 0xF7}) + ev(48, {60, 0}) // running note-on, velocity 0
            + ev(0, {61, 90}) + ev(48, {61, 0}) + endOfTrack();
        const Parsed p = parse(header(0, 1, 96) + chunk(track));
        QVERIFY(p.ok);
        const auto& notes = p.tracks[0].notes;
        QCOMPARE(notes.size(), size_t(2));
        QCOMPARE(notes[0].pitch, 60);
        QCOMPARE(notes[0].duration, 0.25);
        QCOMPARE(notes[1].pitch, 61);
        QCOMPARE(notes[1].start, 0.25);
    }

    void refusedFilesLeaveOutputsAlone_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("warning");
        const QByteArray body = chunk(ev(0, {0x90, 60, 1}) + ev(1, {0x80, 60, 0}));
        QTest::newRow("smpte") << header(0, 1, 0xE728) + body
                               << QStringLiteral("MidiFileParser: SMPTE timing not supported");
        QTest::newRow("division 0") << header(0, 1, 0) + body
                                    << QStringLiteral("MidiFileParser: SMPTE timing not supported");
        QTest::newRow("no MThd") << QByteArray("RIFF") + header(0, 1, 96).mid(4) + body
                                 << QStringLiteral("MidiFileParser: not a MIDI file (no MThd)");
        QTest::newRow("short") << header(0, 1, 96).left(13) << QString();
        QByteArray shortHeader = header(0, 1, 96) + body;
        shortHeader[7] = 5;
        QTest::newRow("header length 5") << shortHeader << QString();
        QByteArray longHeader = header(0, 1, 96) + body;
        longHeader[6] = 1; // 8 + L beyond the file
        QTest::newRow("header past end") << longHeader << QString();
    }

    void refusedFilesLeaveOutputsAlone()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, warning);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        QList<ImportedMidiTrack> tracks{ImportedMidiTrack{QStringLiteral("kept"), {}}};
        double duration = 7.0, bpm = 99.0;
        QVERIFY(!parseMidiData(file, tracks, duration, bpm));
        QCOMPARE(tracks.size(), 1);
        QCOMPARE(duration, 7.0);
        QCOMPARE(bpm, 99.0);
    }

    void fileOnDisk()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.mid");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(header(0, 1, 96) + chunk(ev(0, {0x90, 69, 1}) + ev(96, {0x80, 69, 0})));
        f.close();
        QList<ImportedMidiTrack> tracks;
        double duration = 0, bpm = 0;
        QVERIFY(parseMidiFile(path, tracks, duration, bpm));
        QCOMPARE(tracks[0].notes[0].pitch, 69);
        const QString missing = dir.filePath("missing.mid");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MidiFileParser: cannot open"));
        QVERIFY(!parseMidiFile(missing, tracks, duration, bpm));
    }

    void formatZeroReadsOnlyItsFirstChunk()
    {
        const QByteArray a = chunk(ev(0, {0x90, 60, 1}) + ev(96, {0x80, 60, 0}));
        const QByteArray b = chunk(ev(0, {0x90, 62, 1}) + ev(96, {0x80, 62, 0}));
        Parsed p = parse(header(0, 2, 96) + a + b);
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 1);
        QCOMPARE(p.tracks[0].notes[0].pitch, 60);
        // A header that counts no tracks does not hide the one chunk, nor
        // its tempo (80 BPM, so the note lasts 0.75 s).
        p = parse(header(0, 0, 96) + chunk(tempo(0, 750000) + ev(0, {0x90, 64, 1}) + ev(96, {0x80, 64, 0})));
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 1);
        QCOMPARE(p.tracks[0].name, QStringLiteral("Track 1"));
        QCOMPARE(p.tracks[0].notes[0].pitch, 64);
        QCOMPARE(p.tracks[0].notes[0].duration, 0.75);
        QCOMPARE(p.bpm, 80.0);
        // A format-0 file whose first chunk is not a track chunk is refused.
        p = parse(header(0, 2, 96) + chunk("junk", "XFIR") + a);
        QVERIFY(!p.ok);
        // In format 1 a count of zero still means no tracks.
        QVERIFY(!parse(header(1, 0, 96) + a).ok);
        // In format 1 the foreign chunk is skipped but counts as chunk 1.
        p = parse(header(1, 3, 96) + a + chunk("junk", "XFIR") + b);
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 2);
        QCOMPARE(p.tracks[1].name, QStringLiteral("Track 3"));
    }

    void damageEndsOnlyItsChunk_data()
    {
        QTest::addColumn<QByteArray>("damaged"); // appended after one complete note (pitch 60)
        QTest::addColumn<int>("notesInFirstChunk");
        QTest::newRow("five-byte delta") << QByteArray("\x81\x81\x81\x81\x01\x90\x3E\x40", 8) << 1;
        QTest::newRow("meta length past chunk") << ev(0, {0xFF, 0x03, 0x7F, 'a'}) << 1;
        QTest::newRow("meta length quantity too long")
            << ev(0, {0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}) << 1;
        QTest::newRow("sysex past chunk") << ev(0, {0xF0, 0x40, 0x01}) << 1;
        QTest::newRow("system common status") << ev(0, {0xF4}) + ev(0, {0x90, 62, 1}) << 1;
        QTest::newRow("status in data byte") << ev(0, {0x90, 0x90, 1}) << 1;
        QTest::newRow("truncated note") << ev(0, {0x90, 62}) << 1;
        QTest::newRow("open note then damage") << ev(5, {0x90, 62, 9}) + ev(0, {0xF4}) << 2;
    }

    void damageEndsOnlyItsChunk()
    {
        QFETCH(QByteArray, damaged);
        QFETCH(int, notesInFirstChunk);
        const QByteArray first = ev(0, {0x90, 60, 1}) + ev(10, {0x80, 60, 0}) + damaged;
        const QByteArray second = ev(0, {0x90, 72, 1}) + ev(10, {0x80, 72, 0}) + endOfTrack();
        const Parsed p = parse(header(1, 2, 96) + chunk(first) + chunk(second));
        QVERIFY(p.ok);
        QCOMPARE(p.tracks.size(), 2);
        QCOMPARE(int(p.tracks[0].notes.size()), notesInFirstChunk);
        QCOMPARE(p.tracks[0].notes[0].pitch, 60);
        QCOMPARE(p.tracks[1].notes[0].pitch, 72);
        if (notesInFirstChunk == 2) // closed at the last complete event's tick
            QCOMPARE(p.tracks[0].notes[1].duration, 0.001);
    }

    void chunkLongerThanFileIsReadToTheEnd()
    {
        QByteArray file = header(0, 1, 96) + chunk(ev(0, {0x90, 60, 1}) + ev(96, {0x80, 60, 0}));
        file[18] = char(0x7F); // declared length about 2 GB
        const Parsed p = parse(file);
        QVERIFY(p.ok);
        QCOMPARE(p.tracks[0].notes[0].duration, 0.5);
    }

    void agreesWithMidoOnRandomFiles()
    {
        const QString python = QStringLiteral("/usr/bin/python3");
        if (!QFile::exists(python) || !TestSupport::runCommand(python, {"-c", "import mido"}))
            QSKIP("needs Debian's python3-mido");
        QTemporaryDir dir;
        const QString script = TestSupport::sourceDir() + "/tests/engine/midi_reference.py";
        const int count = 60;
        QVERIFY(TestSupport::runCommand(python, {script, dir.path(), QString::number(count), "20240611"}));
        int compared = 0;
        for (int n = 0; n < count; ++n) {
            const QString base = dir.filePath(QStringLiteral("%1").arg(n, 3, 10, QChar('0')));
            QFile json(base + ".json");
            QVERIFY(json.open(QIODevice::ReadOnly));
            const QJsonObject expected = QJsonDocument::fromJson(json.readAll()).object();
            const QJsonArray expectedTracks = expected["tracks"].toArray();
            QList<ImportedMidiTrack> tracks;
            double duration = -1, bpm = -1;
            const bool ok = parseMidiFile(base + ".mid", tracks, duration, bpm);
            QCOMPARE(ok, !expectedTracks.isEmpty());
            QCOMPARE(tracks.size(), expectedTracks.size());
            if (!ok)
                continue;
            QVERIFY(qAbs(duration - expected["duration"].toDouble()) < 1e-9);
            QCOMPARE(bpm, expected["bpm"].toDouble());
            for (int t = 0; t < tracks.size(); ++t) {
                const QJsonObject et = expectedTracks[t].toObject();
                QCOMPARE(tracks[t].name, et["name"].toString());
                const QJsonArray notes = et["notes"].toArray();
                QCOMPARE(int(tracks[t].notes.size()), notes.size());
                for (int i = 0; i < notes.size(); ++i) {
                    const QJsonObject en = notes[i].toObject();
                    const MidiNote& got = tracks[t].notes[size_t(i)];
                    QCOMPARE(got.pitch, en["pitch"].toInt());
                    QCOMPARE(got.velocity, en["velocity"].toInt());
                    QVERIFY2(qAbs(got.start - en["start"].toDouble()) < 1e-9, qPrintable(base));
                    QVERIFY2(qAbs(got.duration - en["duration"].toDouble()) < 1e-9, qPrintable(base));
                    ++compared;
                }
            }
        }
        QVERIFY(compared > 500);
    }

    void mutatedFilesNeverFault()
    {
        // Seeded mutations of a valid file; under the sanitizers any read past
        // the data or overflow aborts the test. Results must stay well-formed.
        QByteArray base = header(1, 3, 480) + chunk(tempo(0, 400000) + trackName(0, "t") + endOfTrack());
        QByteArray notes;
        for (int i = 0; i < 40; ++i)
            notes += ev(i % 3 ? 0 : 120, {0x90 | (i % 16), 40 + i, 64}) + ev(60, {0xB0, 7, i})
                + ev(0, {0xF0, 0x03, 1, 2, 0xF7}) + ev(30, {0x80 | (i % 4), 40 + i, 0});
        base += chunk(notes + endOfTrack()) + chunk(notes.left(200) + ev(0, {0xFF, 0x01, 0x05}) + "hello");

        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.warning=false"));
        std::mt19937 rng(12345);
        int accepted = 0;
        for (int round = 0; round < 4000; ++round) {
            QByteArray file = base;
            const int edits = 1 + int(rng() % 6);
            for (int e = 0; e < edits; ++e) {
                const int pos = int(rng() % quint32(file.size()));
                switch (rng() % 5) {
                case 0: file[pos] = char(rng()); break;
                case 1: file[pos] = char(file[pos] ^ (1 << (rng() % 8))); break;
                case 2: file.truncate(pos); break;
                case 3: file.insert(pos, QByteArray(1 + int(rng() % 4), char(rng()))); break;
                default: file[pos] = char(0xFF); break;
                }
                if (file.size() < 2)
                    break;
            }
            QList<ImportedMidiTrack> tracks;
            double duration = 0, bpm = 0;
            if (!parseMidiData(file, tracks, duration, bpm))
                continue;
            ++accepted;
            QVERIFY(std::isfinite(duration) && duration >= 0.0);
            QVERIFY(std::isfinite(bpm) && bpm > 0.0);
            for (const ImportedMidiTrack& track : tracks) {
                QVERIFY(!track.notes.empty());
                for (const MidiNote& note : track.notes) {
                    QVERIFY(note.pitch >= 0 && note.pitch <= 127);
                    QVERIFY(note.velocity >= 1 && note.velocity <= 127);
                    QVERIFY(std::isfinite(note.start) && note.start >= 0.0);
                    QVERIFY(note.duration >= 0.001);
                    QVERIFY(note.start + note.duration <= duration + 0.0011);
                }
            }
        }
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(accepted > 100);
    }
};

QTEST_GUILESS_MAIN(MidiFileReaderTest)
#include "tst_MidiFileReader.moc"
