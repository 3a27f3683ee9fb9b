#include "TestSupport.h"
#include "editor/SpectralEraser.h"
#include "editor/SpectrumAnalyzerWidget.h"

#include <QtTest/QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr int Rate = 44100;

QList<float> tone(double frequency, qsizetype count, float amplitude)
{
    QList<float> out(count);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = amplitude * float(std::sin(2.0 * M_PI * frequency * double(i) / Rate));
    return out;
}

QList<float> mix(const QList<float>& a, const QList<float>& b)
{
    QList<float> out(a.size());
    for (qsizetype i = 0; i < a.size(); ++i)
        out[i] = a[i] + b[i];
    return out;
}

// The blocks of the hop grid (k * 512, 2048 long) that overlap [a, e) cover
// [first, end); no other sample may change.
void regionBlocks(qsizetype a, qsizetype e, qsizetype count, qsizetype& first, qsizetype& end)
{
    qsizetype lowest = a, highest = 0;
    for (qsizetype k = -8; k * 512 < e; ++k) {
        const qsizetype s = k * 512;
        if (s + 2048 > a) {
            lowest = std::min(lowest, s);
            highest = std::max(highest, s + 2048);
        }
    }
    first = std::max<qsizetype>(lowest, 0);
    end = std::min(highest, count);
}

} // namespace

class SpectralEraseTest : public QObject {
    Q_OBJECT
private slots:
    void erasesTheBandOnlyInTheRegion()
    {
        const qsizetype count = 3 * Rate;
        const QList<float> low = tone(1000.0, count, 0.25f);
        const QList<float> high = tone(5000.0, count, 0.25f);
        const QList<float> input = mix(low, high);
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(input, Rate);
        QSignalSpy changed(&widget, &SpectrumAnalyzerWidget::audioDataChanged);
        widget.applySpectralErase(1.0, 2.0, 4000.0f, 6000.0f, 1.0f);
        QCOMPARE(changed.count(), 1);
        const QList<float> out = widget.sampleList();
        QCOMPARE(out.size(), count);

        // Samples whose every block lies inside [1 s, 2 s).
        const qsizetype inFirst = Rate + 2048, inEnd = 2 * Rate - 2048;
        const double before = TestSupport::amplitudeAt(input, 5000.0, Rate, inFirst, inEnd);
        QList<float> residual(out.size());
        double lowError = 0.0;
        for (qsizetype i = inFirst; i < inEnd; ++i) {
            residual[i] = out[i] - low[i];
            lowError = std::max(lowError, double(std::abs(residual[i])));
        }
        const double after = TestSupport::amplitudeAt(residual, 5000.0, Rate, inFirst, inEnd);
        QVERIFY2(20.0 * std::log10(after / before) <= -40.0,
                 qPrintable(QString("5 kHz %1 -> %2").arg(before).arg(after)));
        QVERIFY2(lowError <= 1e-3, qPrintable(QString("1 kHz error %1").arg(lowError)));

        qsizetype first = 0, end = 0;
        regionBlocks(Rate, 2 * Rate, count, first, end);
        for (qsizetype i = 0; i < first; ++i)
            QCOMPARE(out[i], input[i]);
        for (qsizetype i = end; i < count; ++i)
            QCOMPARE(out[i], input[i]);
        // Outside the region but inside its blocks the band is only partly
        // attenuated and the rest passes unchanged.
        for (qsizetype i = first; i < end; ++i)
            QVERIFY(std::abs(out[i] - input[i]) <= 0.25f + 1e-3f);
    }

    void strengthScalesFullyCoveredBlocks()
    {
        const qsizetype count = 2 * Rate;
        const QList<float> input = tone(3000.0, count, 0.5f);
        SpectralEraser eraser;
        SpectralEraser::Result result;
        QVERIFY(eraser.erase(input.constData(), count, Rate, 0.5, 1.5, 2000.0f, 4000.0f, 0.5f, result));
        QList<float> out = input;
        std::copy(result.samples.begin(), result.samples.end(), out.begin() + result.first);
        const qsizetype inFirst = Rate / 2 + 2048, inEnd = 3 * Rate / 2 - 2048;
        const double ratio = TestSupport::amplitudeAt(out, 3000.0, Rate, inFirst, inEnd) / 0.5;
        QVERIFY2(std::abs(ratio - 0.5) < 0.01, qPrintable(QString::number(ratio)));
    }

