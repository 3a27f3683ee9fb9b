#include "TestSupport.h"
#include "audio/dsp/VocalIsolator.h"

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

} // namespace

class VocalIsolatorTest : public QObject {
    Q_OBJECT
private slots:
    void bandGains_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<float>("strength");
        QTest::addColumn<double>("expected");
        // Band gain × the overlap of the squared Hann window at hop N/4 (1.5).
        QTest::newRow("1 kHz at 0.8") << 1000.0 << 0.8f << 1.4 * 1.15 * 1.5;
        QTest::newRow("300 Hz at 1") << 300.0 << 1.0f << 1.8 * 1.5;
        QTest::newRow("2.5 kHz at 1") << 2500.0 << 1.0f << 1.65 * 1.5;
        QTest::newRow("600 Hz at 1") << 600.0 << 1.0f << 1.5 * 1.5;
        QTest::newRow("40 Hz at 1, out of band") << 40.0 << 1.0f << 0.3 * 1.5;
        QTest::newRow("8 kHz at 0") << 8000.0 << 0.0f << 1.0 * 1.5;
        QTest::newRow("1 kHz at 0 keeps the sub-band lift") << 1000.0 << 0.0f << 1.15 * 1.5;
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
        b.spectralSubtraction(tone.constData(), fromMono.data(), fromMono.size(), 44100);
        QCOMPARE(fromStereo, fromMono);
        QCOMPARE(fromStereo.front(), 0.0f); // the window is 0 there and only one frame covers it
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
        QCOMPARE(out.front(), 0.0f);
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
        isolator.setIsolationStrength(1.7f, -0.5f);
        QCOMPARE(isolator.getIsolationStrength(), 1.0f);
        QCOMPARE(isolator.getSmoothing(), 0.0f);
    }
};

QTEST_GUILESS_MAIN(VocalIsolatorTest)
#include "tst_VocalIsolator.moc"
