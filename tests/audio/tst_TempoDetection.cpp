#include "TestSupport.h"
#include "audio/AudioProcessor.h"

#include <QRandomGenerator>
#include <QtTest/QtTest>
#include <cmath>

namespace {

// Clicks of 20 ms of decaying noise, one per beat, over a faint noise bed.
QList<float> clickTrack(double bpm, double seconds, int rate, quint32 seed = 1)
{
    QRandomGenerator random(seed);
    const qsizetype count = qsizetype(seconds * rate);
    QList<float> out(count);
    for (float& v : out)
        v = 0.002f * float(random.generateDouble() * 2.0 - 1.0);
    const double period = 60.0 / bpm * rate;
    const int clickLength = rate / 50;
    for (double beat = 0.0; beat < count; beat += period) {
        const qsizetype at = qsizetype(std::llround(beat));
        for (int i = 0; i < clickLength && at + i < count; ++i) {
            const float envelope = std::exp(-5.0f * float(i) / clickLength);
            out[at + i] += 0.8f * envelope * float(random.generateDouble() * 2.0 - 1.0);
        }
    }
    return out;
}

} // namespace

class TempoDetectionTest : public QObject {
    Q_OBJECT
private slots:
    void clickTracks_data()
    {
        QTest::addColumn<double>("bpm");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("120 BPM") << 120.0 << 44100 << 1.0;
        QTest::newRow("90 BPM") << 90.0 << 44100 << 2.0;
        QTest::newRow("60 BPM") << 60.0 << 44100 << 2.0;
        QTest::newRow("150 BPM at 48 kHz") << 150.0 << 48000 << 2.0;
        QTest::newRow("100 BPM at 22.05 kHz") << 100.0 << 22050 << 2.0;
        // Periods between whole envelope frames, which once read as half tempo.
        QTest::newRow("165 BPM") << 165.0 << 44100 << 2.0;
        QTest::newRow("172 BPM") << 172.0 << 44100 << 2.0;
        QTest::newRow("180 BPM") << 180.0 << 44100 << 2.0;
    }

    void clickTracks()
    {
        QFETCH(double, bpm);
        QFETCH(int, rate);
        QFETCH(double, tolerance);
        AudioProcessor p;
        p.sampleRate = rate;
        p.channels = 1;
        p.samples = clickTrack(bpm, 10.0, rate);
        const AudioProcessor::TempoResult result = p.detectTempo();
        QVERIFY(result.success);
        QVERIFY(result.error.isEmpty());
        QVERIFY2(std::fabs(result.bpm - bpm) <= tolerance, qPrintable(QString::number(result.bpm)));
        QVERIFY2(result.confidence > 0.3, qPrintable(QString::number(result.confidence)));
    }

    void stereoReadsLikeMono()
    {
        AudioProcessor mono;
        mono.channels = 1;
        mono.samples = clickTrack(120.0, 10.0, 44100);
        AudioProcessor stereo;
        stereo.channels = 2;
        for (float v : std::as_const(mono.samples))
            stereo.samples << v << v;
        const auto a = mono.detectTempo();
        const auto b = stereo.detectTempo();
        QVERIFY(b.success);
        QCOMPARE(b.bpm, a.bpm);
        QVERIFY(std::fabs(b.confidence - a.confidence) < 1e-9);
    }

    void silenceFallsBackToTheShortestLag()
    {
        // No onsets: every correlation is 0, the peak stays at lag 30
        // (0.299 s, 200.45 BPM), folded to 100.2 with no confidence.
        AudioProcessor p;
        p.channels = 1;
        p.samples = QList<float>(5 * 44100, 0.0f);
        const auto result = p.detectTempo();
        QVERIFY(result.success);
        QVERIFY(std::fabs(result.bpm - 60.0 / (30.0 * 110.0 / 11025.0) / 2.0) < 1e-9);
        QCOMPARE(result.confidence, 0.0);
    }

    void failures_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << 0 << 44100 << 1 << QStringLiteral("没有音频数据");
        QTest::newRow("no channels") << 44100 << 44100 << 0 << QStringLiteral("没有音频数据");
        QTest::newRow("rate 0") << 44100 << 0 << 1 << QStringLiteral("采样率无效");
        QTest::newRow("0.9 s") << 39690 << 44100 << 1 << QStringLiteral("音频太短（至少需要 1 秒）");
        QTest::newRow("stereo 0.9 s") << 2 * 39690 << 44100 << 2
                                      << QStringLiteral("音频太短（至少需要 1 秒）");
    }

    void failures()
    {
        QFETCH(int, count);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QString, message);
        AudioProcessor p;
        p.samples = QList<float>(count, 0.1f);
        p.sampleRate = rate;
        p.channels = channels;
        const auto result = p.detectTempo();
        QVERIFY(!result.success);
        QCOMPARE(result.error, message);
        QCOMPARE(result.bpm, 0.0);
        QCOMPARE(result.confidence, 0.0);
    }

    void lagRangeTooNarrow()
    {
        // At a rate of 1 Hz the lags 0.3 s .. 1 s collapse to one frame.
        AudioProcessor p;
        p.channels = 1;
        p.sampleRate = 1;
        p.samples = QList<float>(30, 0.1f);
        const auto result = p.detectTempo();
        QVERIFY(!result.success);
        QCOMPARE(result.error, QStringLiteral("音频太短，无法检测速度"));
    }
};

QTEST_GUILESS_MAIN(TempoDetectionTest)
#include "tst_TempoDetection.moc"
