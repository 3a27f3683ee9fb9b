#include "audio/dsp/AudioBlock.h"
#include "audio/dsp/DelayProcessor.h"
#include "audio/dsp/FilterProcessor.h"
#include "audio/dsp/GainProcessor.h"
#include "audio/dsp/PannerProcessor.h"

#include <QtTest/QtTest>
#include <cmath>
#include <vector>

namespace {

// Frequency response at DC and Nyquist from a long impulse response.
struct Response {
    double dc = 0.0;
    double nyquist = 0.0;
};

Response measure(FilterProcessor& filter)
{
    std::vector<float> impulse(20000, 0.0f), h(20000);
    impulse[0] = 1.0f;
    filter.reset();
    filter.process(impulse.data(), h.data(), h.size());
    Response r;
    for (std::size_t i = 0; i < h.size(); ++i) {
        r.dc += h[i];
        r.nyquist += (i % 2 ? -1.0 : 1.0) * h[i];
    }
    r.nyquist = std::abs(r.nyquist);
    return r;
}

// Steady-state amplitude of a sine through the filter.
double sineGain(FilterProcessor& filter, double frequency)
{
    const int n = 44100;
    std::vector<float> x(n), y(n);
    for (int i = 0; i < n; ++i)
        x[i] = float(std::sin(2.0 * M_PI * frequency * i / 44100.0));
    filter.reset();
    filter.process(x.data(), y.data(), n);
    double peak = 0.0;
    for (int i = n / 2; i < n; ++i)
        peak = std::max(peak, double(std::abs(y[i])));
    return peak;
}

// Runs an impulse through the delay, out of place or in place, and returns
// the interleaved output.
std::vector<float> delayImpulse(DelayProcessor& delay, std::size_t frames, bool inPlace)
{
    std::vector<float> in(2 * frames, 0.0f), out(2 * frames, 0.0f);
    in[0] = 1.0f;
    // Uneven block sizes: the line positions carry over between calls.
    std::size_t done = 0, block = 1000;
    while (done < frames) {
        const std::size_t count = std::min(block, frames - done);
        if (inPlace)
            delay.process(in.data() + 2 * done, in.data() + 2 * done, count);
        else
            delay.process(in.data() + 2 * done, out.data() + 2 * done, count);
        done += count;
        block = block == 1000 ? 777 : 1000;
    }
    return inPlace ? in : out;
}

} // namespace

class BasicProcessorsTest : public QObject {
    Q_OBJECT
private slots:
    void blockResizeKeepsSamplesAndZeroesNewOnes()
    {
        AudioBlock block;
        block.resize(1, 3);
        block.channels[0] = {1.0f, 2.0f, 3.0f};
        block.resize(3, 5);
        QCOMPARE(block.channelCount(), 3);
        QCOMPARE(block.frameCount, std::size_t(5));
        QCOMPARE(block.channels[0], (std::vector<float>{1, 2, 3, 0, 0}));
        QCOMPARE(block.channels[2], std::vector<float>(5, 0.0f));
        block.resize(1, 2);
        QCOMPARE(block.channelCount(), 1);
        QCOMPARE(block.channels[0], (std::vector<float>{1, 2}));
    }

    void gainInDecibels()
    {
        GainProcessor gain;
        gain.setGainDB(20.0f);  // clamped to +12 dB
        QCOMPARE(gain.getGain(), std::pow(10.0f, 12.0f / 20.0f));
        QVERIFY(qAbs(gain.getGain() - 3.981f) < 1e-3f);
        gain.setGainDB(-100.0f);  // clamped to -60 dB
        QVERIFY(qAbs(gain.getGain() - 0.001f) < 1e-7f);
        QVERIFY(qAbs(gain.getGainDB() + 60.0f) < 1e-4f);
        gain.setGainDB(-6.0f);
        QVERIFY(qAbs(gain.getGainDB() + 6.0f) < 1e-4f);
        gain.setGain(0.0f);
        QCOMPARE(gain.getGainDB(), -96.0f);
        gain.setGain(9.0f);
        QCOMPARE(gain.getGain(), 4.0f);
        gain.setGain(-1.0f);
        QCOMPARE(gain.getGain(), 0.0f);
    }

