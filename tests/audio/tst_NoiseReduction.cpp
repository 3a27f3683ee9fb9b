#include "TestSupport.h"
#include "audio/AudioProcessor.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest/QtTest>
#include <cmath>
#include <complex>
#include <vector>

#ifdef CDW_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

QList<float> whiteNoise(qsizetype count, float amplitude, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<float> out(count);
    for (float& v : out)
        v = amplitude * float(random.generateDouble() * 2.0 - 1.0);
    return out;
}

std::vector<float> hann(int n)
{
    std::vector<float> w(n);
    for (int i = 0; i < n; ++i)
        w[i] = float(0.5 * (1.0 - std::cos(2.0 * M_PI * i / (n - 1))));
    return w;
}

// Σ w² over the frames (hop N/4) that cover value i of a list of `length`.
double coverage(qsizetype i, qsizetype length, int n = 2048)
{
    static const std::vector<float> w = hann(2048);
    double sum = 0.0;
    for (qsizetype start = 0; start + n <= length; start += n / 4) {
        if (i >= start && i < start + n)
            sum += double(w[i - start]) * w[i - start];
    }
    return sum;
}

double rms(const QList<float>& list, qsizetype from, qsizetype to)
{
    double sum = 0.0;
    for (qsizetype i = from; i < to; ++i)
        sum += double(list[i]) * list[i];
    return std::sqrt(sum / double(to - from));
}

// Amplitude of the component at `hz` over [from, to), by projection.
double toneAmplitude(const QList<float>& list, double hz, int rate, qsizetype from, qsizetype to)
{
    double c = 0.0, s = 0.0;
    for (qsizetype i = from; i < to; ++i) {
        const double phase = 2.0 * M_PI * hz * double(i) / rate;
        c += list[i] * std::cos(phase);
        s += list[i] * std::sin(phase);
    }
    return 2.0 * std::hypot(c, s) / double(to - from);
}

} // namespace

