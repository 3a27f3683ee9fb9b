#include "TestSupport.h"
#include "audio/AudioProcessor.h"
#include "audio/CompressorCurve.h"
#include "audio/dsp/PitchShiftProcessor.h"
#include "audio/dsp/VocalIsolator.h"

#include <QSignalSpy>
#include <QtTest/QtTest>
#include <cmath>

namespace {

// Amplitude of a steady sine from the RMS of the second half of a list.
double steadyAmplitude(const QList<float>& list)
{
    double sum = 0.0;
    const qsizetype from = list.size() / 2;
    for (qsizetype i = from; i < list.size(); ++i)
        sum += double(list[i]) * list[i];
    return std::sqrt(2.0 * sum / double(list.size() - from));
}

QList<float> impulse(qsizetype length)
{
    QList<float> list(length, 0.0f);
    list[0] = 1.0f;
    return list;
}

qsizetype firstNonZero(const QList<float>& list)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i] != 0.0f)
            return i;
    }
    return -1;
}

} // namespace

class OfflineOperationsTest : public QObject {
    Q_OBJECT
private slots:
    void unitConversions()
    {
        AudioProcessor p;
        QCOMPARE(p.linearToDB(0.0f), -96.0f);
        QVERIFY(std::fabs(p.linearToDB(0.5f) + 6.0206f) < 1e-3f);
        QVERIFY(std::fabs(p.dBToLinear(-6.0206f) - 0.5f) < 1e-4f);
        QCOMPARE(p.msToSamples(60000), 2646000);          // past the 32-bit product
        QCOMPARE(p.msToSamples(-1500), -66150);
        QCOMPARE(p.msToSamples(qint64(1) << 50), INT_MAX); // saturates
        QCOMPARE(p.samplesToMs(2646000), 60000);
        p.samples = QList<float>(44100 * 2 * 3, 0.0f); // 3 s stereo
        QCOMPARE(p.getDuration(), qint64(3000));
        p.channels = 0;
        QCOMPARE(p.getDuration(), qint64(0));
        p.sampleRate = 0;
        QCOMPARE(p.samplesToMs(100), 0);
    }

