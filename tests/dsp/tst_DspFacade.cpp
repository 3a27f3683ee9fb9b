#include "audio/dsp/CalderwynDSP.h"

#include <QtTest/QtTest>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<float> noise(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    std::vector<float> v(count);
    for (float& x : v)
        x = dist(rng);
    return v;
}

AudioBlock stereoBlock(std::size_t frames)
{
    AudioBlock block;
    block.resize(2, frames);
    block.channels[0] = noise(frames, 1);
    block.channels[1] = noise(frames, 2);
    return block;
}

} // namespace

class DspFacadeTest : public QObject {
    Q_OBJECT
private slots:
    void bypassCopiesOnEveryEntry()
    {
        CalderwynDSP dsp;
        dsp.initialize(44100, 512);
        dsp.setGain(3.0f);
        dsp.setPan(0.8f);
        dsp.setReverbEnabled(true);
        dsp.setFilterEnabled(true);
        dsp.setBypass(true);
        QVERIFY(dsp.isBypassed());

        const std::vector<float> in = noise(3 * 100, 3);
        std::vector<float> out(in.size());
        dsp.process(in.data(), out.data(), 100, 3);
        QCOMPARE(out, in);

        const AudioBlock block = stereoBlock(256);
        const float* inPointers[2] = {block.channels[0].data(), block.channels[1].data()};
        std::vector<float> left(256), right(256);
        float* outPointers[2] = {left.data(), right.data()};
        dsp.processNonInterleaved(inPointers, outPointers, 256, 2);
        QCOMPARE(left, block.channels[0]);
        QCOMPARE(right, block.channels[1]);

        AudioBlock result;
        dsp.processBlock(block, result);
        QCOMPARE(result.channels, block.channels);
        QCOMPARE(result.frameCount, block.frameCount);
    }

    void freshFacadePansStereoBy0707()
    {
        CalderwynDSP dsp;
        const AudioBlock block = stereoBlock(100);
        AudioBlock out;
        dsp.processBlock(block, out);
        QCOMPARE(out.channelCount(), 2);
        for (int c = 0; c < 2; ++c) {
            for (std::size_t i = 0; i < 100; ++i)
                QCOMPARE(out.channels[c][i], block.channels[c][i] * 0.707f);
        }
    }

    void monoGetsGainOnly()
    {
        CalderwynDSP dsp;
        dsp.initialize(44100, 512);
        dsp.setGain(2.0f);
        dsp.setPan(-1.0f);
        dsp.setReverbEnabled(true);
        const std::vector<float> in = noise(1000, 4);
        std::vector<float> out(in.size());
        dsp.process(in.data(), out.data(), in.size(), 1);
        for (std::size_t i = 0; i < in.size(); ++i)
            QCOMPARE(out[i], in[i] * 2.0f);
        // The planar chain skips pan, delay and reverb for mono as well.
        const float* inPointer = in.data();
        float* outPointer = out.data();
        dsp.setDelayEnabled(true);
        dsp.setDelayTime(0.001f);
        dsp.processNonInterleaved(&inPointer, &outPointer, in.size(), 1);
        for (std::size_t i = 0; i < in.size(); ++i)
            QCOMPARE(out[i], in[i] * 2.0f);
    }

    void interleavedEntryLeavesFilterAndDelayOut()
    {
        CalderwynDSP dsp;
        dsp.initialize(44100, 512);
        dsp.setFilterEnabled(true);
        dsp.setFilterFrequency(200.0f);
        dsp.setDelayEnabled(true);
        dsp.setDelayTime(0.001f);
        dsp.setDelayMix(1.0f);
        const std::vector<float> in = noise(2 * 500, 5);
        std::vector<float> out(in.size());
        dsp.process(in.data(), out.data(), 500, 2);
        for (std::size_t i = 0; i < in.size(); ++i)
            QCOMPARE(out[i], in[i] * 0.707f);
    }