class NoiseReductionTest : public QObject {
    Q_OBJECT
private slots:
    void transformMatchesTheDefinition_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("2") << 2;
        QTest::newRow("16") << 16;
        QTest::newRow("512") << 512;
    }

    void transformMatchesTheDefinition()
    {
        QFETCH(int, n);
        QRandomGenerator random(n);
        std::vector<float> re(n), im(n);
        std::vector<std::complex<double>> input(n);
        for (int i = 0; i < n; ++i) {
            input[i] = {random.generateDouble() - 0.5, random.generateDouble() - 0.5};
            re[i] = float(input[i].real());
            im[i] = float(input[i].imag());
        }
        AudioProcessor::fftReal(re.data(), im.data(), n, false);
        // Forward: X[k] = Σ x[t]·e^(−2πikt/n), unscaled.
        for (int k = 0; k < n; ++k) {
            std::complex<double> sum;
            for (int t = 0; t < n; ++t)
                sum += input[t] * std::polar(1.0, -2.0 * M_PI * double(k) * t / n);
            QVERIFY(std::abs(sum - std::complex<double>(re[k], im[k])) < 1e-4 * std::sqrt(n));
        }
        AudioProcessor::fftReal(re.data(), im.data(), n, true);
        for (int i = 0; i < n; ++i)
            QVERIFY(std::abs(input[i] - std::complex<double>(re[i], im[i])) < 1e-5);
    }

    void profileNeedsAWholeFrame()
    {
        AudioProcessor p;
        p.channels = 1;
        p.samples = whiteNoise(5000, 0.1f, 1);
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        p.analyzeNoiseProfile(100, 100 + 2047);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(),
                 QStringLiteral("噪声样本太短，至少需要 2048 个采样点"));
        QVERIFY(p.noiseProfile.isEmpty());

        // Exactly one frame: bin k is |Σ x·w·e^(−2πikt/N)|².
        p.analyzeNoiseProfile(100, 100 + 2048);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(p.noiseProfile.size(), 1025);
        const std::vector<float> w = hann(2048);
        for (int k : {0, 1, 100, 511, 1024}) {
            std::complex<double> sum;
            for (int t = 0; t < 2048; ++t)
                sum += double(p.samples[100 + t] * w[t]) * std::polar(1.0, -2.0 * M_PI * k * t / 2048.0);
            const double expected = std::norm(sum);
            QVERIFY2(std::fabs(p.noiseProfile[k] - expected) < 1e-3 * expected + 1e-6,
                     qPrintable(QStringLiteral("bin %1: %2 vs %3").arg(k).arg(p.noiseProfile[k]).arg(expected)));
        }

        // A later failure keeps the profile.
        const QList<float> kept = p.noiseProfile;
        p.analyzeNoiseProfile(4000, 9000);
        QCOMPARE(p.noiseProfile, kept);
    }

    void reductionNeedsAProfile()
    {
        AudioProcessor p;
        p.samples = whiteNoise(4096, 0.1f, 2);
        const QList<float> before = p.samples;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        p.applyNoiseReduction(1.0f);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(),
                 QStringLiteral("请先框选一段噪声样本并分析噪声特征"));
        QCOMPARE(p.samples, before);

        // A profile from another transform size is no profile either.
        p.analyzeNoiseProfile(0, 4096);
        p.noiseFftSize = 1024;
        p.applyNoiseReduction(1.0f);
        QCOMPARE(errors.count(), 2);
        QCOMPARE(p.samples, before);
    }

    void amountZeroIsTheIdentity()
    {
        AudioProcessor p;
        p.samples = whiteNoise(20000, 0.5f, 3);
        p.analyzeNoiseProfile(0, 20000);
        const QList<float> before = p.samples;
        p.applyNoiseReduction(0.0f);
        // Every gain is 1; what is left is the rounding of the transforms,
        // divided by the window coverage (small near the ends).
        for (qsizetype i = 0; i < before.size(); ++i) {
            const double c = coverage(i, before.size());
            if (c <= 1e-6)
                QCOMPARE(p.samples[i], before[i]);
            else
                QVERIFY2(std::fabs(p.samples[i] - before[i]) * c < 1e-6, qPrintable(QString::number(i)));
        }
    }

    void amountAboveOneActsAsOne()
    {
        AudioProcessor a, b;
        a.samples = whiteNoise(12000, 0.3f, 4);
        a.analyzeNoiseProfile(0, 6000);
        b.samples = a.samples;
        b.noiseProfile = a.noiseProfile;
        a.applyNoiseReduction(1.5f);
        b.applyNoiseReduction(1.0f);
        QCOMPARE(a.samples, b.samples);
    }

    void everyValueIsProcessed()
    {
        // 3000 values: the first value and the tail past the last whole frame
        // are reduced like the rest, not left as they were.
        AudioProcessor p;
        p.samples = whiteNoise(3000, 0.3f, 5);
        p.analyzeNoiseProfile(0, 3000);
        const QList<float> before = p.samples;
        p.applyNoiseReduction(1.0f);
        auto energy = [](const QList<float>& list, qsizetype from, qsizetype to) {
            double sum = 0.0;
            for (qsizetype i = from; i < to; ++i)
                sum += double(list[i]) * list[i];
            return sum;
        };
        QVERIFY(energy(p.samples, 0, 64) < 0.5 * energy(before, 0, 64));
        QVERIFY(energy(p.samples, 2560, 3000) < 0.5 * energy(before, 2560, 3000));
        QVERIFY(energy(p.samples, 1000, 1500) < 0.5 * energy(before, 1000, 1500));

        // A list shorter than one frame is left alone.
        p.samples = whiteNoise(2047, 0.3f, 6);
        const QList<float> shortList = p.samples;
        QSignalSpy processed(&p, &AudioProcessor::audioProcessed);
        p.applyNoiseReduction(1.0f);
        QCOMPARE(p.samples, shortList);
        QCOMPARE(processed.count(), 1);
    }

    void noiseIsRemovedAndTheToneKept()
    {
        // 1 s of noise, then 2 s of noise with a 1 kHz tone; the profile
        // comes from the noise-only second.
        const int rate = 44100;
        QList<float> signal = whiteNoise(3 * rate, 0.05f, 7);
        const QList<float> tone = TestSupport::sineWave(1000.0, 2.0, rate, 0.3f);
        for (qsizetype i = 0; i < tone.size(); ++i)
            signal[rate + i] += tone[i];
        AudioProcessor p;
        p.sampleRate = rate;
        p.channels = 1;
        p.samples = signal;
        p.analyzeNoiseProfile(0, rate);
        p.applyNoiseReduction(1.0f);

        const double noiseBefore = rms(signal, 2048, rate - 2048);
        const double noiseAfter = rms(p.samples, 2048, rate - 2048);
        const double noiseDrop = 20.0 * std::log10(noiseBefore / noiseAfter);
        QVERIFY2(noiseDrop >= 4.0, qPrintable(QString::number(noiseDrop)));

        const qsizetype from = rate + 4096, to = 3 * rate - 4096;
        const double toneChange = 20.0 * std::log10(toneAmplitude(p.samples, 1000.0, rate, from, to)
                                                    / toneAmplitude(signal, 1000.0, rate, from, to));
        QVERIFY2(std::fabs(toneChange) <= 1.0, qPrintable(QString::number(toneChange)));
    }

    // The ends of the list are treated like its middle: reduction never
    // makes the first or last frame louder than it was.
    void endsAreNotAmplified()
    {
        const int rate = 44100;
        QList<float> signal = whiteNoise(3 * rate, 0.1f, 5);
        const QList<float> tone = TestSupport::sineWave(1000.0, 3.0, rate, 0.3f);
        for (qsizetype i = 0; i < signal.size(); ++i)
            signal[i] += tone[i];
        AudioProcessor p;
        p.samples = signal;
        p.analyzeNoiseProfile(0, rate);
        p.applyNoiseReduction(0.5f);
        auto rms = [](const QList<float>& list, qsizetype from, qsizetype to) {
            double sum = 0.0;
            for (qsizetype i = from; i < to; ++i)
                sum += double(list[i]) * list[i];
            return std::sqrt(sum / double(to - from));
        };
        const qsizetype n = 2048, end = signal.size();
        const double middleRatio = rms(p.samples, rate, rate + n) / rms(signal, rate, rate + n);
        const double headRatio = rms(p.samples, 0, n) / rms(signal, 0, n);
        const double tailRatio = rms(p.samples, end - n, end) / rms(signal, end - n, end);
        QVERIFY2(middleRatio < 1.0, qPrintable(QString::number(middleRatio)));
        QVERIFY2(headRatio < 1.0 && std::fabs(20 * std::log10(headRatio / middleRatio)) < 1.5,
                 qPrintable(QString::number(headRatio)));
        QVERIFY2(tailRatio < 1.0 && std::fabs(20 * std::log10(tailRatio / middleRatio)) < 1.5,
                 qPrintable(QString::number(tailRatio)));
    }

