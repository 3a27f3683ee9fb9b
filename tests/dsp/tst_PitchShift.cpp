#include "audio/dsp/PitchShiftProcessor.h"
#include "audio/dsp/TimeStretchProcessor.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kRate = 44100;

std::vector<float> sine(double frequency, std::size_t count, int rate = kRate, float amplitude = 0.5f)
{
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = amplitude * float(std::sin(2.0 * M_PI * frequency * double(i) / rate));
    return x;
}

// Hann-windowed copy of x[from, to).
std::vector<double> windowed(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    std::vector<double> w(to - from);
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = x[from + i] * (0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(w.size())));
    return w;
}

// DFT magnitude of a windowed segment at one frequency.
double magnitudeAt(const std::vector<double>& w, double frequency, int rate)
{
    const double step = -2.0 * M_PI * frequency / rate;
    const double c = std::cos(step), s = std::sin(step);
    double wr = 1.0, wi = 0.0, re = 0.0, im = 0.0;
    for (double v : w) {
        re += v * wr;
        im += v * wi;
        const double next = wr * c - wi * s;
        wi = wr * s + wi * c;
        wr = next;
    }
    return std::hypot(re, im);
}

// Frequency of the strongest component between 100 Hz and 5 kHz, found on a
// coarse grid and refined to 0.05 Hz.
double dominantFrequency(const std::vector<float>& x, std::size_t from, std::size_t to, int rate = kRate)
{
    const std::vector<double> coarse = windowed(x, from, std::min(to, from + 4096));
    double best = 0.0, bestFrequency = 0.0;
    for (double f = 100.0; f <= 5000.0; f += 5.0) {
        const double m = magnitudeAt(coarse, f, rate);
        if (m > best) {
            best = m;
            bestFrequency = f;
        }
    }
    const std::vector<double> fine = windowed(x, from, to);
    const double centre = bestFrequency;
    best = 0.0;
    for (double f = centre - 12.0; f <= centre + 12.0; f += 0.05) {
        const double m = magnitudeAt(fine, f, rate);
        if (m > best) {
            best = m;
            bestFrequency = f;
        }
    }
    return bestFrequency;
}

// Largest deviation, in dB, of the RMS of 20 ms blocks of x[from, to) from
// `referenceRms`.
double worstRmsDeviationDb(const std::vector<float>& x, std::size_t from, std::size_t to,
                           double referenceRms, int rate = kRate)
{
    const std::size_t block = std::size_t(rate / 50);
    double worst = 0.0;
    for (std::size_t start = from; start + block <= to; start += block) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + block; ++i)
            sum += double(x[i]) * x[i];
        const double db = 20.0 * std::log10(std::sqrt(sum / block) / referenceRms + 1e-12);
        worst = std::max(worst, std::abs(db));
    }
    return worst;
}

bool writeRaw(const QString& path, const std::vector<float>& x)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write(reinterpret_cast<const char*>(x.data()), qint64(x.size() * sizeof(float)))
        == qint64(x.size() * sizeof(float));
}

std::vector<float> readRaw(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> x(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(x.data(), bytes.constData(), x.size() * sizeof(float));
    return x;
}

} // namespace

class PitchShiftTest : public QObject {
    Q_OBJECT
private slots:
    void zeroShiftIsAnExactCopy()
    {
        PitchShiftProcessor shifter;
        shifter.setSampleRate(kRate);
        shifter.setPitch(0.0f);
        std::vector<float> x = sine(1000.0, 10000);
        x[17] = std::nextafter(0.25f, 1.0f);
        std::vector<float> y(x.size(), 9.0f);
        shifter.processOffline(x.data(), y.data(), x.size());
        QVERIFY(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0);
    }

