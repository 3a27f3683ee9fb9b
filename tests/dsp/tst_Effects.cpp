#include "audio/dsp/ChorusProcessor.h"
#include "audio/dsp/DistortionProcessor.h"
#include "audio/dsp/MidSideProcessor.h"

#include <QtTest/QtTest>
#include <cmath>
#include <random>
#include <vector>

class EffectsTest : public QObject {
    Q_OBJECT
private slots:
    void distortionDefaults_data()
    {
        QTest::addColumn<float>("in");
        QTest::addColumn<float>("out");
        // Threshold 0.5, drive 1, mix 0.5.
        QTest::newRow("below threshold") << 0.4f << 0.4f;
        const float knee = 0.5f + 0.5f * float(std::tanh(1.0));
        QTest::newRow("full scale") << 1.0f << 0.5f + 0.5f * knee;
        QTest::newRow("negative full scale") << -1.0f << -(0.5f + 0.5f * knee);
        QTest::newRow("at threshold") << 0.5f << 0.5f;
    }
    void distortionDefaults()
    {
        QFETCH(float, in);
        QFETCH(float, out);
        DistortionProcessor distortion;
        QCOMPARE(distortion.getAmount(), 0.5f);
        QCOMPARE(distortion.getThreshold(), 0.5f);
        QCOMPARE(distortion.getDrive(), 1.0f);
        QCOMPARE(distortion.getMix(), 0.5f);
        float y = 0.0f;
        distortion.process(&in, &y, 1);
        QVERIFY2(qAbs(y - out) < 1e-6f, qPrintable(QString::number(y)));
        if (in == 1.0f)
            QVERIFY(qAbs(y - 0.9404f) < 1e-4f);
    }

    void distortionSettings()
    {
        DistortionProcessor distortion;
        distortion.setAmount(1.0f);
        QVERIFY(qAbs(distortion.getThreshold() - 0.1f) < 1e-6f);
        distortion.setAmount(3.0f);
        QCOMPARE(distortion.getAmount(), 1.0f);
        distortion.setDrive(20.0f);
        QVERIFY(qAbs(distortion.getDrive() - 10.0f) < 1e-5f);
        distortion.setDrive(100.0f);
        QVERIFY(qAbs(distortion.getDrive() - 100.0f) < 1e-3f);

        // Mix 0 returns the input unchanged.
        distortion.setMix(0.0f);
        const std::vector<float> in = {0.9f, -0.7f, 0.05f};
        std::vector<float> out(3);
        distortion.process(in.data(), out.data(), 3);
        QCOMPARE(out, in);

        // Amount 0: the threshold is 1 and driven peaks become exactly +-1,
        // then the drive is divided out again.
        DistortionProcessor hard;
        hard.setAmount(0.0f);
        hard.setDrive(20.0f);
        hard.setMix(1.0f);
        const std::vector<float> loud = {0.5f, -0.5f, 0.05f};
        hard.process(loud.data(), out.data(), 3);
        QVERIFY(qAbs(out[0] - 0.1f) < 1e-6f);
        QVERIFY(qAbs(out[1] + 0.1f) < 1e-6f);
        QVERIFY(qAbs(out[2] - 0.05f) < 1e-6f);

        AudioBlock block;
        block.resize(2, 1);
        block.channels[0][0] = 0.5f;
        block.channels[1][0] = -0.5f;
        hard.processBlock(block);
        QVERIFY(qAbs(block.channels[0][0] - 0.1f) < 1e-6f);
        QVERIFY(qAbs(block.channels[1][0] + 0.1f) < 1e-6f);
    }

    void chorusDefaults()
    {
        ChorusProcessor chorus;
        QCOMPARE(chorus.getRate(), 1.5f);
        QCOMPARE(chorus.getDepth(), 3.5f);
        QCOMPARE(chorus.getMix(), 0.5f);
        chorus.setDepth(30.0f);
        QCOMPARE(chorus.getDepth(), 20.0f);
    }

    void chorusTapsWithoutModulation()
    {
        ChorusProcessor chorus;
        chorus.setDepth(0.0f);
        chorus.setMix(0.6f);
        std::vector<float> x(2000, 0.0f), y(2000);
        x[0] = 1.0f;
        chorus.process(x.data(), y.data(), x.size());
        // The dry part, then each tap's echo at a third of the wet mix.
        QVERIFY(qAbs(y[0] - 0.4f) < 1e-6f);
        std::vector<std::size_t> taps;
        for (int j = 0; j < 3; ++j)
            taps.push_back(static_cast<std::size_t>(chorus.baseDelay(j)));
        for (std::size_t i = 1; i < y.size(); ++i) {
            const float expected = std::count(taps.begin(), taps.end(), i) * 0.6f / 3.0f;
            QVERIFY2(qAbs(y[i] - expected) < 1e-6f, qPrintable(QString::number(i)));
        }
        // Taps lie between 5 and 30 ms, apart from each other.
        for (std::size_t t : taps)
            QVERIFY(t > 220 && t < 1323);
        QVERIFY(taps[0] != taps[1] && taps[1] != taps[2]);
    }

    void chorusMixZeroAndFullSweepStayInRange()
    {
        ChorusProcessor chorus;
        chorus.setMix(0.0f);
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        std::vector<float> x(20000);
        for (float& v : x)
            v = dist(rng);
        std::vector<float> y(x.size());
        chorus.process(x.data(), y.data(), x.size());
        QCOMPARE(y, x);

        // Widest, fastest sweep: every read stays in the lines.
        chorus.setMix(1.0f);
        chorus.setDepth(20.0f);
        chorus.setRate(20.0f);
        AudioBlock block;
        block.resize(2, x.size());
        block.channels[0] = x;
        block.channels[1] = x;
        chorus.processBlock(block);
        for (const auto& channel : block.channels) {
            for (float v : channel)
                QVERIFY(std::isfinite(v) && std::abs(v) <= 1.0f);
        }
        chorus.reset();
    }

    void midSideGains_data()
    {
        QTest::addColumn<float>("mid");
        QTest::addColumn<float>("side");
        QTest::addColumn<float>("expected");  // for L = 0.8, R = 0.2
        QTest::newRow("mid only") << 1.0f << 0.0f << 0.5f;
        QTest::newRow("side only") << 0.0f << 1.0f << 0.3f;
        QTest::newRow("both: left") << 1.0f << 1.0f << 0.8f;
        QTest::newRow("neither") << 0.0f << 0.0f << 0.0f;
    }
    void midSideGains()
    {
        QFETCH(float, mid);
        QFETCH(float, side);
        QFETCH(float, expected);
        MidSideProcessor ms;
        ms.midGain = mid;
        ms.sideGain = side;
        std::vector<float> buffer = {0.8f, 0.2f, 0.8f, 0.2f};
        ms.processOffline(buffer.data(), buffer.data(), 2);  // in place
        QVERIFY(qAbs(buffer[0] - expected) < 1e-6f);
        QVERIFY(qAbs(buffer[1] - expected) < 1e-6f);
    }
};

QTEST_GUILESS_MAIN(EffectsTest)
#include "tst_Effects.moc"
