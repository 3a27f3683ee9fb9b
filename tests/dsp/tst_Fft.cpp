#include "audio/dsp/Fft.h"

#include <QtTest/QtTest>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#ifdef CDW_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<float> randomSignal(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(count);
    for (float& x : v)
        x = dist(rng);
    return v;
}

// Direct DFT in double precision as the reference.
std::vector<std::complex<double>> dft(const std::vector<std::complex<double>>& x, double sign)
{
    const std::size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t t = 0; t < n; ++t)
            sum += x[t] * std::polar(1.0, sign * 2.0 * M_PI * double((k * t) % n) / double(n));
        out[k] = sum;
    }
    return out;
}

} // namespace

class FftTest : public QObject {
    Q_OBJECT
private slots:
    void complexMatchesDirectDft_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("positive");
        for (int n : {1, 2, 4, 8, 16, 64, 512}) {
            QTest::addRow("n%d forward", n) << n << false;
            QTest::addRow("n%d positive", n) << n << true;
        }
    }
    void complexMatchesDirectDft()
    {
        QFETCH(int, size);
        QFETCH(bool, positive);
        const std::vector<float> data = randomSignal(2 * size, 7 + size);
        std::vector<std::complex<double>> x(size);
        for (int i = 0; i < size; ++i)
            x[i] = {data[2 * i], data[2 * i + 1]};
        const auto expected = dft(x, positive ? 1.0 : -1.0);

        Fft fft(size);
        std::vector<float> got = data;
        fft.transform(got.data(), positive, false);
        for (int k = 0; k < size; ++k) {
            QVERIFY(std::abs(got[2 * k] - expected[k].real()) < 1e-4 * std::sqrt(size) + 1e-5);
            QVERIFY(std::abs(got[2 * k + 1] - expected[k].imag()) < 1e-4 * std::sqrt(size) + 1e-5);
        }
    }

    void inverseUndoesForward()
    {
        for (std::size_t n : {1u, 2u, 32u, 4096u}) {
            const std::vector<float> data = randomSignal(2 * n, 3);
            Fft fft(n);
            std::vector<float> work = data;
            fft.forward(work.data());
            fft.inverse(work.data());
            for (std::size_t i = 0; i < 2 * n; ++i)
                QVERIFY(std::abs(work[i] - data[i]) < 1e-5f);
        }
    }

    void sizesRoundUpToPowersOfTwo()
    {
        QCOMPARE(Fft(1000).size(), std::size_t(1024));
        QCOMPARE(Fft(1024).size(), std::size_t(1024));
        QCOMPARE(RealFft(1).size(), std::size_t(2));
        QVERIFY(Fft::isPowerOfTwo(4096));
        QVERIFY(!Fft::isPowerOfTwo(0));
        QCOMPARE(Fft::nextPowerOfTwo(4057), std::size_t(4096));
    }

    void realMatchesDirectDft_data()
    {
        QTest::addColumn<int>("size");
        for (int n : {2, 4, 8, 32, 256})
            QTest::addRow("n%d", n) << n;
    }
    void realMatchesDirectDft()
    {
        QFETCH(int, size);
        const std::vector<float> data = randomSignal(size, 11 + size);
        std::vector<std::complex<double>> x(data.begin(), data.end());
        const auto expected = dft(x, -1.0);

        RealFft fft(size);
        QCOMPARE(fft.binCount(), std::size_t(size / 2 + 1));
        std::vector<float> bins(size + 2);
        fft.forward(data.data(), bins.data());
        for (int k = 0; k <= size / 2; ++k) {
            QVERIFY(std::abs(bins[2 * k] - expected[k].real()) < 1e-4 * std::sqrt(size));
            QVERIFY(std::abs(bins[2 * k + 1] - expected[k].imag()) < 1e-4 * std::sqrt(size));
        }

        std::vector<float> back(size + 2);
        fft.inverse(bins.data(), back.data());
        for (int i = 0; i < size; ++i)
            QVERIFY(std::abs(back[i] - data[i]) < 1e-5f);
        // In place as well.
        fft.inverse(bins.data(), bins.data());
        for (int i = 0; i < size; ++i)
            QVERIFY(std::abs(bins[i] - data[i]) < 1e-5f);
    }

#ifdef CDW_HAVE_FFTW
    void realMatchesFftwAtVocoderSize()
    {
        const int n = 4096;
        std::vector<float> data = randomSignal(n, 5);
        std::vector<float> input = data;
        std::vector<fftwf_complex> ref(n / 2 + 1);
        fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, input.data(), ref.data(), FFTW_ESTIMATE);
        fftwf_execute(plan);
        fftwf_destroy_plan(plan);

        RealFft fft(n);
        std::vector<float> bins(n + 2);
        fft.forward(data.data(), bins.data());
        double worst = 0.0;
        for (int k = 0; k <= n / 2; ++k) {
            worst = std::max(worst, double(std::abs(bins[2 * k] - ref[k][0])));
            worst = std::max(worst, double(std::abs(bins[2 * k + 1] - ref[k][1])));
        }
        QVERIFY2(worst < 2e-3, qPrintable(QString::number(worst)));
    }
#endif
};

QTEST_GUILESS_MAIN(FftTest)
#include "tst_Fft.moc"
