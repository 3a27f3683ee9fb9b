#include "audio/dsp/Envelope.h"
#include "audio/dsp/Oscillator.h"
#include "audio/dsp/Synth.h"

#include <QtTest/QtTest>
#include <cmath>
#include <vector>

namespace {

// Samples until the envelope first reaches `stage` (from its present state).
int samplesUntilStage(Envelope& envelope, int stage, int limit = 1000000)
{
    for (int i = 1; i <= limit; ++i) {
        envelope.process();
        if (envelope.getStage() == stage)
            return i;
    }
    return -1;
}

// Rising zero crossings per second of a signal.
double frequencyOf(const std::vector<float>& x, double rate)
{
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * rate / double(last - first);
}

} // namespace

class SynthesizerTest : public QObject {
    Q_OBJECT
private slots:
    void waveformsStartFromPhaseZero_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<float>("first");
        QTest::newRow("sine") << 0 << 0.0f;
        QTest::newRow("square") << 1 << 1.0f;
        QTest::newRow("saw") << 2 << -1.0f;
        QTest::newRow("triangle") << 3 << 1.0f;
        // (0x7FFFFFFF & 0xFF) / 127.5 - 1 = 255 / 127.5 - 1
        QTest::newRow("noise") << 4 << 1.0f;
    }
    void waveformsStartFromPhaseZero()
    {
        QFETCH(int, type);
        QFETCH(float, first);
        Oscillator osc;
        osc.setType(static_cast<WaveformType>(type));
        QCOMPARE(osc.generateSample(), 0.0f);  // not running
        osc.start();
        QCOMPARE(osc.generateSample(), first);
        std::vector<float> block(1000);
        osc.generate(block.data(), block.size());
        for (float v : block)
            QVERIFY(v >= -1.0f && v <= 1.0f);
    }

    void oscillatorFrequencyAndDetune()
    {
        Oscillator osc;
        osc.setFrequency(441.0f);
        osc.start();
        std::vector<float> x(44100);
        osc.generate(x.data(), x.size());
        QVERIFY(qAbs(frequencyOf(x, 44100) - 441.0) < 0.5);
        osc.setDetune(1200.0f);  // one octave up
        osc.generate(x.data(), x.size());
        QVERIFY(qAbs(frequencyOf(x, 44100) - 882.0) < 1.0);
        osc.setFrequency(90000.0f);
        QCOMPARE(osc.getFrequency(), 48000.0f);
        // Above the sample rate the phase still stays within one cycle.
        osc.setType(WaveformType::Saw);
        osc.generate(x.data(), 1000);
        for (int i = 0; i < 1000; ++i)
            QVERIFY(x[i] >= -1.0f && x[i] <= 1.0f);
    }

    void envelopeStagesInSamples()
    {
        Envelope env;  // 0.01, 0.1, 0.7, 0.3 at 44100 Hz
        env.triggerAttack();
        QVERIFY(qAbs(samplesUntilStage(env, Envelope::Decay) - 441) <= 1);
        QCOMPARE(env.getLevel(), 1.0f);
        // 0.3 of full scale at 1/4410 per sample.
        QVERIFY(qAbs(samplesUntilStage(env, Envelope::Sustain) - 1323) <= 1);
        QCOMPARE(env.getLevel(), 0.7f);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(env.process(), 0.7f);
        env.triggerRelease();
        // 0.7 of full scale at 1/13230 per sample.
        QVERIFY(qAbs(samplesUntilStage(env, Envelope::Idle) - 9261) <= 2);
        QCOMPARE(env.getLevel(), 0.0f);
        QCOMPARE(env.process(), 0.0f);
    }

    void envelopeRetriggerAndClamps()
    {
        Envelope env;
        env.setAttack(0.0f);
        QCOMPARE(env.getAttack(), 0.001f);
        env.setRelease(100.0f);
        QCOMPARE(env.getRelease(), 10.0f);
        env.setSustain(1.5f);
        QCOMPARE(env.getSustain(), 1.0f);
        env.setSustain(0.5f);
        env.setAttack(0.01f);
        env.triggerAttack();
        samplesUntilStage(env, Envelope::Sustain);
        // A retrigger rises from the sustain level: half the attack time.
        env.triggerAttack();
        QVERIFY(qAbs(samplesUntilStage(env, Envelope::Decay) - 221) <= 1);
        // Release from idle ends at once.
        Envelope idle;
        idle.triggerRelease();
        QCOMPARE(idle.process(), 0.0f);
        QVERIFY(!idle.isActive());
    }

    void noteNumbersToFrequencies_data()
    {
        QTest::addColumn<int>("note");
        QTest::addColumn<float>("frequency");
        QTest::newRow("A4") << 69 << 440.0f;
        QTest::newRow("C4") << 60 << 261.63f;
        QTest::newRow("note 200 as 127") << 200 << 12543.85f;
        QTest::newRow("negative as 0") << -5 << 8.176f;
    }
    void noteNumbersToFrequencies()
    {
        QFETCH(int, note);
        QFETCH(float, frequency);
        Synth synth;
        synth.noteOn(note, 1.0f);
        const int voice = synth.findVoiceForNote(note);
        QCOMPARE(voice, 0);
        QVERIFY(qAbs(synth.voice(voice).noteFrequency() - frequency) < 0.01f * frequency / 100.0f + 0.005f);
        QCOMPARE(synth.voice(voice).velocity(), 1.0f);
    }

    void freshSynthPlaysSine()
    {
        Synth synth;
        QCOMPARE(synth.getWaveform(), WaveformType::Saw);
        for (int i = 0; i < Synth::kVoiceCount; ++i)
            QCOMPARE(synth.voice(i).oscillator().getType(), WaveformType::Sine);
        synth.setWaveform(WaveformType::Square);
        QCOMPARE(synth.voice(5).oscillator().getType(), WaveformType::Square);
    }

    void seventeenthNoteIsDropped()
    {
        Synth synth;
        for (int note = 40; note < 56; ++note)
            synth.noteOn(note, 0.5f);
        QCOMPARE(synth.getActiveVoices(), 16);
        QCOMPARE(synth.getFreeVoice(), -1);
        synth.noteOn(80, 1.0f);
        QCOMPARE(synth.getActiveVoices(), 16);
        QCOMPARE(synth.findVoiceForNote(80), -1);
        QCOMPARE(synth.findVoiceForNote(55), 15);
    }

    void noteOffNeverReleasesAReusedVoice()
    {
        Synth synth;
        synth.noteOn(60, 1.0f);
        synth.noteOff(60);
        QCOMPARE(synth.voice(0).envelope().getStage(), int(Envelope::Release));
        std::vector<float> out(44100);
        synth.processBlock(out.data(), out.size());  // the release ends
        QCOMPARE(synth.getActiveVoices(), 0);

        synth.noteOn(62, 1.0f);  // takes voice 0 again
        QCOMPARE(synth.findVoiceForNote(62), 0);
        QCOMPARE(synth.findVoiceForNote(60), -1);
        synth.noteOff(60);  // stale: must not touch note 62
        QCOMPARE(synth.voice(0).envelope().getStage(), int(Envelope::Attack));

        // A note played twice releases its oldest voice first.
        synth.noteOn(64, 1.0f);
        synth.noteOn(64, 1.0f);
        synth.noteOff(64);
        QCOMPARE(synth.voice(1).envelope().getStage(), int(Envelope::Release));
        QCOMPARE(synth.voice(2).envelope().getStage(), int(Envelope::Attack));
        QCOMPARE(synth.findVoiceForNote(64), 2);

        synth.allNotesOff();
        QCOMPARE(synth.voice(0).envelope().getStage(), int(Envelope::Release));
        QCOMPARE(synth.voice(2).envelope().getStage(), int(Envelope::Release));
        QCOMPARE(synth.findVoiceForNote(62), -1);
        synth.reset();
        QCOMPARE(synth.getActiveVoices(), 0);
    }

    void voicesRunAtTheSynthRate()
    {
        Synth synth;
        synth.setSampleRate(48000.0f);
        synth.setEnvelope(0.01f, 0.1f, 1.0f, 0.3f);
        synth.noteOn(69, 1.0f);
        std::vector<float> out(48000);
        synth.processBlock(out.data(), out.size());
        QVERIFY2(qAbs(frequencyOf(out, 48000) - 440.0) < 0.5,
                 qPrintable(QString::number(frequencyOf(out, 48000))));
        // Sustain 1 with velocity 1: the peak is 1/16 of full scale.
        float peak = 0.0f;
        for (float v : out)
            peak = std::max(peak, std::abs(v));
        QVERIFY(qAbs(peak - 0.0625f) < 1e-4f);
        // Attack of 0.01 s is 480 samples at 48000 Hz.
        Envelope env;
        env.setSampleRate(48000.0f);
        env.triggerAttack();
        QVERIFY(qAbs(samplesUntilStage(env, Envelope::Decay) - 480) <= 1);
    }

    void releaseFreesTheVoice()
    {
        Synth synth;
        // Release over 441 samples from full scale: about 220 from sustain 0.5.
        synth.setEnvelope(0.001f, 0.001f, 0.5f, 0.01f);
        synth.noteOn(69, 0.5f);
        QCOMPARE(synth.voice(0).velocity(), 0.5f);
        std::vector<float> out(1000);
        synth.processBlock(out.data(), out.size());
        synth.noteOff(69);
        synth.processBlock(out.data(), 215);
        QCOMPARE(synth.getActiveVoices(), 1);
        synth.processBlock(out.data(), 10);
        QCOMPARE(synth.getActiveVoices(), 0);
        QVERIFY(!synth.voice(0).oscillator().isRunning());
        synth.processBlock(out.data(), 10);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(out[i], 0.0f);
    }
};

QTEST_GUILESS_MAIN(SynthesizerTest)
#include "tst_Synthesizer.moc"