    void steadyToneMovesByTheRatio_data()
    {
        QTest::addColumn<float>("semitones");
        QTest::addColumn<int>("rate");
        QTest::newRow("+1") << 1.0f << kRate;
        QTest::newRow("-1") << -1.0f << kRate;
        QTest::newRow("+12") << 12.0f << kRate;
        QTest::newRow("-12") << -12.0f << kRate;
        QTest::newRow("+7 at 48000 Hz") << 7.0f << 48000;
        QTest::newRow("-5 at 22050 Hz") << -5.0f << 22050;
    }
    void steadyToneMovesByTheRatio()
    {
        QFETCH(float, semitones);
        QFETCH(int, rate);
        const std::size_t n = std::size_t(rate);  // one second
        const std::vector<float> x = sine(1000.0, n, rate);
        // Guard values catch writes past the end.
        std::vector<float> y(n + 16, 7.0f);
        PitchShiftProcessor shifter;
        shifter.setSampleRate(float(rate));
        shifter.setPitch(semitones);
        shifter.processOffline(x.data(), y.data(), n);
        for (std::size_t i = n; i < y.size(); ++i)
            QCOMPARE(y[i], 7.0f);
        y.resize(n);

        const double target = 1000.0 * std::pow(2.0, semitones / 12.0);
        const double found = dominantFrequency(y, n / 4, 3 * n / 4, rate);
        QVERIFY2(std::abs(found - target) <= 0.005 * target,
                 qPrintable(QStringLiteral("%1 Hz, expected %2 Hz").arg(found).arg(target)));
        const double deviation = worstRmsDeviationDb(y, n / 10, n - n / 10, 0.5 / std::sqrt(2.0), rate);
        QVERIFY2(deviation <= 1.5, qPrintable(QStringLiteral("RMS off by %1 dB").arg(deviation)));
    }

    void matchesTheReferenceTool()
    {
        if (!TestSupport::hasCommand(QStringLiteral("rubberband"))
            || !TestSupport::hasCommand(QStringLiteral("sox")))
            QSKIP("rubberband and sox are needed for the reference comparison");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::size_t n = kRate;
        const std::vector<float> x = sine(1000.0, n);
        QVERIFY(writeRaw(dir.filePath("in.raw"), x));
        QVERIFY(TestSupport::runCommand("sox", {"-t", "f32", "-r", "44100", "-c", "1",
                                                dir.filePath("in.raw"), dir.filePath("in.wav")}));
        for (float semitones : {1.0f, -1.0f, 12.0f}) {
            const QString out = dir.filePath("rb.wav");
            QVERIFY(TestSupport::runCommand("rubberband", {"-q", "-p", QString::number(semitones),
                                                           dir.filePath("in.wav"), out}));
            QVERIFY(TestSupport::runCommand("sox", {out, "-t", "f32", dir.filePath("rb.raw")}));
            const std::vector<float> reference = readRaw(dir.filePath("rb.raw"));
            QCOMPARE(reference.size(), n);

            std::vector<float> ours(n);
            PitchShiftProcessor shifter;
            shifter.setPitch(semitones);
            shifter.processOffline(x.data(), ours.data(), n);

            const double target = 1000.0 * std::pow(2.0, semitones / 12.0);
            const double ourError = std::abs(dominantFrequency(ours, n / 4, 3 * n / 4) - target) / target;
            const double refError =
                std::abs(dominantFrequency(reference, n / 4, 3 * n / 4) - target) / target;
            const double rms = 0.5 / std::sqrt(2.0);
            const double ourLevel = worstRmsDeviationDb(ours, n / 10, n - n / 10, rms);
            const double refLevel = worstRmsDeviationDb(reference, n / 10, n - n / 10, rms);
            qInfo("%+g semitones: pitch error ours %.4f%% reference %.4f%%, RMS deviation ours "
                  "%.2f dB reference %.2f dB",
                  double(semitones), 100 * ourError, 100 * refError, ourLevel, refLevel);
            QVERIFY(ourError <= std::max(refError, 0.001));
            QVERIFY(ourLevel <= std::max(refLevel, 0.5));
        }
    }

    void inPlaceMatchesOutOfPlace()
    {
        const std::vector<float> x = sine(440.0, 20000);
        PitchShiftProcessor shifter;
        shifter.setPitch(3.0f);
        std::vector<float> out(x.size());
        shifter.processOffline(x.data(), out.data(), x.size());
        std::vector<float> buffer = x;
        shifter.processOffline(buffer.data(), buffer.data(), buffer.size());
        QCOMPARE(buffer, out);
    }

