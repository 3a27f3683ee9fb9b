#include "TestSupport.h"
#include "audio/dsp/VocalIsolator.h"

#include <QRandomGenerator>
#include <algorithm>
#include <QtTest/QtTest>
#include <cmath>
#include <vector>

namespace {

std::vector<float> stereoOf(const QList<float>& left, float rightSign)
{
    std::vector<float> out;
    out.reserve(size_t(left.size()) * 2);
    for (float v : left) {
        out.push_back(v);
        out.push_back(rightSign * v);
    }
    return out;
}

double amplitude(const std::vector<float>& list, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += double(list[i]) * list[i];
    return std::sqrt(2.0 * sum / double(to - from));
}

// Steady-state gain of a centred sine through the isolator.
double toneGain(double hz, float strength)
{
    const QList<float> tone = TestSupport::sineWave(hz, 1.0, 44100, 0.25f);
    const std::vector<float> stereo = stereoOf(tone, 1.0f);
    std::vector<float> out(size_t(tone.size()));
    VocalIsolator isolator;
    isolator.setIsolationStrength(strength, 0.02f);
    isolator.processOffline(stereo.data(), out.data(), out.size(), 44100);
    // Past the first frames and before the zero-padded end.
    return amplitude(out, 4096, out.size() - 4096) / 0.25;
}

double toneAmplitude(const std::vector<float>& list, double hz, int rate)
{
    return TestSupport::amplitudeAt(QList<float>(list.begin(), list.end()), hz, rate, 4096,
                                    qsizetype(list.size()) - 4096);
}

} // namespace