    void eraseAtTheStartStaysBounded()
    {
        // The block grid reaches before the first sample, so the first
        // samples are neither zeroed nor divided by tiny window sums.
        const QList<float> input = tone(440.0, Rate, 0.8f);
        SpectralEraser eraser;
        SpectralEraser::Result result;
        QVERIFY(eraser.erase(input.constData(), input.size(), Rate, 0.0, 0.5, 0.0f, 1000.0f, 0.3f, result));
        QCOMPARE(result.first, qsizetype(0));
        for (qsizetype i = 0; i < qsizetype(result.samples.size()); ++i) {
            QVERIFY(std::isfinite(result.samples[i]));
            QVERIFY(std::abs(result.samples[i]) <= 0.8f + 1e-4f);
        }
        // The first samples keep their sign and most of their size (the
        // list's onset spreads beyond the band, so the band's 0.7 is not
        // exact here).
        for (int i = 1; i < 8; ++i) {
            QVERIFY(result.samples[i] > 0.0f);
            QVERIFY(result.samples[i] >= 0.5f * input[i]);
        }
    }

    void wholeRangeFullStrengthSilences()
    {
        const QList<float> input = tone(2000.0, Rate, 0.5f);
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(input, Rate);
        widget.applySpectralErase(0.0, 1.0, 0.0f, 22050.0f, 1.0f);
        double loudest = 0.0;
        for (float v : widget.sampleList())
            loudest = std::max(loudest, double(std::abs(v)));
        // Blocks reaching past either end overlap the range only partly, so a
        // remainder is left towards both ends; the middle is silent.
        QVERIFY(loudest < 0.5);
        for (qsizetype i = 2048; i < Rate - 2048; ++i)
            QVERIFY(std::abs(widget.sampleList()[i]) < 1e-5f);
    }