    void gainProcessing()
    {
        GainProcessor gain;
        const std::vector<float> in = {0.5f, -0.25f, 1.5f};
        std::vector<float> out(3);
        gain.process(in.data(), out.data(), 3);
        QCOMPARE(out, in);
        gain.setGain(2.0f);
        gain.process(in.data(), out.data(), 3);
        QCOMPARE(out, (std::vector<float>{1.0f, -0.5f, 3.0f}));

        // Only the frame count is touched.
        AudioBlock block;
        block.channels = {{1.0f, 1.0f, 1.0f}, {2.0f, 2.0f, 2.0f}};
        block.frameCount = 2;
        gain.processBlock(block);
        QCOMPARE(block.channels[0], (std::vector<float>{2.0f, 2.0f, 1.0f}));
        QCOMPARE(block.channels[1], (std::vector<float>{4.0f, 4.0f, 2.0f}));
    }

    void constantPowerPan_data()
    {
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("right");
        QTest::newRow("hard left") << -1.0f << 1.0f << 0.0f;
        QTest::newRow("centre") << 0.0f << float(std::sqrt(0.5)) << float(std::sqrt(0.5));
        QTest::newRow("hard right") << 1.0f << 0.0f << 1.0f;
        QTest::newRow("clamped right") << 5.0f << 0.0f << 1.0f;
        QTest::newRow("half right") << 0.5f << float(std::cos(0.375 * M_PI))
                                    << float(std::sin(0.375 * M_PI));
    }
    void constantPowerPan()
    {
        QFETCH(float, pan);
        QFETCH(float, left);
        QFETCH(float, right);
        PannerProcessor panner;
        panner.setPan(pan);
        QVERIFY(qAbs(panner.getPan() - std::clamp(pan, -1.0f, 1.0f)) < 1e-7f);
        const std::vector<float> in = {1.0f, 1.0f, 0.5f, -0.5f};
        std::vector<float> out(4);
        panner.process(in.data(), out.data(), 2, 2);
        QVERIFY(qAbs(out[0] - left) < 1e-6f);
        QVERIFY(qAbs(out[1] - right) < 1e-6f);
        QVERIFY(qAbs(out[2] - 0.5f * left) < 1e-6f);
        QVERIFY(qAbs(out[3] + 0.5f * right) < 1e-6f);
        // Power is constant across the range.
        QVERIFY(qAbs(out[0] * out[0] + out[1] * out[1] - 1.0f) < 1e-5f);
    }

    void freshPannerUsesExactly0707()
    {
        PannerProcessor panner;
        std::vector<float> buffer = {1.0f, -2.0f};
        panner.process(buffer.data(), buffer.data(), 1, 2);
        QCOMPARE(buffer[0], 0.707f);
        QCOMPARE(buffer[1], -2.0f * 0.707f);
    }

    void pannerLeavesMonoAndExtraChannelsAlone()
    {
        PannerProcessor panner;
        panner.setPan(1.0f);
        const std::vector<float> mono = {0.3f, 0.4f};
        std::vector<float> out(2);
        panner.process(mono.data(), out.data(), 2, 1);
        QCOMPARE(out, mono);

        // Three interleaved channels: the third passes through.
        const std::vector<float> wide = {1.0f, 1.0f, 0.9f, 1.0f, 1.0f, 0.8f};
        std::vector<float> wideOut(6);
        panner.process(wide.data(), wideOut.data(), 2, 3);
        QCOMPARE(wideOut[2], 0.9f);
        QCOMPARE(wideOut[5], 0.8f);
        QVERIFY(qAbs(wideOut[0]) < 1e-6f);
        QCOMPARE(wideOut[4], 1.0f);

        AudioBlock block;
        block.resize(3, 2);
        for (auto& channel : block.channels)
            channel = {1.0f, 1.0f};
        panner.processBlock(block);
        QCOMPARE(block.channels[2], (std::vector<float>{1.0f, 1.0f}));
        QCOMPARE(block.channels[1], (std::vector<float>{1.0f, 1.0f}));
    }