class VocalIsolatorTest : public QObject {
    Q_OBJECT
private slots:
    void bandGains_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<float>("strength");
        QTest::addColumn<double>("expected");
        // A centred tone has nothing to subtract: the voice band passes at
        // its level, the rest is lowered; nothing is raised.
        QTest::newRow("1 kHz at 0.8") << 1000.0 << 0.8f << 1.0;
        QTest::newRow("300 Hz at 1") << 300.0 << 1.0f << 1.0;
        QTest::newRow("2.5 kHz at 1") << 2500.0 << 1.0f << 1.0;
        QTest::newRow("40 Hz at 1, out of band") << 40.0 << 1.0f << 0.3;
        QTest::newRow("8 kHz at 0.5, out of band") << 8000.0 << 0.5f << 0.65;
        QTest::newRow("8 kHz at 0") << 8000.0 << 0.0f << 1.0;
    }

    void bandGains()
    {
        QFETCH(double, hz);
        QFETCH(float, strength);
        QFETCH(double, expected);
        const double gain = toneGain(hz, strength);
        QVERIFY2(std::fabs(gain / expected - 1.0) < 0.01, qPrintable(QString::number(gain)));
    }

    void oppositeChannelsCancel()
    {
        const QList<float> tone = TestSupport::sineWave(440.0, 0.5, 44100, 0.5f);
        const std::vector<float> stereo = stereoOf(tone, -1.0f);
        std::vector<float> out(size_t(tone.size()), 1.0f);
        VocalIsolator isolator;
        isolator.processOffline(stereo.data(), out.data(), out.size(), 44100);
        for (float v : out)
            QCOMPARE(v, 0.0f);
    }

    void identicalChannelsAreTheMonoSignal()
    {
        const QList<float> tone = TestSupport::sineWave(700.0, 0.3, 44100, 0.5f);
        const std::vector<float> stereo = stereoOf(tone, 1.0f);
        std::vector<float> fromStereo(size_t(tone.size())), fromMono(size_t(tone.size()));
        VocalIsolator a, b;
        a.processOffline(stereo.data(), fromStereo.data(), fromStereo.size(), 44100);
        b.initialize(2048);
        b.spectralSubtraction(tone.constData(), nullptr, fromMono.data(), fromMono.size(), 44100);
        QCOMPARE(fromStereo, fromMono);
        // The edges are covered like the middle: no fade in or out.
        QVERIFY(std::fabs(fromStereo[10] - tone[10]) < 0.03f);
        QVERIFY(std::fabs(fromStereo.back() - tone.back()) < 0.03f);
    }

    void subtractsTheSideFromTheCentre()
    {
        // A voice of 0.25 at 1 kHz in the centre, 0.5 at 300 Hz on the left:
        // the mid holds the voice and half the accompaniment.
        constexpr int rate = 44100;
        const QList<float> voice = TestSupport::sineWave(1000.0, 1.0, rate, 0.25f);
        const QList<float> band = TestSupport::sineWave(300.0, 1.0, rate, 0.5f);
        std::vector<float> stereo;
        for (qsizetype i = 0; i < voice.size(); ++i) {
            stereo.push_back(voice[i] + band[i]);
            stereo.push_back(voice[i]);
        }
        std::vector<float> out(size_t(voice.size()));
        VocalIsolator isolator;
        isolator.setIsolationStrength(1.0f, 0.02f);
        isolator.processOffline(stereo.data(), out.data(), out.size(), rate);
        const double voiceLevel = toneAmplitude(out, 1000.0, rate);
        const double bandLevel = toneAmplitude(out, 300.0, rate);
        QVERIFY2(std::fabs(voiceLevel / 0.25 - 1.0) < 0.05, qPrintable(QString::number(voiceLevel)));
        // 20 dB below its 0.25 in the mid, or more.
        QVERIFY2(bandLevel < 0.025 * 1.05, qPrintable(QString::number(bandLevel)));
    }

    void strongerSubtractionLeavesLessAccompaniment()
    {
        // Louder on the left: the side holds a third of the mid's share, so
        // strengths past 1 still find some to take away.
        const std::vector<float> stereo = stereoOf(TestSupport::sineWave(300.0, 1.0, 44100, 0.8f), 0.5f);
        std::vector<float> out(stereo.size() / 2);
        double previous = 1.0;
        for (float strength : {1.0f, 1.5f, 2.0f}) {
            VocalIsolator isolator;
            isolator.setIsolationStrength(strength, 0.02f);
            isolator.processOffline(stereo.data(), out.data(), out.size(), 44100);
            const double residue = toneAmplitude(out, 300.0, 44100);
            QVERIFY2(residue < 0.8 * std::exchange(previous, residue), qPrintable(QString::number(residue)));
            QVERIFY(std::all_of(out.begin(), out.end(), [](float v) { return std::fabs(v) <= 1.0f; }));
        }
    }

    void materialWithoutACentreComesOutQuieterAndUnclipped()
    {
        // Independent noise in each channel, peaking at -0.1 dBFS.
        constexpr int rate = 44100;
        std::vector<float> stereo(2 * rate);
        QRandomGenerator random(11);
        for (float& value : stereo)
            value = float(random.generateDouble() * 2.0 - 1.0) * 0.988f;
        std::vector<float> mid(rate), side(rate), out(rate);
        VocalIsolator::encodeMidSide(stereo.data(), mid.data(), side.data(), size_t(rate));
        VocalIsolator isolator;
        isolator.setIsolationStrength(0.8f, 0.02f);
        isolator.processOffline(stereo.data(), out.data(), out.size(), rate);
        const double midLevel = amplitude(mid, 4096, mid.size() - 4096);
        const double outLevel = amplitude(out, 4096, out.size() - 4096);
        QVERIFY2(outLevel < 0.5 * midLevel, qPrintable(QString::number(outLevel / midLevel)));
        QVERIFY(std::all_of(out.begin(), out.end(), [](float v) { return std::fabs(v) <= 1.0f; }));
    }

    void frameSizes()
    {
        VocalIsolator isolator;
        QCOMPARE(isolator.getFftSize(), size_t(2048));
        std::vector<float> stereo(2000, 0.1f), out(1000, 7.0f);
        isolator.processOffline(stereo.data(), out.data(), 0, 44100);
        QCOMPARE(out.front(), 7.0f); // 0 frames: nothing written
        isolator.processOffline(stereo.data(), out.data(), 1000, 44100);
        QCOMPARE(isolator.getFftSize(), size_t(512));
        QVERIFY(out.front() != 7.0f);
        std::vector<float> longStereo(4096, 0.1f), longOut(2048);
        isolator.processOffline(longStereo.data(), longOut.data(), 2048, 44100);
        QCOMPARE(isolator.getFftSize(), size_t(2048));
    }

    void smoothedMagnitudesCarryOverBetweenCalls()
    {
        // With heavy smoothing the first frames of a run depend on what the
        // object heard before: a second run on the same object starts from
        // the first one's magnitudes and so comes out louder at its start.
        const QList<float> tone = TestSupport::sineWave(1000.0, 0.2, 44100, 0.5f);
        const std::vector<float> stereo = stereoOf(tone, 1.0f);
        std::vector<float> first(size_t(tone.size())), second(first.size()), fresh(first.size());
        VocalIsolator used, unused;
        used.setIsolationStrength(0.5f, 0.9f);
        unused.setIsolationStrength(0.5f, 0.9f);
        used.processOffline(stereo.data(), first.data(), first.size(), 44100);
        used.processOffline(stereo.data(), second.data(), second.size(), 44100);
        unused.processOffline(stereo.data(), fresh.data(), fresh.size(), 44100);
        QCOMPARE(first, fresh);
        QVERIFY(amplitude(second, 512, 2048) > 2.0 * amplitude(fresh, 512, 2048));
    }

    void settersClamp()
    {
        VocalIsolator isolator;
        QCOMPARE(isolator.getIsolationStrength(), 0.8f);
        QCOMPARE(isolator.getSmoothing(), 0.02f);
        isolator.setIsolationStrength(2.7f, -0.5f);
        QCOMPARE(isolator.getIsolationStrength(), 2.0f);
        QCOMPARE(isolator.getSmoothing(), 0.0f);
    }
};

QTEST_GUILESS_MAIN(VocalIsolatorTest)
#include "tst_VocalIsolator.moc"
