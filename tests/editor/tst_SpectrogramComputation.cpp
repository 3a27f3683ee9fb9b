#include "editor/SpectralEraser.h"
#include "editor/SpectrogramComputer.h"
#include "editor/SpectrogramImageBuilder.h"
#include "editor/SpectrumAnalyzerWidget.h"

#include <QtTest/QtTest>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#ifdef CDW_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<float> randomSignal(int count, unsigned seed, float scale = 1.0f)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-scale, scale);
    std::vector<float> out(count);
    for (float& v : out)
        v = value(generator);
    return out;
}

QList<float> sine(double frequency, int count, int rate, float amplitude)
{
    QList<float> out(count);
    for (int i = 0; i < count; ++i)
        out[i] = amplitude * float(std::sin(2.0 * M_PI * frequency * i / rate));
    return out;
}

} // namespace

class SpectrogramComputationTest : public QObject {
    Q_OBJECT
private slots:
    void forwardTransformMatchesFftw_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {2, 8, 64, 1024, 2048, 4096})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void forwardTransformMatchesFftw()
    {
#ifndef CDW_HAVE_FFTW
        QSKIP("FFTW reference not available");
#else
        QFETCH(int, size);
        SpectrogramComputer computer;
        computer.setFftSize(size);
        QCOMPARE(computer.fftSize(), size);
        const std::vector<float> input = randomSignal(size, 7u + unsigned(size));
        std::vector<std::complex<float>> ours;
        computer.computeFft(input.data(), ours);
        QCOMPARE(int(ours.size()), size);

        std::vector<float> in(input);
        fftwf_complex* out = fftwf_alloc_complex(size / 2 + 1);
        fftwf_plan plan = fftwf_plan_dft_r2c_1d(size, in.data(), out, FFTW_ESTIMATE);
        fftwf_execute(plan);
        double worst = 0.0;
        for (int k = 0; k < size; ++k) {
            const int m = k <= size / 2 ? k : size - k;
            std::complex<float> reference(out[m][0], k <= size / 2 ? out[m][1] : -out[m][1]);
            worst = std::max(worst, double(std::abs(ours[k] - reference)));
        }
        fftwf_destroy_plan(plan);
        fftwf_free(out);
        QVERIFY2(worst <= 1e-5 * size, qPrintable(QString("max error %1").arg(worst)));
#endif
    }

    void inverseTransformMatchesFftw_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {1, 4, 256, 2048})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void inverseTransformMatchesFftw()
    {
#ifndef CDW_HAVE_FFTW
        QSKIP("FFTW reference not available");
#else
        QFETCH(int, size);
        std::vector<float> data = randomSignal(2 * size, 99u + unsigned(size), 10.0f);
        std::vector<float> reference(data);
        SpectrumAnalyzerWidget::inverseFFT(data.data(), size);
        auto* buffer = reinterpret_cast<fftwf_complex*>(reference.data());
        fftwf_plan plan = fftwf_plan_dft_1d(size, buffer, buffer, FFTW_BACKWARD, FFTW_ESTIMATE);
        fftwf_execute(plan);
        fftwf_destroy_plan(plan);
        double worst = 0.0;
        for (int i = 0; i < 2 * size; ++i)
            worst = std::max(worst, double(std::abs(data[i] - reference[i] / size)));
        QVERIFY2(worst <= 1e-5 * 10.0, qPrintable(QString("max error %1").arg(worst)));
#endif
    }

    void columnCount_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("columns");
        QTest::newRow("one short of a block") << 2047 << 0;
        QTest::newRow("one block") << 2048 << 1;
        QTest::newRow("one block and a hop") << 2560 << 2;
        QTest::newRow("partial hop ignored") << 3000 << 2;
        QTest::newRow("ten hops") << 2048 + 10 * 512 << 11;
    }

    void columnCount()
    {
        QFETCH(int, samples);
        QFETCH(int, columns);
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(sine(440.0, samples, 44100, 0.5f), 44100);
        widget.ensureSpectrumComputed();
        QVERIFY(widget.isSpectrumComputed());
        QCOMPARE(widget.spectrogramColumnCount(), qsizetype(columns));
        if (columns > 0)
            QCOMPARE(widget.spectrogramColumn(0).size(), 1024);
    }

    void fullScaleSineOnBinCentreIsOneAndSilenceIsZero()
    {
        const int rate = 44100, n = 2048, bin = 93;
        const double frequency = double(bin) * rate / n;
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(sine(frequency, n, rate, 1.0f), rate);
        widget.ensureSpectrumComputed();
        const QList<float> column = widget.spectrogramColumn(0);
        QCOMPARE(column.size(), n / 2);
        QCOMPARE(column[bin], 1.0f);
        // Far from the tone the Hann window leaves nothing above -100 dB.
        QCOMPARE(column[bin + 200], 0.0f);

        // |X|/N of a full-scale sine under a Hann window is about 1/4 (-12 dB).
        std::vector<float> block(widget.sampleList().cbegin(), widget.sampleList().cend());
        widget.applyWindow(block.data(), n);
        std::vector<std::complex<float>> fft;
        widget.computeFFT(block.data(), fft);
        QVERIFY(std::abs(std::abs(fft[bin]) / n - 0.25) < 0.001);

        widget.setAudioData(QList<float>(3 * n, 0.0f), rate);
        widget.ensureSpectrumComputed();
        QCOMPARE(widget.spectrogramColumnCount(), qsizetype(9));
        for (float v : widget.spectrogramColumn(4))
            QCOMPARE(v, 0.0f);
        for (float level : widget.levelList())
            QCOMPARE(level, -100.0f);
    }

    void liveColumnMatchesWholeListColumn()
    {
        // The live path divides by 70, the whole list multiplies by 1/70 in
        // single precision: the same picture within rounding.
        SpectrogramComputer computer;
        const QList<float> tone = sine(1234.0, 2048, 44100, 0.3f);
        const QList<float> live = computer.computeColumn(tone.constData(), 2048);
        std::vector<float> whole(1024);
        computer.computeListColumn(SampleChannel::mono(tone), 0, whole.data(), nullptr);
        for (int k = 0; k < 1024; ++k)
            QVERIFY(std::abs(live[k] - whole[k]) < 1e-5f);
    }

    void fastLogarithmAgreesWithLibrary()
    {
        double worst = 0.0;
        for (double e = -37.0; e <= 38.0; e += 0.00731) {
            const float x = float(std::pow(10.0, e));
            worst = std::max(worst, std::abs(double(SpectrogramComputer::fastLog10(x)) - std::log10(double(x))));
        }
        // 1e-5 in lg is 0.0002 dB, far below one colour step (70 dB / 255).
        QVERIFY2(worst < 1e-5, qPrintable(QString::number(worst)));
    }

    void nonFiniteSamplesAreSilence()
    {
        QList<float> data = sine(3000.0, 4096, 44100, 0.5f);
        data[100] = std::numeric_limits<float>::quiet_NaN();
        data[2500] = std::numeric_limits<float>::infinity();
        data[3000] = -std::numeric_limits<float>::infinity();
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(data, 44100);
        widget.ensureSpectrumComputed();
        QCOMPARE(widget.spectrogramColumnCount(), qsizetype(5));
        for (qsizetype c = 0; c < 5; ++c) {
            for (float v : widget.spectrogramColumn(c))
                QVERIFY(v >= 0.0f && v <= 1.0f);
        }
        for (float level : widget.levelList())
            QVERIFY(std::isfinite(level));

        QList<float> broken(2048, std::numeric_limits<float>::quiet_NaN());
        for (float v : widget.computeSpectrumFrame(broken.constData(), 2048))
            QCOMPARE(v, 0.0f);
        std::vector<std::complex<float>> fft(2048, {std::numeric_limits<float>::quiet_NaN(), 0.0f});
        widget.computeSpectrum(fft);
        for (float level : widget.levelList())
            QCOMPARE(level, -100.0f);
        QCOMPARE(widget.spectrogramColor(std::numeric_limits<float>::quiet_NaN()),
                 widget.spectrogramColor(0.0f));
    }

    void colourTableEntries_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::addColumn<int>("blue");
        QTest::newRow("0") << 0 << 34 << 0 << 51;
        QTest::newRow("128") << 128 << 230 << 0 << 76;
        QTest::newRow("255") << 255 << 255 << 221 << 153;
    }

    void colourTableEntries()
    {
        QFETCH(int, index);
        QFETCH(int, red);
        QFETCH(int, green);
        QFETCH(int, blue);
        const SpectrogramImageBuilder::ColorEntry entry = SpectrogramImageBuilder::buildColorTable()[index];
        QCOMPARE(int(entry.red), red);
        QCOMPARE(int(entry.green), green);
        QCOMPARE(int(entry.blue), blue);
        SpectrumAnalyzerWidget widget;
        // Value v selects entry (int)(v * 255 + 0.5).
        QCOMPARE(widget.spectrogramColor(index / 255.0f), qRgb(red, green, blue));
    }

    void colourIndexClamps()
    {
        QCOMPARE(SpectrogramImageBuilder::colorIndex(-3.0f), 0);
        QCOMPARE(SpectrogramImageBuilder::colorIndex(0.0019f), 0);
        QCOMPARE(SpectrogramImageBuilder::colorIndex(0.0020f), 1);
        QCOMPARE(SpectrogramImageBuilder::colorIndex(7.0f), 255);
        QCOMPARE(SpectrogramImageBuilder::colorIndex(std::numeric_limits<float>::infinity()), 255);
    }

    void imageRowsRunFromTopBinToBinZero()
    {
        SpectrogramGrid grid;
        grid.reset(8);
        SpectrogramGrid::Cell* ramp = grid.appendColumn();
        for (int k = 0; k < 8; ++k)
            ramp[k] = SpectrogramGrid::cellFor(k / 7.0f);
        grid.appendColumn();
        const QImage image = SpectrogramImageBuilder::build(grid);
        QCOMPARE(image.size(), QSize(2, 8));
        // Row y shows bin floor((H - y) / H * (H - 1)).
        QCOMPARE(image.pixel(0, 0), SpectrogramImageBuilder::color(1.0f));
        QCOMPARE(image.pixel(0, 7), SpectrogramImageBuilder::color(0.0f));
        QCOMPARE(SpectrogramImageBuilder::rowToBin(1, 8), 6);
        QCOMPARE(image.pixel(0, 1), SpectrogramImageBuilder::color(6 / 7.0f));
        QCOMPARE(image.pixel(1, 0), SpectrogramImageBuilder::color(0.0f));
        // A band three times as high shows each bin on three rows.
        const QImage band = SpectrogramImageBuilder::render(grid, QSize(2, 24), 0.0, 1.0);
        for (int y = 0; y < 24; ++y)
            QCOMPARE(band.pixel(0, y), image.pixel(0, y / 3));
    }

    void windowShapes()
    {
        SpectrogramComputer computer;
        computer.setFftSize(1000);   // rounds up
        QCOMPARE(computer.fftSize(), 1024);
        QCOMPARE(computer.hop(), 256);
        const std::vector<float>& hann = computer.window();
        QCOMPARE(hann.front(), 0.0f);
        QVERIFY(std::abs(hann.back()) < 1e-6f);
        QVERIFY(std::abs(hann[511] - 0.5 * (1 - std::cos(2 * M_PI * 511 / 1023))) < 1e-6);
        computer.setWindowType(SpectrogramComputer::Hamming);
        QVERIFY(std::abs(computer.window().front() - 0.08f) < 1e-6f);
        computer.setWindowType(SpectrogramComputer::Rectangular);
        QCOMPARE(computer.window()[17], 1.0f);
        computer.setFftSize(1);
        QCOMPARE(computer.fftSize(), 1);
        QCOMPARE(computer.hop(), 1);
    }

    void livePathKeeps512Columns()
    {
        const int rate = 8000;
        SpectrumAnalyzerWidget widget;
        widget.setAudioData(QList<float>(), rate);
        // Quiet enough that the live levels (|X| in dB, not divided by N)
        // stay below the -30 dB ceiling.
        const QList<float> input = sine(700.0, 2048 + 699 * 512 + 100, rate, 1e-5f);
        for (qsizetype at = 0; at < input.size(); at += 1000) {
            const int count = int(std::min<qsizetype>(1000, input.size() - at));
            widget.processAudioFrame(input.constData() + at, count);
        }
        // 700 columns were made; the oldest ones were dropped.
        QCOMPARE(widget.spectrogramColumnCount(), qsizetype(512));
        QCOMPARE(widget.sampleList().size(), qsizetype(700 * 512));
        QCOMPARE(widget.getPlayheadPosition(), 700.0 * 512 / rate);
        QCOMPARE(widget.sampleList().mid(0, 512), input.mid(0, 512));
        // Levels come from the latest block: the tone's bin is the loudest.
        const QList<float> levels = widget.levelList();
        const qsizetype loudest = std::max_element(levels.cbegin(), levels.cend()) - levels.cbegin();
        QVERIFY(std::abs(widget.binFrequencyList()[loudest] - 700.0f) < float(rate) / 2048);
    }

    void peakHoldThenFall()
    {
        SpectrumLevels levels;
        const int n = 16;
        std::vector<std::complex<float>> loud(n, {0.01f, 0.0f});    // -40 dB
        std::vector<std::complex<float>> silent(n, {0.0f, 0.0f});   // the floor
        levels.update(loud, n, 1600, -100.0f, -30.0f);
        QCOMPARE(levels.levels.size(), 9);
        QVERIFY(std::abs(levels.peaks[3] + 40.0f) < 1e-4f);
        QCOMPARE(levels.frequencies[3], 300.0f);
        const float loudPeak = levels.peaks[3];
        for (int i = 0; i < 60; ++i) {
            levels.update(silent, n, 1600, -100.0f, -30.0f);
            QCOMPARE(levels.peaks[3], loudPeak);
        }
        for (int i = 1; i <= 130; ++i) {
            levels.update(silent, n, 1600, -100.0f, -30.0f);
            const float expected = std::max(loudPeak - 0.5f * i, -100.0f);
            QVERIFY2(std::abs(levels.peaks[3] - expected) < 1e-3f,
                     qPrintable(QString("update %1: %2").arg(i).arg(levels.peaks[3])));
        }
        QCOMPARE(levels.levels[3], -100.0f);
    }

    void stereoAndEmptyData()
    {
        SpectrumAnalyzerWidget widget;
        QList<float> interleaved = {1, 2, 3, 4, 5};   // odd length: two right samples
        widget.setAudioData(QList<float>(10, 0.1f), 44100, interleaved);
        QVERIFY(widget.hasRightChannel());
        QCOMPARE(widget.stereoList(), interleaved);
        widget.ensureSpectrumComputed();        // too short for a column, but no harm
        QCOMPARE(widget.spectrogramColumnCount(true), qsizetype(0));
        widget.setAudioData(QList<float>(), 44100, interleaved);
        QVERIFY(!widget.hasRightChannel());
        QVERIFY(widget.stereoList().isEmpty());
        QVERIFY(widget.levelList().isEmpty());
    }
};

QTEST_MAIN(SpectrogramComputationTest)
#include "tst_SpectrogramComputation.moc"