    void shortInputs()
    {
        for (std::size_t n : {std::size_t(1), std::size_t(10), std::size_t(1023), std::size_t(4097)}) {
            for (float semitones : {-12.0f, 0.5f, 12.0f}) {
                PitchShiftProcessor shifter;
                shifter.setPitch(semitones);
                std::vector<float> x = sine(300.0, n), y(n + 1, 5.0f);
                shifter.processOffline(x.data(), y.data(), n);
                QCOMPARE(y[n], 5.0f);
                for (std::size_t i = 0; i < n; ++i)
                    QVERIFY(std::isfinite(y[i]) && std::abs(y[i]) < 2.0f);
            }
        }
        PitchShiftProcessor shifter;
        shifter.setPitch(2.0f);
        shifter.processOffline(nullptr, nullptr, 0);
    }

    void transformSizeFollowsTheRate_data()
    {
        QTest::addColumn<float>("rate");
        QTest::addColumn<int>("size");
        QTest::newRow("44100") << 44100.0f << 4096;
        QTest::newRow("48000") << 48000.0f << 8192;
        QTest::newRow("22050") << 22050.0f << 2048;
        QTest::newRow("8000") << 8000.0f << 1024;
        QTest::newRow("not positive") << 0.0f << 4096;
    }
    void transformSizeFollowsTheRate()
    {
        QFETCH(float, rate);
        QFETCH(int, size);
        PitchShiftProcessor shifter;
        shifter.setSampleRate(rate);
        QCOMPARE(shifter.fftSize(), std::size_t(size));
    }

    void settersClampAndKeepThePitch()
    {
        PitchShiftProcessor shifter;
        shifter.setPitch(20.0f);
        QCOMPARE(shifter.getPitch(), 12.0f);
        shifter.setPitch(-20.0f);
        QCOMPARE(shifter.getPitch(), -12.0f);
        // A new rate resets only the streaming ratio; the offline shift
        // still uses the pitch.
        shifter.setPitch(12.0f);
        shifter.setSampleRate(22050.0f);
        QCOMPARE(shifter.getPitch(), 12.0f);
        const std::vector<float> x = sine(600.0, 22050, 22050);
        std::vector<float> y(x.size());
        shifter.processOffline(x.data(), y.data(), x.size());
        QVERIFY(std::abs(dominantFrequency(y, 5000, 17000, 22050) - 1200.0) < 6.0);
    }

    void fftKernelSigns()
    {
        PitchShiftProcessor shifter;
        const std::size_t n = 8;
        std::vector<float> data(2 * n, 0.0f);
        data[2] = 1.0f;  // a delta at t = 1
        shifter.fft(data.data(), n, false);
        for (std::size_t k = 0; k < n; ++k) {
            QVERIFY(std::abs(data[2 * k] - float(std::cos(2.0 * M_PI * k / n))) < 1e-6f);
            QVERIFY(std::abs(data[2 * k + 1] - float(std::sin(2.0 * M_PI * k / n))) < 1e-6f);
        }
        shifter.fft(data.data(), n, true);
        for (std::size_t i = 0; i < 2 * n; ++i)
            QVERIFY(std::abs(data[i] - (i == 2 ? 1.0f : 0.0f)) < 1e-6f);
        // Not a power of two: untouched.
        std::vector<float> odd = {1, 2, 3, 4, 5, 6};
        shifter.fft(odd.data(), 3, false);
        QCOMPARE(odd, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    }

    void vocoderFrameMovesBinsByTheRatio()
    {
        // Frames of a tone resynthesised with ratio 2 and overlap-added
        // sound an octave higher.
        const std::size_t N = 1024, hop = N / 4, n = 44100;
        const std::vector<float> x = sine(430.0, n);
        std::vector<float> window(N), frame(N), result(N), y(n, 0.0f), weight(n, 0.0f);
        for (std::size_t i = 0; i < N; ++i)
            window[i] = float(0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / N));
        std::vector<float> lastPhase(N / 2 + 1, 0.0f), sumPhase(N / 2 + 1, 0.0f);
        PitchShiftProcessor shifter;
        for (std::size_t pos = 0; pos + N <= n; pos += hop) {
            for (std::size_t i = 0; i < N; ++i)
                frame[i] = x[pos + i] * window[i];
            shifter.phaseVocoderFrame(frame.data(), result.data(), N, lastPhase.data(),
                                      sumPhase.data(), 2.0, hop, hop);
            for (std::size_t i = 0; i < N; ++i) {
                y[pos + i] += result[i] * window[i];
                weight[pos + i] += window[i] * window[i];
            }
        }
        for (std::size_t i = 0; i < n; ++i)
            y[i] = weight[i] > 1e-6f ? y[i] / weight[i] : 0.0f;
        QVERIFY(std::abs(dominantFrequency(y, n / 4, 3 * n / 4) - 860.0) < 4.3);
    }

