#include "engine/instruments/PianoSampler.h"

#include "SignalChecks.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

namespace {

// The 88 resource names from A0 to C8, built from the naming rule.
QStringList pianoNames()
{
    static const char* names[] = {"C", "Csharp", "D", "Dsharp", "E", "F",
                                  "Fsharp", "G", "Gsharp", "A", "Asharp", "B"};
    QStringList list{"A0", "Asharp0", "B0"};
    for (int octave = 1; octave <= 7; ++octave)
        for (const char* name : names)
            list << QString("%1%2").arg(name).arg(octave);
    list << "C8";
    return list;
}

PianoSampler::SampleBuffer buffer(QList<float> values, int rate = 44100)
{
    PianoSampler::SampleBuffer b;
    b.samples = std::move(values);
    b.sampleRate = rate;
    return b;
}

QList<float> ramp(int count)
{
    QList<float> r(count);
    for (int i = 0; i < count; ++i)
        r[i] = float(i) / 1024.0f; // exact in float
    return r;
}

std::vector<short> live(PianoSampler& piano, int frames)
{
    std::vector<short> out(size_t(2 * frames));
    piano.renderLive(out.data(), frames);
    return out;
}

TrackData midiTrack(std::vector<MidiNote> notes, double clipEnd)
{
    TrackData track;
    track.type = MidiTrack;
    MidiClip clip;
    clip.duration = clipEnd;
    clip.notes = std::move(notes);
    track.midiClips.push_back(clip);
    return track;
}

MidiNote note(int pitch, double start, double duration, int velocity = 127)
{
    MidiNote n;
    n.pitch = pitch;
    n.start = start;
    n.duration = duration;
    n.velocity = velocity;
    return n;
}

} // namespace

class PianoSamplerTest : public QObject {
    Q_OBJECT