    void nothingToErase_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<float>("low");
        QTest::addColumn<float>("high");
        QTest::addColumn<float>("strength");
        QTest::newRow("empty list") << 0 << 0.0 << 1.0 << 0.0f << 1000.0f << 1.0f;
        QTest::newRow("reversed time") << Rate << 0.6 << 0.4 << 0.0f << 1000.0f << 1.0f;
        QTest::newRow("after the end") << Rate << 1.5 << 2.0 << 0.0f << 1000.0f << 1.0f;
        QTest::newRow("above Nyquist") << Rate << 0.1 << 0.5 << 23000.0f << 24000.0f << 1.0f;
        QTest::newRow("zero strength") << Rate << 0.1 << 0.5 << 0.0f << 1000.0f << 0.0f;
        QTest::newRow("not a number") << Rate << qQNaN() << 0.5 << 0.0f << 1000.0f << 1.0f;
    }

    void nothingToErase()
    {
        QFETCH(int, count);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(float, low);
        QFETCH(float, high);
        QFETCH(float, strength);
        const QList<float> input = tone(500.0, count, 0.5f);
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(input, Rate);
        QSignalSpy changed(&widget, &SpectrumAnalyzerWidget::audioDataChanged);
        widget.applySpectralErase(start, end, low, high, strength);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(widget.sampleList(), input);
    }

    void signalIsEmittedWithoutTheLock()
    {
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(tone(500.0, Rate, 0.5f), Rate);
        std::atomic<bool> done{false};
        // A receiver that takes the data lock would deadlock if the signal
        // came while it is held; the watchdog turns that into a failure.
        std::thread watchdog([&done] {
            for (int i = 0; i < 300 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!done)
                qFatal("audioDataChanged() was emitted while the data lock was held");
        });
        QList<float> received;
        connect(&widget, &SpectrumAnalyzerWidget::audioDataChanged, this, [&] {
            received = widget.sampleList();
            widget.spectrogramColumnCount();               // takes the lock
            widget.setAudioData(received, Rate);           // takes it too
        });
        widget.applySpectralErase(0.2, 0.4, 0.0f, 2000.0f, 1.0f);
        done = true;
        watchdog.join();
        QCOMPARE(received.size(), qsizetype(Rate));
        QCOMPARE(widget.sampleList(), received);
    }

    void partialUpdateEqualsFullRecompute()
    {
        const qsizetype count = 2 * Rate;
        const QList<float> input = mix(tone(800.0, count, 0.3f), tone(6000.0, count, 0.3f));
        SpectrumAnalyzerWidget widget;
        widget.resize(600, 300);
        widget.setAudioData(input, Rate);
        widget.ensureSpectrumComputed();
        widget.applySpectralErase(0.7, 1.1, 5000.0f, 7000.0f, 0.9f);
        QVERIFY(widget.isSpectrumComputed());

        SpectrumAnalyzerWidget fresh;
        fresh.setAudioData(widget.sampleList(), Rate);
        fresh.ensureSpectrumComputed();
        QCOMPARE(widget.spectrogramColumnCount(), fresh.spectrogramColumnCount());
        for (qsizetype c = 0; c < fresh.spectrogramColumnCount(); ++c)
            QCOMPARE(widget.spectrogramColumn(c), fresh.spectrogramColumn(c));
        QCOMPARE(widget.spectrogramImage(), fresh.spectrogramImage());
        for (qsizetype k = 0; k < fresh.levelList().size(); ++k)
            QVERIFY(std::abs(widget.levelList()[k] - fresh.levelList()[k]) < 1e-3f);
    }

    void brushRecordsDabsAndReleaseErases()
    {
        const qsizetype count = 3 * Rate;
        const QList<float> input = tone(10000.0, count, 0.5f);
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);                // plot rect 600 x 300 from (55, 5)
        widget.setAudioData(input, Rate);
        widget.ensureSpectrumComputed();
        widget.setToolMode(SpectrumAnalyzerWidget::Erase);
        widget.setEraseStrength(1.0f);
        const QRect plot = widget.plotRect();
        QCOMPARE(plot, QRect(55, 5, 600, 300));

        // The picture's top row shows bin 1023, i.e. 1023 * rate / 2048 Hz;
        // the row 164 px down (its centre 164.5 / 300 of the way) shows bin
        // 1023 - floor(164.5 / 300 * 1024) = 462, two bins under the 10 kHz
        // tone (10000 / 21.53 = 464.4), well inside the brush.
        const double topFrequency = 1023.0 * Rate / 2048.0;
        const int y = 164;
        const QPoint pointer(plot.left() + 200, plot.top() + y);
        QCOMPARE(widget.cellAt(pointer).bin, 462);
        const qsizetype far = 200;
        const QList<float> farColumn = widget.spectrogramColumn(far);
        const double columnSeconds = 512.0 / Rate;
        // The time axis spans the 3 s of samples across the 600 px.
        const double t = 3.0 * 200.0 / 600.0;
        const qsizetype column = qsizetype(3.0 * 200.5 / 600.0 / columnSeconds);
        QCOMPARE(widget.cellAt(pointer).column, column);
        QVERIFY(widget.spectrogramColumn(column)[464] > 0.9f);

        QSignalSpy changed(&widget, &SpectrumAnalyzerWidget::audioDataChanged);
        QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, pointer);
        QCOMPARE(widget.eraseStrokes().size(), 1);
        const auto stroke = widget.eraseStrokes().first();
        QVERIFY(std::abs(stroke.start - (t - 8 * columnSeconds)) < 1e-9);
        QVERIFY(std::abs(stroke.end - (t + 8 * columnSeconds)) < 1e-9);
        QVERIFY(std::abs(stroke.low - (1.0 - (y + 8) / 300.0) * topFrequency) < 0.01);
        QVERIFY(std::abs(stroke.high - (1.0 - (y - 8) / 300.0) * topFrequency) < 0.01);
        QVERIFY(stroke.low < 10000.0f && stroke.high > 10000.0f);
        // The dab dims the shown cells at once, by 1 - strength.
        QCOMPARE(widget.spectrogramColumn(column)[464], 0.0f);
        QCOMPARE(widget.spectrogramColumn(far), farColumn);
        QCOMPARE(changed.count(), 0);

        QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, pointer);
        QCOMPARE(changed.count(), 1);
        QVERIFY(widget.eraseStrokes().isEmpty());
        // The tone is gone where the dab's blocks lie wholly inside its time
        // range, and the columns show it again only where it is left.
        const qsizetype a = qsizetype(stroke.start * Rate), e = qsizetype(stroke.end * Rate);
        const double after = TestSupport::amplitudeAt(widget.sampleList(), 10000.0, Rate, a + 2048, e - 2048);
        QVERIFY2(after < 0.5 * 0.01, qPrintable(QString::number(after)));
        QVERIFY(widget.spectrogramColumn(column)[464] < 0.1f);
        QCOMPARE(widget.spectrogramColumn(far), farColumn);
    }

    void eachBandErasesItsOwnChannel()
    {
        // Left 3 kHz, right 3 kHz at another level: a dab on a band erases
        // that band's channel only, and the mono list follows as the mix.
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);
        const QList<float> left = tone(3000.0, Rate, 0.4f);
        const QList<float> right = tone(3000.0, Rate, 0.2f);
        QList<float> stereo(2 * Rate), mono(Rate);
        for (qsizetype i = 0; i < Rate; ++i) {
            stereo[2 * i] = left[i];
            stereo[2 * i + 1] = right[i];
            mono[i] = (left[i] + right[i]) * 0.5f;
        }
        widget.setAudioData(mono, Rate, stereo);
        widget.setToolMode(SpectrumAnalyzerWidget::Erase);
        widget.setEraseStrength(1.0f);
        QSignalSpy changed(&widget, &SpectrumAnalyzerWidget::audioDataChanged);
        widget.ensureSpectrumComputed();
        const QList<QRect> bands = widget.bandRects();
        QCOMPARE(bands.size(), 2);
        const QRect lower = bands[1];
        const int y = lower.top() + int((1.0 - 3000.0 / widget.spectrogramTopFrequency()) * lower.height());
        const QPoint pointer(lower.left() + lower.width() / 2, y);
        QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, pointer);
        QCOMPARE(widget.eraseStrokes().size(), 1);
        QCOMPARE(widget.eraseStrokes().first().channel, int(SpectrumAnalyzerWidget::RightChannel));
        QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, pointer);
        QCOMPARE(changed.count(), 1);
        QVERIFY(widget.lastErase().right && !widget.lastErase().left);

        const QList<float>& after = widget.stereoList();
        QCOMPARE(after.size(), stereo.size());
        QList<float> afterLeft(Rate), afterRight(Rate);
        for (qsizetype i = 0; i < Rate; ++i) {
            afterLeft[i] = after[2 * i];
            afterRight[i] = after[2 * i + 1];
            QCOMPARE(widget.sampleList()[i], (after[2 * i] + after[2 * i + 1]) * 0.5f);
        }
        QCOMPARE(afterLeft, left);
        const auto stroke = widget.lastErase();
        const qsizetype a = qsizetype(stroke.start * Rate), e = qsizetype(stroke.end * Rate);
        QVERIFY(TestSupport::amplitudeAt(afterRight, 3000.0, Rate, a + 2048, e - 2048) < 0.2 * 0.01);
        // The lists given were not written (the owner keeps them for undo).
        QCOMPARE(stereo[2 * (a + 3000) + 1], right[a + 3000]);

        // Without a channel, an erase takes both.
        widget.applySpectralErase(0.0, 1.0, 2000.0f, 4000.0f, 1.0f);
        QVERIFY(widget.lastErase().left && widget.lastErase().right);
        QVERIFY(TestSupport::amplitudeAt(widget.sampleList(), 3000.0, Rate, Rate / 4, 3 * Rate / 4) < 0.3 * 0.01);
    }

    void strengthIsClamped()
    {
        SpectrumAnalyzerWidget widget;
        QCOMPARE(widget.getEraseStrength(), 0.8f);
        widget.setEraseStrength(0.0f);
        QCOMPARE(widget.getEraseStrength(), 0.1f);
        widget.setEraseStrength(2.0f);
        QCOMPARE(widget.getEraseStrength(), 1.0f);
    }
};

QTEST_MAIN(SpectralEraseTest)
#include "tst_SpectralErase.moc"
