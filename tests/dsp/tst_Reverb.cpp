#include "audio/dsp/ReverbProcessor.h"

#include <QtTest/QtTest>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Interleaved stereo impulse response of `frames` frames, impulse on the left.
std::vector<float> impulseResponse(ReverbProcessor& reverb, std::size_t frames)
{
    std::vector<float> buffer(2 * frames, 0.0f);
    buffer[0] = 1.0f;
    reverb.process(buffer.data(), buffer.data(), frames);
    return buffer;
}

double energy(const std::vector<float>& interleaved, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t f = from; f < to; ++f)
        sum += double(interleaved[2 * f]) * interleaved[2 * f];
    return sum;
}

} // namespace

class ReverbTest : public QObject {
    Q_OBJECT
private slots:
    void firstReflectionAt44100()
    {
        ReverbProcessor reverb;  // room 0.5, damping 0.5, wet 0.3
        reverb.initialize(44100);
        const std::vector<float> out = impulseResponse(reverb, 3000);
        // Dry part, then silence until the shortest comb (1116 + 1102 = 2218)
        // returns the impulse through four all-passes, each passing -0.5 of
        // its input straight on.
        QCOMPARE(out[0], 0.7f);
        for (std::size_t f = 1; f < 2218; ++f)
            QCOMPARE(out[2 * f], 0.0f);
        QCOMPARE(out[2 * 2218], 0.3f * 0.0625f);
        // The channels do not mix.
        for (std::size_t f = 0; f < 3000; ++f)
            QCOMPARE(out[2 * f + 1], 0.0f);
    }

    void combAndAllPassSizesAt48000()
    {
        ReverbProcessor reverb;
        reverb.initialize(48000);  // spread 1200
        reverb.setRoomSize(0.0f);  // each comb echoes once
        const std::vector<float> out = impulseResponse(reverb, 4000);
        const std::vector<std::size_t> combs = {2316, 2388, 2477, 2556, 2622, 2691, 2757, 2817};
        // Before the shortest all-pass (225 + 1200 = 1425) sends back the
        // first comb echo, the output holds the eight echoes alone.
        for (std::size_t f = 1; f < 2316 + 1425; ++f) {
            const bool echo = std::find(combs.begin(), combs.end(), f) != combs.end();
            QVERIFY2(out[2 * f] == (echo ? 0.3f * 0.0625f : 0.0f), qPrintable(QString::number(f)));
        }
        // The last all-pass got -0.125 from the first echo and returns it.
        QCOMPARE(out[2 * (2316 + 1425)], 0.3f * -0.125f);
    }

    void wetZeroPassesTheInputExactly()
    {
        ReverbProcessor reverb;
        reverb.initialize(44100);
        reverb.setWet(0.0f);
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        std::vector<float> in(2 * 5000);
        for (float& v : in)
            v = dist(rng);
        std::vector<float> out(in.size());
        reverb.process(in.data(), out.data(), 5000);
        QCOMPARE(out, in);
    }

    void dampingAndRoomSizeShapeTheTail()
    {
        // Damping 0 keeps the filter stores at 0: no comb recirculates, so
        // only the all-pass tails remain after them (the tail dies out).
        ReverbProcessor dry;
        dry.initialize(44100);
        dry.setDamping(0.0f);
        dry.setRoomSize(1.0f);
        const std::vector<float> dead = impulseResponse(dry, 60000);
        QVERIFY(energy(dead, 40000, 60000) < 1e-6 * energy(dead, 10000, 20000));

        // Damping 1 and room size 1: lossless loops, the tail does not decay.
        ReverbProcessor live;
        live.initialize(44100);
        live.setDamping(1.0f);
        live.setRoomSize(1.0f);
        const std::vector<float> ring = impulseResponse(live, 120000);
        const double early = energy(ring, 20000, 40000);
        const double late = energy(ring, 100000, 120000);
        QVERIFY(early > 0.0);
        QVERIFY2(late > 0.5 * early, qPrintable(QStringLiteral("%1 %2").arg(early).arg(late)));
    }

    void resetSilencesTheTail()
    {
        ReverbProcessor reverb;
        reverb.initialize(44100);
        impulseResponse(reverb, 5000);
        reverb.reset();
        std::vector<float> silence(2 * 10000, 0.0f);
        reverb.process(silence.data(), silence.data(), 10000);
        for (float v : silence)
            QCOMPARE(v, 0.0f);
    }

    void blockMatchesInterleaved()
    {
        ReverbProcessor a, b;
        a.initialize(44100);
        b.initialize(44100);
        AudioBlock block;
        block.resize(3, 4000);
        std::vector<float> interleaved(8000);
        for (std::size_t i = 0; i < 4000; ++i) {
            block.channels[0][i] = interleaved[2 * i] = float(std::sin(0.01 * double(i)));
            block.channels[1][i] = interleaved[2 * i + 1] = i == 7 ? 1.0f : 0.0f;
            block.channels[2][i] = 0.25f;
        }
        a.processBlock(block);
        b.process(interleaved.data(), interleaved.data(), 4000);
        for (std::size_t i = 0; i < 4000; ++i) {
            QCOMPARE(block.channels[0][i], interleaved[2 * i]);
            QCOMPARE(block.channels[1][i], interleaved[2 * i + 1]);
            QCOMPARE(block.channels[2][i], 0.25f);
        }
    }

    void passesThroughBeforeInitialize()
    {
        ReverbProcessor reverb;
        const std::vector<float> in = {0.5f, -0.5f, 0.25f, 0.75f};
        std::vector<float> out(4);
        reverb.process(in.data(), out.data(), 2);
        QCOMPARE(out, in);
        AudioBlock block;
        block.resize(2, 2);
        block.channels[0] = {0.5f, 0.25f};
        reverb.processBlock(block);
        QCOMPARE(block.channels[0], (std::vector<float>{0.5f, 0.25f}));
    }

    void secondInitializeResizesAndClears()
    {
        ReverbProcessor reverb;
        reverb.initialize(48000);
        impulseResponse(reverb, 3000);
        reverb.initialize(44100);
        const std::vector<float> out = impulseResponse(reverb, 2500);
        for (std::size_t f = 1; f < 2218; ++f)
            QCOMPARE(out[2 * f], 0.0f);
        QCOMPARE(out[2 * 2218], 0.3f * 0.0625f);
    }
};

QTEST_GUILESS_MAIN(ReverbTest)
#include "tst_Reverb.moc"