    // Recordings set directly, so resampling is checked on exact values.
    static void setRecording(PianoSampler& piano, int pitch, PianoSampler::SampleBuffer b)
    {
        piano.samples[pitch] = std::move(b);
    }
    static const PianoSampler::SampleBuffer& recording(PianoSampler& piano, int pitch)
    {
        return piano.samples.at(pitch);
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void fileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pitch");
        QTest::newRow("A0") << "A0.mp3" << 21;
        QTest::newRow("Csharp4") << "Csharp4.mp3" << 61;
        QTest::newRow("c8 upper-case suffix") << "c8.MP3" << 108;
        QTest::newRow("no suffix") << "Gsharp2" << 44;
        QTest::newRow("H2") << "H2.mp3" << -1;
        QTest::newRow("no octave") << "Asharp.mp3" << -1;
        QTest::newRow("trailing text") << "A4b.mp3" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void fileNames()
    {
        QFETCH(QString, name);
        QFETCH(int, pitch);
        QCOMPARE(PianoSampler().filenameToPitch(name), pitch);
    }

    void theEightyEightNamesMapToTheKeyboard()
    {
        const QStringList names = pianoNames();
        QCOMPARE(names.size(), 88);
        PianoSampler piano;
        for (int i = 0; i < 88; ++i)
            QCOMPARE(piano.filenameToPitch(names[i] + ".mp3"), 21 + i);
    }

    void nearestPitch_data()
    {
        QTest::addColumn<int>("note");
        QTest::addColumn<int>("nearest");
        QTest::newRow("tie goes low") << 62 << 60;
        QTest::newRow("strictly nearer above") << 63 << 64;
        QTest::newRow("below all") << 10 << 60;
        QTest::newRow("above all") << 100 << 64;
        QTest::newRow("exact") << 64 << 64;
    }

    void nearestPitch()
    {
        QFETCH(int, note);
        QFETCH(int, nearest);
        PianoSampler piano;
        QCOMPARE(piano.findNearestPitch(note), -1);
        setRecording(piano, 60, buffer({0.1f, 0.2f}));
        setRecording(piano, 64, buffer({0.1f, 0.2f}));
        QCOMPARE(piano.findNearestPitch(note), nearest);
    }

    void resamplesARampExactly_data()
    {
        QTest::addColumn<int>("note");
        QTest::addColumn<int>("outputRate");
        QTest::addColumn<double>("sourceStep"); // source samples per output value
        QTest::addColumn<int>("length");
        QTest::newRow("same pitch, same rate") << 60 << 44100 << 1.0 << 1000;
        QTest::newRow("octave down") << 48 << 44100 << 0.5 << 2000;
        QTest::newRow("octave up at half rate") << 72 << 22050 << 4.0 << 250;
        QTest::newRow("same pitch at 88200") << 60 << 88200 << 0.5 << 2000;
    }

    void resamplesARampExactly()
    {
        QFETCH(int, note);
        QFETCH(int, outputRate);
        QFETCH(double, sourceStep);
        QFETCH(int, length);
        PianoSampler piano;
        setRecording(piano, 60, buffer(ramp(1000)));
        const QList<float> out = piano.resample(recording(piano, 60), note, outputRate, 10.0);
        QCOMPARE(out.size(), qsizetype(length));
        for (int i = 0; i < length; ++i) {
            // A ramp interpolates to itself; the last source value holds at the end.
            const double x = std::min(sourceStep * i, 999.0);
            QCOMPARE(out[i], float(x / 1024.0));
        }
        // The note's own duration shortens it.
        QCOMPARE(piano.resample(recording(piano, 60), note, outputRate, 0.001).size(),
                 qsizetype(std::min(length, int(0.001 * outputRate))));
        QVERIFY(piano.resample(recording(piano, 60), note, outputRate, 0.0).isEmpty());
    }

    void liveVoicesStealSlotZero()
    {
        // A constant recording: each voice adds velocity/127 × 0.25.
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(44100, 0.25f)));
        for (int i = 0; i < 16; ++i)
            piano.noteOn(40 + i, 8);
        QCOMPARE(live(piano, 4)[0], short(16 * 8 / 127.0 * 0.25 * 32767));
        piano.noteOn(80, 127); // replaces note 40 in slot 0
        const short expected = short((15 * 8 / 127.0 + 1.0) * 0.25 * 32767);
        QVERIFY(qAbs(live(piano, 4)[0] - expected) <= 1);
        piano.noteOff(40); // already gone: nothing changes
        QVERIFY(qAbs(live(piano, 4)[0] - expected) <= 1);
        piano.noteOff(80);
        QCOMPARE(live(piano, 4)[0], short(15 * 8 / 127.0 * 0.25 * 32767));
    }

    void sustainDefersNoteOff()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(44100, 0.25f)));
        piano.noteOn(60, 127);
        piano.noteOn(60, 127);
        piano.noteOff(60); // only the first matching voice stops
        QCOMPARE(live(piano, 2)[0], short(0.25f * 32767));
        piano.sustain(true);
        piano.noteOff(60);
        QCOMPARE(live(piano, 2)[0], short(0.25f * 32767)); // held by the pedal
        piano.sustain(false);
        QCOMPARE(live(piano, 2)[0], short(0));
    }

    void pedalReleaseSparesAReusedSlot()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(100, 0.25f)));
        piano.sustain(true);
        piano.noteOn(60, 127);
        piano.noteOff(60);    // deferred to slot 0
        live(piano, 200);     // the recording ends: slot 0 is idle
        piano.noteOn(62, 127); // slot 0 again, another note
        piano.sustain(false);
        QVERIFY(live(piano, 2)[0] != 0);
    }

    void liveOutputSaturatesOverloads()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(1000, 0.9f)));
        piano.noteOn(60, 127);
        piano.noteOn(60, 127);
        const std::vector<short> out = live(piano, 3);
        QCOMPARE(out[0], short(32767));
        QCOMPARE(out[1], short(32767));
    }

    void liveRateRatio()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(ramp(1000), 44100));
        piano.setSampleRate(22050); // two source samples per output frame
        piano.noteOn(60, 127);
        const std::vector<short> out = live(piano, 600);
        for (int k = 0; k < 500; ++k)
            QCOMPARE(out[size_t(2 * k)], short(float(2 * k) / 1024.0f * 32767.0f));
        QCOMPARE(out[size_t(2 * 500)], short(0)); // 1000 + 1 >= length: the voice ended
    }

    void allNotesOffSilencesAtOnce()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(44100, 0.25f)));
        piano.noteOn(60, 100);
        piano.noteOn(67, 100);
        piano.allNotesOff();
        for (short v : live(piano, 64))
            QCOMPARE(v, short(0));
        PianoSampler empty;
        empty.noteOn(60, 100);
        std::vector<short> out(8, short(7));
        empty.renderLive(out.data(), 4);
        QCOMPARE(out, std::vector<short>(8, short(0)));
    }

    // A reload empties the recordings first: notes that were sounding must not
    // go on reading them, and a failed reload leaves a silent piano.
    void reloadingSilencesSoundingNotes()
    {
        PianoSampler piano;
        setRecording(piano, 60, buffer(QList<float>(44100, 0.25f)));
        piano.noteOn(60, 127);
        piano.sustain(true);
        piano.noteOn(64, 127);
        piano.noteOff(64);
        QCOMPARE(live(piano, 4)[0], short(2 * 0.25f * 32767));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PianoSampler: directory not found:"));
        QVERIFY(!piano.loadSampleLibrary(QStringLiteral("/nonexistent/piano")));
        QCOMPARE(piano.sampleCount(), 0);
        QCOMPARE(live(piano, 64), std::vector<short>(128, 0));
        piano.sustain(false);
        QCOMPARE(live(piano, 4), std::vector<short>(8, 0));
    }

    void trackRender()
    {
        PianoSampler piano;
        QVERIFY(piano.renderTrack(midiTrack({note(60, 0, 0.5)}, 1.0), 48000).isEmpty());
        setRecording(piano, 60, buffer(QList<float>(4800, 0.5f), 48000)); // 0.1 s
        // Last clip ends at 1.0 s: 48000 + 48000 values.
        const QList<float> out = piano.renderTrack(
            midiTrack({note(60, 0.2, 0.05, 127), note(60, 0.5, 2.0, 127), note(60, 1.95, 1.0),
                       note(60, 2.0, 1.0)},
                      1.0),
            48000);
        QCOMPARE(out.size(), qsizetype(96000));
        QCOMPARE(out[9599], 0.0f);
        QCOMPARE(out[9600], 0.5f);
        QCOMPARE(out[9600 + 2399], 0.5f);
        QCOMPARE(out[9600 + 2400], 0.0f);  // ends with its own duration
        QCOMPARE(out[24000 + 4799], 0.5f); // a long note ends with its recording
        QCOMPARE(out[24000 + 4800], 0.0f);
        QCOMPARE(SignalChecks::peak(out, 24000 + 4800, 93600), 0.0f);
        QCOMPARE(out[93600], 0.5f); // cut at the end of the list; the note at 2.0 s is skipped
        QCOMPARE(out[95999], 0.5f);
        // Velocity scales, hostile values render nothing.
        const QList<float> soft = piano.renderTrack(
            midiTrack({note(60, 0, 0.01, 64), note(60, std::nan(""), 1), note(500, 0, 1), note(60, -1, 1)}, 1.0),
            48000);
        QCOMPARE(soft[10], float(0.5 * float(64 / 127.0)));
        QCOMPARE(SignalChecks::peak(soft, 480), 0.0f);
        // A clip running on past the longest render: its note still sounds,
        // and the silence after it is not rendered.
        TrackData absurd = midiTrack({note(60, 0, 1)}, 1e15);
        const QList<float> cut = piano.renderTrack(absurd, 48000);
        QCOMPARE(cut.size(), qsizetype(2 * 48000));
        QCOMPARE(cut[10], 0.5f);
    }

    void loadsTheEmbeddedPiano()
    {
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(":/piano"));
        QCOMPARE(piano.sampleCount(), 88);
        for (int pitch = 21; pitch <= 108; ++pitch) {
            QCOMPARE(piano.findNearestPitch(pitch), pitch);
            const PianoSampler::SampleBuffer& b = recording(piano, pitch);
            QCOMPARE(b.sampleRate, 44100);
            QCOMPARE(b.samples.size(), qsizetype(3 * 44100));
        }
        // A4 sounds at 440 Hz live and offline.
        piano.noteOn(69, 100);
        const std::vector<short> pcm = live(piano, 22050);
        QList<float> left(11025);
        for (int i = 0; i < 11025; ++i)
            left[i] = pcm[size_t(2 * (i + 11025))] / 32768.0f;
        QVERIFY(qAbs(SignalChecks::dominantFrequency(left, 44100, 200, 1000) - 440.0) < 4.0);
        const QList<float> offline = piano.renderTrack(midiTrack({note(57, 0, 1.0)}, 1.0), 48000);
        QVERIFY(qAbs(SignalChecks::dominantFrequency(offline.mid(4800, 24000), 48000, 150, 600) - 220.0) < 3.0);
    }

    void loadFailures()
    {
        PianoSampler piano;
        QTemporaryDir dir;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PianoSampler: directory not found:"));
        QVERIFY(!piano.loadSampleLibrary(dir.filePath("missing")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PianoSampler: no MP3 files found in:"));
        QVERIFY(!piano.loadSampleLibrary(dir.path()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PianoSampler: resource dir not found:"));
        QVERIFY(!piano.loadSampleLibraryFromResources(":/no-such-folder"));

        // One broken file and one good one, plus names that are not notes.
        QFile broken(dir.filePath("C4.mp3"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(2000, '\x11'));
        broken.close();
        QVERIFY(QFile::copy(":/piano/A4.mp3", dir.filePath("A4.mp3")));
        QVERIFY(QFile::copy(":/piano/A4.mp3", dir.filePath("readme.mp3")));
        QTest::ignoreMessage(QtWarningMsg, "PianoSampler: failed to load: \"C4.mp3\"");
        QVERIFY(piano.loadSampleLibrary(dir.path()));
        QCOMPARE(piano.sampleCount(), 1);
        QCOMPARE(piano.findNearestPitch(0), 69);
    }
};

QTEST_GUILESS_MAIN(PianoSamplerTest)
#include "tst_PianoSampler.moc"