    void levels_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("expectedFactor");
        QTest::newRow("gain above 1 is clamped") << "gain" << 2.0f << 1.0f;
        QTest::newRow("gain 0.5 halves") << "gain" << 0.5f << 0.5f;
        QTest::newRow("gain +6 dB is clamped") << "gainDB" << 6.0f << 1.0f;
        QTest::newRow("gain -6 dB") << "gainDB" << -6.0206f << 0.5f;
        QTest::newRow("normalise a peak of 0.25 to 1 never raises") << "normalize" << 1.0f << 1.0f;
        QTest::newRow("normalise to 0.125") << "normalize" << 0.125f << 0.5f;
    }

    void levels()
    {
        QFETCH(QString, operation);
        QFETCH(float, value);
        QFETCH(float, expectedFactor);
        AudioProcessor p;
        p.channels = 1;
        const QList<float> input = {0.1f, -0.25f, 0.2f, 0.0f};
        p.samples = input;
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        if (operation == "gain")
            p.applyGain(value);
        else if (operation == "gainDB")
            p.applyGainDB(value);
        else
            p.normalize(value);
        QCOMPARE(processed.count(), 1);
        for (int i = 0; i < input.size(); ++i)
            QVERIFY(std::fabs(p.samples[i] - input[i] * expectedFactor) < 1e-5f);
    }

    void normaliseLeavesSilence()
    {
        AudioProcessor p;
        p.samples = {0.0f, 0.0f};
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        p.normalize(1.0f);
        QCOMPARE(processed.count(), 0);
    }

    void reverseKeepsChannelsInPlace()
    {
        AudioProcessor p;
        p.channels = 2;
        p.samples = {1, -1, 2, -2, 3, -3};
        p.reverse();
        QCOMPARE(p.samples, QList<float>({3, -3, 2, -2, 1, -1}));
        p.channels = 1;
        p.reverse();
        QCOMPARE(p.samples, QList<float>({-1, 1, -2, 2, -3, 3}));
    }

    void fadeInCoversTheWholeShortList()
    {
        AudioProcessor p;
        p.sampleRate = 1000;
        p.channels = 1;
        p.samples = QList<float>(500, 1.0f);
        p.fadeIn(1000);
        QCOMPARE(p.samples[0], 0.0f);
        QCOMPARE(p.samples[250], 0.5f);
        QCOMPARE(p.samples[499], 499.0f / 500.0f);
    }

    void longFadesOnLongAudio()
    {
        // 60 s of fade at 44.1 kHz is more frames than a 32-bit product holds.
        AudioProcessor p;
        p.channels = 1;
        const qsizetype frames = 30 * 44100;
        p.samples = QList<float>(frames, 1.0f);
        p.fadeIn(60000);
        QCOMPARE(p.samples[0], 0.0f);
        QCOMPARE(p.samples[frames / 2], 0.5f);
        QVERIFY(std::fabs(p.samples[frames - 1] - float(frames - 1) / frames) < 1e-6f);

        p.samples = QList<float>(frames, 1.0f);
        p.fadeOut(60000);
        QCOMPARE(p.samples[0], 1.0f);
        QVERIFY(std::fabs(p.samples[frames - 1] - 1.0f / frames) < 1e-9f);
    }

    void fadeOutOnStereoFrames()
    {
        AudioProcessor p;
        p.sampleRate = 1000;
        p.channels = 2;
        p.samples = QList<float>(20, 1.0f); // 10 frames
        p.fadeOut(4);                        // last 4 frames: 4/4, 3/4, 2/4, 1/4
        const QList<float> expected = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                       1, 1, 0.75f, 0.75f, 0.5f, 0.5f, 0.25f, 0.25f};
        QCOMPARE(p.samples, expected);
    }

    void operationsWithoutChannelsLeaveTheList()
    {
        AudioProcessor p;
        p.channels = 0;
        p.samples = {0.5f, 0.5f};
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        p.fadeIn(1000);
        p.fadeOut(1000);
        p.deleteSegment(0, 1000);
        p.insertSegment({1.0f}, 0);
        QVERIFY(p.extractSegment(0, 1000).isEmpty());
        QCOMPARE(processed.count(), 0);
        p.applyCompression(-20, 4, 0, 0, 0, 0);
        p.applyLowPassFilter(100);
        p.applyReverb(1, 1, 0, 0, 1);
        QCOMPARE(p.samples, QList<float>({0.5f, 0.5f}));
    }

    void segments()
    {
        AudioProcessor p;
        p.channels = 1;
        p.samples = QList<float>(2 * 44100, 0.0f);
        for (qsizetype i = 0; i < p.samples.size(); ++i)
            p.samples[i] = float(i);
        QCOMPARE(p.extractSegment(500, 1000).size(), 22050);
        QCOMPARE(p.extractSegment(500, 1000).first(), 22050.0f);
        // A range wholly past the end holds nothing: not even the last frame.
        QVERIFY(p.extractSegment(5000, 9000).isEmpty());
        QVERIFY(p.extractSegment(2000, 3000).isEmpty());
        p.deleteSegment(5000, 9000);
        p.deleteSegment(2000, 2001);
        QCOMPARE(p.samples.size(), 2 * 44100);
        QCOMPARE(p.samples.last(), float(2 * 44100 - 1));
        QCOMPARE(p.extractSegment(1999, 5000).size(), 45); // frames 88155 up to the end

        p.deleteSegment(0, 1000);
        QCOMPARE(p.samples.size(), 44100);
        QCOMPARE(p.samples.first(), 44100.0f);
        p.deleteSegment(500, 99999); // an end past the list deletes to the end
        QCOMPARE(p.samples.size(), 22050);

        p.insertSegment({-1.0f, -2.0f}, 100000); // past the end: appended
        QCOMPARE(p.samples.size(), 22052);
        QCOMPARE(p.samples.last(), -2.0f);
        p.insertSegment({-3.0f}, 0);
        QCOMPARE(p.samples.first(), -3.0f);
        QCOMPARE(p.samples[1], 44100.0f);
    }

    void reverbImpulseReachesTheOutputAfterTheShortestComb_data()
    {
        QTest::addColumn<float>("roomSize");
        QTest::addColumn<float>("preDelayMs");
        QTest::addColumn<int>("firstEcho");
        // At 1 kHz a frame is a millisecond: combs 29, 37, 41, 43 ms at room 1.
        QTest::newRow("room 1") << 1.0f << 0.0f << 29;
        QTest::newRow("room 1, 10 ms pre-delay") << 1.0f << 10.0f << 39;
        QTest::newRow("room 0.5") << 0.5f << 0.0f << 14;
        QTest::newRow("room 0.05 acts as 0.1") << 0.05f << 0.0f << 2;
        QTest::newRow("room 0.1") << 0.1f << 0.0f << 2;
    }

    void reverbImpulseReachesTheOutputAfterTheShortestComb()
    {
        QFETCH(float, roomSize);
        QFETCH(float, preDelayMs);
        QFETCH(int, firstEcho);
        AudioProcessor p;
        p.sampleRate = 1000;
        p.channels = 1;
        p.samples = impulse(400);
        p.applyReverb(1.0f, roomSize, 0.0f, preDelayMs, 0.0f);
        QCOMPARE(firstNonZero(p.samples), qsizetype(firstEcho));
        // One comb echo of 1/4 through two all-passes, each passing −0.5 of
        // a new input straight through: 0.25 × (−0.5) × (−0.5).
        QVERIFY(std::fabs(p.samples[firstEcho] - 0.0625f) < 1e-7f);
    }

    void reverbKeepsChannelsApartAndMixes()
    {
        // An impulse on the left leaves the right silent; mix 0 is the dry
        // signal.
        AudioProcessor p;
        p.sampleRate = 1000;
        p.channels = 2;
        p.samples = QList<float>(2000, 0.0f);
        p.samples[0] = 1.0f;
        p.applyReverb(0.5f, 1.0f, 0.5f, 0.0f, 0.9f);
        for (qsizetype i = 1; i < p.samples.size(); i += 2)
            QCOMPARE(p.samples[i], 0.0f);
        QCOMPARE(p.samples[0], 0.5f);

        p.channels = 1;
        const QList<float> dry = TestSupport::sineWave(50.0, 0.2, 1000, 0.5f);
        p.samples = dry;
        p.applyReverb(0.0f, 1.0f, 0.5f, 20.0f, 0.9f);
        QCOMPARE(p.samples, dry);
    }

    void delayEchoes_data()
    {
        QTest::addColumn<float>("mix");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<float>("feedback");
        QTest::addColumn<int>("at");
        QTest::addColumn<float>("expected");
        // At 1 kHz: the first echo is the impulse D frames later; the second
        // comes through the tone filter (0.7) and the feedback.
        QTest::newRow("first echo") << 1.0f << 100 << 0.5f << 100 << 1.0f;
        QTest::newRow("second echo") << 1.0f << 100 << 0.5f << 200 << 0.35f;
        QTest::newRow("dry at half mix") << 0.5f << 100 << 0.5f << 0 << 0.5f;
        QTest::newRow("delay 0 means 1 ms") << 0.5f << 0 << 0.5f << 1 << 0.5f;
        QTest::newRow("feedback capped at 0.95") << 1.0f << 100 << 3.0f << 200 << 0.665f;
    }

    void delayEchoes()
    {
        QFETCH(float, mix);
        QFETCH(int, delayMs);
        QFETCH(float, feedback);
        QFETCH(int, at);
        QFETCH(float, expected);
        AudioProcessor p;
        p.sampleRate = 1000;
        p.channels = 1;
        p.samples = impulse(300);
        p.applyDelay(mix, delayMs, feedback);
        QVERIFY2(std::fabs(p.samples[at] - expected) < 1e-6f,
                 qPrintable(QString::number(p.samples[at])));
    }

    void onePoleFilters()
    {
        AudioProcessor p;
        p.channels = 1;
        // Low-pass: DC passes untouched; a tone a decade above the cut-off
        // loses about 20 dB.
        p.samples = QList<float>(1000, 0.3f);
        p.applyLowPassFilter(100.0f);
        for (float v : std::as_const(p.samples))
            QVERIFY(std::fabs(v - 0.3f) < 1e-6f);
        p.samples = TestSupport::sineWave(5000.0, 0.5, 44100, 1.0f);
        p.applyLowPassFilter(500.0f);
        const double lowDb = 20.0 * std::log10(steadyAmplitude(p.samples));
        QVERIFY2(lowDb < -17.0 && lowDb > -23.0, qPrintable(QString::number(lowDb)));

        // High-pass: a constant decays away; a tone far above passes.
        p.samples = QList<float>(44100, 0.3f);
        p.applyHighPassFilter(100.0f);
        QVERIFY(std::fabs(p.samples.last()) < 1e-4f);
        p.samples = TestSupport::sineWave(5000.0, 0.5, 44100, 1.0f);
        p.applyHighPassFilter(50.0f);
        QVERIFY(std::fabs(steadyAmplitude(p.samples) - 1.0) < 0.01);

        // Cut-offs of 0, below 0 or past Nyquist are clamped, never NaN.
        for (float cutoff : {0.0f, -50.0f, 1e9f}) {
            p.samples = TestSupport::sineWave(1000.0, 0.05, 44100, 0.5f);
            p.applyLowPassFilter(cutoff);
            p.applyHighPassFilter(cutoff);
            for (float v : std::as_const(p.samples))
                QVERIFY(std::isfinite(v));
        }
    }

    void compressorOnAConstant()
    {
        AudioProcessor p;
        p.channels = 1;
        p.samples = QList<float>(4410, 0.5f);
        // 0.5 is −6.02 dB, 13.98 dB over the threshold; ratio 4 keeps a
        // quarter of that: −20 + 3.495 = −16.505 dB = 0.14953.
        p.applyCompression(-20.0f, 4.0f, 0.0f, 0.0f, 0.0f, 0.0f);
        for (float v : std::as_const(p.samples))
            QVERIFY2(std::fabs(v - 0.14953f) < 2e-5f, qPrintable(QString::number(v)));
    }

    void compressorWithRatioOneChangesNothing()
    {
        AudioProcessor p;
        p.channels = 1;
        p.samples = TestSupport::sineWave(440.0, 0.1, 44100, 0.9f);
        const QList<float> before = p.samples;
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        p.applyCompression(-40.0f, 1.0f, 1.0f, 10.0f, 6.0f, 6.0f);
        QCOMPARE(p.samples, before);
        QCOMPARE(processed.count(), 0);
    }

    void compressorDoesNotDuckTheOpening()
    {
        // A quiet passage stays as it is from its first sample on: the level
        // follower starts from silence, not from full scale.
        AudioProcessor p;
        p.channels = 1;
        p.samples = TestSupport::sineWave(440.0, 0.2, 44100, 0.05f); // peaks at −26 dB
        const QList<float> before = p.samples;
        p.applyCompression(-20.0f, 4.0f, 10.0f, 100.0f, 0.0f, 6.0f);
        QCOMPARE(p.samples, before);
    }

    void compressorMakeupAndStereoFrames()
    {
        AudioProcessor p;
        p.channels = 2;
        // The louder channel drives both: L at 0.5 (−6 dB), R at 0.05.
        p.samples = {0.5f, 0.05f, 0.5f, 0.05f};
        p.applyCompression(-20.0f, 4.0f, 0.0f, 0.0f, 6.0f, 0.0f);
        const float gain = std::pow(10.0f, (6.0f - 0.75f * (20.0f * std::log10(0.5f) + 20.0f)) / 20.0f);
        QVERIFY(std::fabs(p.samples[0] - 0.5f * gain) < 1e-5f);
        QVERIFY(std::fabs(p.samples[1] - 0.05f * gain) < 1e-6f);
    }

    void softKneeCurveIsContinuousAndNeverBoosts()
    {
        const float threshold = -20.0f, ratio = 4.0f, knee = 6.0f;
        const float slope = 1.0f - 1.0f / ratio;
        float previous = compressorGainReductionDb(-60.0f, threshold, ratio, knee);
        for (float level = -60.0f; level <= 6.0f; level += 0.01f) {
            const float gr = compressorGainReductionDb(level, threshold, ratio, knee);
            QVERIFY2(gr <= 0.0f, qPrintable(QString::number(level)));
            // The slope of the curve stays within [−slope, 0].
            QVERIFY(gr - previous <= 1e-5f && previous - gr <= slope * 0.01f + 1e-4f);
            previous = gr;
        }
        // Outside the knee it is the plain curve: 0 below, the hard line above.
        QCOMPARE(compressorGainReductionDb(-23.0f, threshold, ratio, knee), 0.0f);
        QVERIFY(std::fabs(compressorGainReductionDb(-17.0f, threshold, ratio, knee)
                          - slope * (threshold + 17.0f)) < 1e-5f);
        // At the threshold the soft knee has pulled down by slope·K/8.
        QVERIFY(std::fabs(compressorGainReductionDb(-20.0f, threshold, ratio, knee)
                          + slope * knee / 8.0f) < 1e-5f);
        // Hard knee and no compression.
        QCOMPARE(compressorGainReductionDb(-21.0f, threshold, ratio, 0.0f), 0.0f);
        QCOMPARE(compressorGainReductionDb(-10.0f, threshold, ratio, 0.0f), -7.5f);
        QCOMPARE(compressorGainReductionDb(0.0f, threshold, 1.0f, knee), 0.0f);
        QCOMPARE(compressorGainReductionDb(0.0f, threshold, 0.5f, 0.0f), 0.0f);
    }

    void equaliserBands_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<float>("gainDb");
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("expectedDb");
        QTest::addColumn<double>("toleranceDb");
        // Every band sits at 1 kHz with Q 1. A bell of +6 dB gives
        // 10^(6/20) = 1.9953 at its centre (0.5 % is 0.043 dB).
        QTest::newRow("bell +6 dB at its centre") << 0 << 6.0f << 1000.0 << 6.0 << 0.043;
        // A second-order low-pass falls about 40 dB in the decade above.
        QTest::newRow("low-pass at 10 kHz") << 3 << 0.0f << 10000.0 << -40.0 << 4.0;
        QTest::newRow("high-pass at 10 kHz") << 4 << 0.0f << 10000.0 << 0.0 << 0.1;
        QTest::newRow("notch at its centre") << 5 << 0.0f << 1000.0 << -100.0 << 70.0;
        QTest::newRow("band-pass at its centre") << 6 << 0.0f << 1000.0 << 0.0 << 0.043;
        QTest::newRow("low shelf +6 dB far below") << 1 << 6.0f << 50.0 << 6.0 << 0.1;
        QTest::newRow("high shelf -6 dB far above") << 2 << -6.0f << 15000.0 << -6.0 << 0.1;
    }

    void equaliserBands()
    {
        QFETCH(int, type);
        QFETCH(float, gainDb);
        QFETCH(double, toneHz);
        QFETCH(double, expectedDb);
        QFETCH(double, toleranceDb);
        AudioProcessor p;
        p.channels = 1;
        p.samples = TestSupport::sineWave(toneHz, 1.0, 44100, 0.25f);
        const float frequency = 1000.0f;
        const float q = 1.0f;
        const bool on = true;
        p.applyParametricEQ(&frequency, &gainDb, &q, &type, &on, 1);
        const double gain = 20.0 * std::log10(std::max(steadyAmplitude(p.samples) / 0.25, 1e-9));
        QVERIFY2(std::fabs(gain - expectedDb) <= toleranceDb, qPrintable(QString::number(gain)));
    }

    void equaliserSkipsBandsItCannotUse()
    {
        AudioProcessor p;
        p.channels = 1;
        const QList<float> input = TestSupport::sineWave(440.0, 0.1, 44100, 0.5f);
        p.samples = input;
        const float freqs[] = {15.0f, 0.5f * 44100, 1000.0f, 1000.0f};
        const float gains[] = {12.0f, 12.0f, 12.0f, 12.0f};
        const float qs[] = {1.0f, 1.0f, 1.0f, 1.0f};
        const int types[] = {0, 0, 0, 9};
        const bool enabled[] = {true, true, false, true};
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        p.applyParametricEQ(freqs, gains, qs, types, enabled, 4);
        QCOMPARE(p.samples, input);
        QCOMPARE(processed.count(), 1);
        p.applyParametricEQ(freqs, gains, qs, types, enabled, 0);
        QCOMPARE(processed.count(), 2);
    }

    void equaliserCascadeMultipliesItsBands()
    {
        // Two bells of +6 dB at the same place give +12 dB.
        AudioProcessor p;
        p.channels = 2;
        const QList<float> mono = TestSupport::sineWave(1000.0, 1.0, 44100, 0.1f);
        for (float v : mono)
            p.samples << v << -v;
        const float freqs[] = {1000.0f, 1000.0f};
        const float gains[] = {6.0f, 6.0f};
        const float qs[] = {1.0f, 1.0f};
        const int types[] = {0, 0};
        const bool enabled[] = {true, true};
        p.applyParametricEQ(freqs, gains, qs, types, enabled, 2);
        QList<float> left, right;
        for (qsizetype i = 0; i < p.samples.size(); i += 2) {
            left << p.samples[i];
            right << p.samples[i + 1];
        }
        QVERIFY(std::fabs(steadyAmplitude(left) / 0.1 - 3.98107) < 0.03);
        QVERIFY(std::fabs(steadyAmplitude(right) / 0.1 - 3.98107) < 0.03);
        QCOMPARE(left[4000], -right[4000]); // each channel has its own state
    }

    // One absurd value in a float file is kept within bounds on import, and
    // no effect spreads it: past full scale stays the stretch around it.
    void effectsAfterAnAbsurdValue()
    {
        constexpr int rate = 44100;
        QList<float> stereo;
        for (float v : TestSupport::sineWave(220.0, 3.0, rate, 0.1f))
            stereo << v << 0.5f * v;
        stereo[2 * rate] = 1e30f;
        QTemporaryDir dir;
        AudioProcessor p;
        QVERIFY(p.saveAudioFile(dir.filePath("spike.wav"), stereo, rate, 2, 32));
        const float hz = 1000, db = 12, q = 1;
        const int bell = 0;
        const bool on = true;
        PitchShiftProcessor shifter;
        shifter.setSampleRate(rate);
        shifter.setPitch(7.0f);
        VocalIsolator isolator;
        isolator.setIsolationStrength(2.0f, 0.02f);
        const std::function<void()> effects[] = {
            [&] { p.applyReverb(0.3f, 0.8f, 0.4f, 30.0f, 0.7f); },
            [&] { p.applyDelay(0.5f, 375, 0.95f); },
            [&] { p.applyLowPassFilter(500.0f), p.applyHighPassFilter(500.0f); },
            [&] { p.applyCompression(-20.0f, 4.0f, 10.0f, 100.0f, 12.0f, 6.0f); },
            [&] { p.applyParametricEQ(&hz, &db, &q, &bell, &on, 1); },
            [&] { p.analyzeNoiseProfile(0, rate), p.applyNoiseReduction(1.0f); },
            [&] { shifter.processOffline(p.samples.constData(), p.samples.data(), p.samples.size()); },
            [&] { isolator.processOffline(p.stereoSamples.constData(), p.samples.data(), p.samples.size(), rate); }};
        for (const auto& effect : effects) {
            QVERIFY(p.loadAudioFile(dir.filePath("spike.wav")));
            p.channels = 1;
            effect();
            const auto loud = std::count_if(p.samples.cbegin(), p.samples.cend(),
                                            [](float v) { return !(std::fabs(v) <= 1.0f); });
            QVERIFY2(loud < p.samples.size() / 20, qPrintable(QString::number(loud)));
        }
    }
};

QTEST_GUILESS_MAIN(OfflineOperationsTest)
#include "tst_OfflineOperations.moc"
