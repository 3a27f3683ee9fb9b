#include "TestSupport.h"
#include "audio/dsp/YinPitchDetector.h"

#include <QtTest/QtTest>
#include <cmath>
#include <vector>

namespace {

PitchFrame voicedFrame(float hz)
{
    PitchFrame frame;
    frame.frequency = hz;
    frame.confidence = 0.9f;
    frame.midiNote = YinPitchDetector::frequencyToMidi(hz);
    return frame;
}

// Frames from a pattern: 'v' voiced at `hz`, '.' unvoiced.
std::vector<PitchFrame> pattern(const char* text, float hz = 220.0f)
{
    std::vector<PitchFrame> frames;
    for (const char* c = text; *c; ++c)
        frames.push_back(*c == 'v' ? voicedFrame(hz) : PitchFrame{});
    return frames;
}

std::vector<PitchFrame> analyse(double hz, float amplitude = 0.5f)
{
    const QList<float> tone = TestSupport::sineWave(hz, 0.5, 44100, amplitude);
    YinPitchDetector detector;
    detector.configure(44100.0f, 40.0f, 10.0f, 0.15f);
    return detector.detect(tone.constData(), size_t(tone.size()));
}

} // namespace

class YinPitchDetectorTest : public QObject {
    Q_OBJECT
private slots:
    void configuration()
    {
        YinPitchDetector detector; // usable before configure
        QCOMPARE(detector.sampleRate, 44100.0f);
        QCOMPARE(detector.windowSize, 1764);
        QCOMPARE(detector.hopSize, 441);
        QCOMPARE(detector.threshold, 0.15f);
        detector.configure(44100.0f, 40.0f, 10.0f, 0.15f);
        QCOMPARE(detector.windowSize, 1764);
        QCOMPARE(detector.hopSize, 441);
        detector.configure(8000.0f, 40.0f, 0.05f, 0.2f);
        QCOMPARE(detector.windowSize, 320);
        QCOMPARE(detector.hopSize, 1);
        QCOMPARE(detector.threshold, 0.2f);
    }

    void sineAt220Hz()
    {
        const std::vector<PitchFrame> frames = analyse(220.0);
        // (22050 − 1764) / 441 + 1 frames in 0.5 s.
        QCOMPARE(frames.size(), size_t(47));
        QVERIFY(std::fabs(frames.front().time - 0.02) < 1e-12);
        QVERIFY(std::fabs(frames[1].time - 0.03) < 1e-12);
        for (const PitchFrame& frame : frames) {
            QCOMPARE(frame.midiNote, 57);
            QVERIFY2(std::fabs(frame.frequency / 220.0 - 1.0) < 0.001,
                     qPrintable(QString::number(frame.frequency)));
            QVERIFY(frame.confidence > 0.95f);
        }
    }

    void pitchAcrossTheVoiceRange_data()
    {
        QTest::addColumn<double>("hz");
        QTest::newRow("55 Hz") << 55.0;
        QTest::newRow("82.4 Hz") << 82.4069;
        QTest::newRow("110 Hz") << 110.0;
        QTest::newRow("440 Hz") << 440.0;
        QTest::newRow("1318.5 Hz") << 1318.51;
    }

    void pitchAcrossTheVoiceRange()
    {
        QFETCH(double, hz);
        const std::vector<PitchFrame> frames = analyse(hz);
        QVERIFY(!frames.empty());
        for (const PitchFrame& frame : frames) {
            QVERIFY2(std::fabs(frame.frequency / hz - 1.0) < 0.002,
                     qPrintable(QString::number(frame.frequency)));
            QCOMPARE(frame.midiNote, int(std::lround(69.0 + 12.0 * std::log2(hz / 440.0))));
        }
    }