    void filterResponses_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("dc");
        QTest::addColumn<double>("nyquist");
        QTest::addColumn<double>("atCentre");
        // Low- and high-pass have a gain of Q at the corner frequency.
        QTest::newRow("low-pass") << 0 << 1.0 << 0.0 << 0.707;
        QTest::newRow("high-pass") << 1 << 0.0 << 1.0 << 0.707;
        QTest::newRow("band-pass") << 2 << 0.0 << 0.0 << 1.0;
        QTest::newRow("notch") << 3 << 1.0 << 1.0 << 0.0;
    }
    void filterResponses()
    {
        QFETCH(int, type);
        QFETCH(double, dc);
        QFETCH(double, nyquist);
        QFETCH(double, atCentre);
        FilterProcessor filter;  // 1000 Hz, Q 0.707, 44100 Hz
        filter.setType(static_cast<FilterType>(type));
        const Response r = measure(filter);
        QVERIFY2(qAbs(r.dc - dc) < 1e-4, qPrintable(QString::number(r.dc)));
        QVERIFY2(qAbs(r.nyquist - nyquist) < 1e-4, qPrintable(QString::number(r.nyquist)));
        // At the corner frequency: Q for low/high-pass, 0 dB peak for the
        // band-pass, a zero for the notch.
        const double g = sineGain(filter, 1000.0);
        QVERIFY2(qAbs(g - atCentre) < 0.01, qPrintable(QString::number(g)));
    }

    void unknownFilterTypeKeepsCoefficients()
    {
        FilterProcessor filter;
        filter.setType(FilterType::HighPass);
        const Response before = measure(filter);
        filter.setType(static_cast<FilterType>(7));
        const Response after = measure(filter);
        QCOMPARE(after.dc, before.dc);
        QCOMPARE(after.nyquist, before.nyquist);
        QCOMPARE(int(filter.getType()), 7);
    }

    void filterStateRunsAcrossChannels()
    {
        FilterProcessor filter;
        filter.setFrequency(2000.0f);
        filter.setQ(2.0f);

        // processBlock: channel 1 starts from the state channel 0 left.
        std::vector<float> joined(200);
        for (std::size_t i = 0; i < joined.size(); ++i)
            joined[i] = float(std::sin(0.3 * double(i)));
        AudioBlock block;
        block.resize(2, 100);
        std::copy(joined.begin(), joined.begin() + 100, block.channels[0].begin());
        std::copy(joined.begin() + 100, joined.end(), block.channels[1].begin());
        filter.reset();
        filter.processBlock(block);
        std::vector<float> expected(200);
        filter.reset();
        filter.processChannel(joined.data(), expected.data(), 200);
        for (std::size_t i = 0; i < 100; ++i) {
            QCOMPARE(block.channels[0][i], expected[i]);
            QCOMPARE(block.channels[1][i], expected[100 + i]);
        }
    }

    void delayImpulseOutOfPlace()
    {
        DelayProcessor delay;
        delay.setDelayTime(0.5f);  // 44100 Hz: lines of 44100, delay 22050
        delay.setMix(1.0f);
        delay.setFeedback(0.0f);
        const std::vector<float> out = delayImpulse(delay, 44100 + 10, false);
        for (std::size_t f = 0; f < out.size() / 2; ++f) {
            QCOMPARE(out[2 * f], f == 22050 ? 1.0f : 0.0f);
            QCOMPARE(out[2 * f + 1], 0.0f);
        }
    }

    void delayPingPongFeedback()
    {
        DelayProcessor delay;
        delay.setDelayTime(0.5f);
        delay.setMix(1.0f);
        delay.setFeedback(0.5f);
        const std::size_t d = 22050;
        const std::vector<float> out = delayImpulse(delay, 4 * d + 5, false);
        // (frame, channel, value): alternating sides, halving each pass.
        const struct { std::size_t frame; int channel; float value; } echoes[] = {
            {d, 0, 1.0f}, {2 * d, 1, 0.5f}, {3 * d, 0, 0.25f}, {4 * d, 1, 0.125f}};
        std::vector<float> expected(out.size(), 0.0f);
        for (const auto& e : echoes)
            expected[2 * e.frame + e.channel] = e.value;
        for (std::size_t i = 0; i < out.size(); ++i)
            QVERIFY2(out[i] == expected[i], qPrintable(QStringLiteral("sample %1: %2").arg(i).arg(out[i])));
    }

    void delayInPlaceFeedsBackTheOutput()
    {
        DelayProcessor delay;
        delay.setDelayTime(0.01f);
        delay.setMix(1.0f);
        delay.setFeedback(0.5f);
        const std::vector<float> out = delayImpulse(delay, 3000, true);
        for (float v : out)
            QCOMPARE(v, 0.0f);
    }

    void delayBlockMatchesInPlaceInterleaved()
    {
        DelayProcessor a, b;
        for (DelayProcessor* d : {&a, &b}) {
            d->setDelayTime(0.003f);
            d->setFeedback(0.4f);
            d->setMix(0.3f);
        }
        AudioBlock block;
        block.resize(2, 600);
        std::vector<float> interleaved(1200);
        for (std::size_t i = 0; i < 600; ++i) {
            block.channels[0][i] = interleaved[2 * i] = float(std::sin(0.05 * double(i)));
            block.channels[1][i] = interleaved[2 * i + 1] = float(std::cos(0.07 * double(i)));
        }
        a.processBlock(block);
        b.process(interleaved.data(), interleaved.data(), 600);
        for (std::size_t i = 0; i < 600; ++i) {
            QCOMPARE(block.channels[0][i], interleaved[2 * i]);
            QCOMPARE(block.channels[1][i], interleaved[2 * i + 1]);
        }
    }

    void delayPassesThroughWithoutLines()
    {
        DelayProcessor fresh;
        const std::vector<float> in = {0.1f, 0.2f, 0.3f, 0.4f};
        std::vector<float> out(4);
        fresh.process(in.data(), out.data(), 2);
        QCOMPARE(out, in);
        DelayProcessor zero;
        zero.setDelayTime(0.0f);
        zero.setMix(1.0f);
        zero.process(in.data(), out.data(), 2);
        QCOMPARE(out, in);
    }

    void delayResizesStayInRange()
    {
        DelayProcessor delay;
        delay.setMix(1.0f);
        delay.setFeedback(0.0f);
        delay.setDelayTime(1.0f);
        delayImpulse(delay, 50000, false);  // write positions near 50000
        delay.setDelayTime(0.1f);           // lines shrink to 8820
        delay.reset();
        std::vector<float> out = delayImpulse(delay, 5000, false);
        QCOMPARE(out[2 * 4410], 1.0f);

        // A rate raised after sizing asks for more delay than the lines
        // hold; the longest they give is their length.
        delay.setSampleRate(96000.0f);
        delayImpulse(delay, 20000, false);
        delay.setDelayTime(0.1f);  // now sized for 96000 Hz
        delay.reset();
        out = delayImpulse(delay, 10000, false);
        QCOMPARE(out[2 * 9600], 1.0f);
    }
};

QTEST_GUILESS_MAIN(BasicProcessorsTest)
#include "tst_BasicProcessors.moc"
