// The frequency analyser's measuring: levels of known sines, the transform
// against a double-precision reference, the feed that plays a list through
// the rings, and the settings' limits.

#include "dialogs/FrequencyAnalysis.h"

#include <QtTest/QtTest>

#include <cmath>
#include <complex>
#include <vector>

namespace {

// A sine of unit amplitude exactly on bin k of an n-point transform.
QList<float> binCentreSine(int n, int k, int length)
{
    QList<float> out(length);
    for (int i = 0; i < length; ++i)
        out[i] = float(std::sin(2.0 * M_PI * k * i / n));
    return out;
}

// Double-precision transform of real data: a direct DFT (exact twiddles by
// index) or, for large n, a recursive FFT in double.
std::vector<std::complex<double>> referenceSpectrum(const std::vector<double>& x, bool direct)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n / 2 + 1);
    if (direct) {
        std::vector<std::complex<double>> twiddle(n);
        for (size_t i = 0; i < n; ++i)
            twiddle[i] = std::polar(1.0, -2.0 * M_PI * double(i) / double(n));
        for (size_t k = 0; k <= n / 2; ++k) {
            std::complex<double> sum = 0.0;
            for (size_t t = 0; t < n; ++t)
                sum += x[t] * twiddle[(k * t) % n];
            out[k] = sum;
        }
        return out;
    }
    std::vector<std::complex<double>> a(x.begin(), x.end());
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        for (size_t i = 0; i < n; i += len) {
            for (size_t j = 0; j < len / 2; ++j) {
                const std::complex<double> w = std::polar(1.0, -2.0 * M_PI * double(j) / double(len));
                const std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
            }
        }
    }
    std::copy(a.begin(), a.begin() + long(n / 2 + 1), out.begin());
    return out;
}

// Relative RMS error of the analyser's magnitudes (rectangular window) on a
// mixture of tones and noise against the reference.
double transformError(int n, bool direct)
{
    FrequencyAnalysis analysis;
    analysis.setFftSize(n);
    analysis.setWindowType(FrequencyAnalysis::Rectangular);
    std::vector<double> x(static_cast<size_t>(n));
    QList<float> data(n);
    quint32 seed = 12345;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 0.2;
        const float v = float(0.5 * std::sin(2.0 * M_PI * 0.01234 * i)
                              + 0.25 * std::sin(2.0 * M_PI * 0.3071 * i) + noise);
        data[i] = v;
        x[size_t(i)] = v;
    }
    QList<float> levels;
    analysis.computeSpectrumFromBuffer(data.constData(), n, levels);
    const auto reference = referenceSpectrum(x, direct);
    double errorSquares = 0.0, referenceSquares = 0.0;
    for (int k = 1; k < n / 2; ++k) { // the level floor hides nothing here
        const double ours = std::pow(10.0, levels[k] / 20.0) * (n / 2);
        const double exact = std::abs(reference[size_t(k)]);
        errorSquares += (ours - exact) * (ours - exact);
        referenceSquares += exact * exact;
    }
    return std::sqrt(errorSquares / referenceSquares);
}

} // namespace

class FrequencyAnalysisTest : public QObject {
    Q_OBJECT

private slots:
    void binCentreSineLevels()
    {
        FrequencyAnalysis analysis;
        const int n = analysis.fftSize();
        const QList<float> sine = binCentreSine(n, 100, n);
        QList<float> levels;
        analysis.setWindowType(FrequencyAnalysis::Rectangular);
        analysis.computeSpectrumFromBuffer(sine.constData(), n, levels);
        QCOMPARE(levels.size(), n / 2 + 1);
        QVERIFY2(std::fabs(levels[100]) <= 0.01f, qPrintable(QString::number(levels[100])));
        analysis.setWindowType(FrequencyAnalysis::Hann);
        analysis.computeSpectrumFromBuffer(sine.constData(), n, levels);
        QVERIFY2(std::fabs(levels[100] + 6.02f) <= 0.01f, qPrintable(QString::number(levels[100])));
        // Too few samples give no spectrum.
        analysis.computeSpectrumFromBuffer(sine.constData(), n - 1, levels);
        QVERIFY(levels.isEmpty());
        // The whole-list average of the same tone reads the same level.
        QList<float> mean;
        analysis.computeSpectrumFromData(binCentreSine(n, 100, 3 * n), mean);
        QVERIFY(std::fabs(mean[100] + 6.02f) <= 0.01f);
    }

    void transformMatchesDoublePrecision()
    {
        const double at4096 = transformError(4096, true);
        const double at65536 = transformError(65536, false);
        qInfo("analyser FFT relative RMS error: %.3g at N = 4096, %.3g at N = 65536", at4096,
              at65536);
        QVERIFY(at4096 < 1e-3);
        QVERIFY(at65536 < 1e-3);
    }