    void streamingGrainsKeepTheLevel()
    {
        PitchShiftProcessor shifter;
        shifter.setSampleRate(kRate);
        shifter.setPitch(-3.0f);
        std::vector<float> buffer(20000, 0.5f);
        shifter.process(buffer.data(), buffer.data(), buffer.size());
        QCOMPARE(buffer[0], 0.0f);
        for (std::size_t i = 3000; i < buffer.size(); ++i)
            QVERIFY(std::abs(buffer[i] - 0.5f) < 1e-4f);

        shifter.reset();
        shifter.setPitch(5.0f);  // grains come less often than samples
        AudioBlock block;
        block.resize(1, 5000);
        std::fill(block.channels[0].begin(), block.channels[0].end(), 0.25f);
        shifter.processBlock(block);
        for (float v : block.channels[0])
            QVERIFY(v == 0.0f || std::abs(v - 0.25f) < 1e-4f);
        shifter.reset();
        float first = 1.0f;
        shifter.process(&first, &first, 1);
        QCOMPARE(first, 0.0f);
    }

    void stretchByTwoKeepsThePitch_data()
    {
        QTest::addColumn<float>("ratio");
        QTest::addColumn<float>("overlap");
        QTest::newRow("x2") << 2.0f << 0.5f;
        QTest::newRow("x2, overlap 0.75") << 2.0f << 0.75f;
        QTest::newRow("x0.5") << 0.5f << 0.5f;
        QTest::newRow("x0.25, overlap 0.1") << 0.25f << 0.1f;
        QTest::newRow("x4") << 4.0f << 0.5f;
    }
    void stretchByTwoKeepsThePitch()
    {
        QFETCH(float, ratio);
        QFETCH(float, overlap);
        const std::size_t n = kRate;
        const std::vector<float> x = sine(1000.0, n);
        TimeStretchProcessor stretcher;
        stretcher.setStretchRatio(ratio);
        stretcher.setOverlap(overlap);
        QCOMPARE(stretcher.getStretchRatio(), ratio);
        const std::size_t m = std::size_t(double(n) * ratio);
        std::vector<float> y(m + 8, 3.0f);
        stretcher.processOffline(x.data(), y.data(), n, m);
        for (std::size_t i = m; i < y.size(); ++i)
            QCOMPARE(y[i], 3.0f);
        y.resize(m);
        const double found = dominantFrequency(y, m / 4, 3 * m / 4);
        QVERIFY2(std::abs(found - 1000.0) <= 5.0, qPrintable(QString::number(found)));
        // The tone fills the whole new length.
        const double deviation = worstRmsDeviationDb(y, m / 20, m - m / 20, 0.5 / std::sqrt(2.0));
        QVERIFY2(deviation <= 1.5, qPrintable(QString::number(deviation)));
    }

    void stretchSettingsAndEdges()
    {
        TimeStretchProcessor stretcher;
        stretcher.setStretchRatio(10.0f);
        QCOMPARE(stretcher.getStretchRatio(), 4.0f);
        stretcher.setWindowSize(1000.0f);
        QCOMPARE(stretcher.getWindowSize(), 200.0f * 44100.0f / 1000.0f);
        stretcher.setWindowSize(1.0f);
        QCOMPARE(stretcher.getWindowSize(), 5.0f * 44100.0f / 1000.0f);

        // Output shorter than one hop, and in place.
        stretcher.setStretchRatio(2.0f);
        std::vector<float> buffer = sine(500.0, 400);
        stretcher.processOffline(buffer.data(), buffer.data(), 400, 100);
        for (std::size_t i = 0; i < 100; ++i)
            QVERIFY(std::isfinite(buffer[i]));
        stretcher.processOffline(buffer.data(), buffer.data(), 0, 100);
    }
};

QTEST_GUILESS_MAIN(PitchShiftTest)
#include "tst_PitchShift.moc"