    void planarChainRunsInOrder()
    {
        // The chain against the processors run one after the other by hand.
        CalderwynDSP dsp;
        dsp.initialize(44100, 512);
        dsp.setGainDB(-6.0f);
        dsp.setPan(0.3f);
        dsp.setFilterType(FilterType::HighPass);
        dsp.setFilterFrequency(300.0f);
        dsp.setFilterQ(1.5f);
        dsp.setFilterEnabled(true);
        dsp.setDelayTime(0.004f);
        dsp.setDelayFeedback(0.6f);
        dsp.setDelayMix(0.4f);
        dsp.setDelayEnabled(true);
        dsp.setReverbRoomSize(0.8f);
        dsp.setReverbDamping(0.2f);
        dsp.setReverbWet(0.5f);
        dsp.setReverbEnabled(true);

        GainProcessor gain;
        gain.setGainDB(-6.0f);
        PannerProcessor panner;
        panner.setPan(0.3f);
        FilterProcessor filter;
        filter.setType(FilterType::HighPass);
        filter.setFrequency(300.0f);
        filter.setQ(1.5f);
        DelayProcessor delay;
        delay.setDelayTime(0.004f);
        delay.setFeedback(0.6f);
        delay.setMix(0.4f);
        ReverbProcessor reverb;
        reverb.initialize(44100);
        reverb.setRoomSize(0.8f);
        reverb.setDamping(0.2f);
        reverb.setWet(0.5f);

        AudioBlock expected = stereoBlock(3000);
        AudioBlock in = expected;
        AudioBlock out;
        // Two calls: every stage keeps its state from one block to the next.
        for (int pass = 0; pass < 2; ++pass) {
            dsp.processBlock(in, out);
            gain.processBlock(expected);
            panner.processBlock(expected);
            filter.processBlock(expected);
            delay.processBlock(expected);
            reverb.processBlock(expected);
            for (int c = 0; c < 2; ++c) {
                for (std::size_t i = 0; i < 3000; ++i)
                    QCOMPARE(out.channels[c][i], expected.channels[c][i]);
            }
            in = stereoBlock(3000);
            expected = in;
        }

        // reset silences every tail.
        dsp.reset();
        AudioBlock silence;
        silence.resize(2, 5000);
        dsp.processBlock(silence, silence);
        for (const auto& channel : silence.channels) {
            for (float v : channel)
                QCOMPARE(v, 0.0f);
        }
    }

    void initializeSetsTheFilterFrequency()
    {
        CalderwynDSP dsp;
        QCOMPARE(dsp.getFilterFrequency(), 1000.0f);
        dsp.initialize(44100, 512);
        QCOMPARE(dsp.getFilterFrequency(), 20000.0f);
        dsp.initialize(22050, 256);
        QCOMPARE(dsp.getFilterFrequency(), 11025.0f);
        QCOMPARE(dsp.getSampleRate(), 22050);
        QCOMPARE(dsp.getBlockSize(), 256);
        dsp.setGainDB(100.0f);
        QVERIFY(qAbs(dsp.getGainDB() - 12.0f) < 1e-4f);
        dsp.setGain(0.0f);
        QCOMPARE(dsp.getGainDB(), -96.0f);
        dsp.setPan(-3.0f);
        QCOMPARE(dsp.getPan(), -1.0f);
    }

    // The filter and the delay work at the facade's rate, set before or
    // after their own settings.
    void filterAndDelayRunAtTheFacadesRate()
    {
        constexpr int rate = 96000;
        CalderwynDSP filtered;
        filtered.setFilterFrequency(1000.0f);
        filtered.initialize(rate, 512);
        filtered.setFilterFrequency(1000.0f); // initialize opened it up again
        filtered.setFilterEnabled(true);
        std::vector<float> tone(rate / 10);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = float(std::sin(2.0 * M_PI * 1000.0 * double(i) / rate));
        const float* in = tone.data();
        std::vector<float> out(tone.size());
        float* outPointer = out.data();
        filtered.processNonInterleaved(&in, &outPointer, tone.size(), 1);
        float peak = 0.0f;
        for (std::size_t i = tone.size() / 2; i < tone.size(); ++i)
            peak = std::max(peak, std::abs(out[i]));
        // A Q of 0.707 passes its corner frequency at 0.707.
        QVERIFY2(std::abs(peak - 0.707f) < 0.01f, qPrintable(QString::number(peak)));

        CalderwynDSP delayed;
        delayed.setDelayTime(0.01f); // lines sized at the default rate first
        delayed.initialize(rate, 512);
        delayed.setDelayMix(0.5f);
        delayed.setDelayFeedback(0.0f);
        delayed.setDelayEnabled(true);
        AudioBlock impulse;
        impulse.resize(2, 2000);
        impulse.channels[0][0] = 1.0f;
        AudioBlock echo;
        delayed.processBlock(impulse, echo);
        const auto first = std::find_if(echo.channels[0].begin() + 1, echo.channels[0].end(),
                                        [](float v) { return v != 0.0f; });
        QCOMPARE(first - echo.channels[0].begin(), 960); // 10 ms at 96 kHz

        // Opened up to the new Nyquist frequency, the low-pass still passes
        // noise without blowing up.
        CalderwynDSP open;
        open.initialize(22050, 256);
        open.setFilterEnabled(true);
        const std::vector<float> hiss = noise(22050, 12);
        in = hiss.data();
        out.assign(hiss.size(), 0.0f);
        outPointer = out.data();
        open.processNonInterleaved(&in, &outPointer, hiss.size(), 1);
        double inEnergy = 0.0, outEnergy = 0.0;
        for (std::size_t i = 0; i < hiss.size(); ++i) {
            QVERIFY(std::isfinite(out[i]));
            inEnergy += double(hiss[i]) * hiss[i];
            outEnergy += double(out[i]) * out[i];
        }
        QVERIFY2(outEnergy > 0.8 * inEnergy && outEnergy < 1.1 * inEnergy,
                 qPrintable(QString::number(outEnergy / inEnergy)));
    }

