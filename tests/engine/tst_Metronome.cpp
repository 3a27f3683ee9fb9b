#include "engine/devices/ClickGenerator.h"
#include "engine/devices/Metronome.h"

#include "SignalChecks.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

namespace {

// Goertzel energy of one frequency over the left channel of frames [from, to).
double energyAt(const std::vector<short>& stereo, qsizetype from, qsizetype to, double frequency, int rate)
{
    const double w = 2.0 * M_PI * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (qsizetype i = from; i < to; ++i) {
        const double s0 = stereo[size_t(2 * i)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

struct Click {
    qsizetype onset;  // frame of the click's first sample (whose value is sin 0 = 0)
    qsizetype length; // frames up to its last non-zero value
    bool accented;
};

std::vector<Click> findClicks(const std::vector<short>& stereo, int rate)
{
    std::vector<Click> clicks;
    const qsizetype frames = qsizetype(stereo.size() / 2);
    for (qsizetype f = 1; f < frames; ++f) {
        if (stereo[size_t(2 * f)] == 0)
            continue;
        Click click;
        click.onset = f - 1;
        qsizetype last = f;
        while (last + 1 < frames && (last + 1 - click.onset) < rate / 10 && stereo[size_t(2 * (last + 1))] != 0)
            ++last;
        // Zero crossings may round to 0: skip single zeros inside the click.
        qsizetype end = last;
        for (qsizetype g = last + 1; g < std::min(frames, click.onset + rate / 10); ++g)
            if (stereo[size_t(2 * g)] != 0)
                end = g;
        click.length = end - click.onset + 1;
        click.accented = energyAt(stereo, click.onset, end + 1, 800, rate)
            > energyAt(stereo, click.onset, end + 1, 600, rate);
        clicks.push_back(click);
        f = end;
    }
    return clicks;
}

} // namespace

class MetronomeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void clickTimingAndAccents()
    {
        ClickGenerator generator;
        generator.prepare(44100, 120.0, 4);
        QCOMPARE(generator.clickLength(), 2205);
        std::vector<short> out(size_t(2 * 44100 * 3), 0);
        generator.render(out.data(), 44100 * 3, 0.5f);

        // The first click: silence up to frame 22049, then the 600 Hz click of
        // 2205 frames, sample by sample as its formula gives.
        for (int f = 0; f < 22049; ++f)
            QCOMPARE(out[size_t(2 * f)], short(0));
        for (int i = 0; i < 2205; ++i) {
            const double t = double(i) / 44100.0;
            const double expected = std::sin(2.0 * M_PI * 600.0 * t) * std::exp(-80.0 * t) * 0.5 * 32767.0;
            const short got = out[size_t(2 * (22049 + i))];
            QVERIFY2(qAbs(got - expected) <= 2.0, // single-precision synthesis
                     qPrintable(QString("%1: %2 vs %3").arg(i).arg(got).arg(expected)));
            QCOMPARE(out[size_t(2 * (22049 + i) + 1)], got); // both channels
        }
        QCOMPARE(out[size_t(2 * (22049 + 2205))], short(0));

        // Clicks every 22050 frames (one beat at 120 BPM): plain, plain, plain, accented, plain.
        const std::vector<Click> clicks = findClicks(out, 44100);
        QCOMPARE(clicks.size(), size_t(5));
        for (size_t k = 0; k < clicks.size(); ++k) {
            QVERIFY(qAbs(clicks[k].onset - (22049 + 22050 * qsizetype(k))) <= 1);
            QVERIFY(clicks[k].length <= 2205 && clicks[k].length > 2150);
            QCOMPARE(clicks[k].accented, k == 3);
        }
    }

    void shortestClickAtAnExtremeRate()
    {
        ClickGenerator generator;
        generator.prepare(60, 120.0, 4);
        QCOMPARE(generator.clickLength(), 4);
    }

    void loudClicksClampInsteadOfWrapping()
    {
        ClickGenerator generator;
        generator.prepare(44100, 120.0, 1); // every click accented
        std::vector<short> out(size_t(2 * 23000), 0);
        generator.render(out.data(), 23000, 1.5f);
        const auto [low, high] = std::minmax_element(out.begin(), out.end());
        QCOMPARE(*high, short(32767));
        QCOMPARE(*low, short(-32767));
    }

    void metronomeRunsOnTheDefaultOutput()
    {
        CDW_REQUIRE_PULSE();
        Metronome metronome;
        QVERIFY(!metronome.isRunning());
        std::vector<short> untouched(200, 3);
        metronome.render(untouched.data(), 100); // stopped: nothing written
        QCOMPARE(untouched, std::vector<short>(200, 3));

        QVERIFY(metronome.start(44100, 120.0, 4));
        QVERIFY(metronome.isRunning());
        QCOMPARE(metronome.volume(), 0.5f);
        const int rate = metronome.outputSampleRate();
        QVERIFY(rate > 0);
        const qsizetype firstClick = qsizetype(std::ceil(rate * 0.5)) - 1;

        // Volume 0: nothing written and the count does not move.
        metronome.setVolume(0.0f);
        std::vector<short> out(size_t(2 * rate), 0);
        metronome.render(out.data(), rate);
        QCOMPARE(SignalChecks::endOfSound(QList<float>(out.begin(), out.end()), 0.0f), qsizetype(0));
        metronome.setVolume(0.5f);
        metronome.render(out.data(), rate);
        const std::vector<Click> clicks = findClicks(out, rate);
        QVERIFY(!clicks.empty());
        QVERIFY(qAbs(clicks[0].onset - firstClick) <= 1);

        // A second start restarts the count: the next click is a full beat later.
        QVERIFY(metronome.start(44100, 120.0, 4));
        std::fill(out.begin(), out.end(), short(0));
        metronome.render(out.data(), rate);
        QVERIFY(qAbs(findClicks(out, rate)[0].onset - firstClick) <= 1);
        metronome.stop();
        QVERIFY(!metronome.isRunning());
    }

    // Letting an output go may run events (Qt's sink does): a stop and a
    // start that arrive meanwhile find it gone, never let it go again.
    void aStopArrivingWhileStoppingLetsTheOutputGoOnce()
    {
        CDW_REQUIRE_PULSE();
        Metronome metronome;
        for (int round = 0; round < 3; ++round) {
            QVERIFY(metronome.start(44100, 120.0, 4));
            QTest::qWait(200);
            QTimer::singleShot(0, &metronome, [&] {
                metronome.stop();
                metronome.start(44100, 120.0, 4);
                metronome.stop();
            });
            metronome.stop();
            QTest::qWait(100);
            QVERIFY(!metronome.isRunning());
        }
    }
};

QTEST_GUILESS_MAIN(MetronomeTest)
#include "tst_Metronome.moc"