    void unvoicedInput_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<float>("amplitude");
        QTest::newRow("silence") << 220.0 << 0.0f;
        QTest::newRow("30 Hz, below the range") << 30.0 << 0.5f;
    }

    void unvoicedInput()
    {
        QFETCH(double, hz);
        QFETCH(float, amplitude);
        const std::vector<PitchFrame> frames = analyse(hz, amplitude);
        QVERIFY(!frames.empty());
        for (const PitchFrame& frame : frames) {
            QCOMPARE(frame.frequency, 0.0f);
            QCOMPARE(frame.midiNote, -1);
            QCOMPARE(frame.confidence, 0.0f);
        }
    }

    void tooLittleAudioGivesNoFrames()
    {
        YinPitchDetector detector;
        const std::vector<float> shortBuffer(1763, 0.1f);
        QVERIFY(detector.detect(shortBuffer.data(), shortBuffer.size()).empty());
        QCOMPARE(detector.detect(shortBuffer.data(), 1764 - 1).size(), size_t(0));
        detector.windowSize = 0;
        QVERIFY(detector.detect(shortBuffer.data(), shortBuffer.size()).empty());
    }

    void segments_data()
    {
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QList<int>>("bounds"); // start, end pairs
        QTest::newRow("gap of 2 is bridged") << "vvvv..vvvvv" << QList<int>{0, 11};
        QTest::newRow("gap of 3 splits") << "vvvv...vvvvv" << QList<int>{0, 4, 7, 12};
        QTest::newRow("short run dropped") << "..vv...vvv" << QList<int>{7, 10};
        QTest::newRow("trailing gap not swallowed") << ".vvvv.." << QList<int>{1, 5};
        QTest::newRow("nothing voiced") << "....." << QList<int>{};
        QTest::newRow("several bridges") << "vvv.v.vv..v" << QList<int>{0, 11};
    }

    void segments()
    {
        QFETCH(QString, frames);
        QFETCH(QList<int>, bounds);
        YinPitchDetector detector;
        const auto found = detector.buildSegments(pattern(qPrintable(frames)), 3, 2);
        QCOMPARE(int(found.size()) * 2, bounds.size());
        for (size_t i = 0; i < found.size(); ++i) {
            QCOMPARE(found[i].startFrame, bounds[int(2 * i)]);
            QCOMPARE(found[i].endFrame, bounds[int(2 * i + 1)]);
            QCOMPARE(found[i].avgFreq, 220.0f);
            QCOMPARE(found[i].targetFreq, 220.0f);
            QCOMPARE(found[i].targetMidi, 57);
            QCOMPARE(found[i].shiftSemitones, 0.0f);
            QVERIFY(!found[i].manual);
        }
    }

    void segmentAverageCountsBridgedFramesWithAFrequency()
    {
        // A low-confidence frame inside a bridged gap still has a frequency.
        std::vector<PitchFrame> frames = pattern("vvv.vvv", 200.0f);
        frames[3].frequency = 270.0f;
        frames[3].confidence = 0.1f;
        YinPitchDetector detector;
        const auto found = detector.buildSegments(frames, 3, 2);
        QCOMPARE(found.size(), size_t(1));
        QCOMPARE(found[0].avgFreq, 210.0f);

        // Confidence must be above 0.3 to count as voiced.
        frames = pattern("vvv");
        for (PitchFrame& f : frames)
            f.confidence = 0.3f;
        QVERIFY(detector.buildSegments(frames, 3, 2).empty());
    }

    void targets()
    {
        YinPitchDetector detector;
        std::vector<PitchCorrectionSegment> segments(2);
        segments[0].avgFreq = 233.0f; // nearest note 58, 233.08 Hz
        segments[1].avgFreq = 250.0f;
        segments[1].targetMidi = 60; // 261.63 Hz, chosen by the user
        segments[1].manual = true;

        detector.computeTargets(segments, 0.5f);
        QCOMPARE(segments[0].targetMidi, 58);
        QVERIFY(std::fabs(segments[0].targetFreq - 233.0408f) < 1e-3f);
        QVERIFY(std::fabs(segments[1].targetFreq - 255.8128f) < 1e-3f);
        QCOMPARE(segments[1].targetMidi, 60);
        QVERIFY(std::fabs(segments[1].shiftSemitones - 12.0f * std::log2(255.8128f / 250.0f)) < 1e-4f);

        // The same strength always gives the same targets, also for the
        // manual segment after other strengths.
        for (float strength : {0.5f, 0.2f, 0.9f, 0.0f, 0.5f})
            detector.computeTargets(segments, strength);
        QVERIFY(std::fabs(segments[0].targetFreq - 233.0408f) < 1e-3f);
        QVERIFY(std::fabs(segments[1].targetFreq - 255.8128f) < 1e-3f);

        detector.computeTargets(segments, 1.0f);
        QVERIFY(std::fabs(segments[0].targetFreq - 233.0819f) < 1e-3f);
        QVERIFY(std::fabs(segments[1].targetFreq - 261.6256f) < 1e-3f);
        QVERIFY(std::fabs(segments[1].shiftSemitones - 12.0f * std::log2(261.6256f / 250.0f)) < 1e-4f);

        detector.computeTargets(segments, 0.0f);
        QCOMPARE(segments[0].targetFreq, 233.0f);
        QCOMPARE(segments[0].shiftSemitones, 0.0f);
    }

    void detectionFeedsSegments()
    {
        // 0.3 s of 196 Hz (G3), 0.1 s of silence, 0.3 s of 246.9 Hz (B3):
        // two segments whose targets are those notes.
        QList<float> audio = TestSupport::sineWave(196.0, 0.3, 44100, 0.5f);
        audio += QList<float>(4410, 0.0f);
        audio += TestSupport::sineWave(246.94, 0.3, 44100, 0.5f);
        YinPitchDetector detector;
        const auto frames = detector.detect(audio.constData(), size_t(audio.size()));
        auto segments = detector.buildSegments(frames, 3, 2);
        detector.computeTargets(segments, 1.0f);
        QCOMPARE(segments.size(), size_t(2));
        QCOMPARE(segments[0].targetMidi, 55);
        QCOMPARE(segments[1].targetMidi, 59);
        QVERIFY(std::fabs(segments[0].shiftSemitones) < 0.05f);
    }
};

QTEST_GUILESS_MAIN(YinPitchDetectorTest)
#include "tst_YinPitchDetector.moc"