    void sizesAndLimits()
    {
        FrequencyAnalysis analysis;
        analysis.setFftSize(1000);
        QCOMPARE(analysis.fftSize(), 1024);
        analysis.setFftSize(100);
        QCOMPARE(analysis.fftSize(), 256);
        analysis.setFftSize(100000);
        QCOMPARE(analysis.fftSize(), 65536);

        // A rate of 0 or less would divide by zero in the bins and the feed.
        analysis.setAudioData(QList<float>(10, 0.5f), 0);
        QCOMPARE(analysis.sampleRate(), 44100);
        QCOMPARE(analysis.feedIntervalMs(), 23);
        analysis.setAudioData(QList<float>(10, 0.5f), -48000);
        QCOMPARE(analysis.sampleRate(), 44100);
        analysis.setAudioData(QList<float>(10, 0.5f), 48000);
        QCOMPARE(analysis.feedIntervalMs(), 21);
    }

    void feedLoopsAndFirstSpectrumOnFourthTick()
    {
        FrequencyAnalysis analysis;
        analysis.setAveragingCount(0); // stored as 1: no averaging
        const QList<float> tone = binCentreSine(4096, 200, 5000);
        analysis.setAudioData(tone, 44100);
        QVERIFY(analysis.isFeeding());
        for (int tick = 1; tick <= 3; ++tick) {
            QVERIFY(analysis.feedStep());
            QVERIFY(!analysis.updateSpectrum());
        }
        QVERIFY(analysis.feedStep());
        QCOMPARE(analysis.bufferedSamples(), 4096);
        QVERIFY(analysis.updateSpectrum());
        const FrequencyAnalysis::Snapshot data = analysis.snapshot();
        QCOMPARE(data.smoothedLeft.size(), 2049);
        QCOMPARE(data.frequencies[200], 200.0f * 44100 / 4096);
        const auto loudest = std::max_element(data.smoothedLeft.begin(), data.smoothedLeft.end());
        QCOMPARE(int(loudest - data.smoothedLeft.begin()), 200);
        QVERIFY(std::fabs(data.rmsLeftDb + 3.01f) < 0.01f); // a unit sine
        // 904 samples finish the list; the next step starts it again.
        analysis.feedStep();
        QCOMPARE(analysis.bufferedSamples(), 5000);
        analysis.feedStep();
        QCOMPARE(analysis.bufferedSamples(), 6024);

        analysis.clearAudioData();
        QVERIFY(!analysis.isFeeding());
        QVERIFY(!analysis.feedStep());
        QVERIFY(analysis.snapshot().smoothedLeft.isEmpty());
    }

    void stereoFeedPadsShortRightChannel()
    {
        FrequencyAnalysis analysis;
        analysis.setFftSize(256);
        const QList<float> left(300, 0.5f);
        const QList<float> right(100, -0.25f);
        analysis.setAudioDataStereo(left, right, 44100);
        analysis.feedStep();
        QVERIFY(analysis.updateSpectrum());
        const FrequencyAnalysis::Snapshot data = analysis.snapshot();
        QVERIFY(data.isStereo);
        // The newest 256 of 300 frames: 56 of the right list, 200 of the left padding.
        const double expected = std::sqrt((56 * 0.0625 + 200 * 0.25) / 256.0);
        QVERIFY(std::fabs(data.rmsRightDb - 20.0 * std::log10(expected)) < 0.01);
        QVERIFY(std::fabs(data.rmsLeftDb - 20.0 * std::log10(0.5)) < 0.01);
    }

    void peaksFallAtTheirRate()
    {
        FrequencyAnalysis analysis;
        analysis.setFftSize(256);
        analysis.setAveragingCount(1);
        analysis.setSmoothing(0.0f);
        const QList<float> loud = binCentreSine(256, 10, 256);
        analysis.processAudioFrame(loud.constData(), 256);
        QVERIFY(analysis.updateSpectrum());
        const float peak = analysis.snapshot().peakLeft[10];
        const QList<float> silence(256, 0.0f);
        analysis.processAudioFrame(silence.constData(), 256);
        QVERIFY(analysis.updateSpectrum());
        // One analysis of 256 samples at 44.1 kHz lets a peak fall 6 dB/s x 5.8 ms.
        const float fallen = analysis.snapshot().peakLeft[10];
        QVERIFY(std::fabs((peak - fallen) - 6.0f * 256.0f / 44100.0f) < 1e-4f);
    }
};

QTEST_GUILESS_MAIN(FrequencyAnalysisTest)
#include "tst_FrequencyAnalysis.moc"
