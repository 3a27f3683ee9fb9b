#include "project/ProjectTypes.h"

#include <QtTest/QtTest>

class ProjectTypesTest : public QObject {
    Q_OBJECT
private slots:
    void defaultTrackIsAudioWithMixerDefaults()
    {
        const TrackData track;
        QCOMPARE(track.type, 0);
        QVERIFY(!track.isMidi());
        QCOMPARE(track.volume, 0.8f);
        QCOMPARE(track.pan, 0.0f);
        QVERIFY(!track.color.isValid());
        QCOMPARE(track.instrumentIndex, 0);
        QCOMPARE(track.midiChannel, 0);
        QCOMPARE(track.pluginId, -1);
        TrackData other;
        other.type = 7; // every non-zero kind is MIDI
        QVERIFY(other.isMidi());
    }

    void recordDefaults()
    {
        const MidiNote note;
        QCOMPARE(note.pitch, 60);
        QCOMPARE(note.duration, 0.5);
        QCOMPARE(note.velocity, 100);
        QCOMPARE(MidiClip().duration, 4.0);
        QCOMPARE(EnvelopePoint().value, 0.8f);
        QCOMPARE(TimelineMarker().color, QColor(255, 165, 0));
        const ProjectSettings settings;
        QCOMPARE(settings.sampleRate, 44100);
        QCOMPARE(settings.bitDepth, 32);
        QCOMPARE(settings.channels, 2);
        QCOMPARE(settings.tempo, 120.0);
        QCOMPARE(settings.timeSignature, QStringLiteral("4/4"));
        QCOMPARE(ProjectData().zoom, 1.0);
    }

    void playableLength_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("audioStart");
        QTest::addColumn<double>("audioEnd");
        QTest::addColumn<double>("expected");
        QTest::newRow("trimmed") << 88200 << 44100 << 0.5 << 0.25 << 1.25;
        QTest::newRow("over-trimmed") << 88200 << 44100 << 1.5 << 1.0 << 0.0;
        QTest::newRow("exactly trimmed") << 88200 << 44100 << 1.0 << 1.0 << 0.0;
        QTest::newRow("rate zero") << 88200 << 0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("empty") << 0 << 44100 << 0.0 << 0.0 << 0.0;
    }

    void playableLength()
    {
        QFETCH(int, frames);
        QFETCH(int, rate);
        QFETCH(double, audioStart);
        QFETCH(double, audioEnd);
        QFETCH(double, expected);
        AudioClip clip;
        clip.samples = QList<float>(frames, 0.1f);
        clip.sampleRate = rate;
        clip.audioStart = audioStart;
        clip.audioEnd = audioEnd;
        clip.start = 3.0;
        QCOMPARE(clip.playableLength(), expected);
        QVERIFY(!std::signbit(clip.playableLength()));
        QCOMPARE(clip.end(), 3.0 + expected);
    }

    void midiClipEndsAtItsDurationWhateverItsNotes()
    {
        MidiClip clip;
        clip.start = 2.0;
        clip.duration = 1.0;
        clip.notes.push_back(MidiNote{60, 0.5, 3.0, 100});
        QCOMPARE(clip.end(), 3.0);
    }

    void fadeCurves()
    {
        QCOMPARE(fadeCurveGain(FadeLinear, 0.25), 0.25);
        QCOMPARE(fadeCurveGain(FadeSmoothStep, 0.25), 0.25 * 0.25 * 2.5);
        QCOMPARE(fadeCurveGain(FadeSquare, 0.5), 0.25);
        QCOMPARE(fadeCurveGain(FadeSquareRoot, 0.25), 0.5);
        QCOMPARE(fadeCurveGain(42, 0.3), 0.3);
    }
};

QTEST_GUILESS_MAIN(ProjectTypesTest)
#include "tst_ProjectTypes.moc"