    void processBlockSizesItsOutput()
    {
        CalderwynDSP dsp;
        dsp.initialize(48000, 128);
        AudioBlock in;
        in.resize(3, 64);
        in.channels[2] = noise(64, 9);
        AudioBlock out;
        dsp.processBlock(in, out);
        QCOMPARE(out.channelCount(), 3);
        QCOMPARE(out.frameCount, std::size_t(64));
        for (const auto& channel : out.channels)
            QCOMPARE(channel.size(), std::size_t(64));
        // Channels past the second get the gain only (1 here).
        QCOMPARE(out.channels[2], in.channels[2]);

        // A block whose vectors are shorter than its frame count is read only
        // as far as they go.
        AudioBlock ragged;
        ragged.channels = {std::vector<float>(10, 1.0f), std::vector<float>(4, 1.0f)};
        ragged.frameCount = 10;
        dsp.processBlock(ragged, out);
        QCOMPARE(out.channels[0].size(), std::size_t(10));
        QCOMPARE(out.channels[0][3], 0.707f);
        QCOMPARE(out.channels[0][9], 0.0f);
    }

    void wideInterleavedBuffersKeepTheirStride()
    {
        CalderwynDSP wide;
        CalderwynDSP stereo;
        for (CalderwynDSP* dsp : {&wide, &stereo}) {
            dsp->initialize(44100, 512);
            dsp->setGain(1.5f);
            dsp->setPan(-0.4f);
            dsp->setReverbEnabled(true);
        }
        const std::size_t frames = 3000;
        const std::vector<float> in = noise(4 * frames, 11);
        std::vector<float> out(in.size());
        wide.process(in.data(), out.data(), frames, 4);

        std::vector<float> pair(2 * frames);
        for (std::size_t f = 0; f < frames; ++f) {
            pair[2 * f] = in[4 * f];
            pair[2 * f + 1] = in[4 * f + 1];
        }
        stereo.process(pair.data(), pair.data(), frames, 2);
        for (std::size_t f = 0; f < frames; ++f) {
            QCOMPARE(out[4 * f], pair[2 * f]);
            QCOMPARE(out[4 * f + 1], pair[2 * f + 1]);
            QCOMPARE(out[4 * f + 2], in[4 * f + 2]);
            QCOMPARE(out[4 * f + 3], in[4 * f + 3]);
        }

        // In place as well.
        std::vector<float> buffer = in;
        CalderwynDSP again;
        again.initialize(44100, 512);
        again.setGain(1.5f);
        again.setPan(-0.4f);
        again.setReverbEnabled(true);
        again.process(buffer.data(), buffer.data(), frames, 4);
        QCOMPARE(buffer, out);
    }

    void reverbBeforeInitializePassesThrough()
    {
        CalderwynDSP dsp;
        dsp.setReverbEnabled(true);
        const std::vector<float> in = noise(200, 12);
        std::vector<float> out(in.size());
        dsp.process(in.data(), out.data(), 100, 2);
        for (std::size_t i = 0; i < in.size(); ++i)
            QCOMPARE(out[i], in[i] * 0.707f);
    }
};

QTEST_GUILESS_MAIN(DspFacadeTest)
#include "tst_DspFacade.moc"