#ifdef CDW_HAVE_FFTW
    void matchesAFrameByFrameReference()
    {
        // The subtraction done one frame per transform with FFTW: Hann frames
        // at hop N/4 on a grid from N − hop before the first value past the
        // last one (zeros outside), g = max(0, (m² − (a·noise)²)/m²),
        // weighted overlap-add divided by the summed squared window.
        const int n = 2048, hop = 512;
        AudioProcessor p;
        QList<float> signal = whiteNoise(17000, 0.1f, 8);
        const QList<float> tone = TestSupport::sineWave(440.0, 17000.0 / 44100.0, 44100, 0.2f);
        for (qsizetype i = 8000; i < signal.size(); ++i)
            signal[i] += tone[i];
        p.samples = signal;
        p.analyzeNoiseProfile(0, 8000);
        const float amount = 0.8f;
        const QList<float> profile = p.noiseProfile;
        p.applyNoiseReduction(amount);

        const std::vector<float> w = hann(n);
        const qsizetype pad = n - hop;
        std::vector<double> out(signal.size() + pad + n, 0.0), weight(signal.size() + pad + n, 0.0);
        auto valueAt = [&](qsizetype at) { return at >= 0 && at < signal.size() ? signal[at] : 0.0f; };
        fftwf_complex* buffer = fftwf_alloc_complex(n);
        fftwf_plan forward = fftwf_plan_dft_1d(n, buffer, buffer, FFTW_FORWARD, FFTW_ESTIMATE);
        fftwf_plan backward = fftwf_plan_dft_1d(n, buffer, buffer, FFTW_BACKWARD, FFTW_ESTIMATE);
        for (qsizetype start = -pad; start < signal.size(); start += hop) {
            for (int i = 0; i < n; ++i) {
                buffer[i][0] = valueAt(start + i) * w[i];
                buffer[i][1] = 0.0f;
            }
            fftwf_execute(forward);
            for (int k = 0; k <= n / 2; ++k) {
                const double m2 = double(buffer[k][0]) * buffer[k][0] + double(buffer[k][1]) * buffer[k][1];
                if (m2 < 1e-20)
                    continue;
                const double noise = amount * std::sqrt(profile[k]);
                const double g = std::max(0.0, (m2 - noise * noise) / m2);
                buffer[k][0] *= float(g);
                buffer[k][1] *= float(g);
                if (k > 0 && k < n / 2) {
                    buffer[n - k][0] *= float(g);
                    buffer[n - k][1] *= float(g);
                }
            }
            fftwf_execute(backward);
            for (int i = 0; i < n; ++i) {
                out[pad + start + i] += buffer[i][0] / n * w[i];
                weight[pad + start + i] += double(w[i]) * w[i];
            }
        }
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(backward);
        fftwf_free(buffer);

        for (qsizetype i = 0; i < signal.size(); ++i) {
            // Every value is covered by full frames, the first and last too.
            QVERIFY(weight[pad + i] > 1.0);
            const double expected = out[pad + i] / weight[pad + i];
            QVERIFY2(std::fabs(p.samples[i] - expected) < 1e-6,
                     qPrintable(QStringLiteral("%1: %2 vs %3").arg(i).arg(p.samples[i]).arg(expected)));
        }
    }
#endif
};

QTEST_GUILESS_MAIN(NoiseReductionTest)
#include "tst_NoiseReduction.moc"
