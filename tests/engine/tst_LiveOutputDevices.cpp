// Live notes and the metronome through the real default output: the private
// PulseAudio null sink, recorded back from its loopback source.

#include "engine/devices/LiveAudioPlayer.h"
#include "engine/devices/Metronome.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "plugins/AudioPluginBridge.h"

#include "SignalChecks.h"
#include "TestSupport.h"

#include <QAudioSource>
#include <QMediaDevices>
#include <QtTest/QtTest>

namespace {

// Records the default input (the null sink's loopback) as mono floats.
class LoopbackRecorder : public QObject {
public:
    bool start()
    {
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull())
            return false;
        QAudioFormat format;
        format.setSampleRate(48000);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format))
            return false;
        rate = format.sampleRate();
        source = new QAudioSource(device, format, this);
        io = source->start();
        if (!io)
            return false;
        connect(io, &QIODevice::readyRead, this, [this] {
            const QByteArray bytes = io->readAll();
            const qint16* values = reinterpret_cast<const qint16*>(bytes.constData());
            for (qsizetype i = 0; i < bytes.size() / 2; ++i)
                samples.append(values[i] / 32768.0f);
        });
        // Streams start slowly: wait for data rather than for a fixed time.
        return QTest::qWaitFor([this] { return samples.size() > rate / 5; }, 15000);
    }

    // Waits until sound arrives; returns its first index, or -1.
    qsizetype waitForSound(qsizetype from, float threshold = 0.003f)
    {
        qsizetype found = -1;
        (void)QTest::qWaitFor([&] { return (found = SignalChecks::firstAbove(samples, threshold, from)) >= 0; }, 15000);
        return found;
    }

    bool waitForLength(qsizetype count)
    {
        return QTest::qWaitFor([&] { return samples.size() >= count; }, 20000);
    }

    QAudioSource* source = nullptr;
    QIODevice* io = nullptr;
    QList<float> samples;
    int rate = 48000;
};

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

} // namespace

class LiveOutputDevicesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        CDW_REQUIRE_PULSE();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void soundFontNoteIsHeard()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs Debian's timgm6mb-soundfont");
        SF2Sampler sf2;
        QVERIFY(sf2.loadSoundFont(kFont));
        const int flute = sf2.getPresetNames().indexOf("Flute TB"); // bank 0, program 73
        QVERIFY(flute >= 0);
        sf2.selectPreset(0, flute);
        playAndCheck([&] { sf2.noteOn(0, 69, 110); }, [&](LiveAudioPlayer& p) { p.setSf2Sampler(&sf2); }, 440.0);
    }

    void pianoNoteIsHeard_data()
    {
        QTest::addColumn<int>("requestedRate");
        QTest::newRow("44100") << 44100;
        // The device refuses 1 MHz: the piano renders at the rate the sink took.
        QTest::newRow("refused rate") << 1000000;
    }

    void pianoNoteIsHeard()
    {
        QFETCH(int, requestedRate);
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(":/piano"));
        playAndCheck([&] { piano.noteOn(69, 120); }, [&](LiveAudioPlayer& p) { p.setPianoSampler(&piano); }, 440.0,
                     requestedRate);
        QVERIFY(piano.sampleRate() > 0 && piano.sampleRate() <= 384000);
    }

    void startTwiceAndStopSilences()
    {
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(":/piano"));
        LiveAudioPlayer player;
        player.setPianoSampler(&piano);
        QVERIFY(player.start(44100));
        QVERIFY(player.isRunning());
        QVERIFY(player.start(22050)); // already running: nothing changes
        QCOMPARE(piano.sampleRate(), player.outputSampleRate());
        piano.noteOn(60, 100);
        player.stop();
        QVERIFY(!player.isRunning());
        std::vector<short> out(64, 1);
        piano.renderLive(out.data(), 32);
        QCOMPARE(out, std::vector<short>(64, 0)); // stop silenced the piano
    }

    void pluginSourceWithoutPluginsIsSilent()
    {
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(":/piano"));
        AudioPluginBridge bridge;
        bridge.initialize(48000, 512);
        LoopbackRecorder recorder;
        QVERIFY(recorder.start());
        LiveAudioPlayer player;
        player.setPianoSampler(&piano);
        player.setPluginInstrument(&bridge, 0); // takes precedence over the piano
        QVERIFY(player.start(48000));
        piano.noteOn(69, 127);
        const qsizetype from = recorder.samples.size();
        QVERIFY(recorder.waitForLength(from + recorder.rate));
        QVERIFY(SignalChecks::peak(recorder.samples, from) < 0.002f);
        player.stop();
    }

    void metronomeClicksAreHeard()
    {
        // The clicks are pushed from a GUI timer, so a machine starved of CPU
        // can underrun the sink and shift a click: measure up to three runs
        // and accept the first one heard without a gap.
        QString problem;
        for (int attempt = 0; attempt < 3; ++attempt) {
            problem = measureMetronomeRun();
            if (problem.isEmpty())
                return;
            qWarning("metronome run %d: %s", attempt + 1, qPrintable(problem));
        }
        QFAIL(qPrintable(problem));
    }

private:
    // One run of four clicks; an empty text when they were heard half a
    // second apart as plain, plain, plain, accented, else what was wrong.
    QString measureMetronomeRun()
    {
        LoopbackRecorder recorder;
        if (!recorder.start())
            return QStringLiteral("recorder did not start");
        const qsizetype from = recorder.samples.size();
        Metronome metronome;
        if (!metronome.start(44100, 120.0, 4))
            return QStringLiteral("metronome did not start");
        const qsizetype first = recorder.waitForSound(from, 0.01f);
        if (first < 0)
            return QStringLiteral("no click heard");
        if (!recorder.waitForLength(first + 2 * recorder.rate))
            return QStringLiteral("recording stalled");
        metronome.stop();

        const int rate = recorder.rate;
        const QList<float> take = recorder.samples.mid(first, 2 * rate);
        std::vector<qsizetype> onsets;
        for (qsizetype i = 0; i < take.size();) {
            const qsizetype onset = SignalChecks::firstAbove(take, 0.01f, i);
            if (onset < 0)
                break;
            onsets.push_back(onset);
            i = onset + rate / 5;
        }
        if (onsets.size() < 4)
            return QStringLiteral("%1 clicks").arg(onsets.size());
        for (size_t k = 0; k < 4; ++k) {
            if (k > 0 && qAbs(onsets[k] - onsets[k - 1] - rate / 2) >= rate / 100)
                return QStringLiteral("click %1 spaced %2 frames").arg(k).arg(onsets[k] - onsets[k - 1]);
            const QList<float> click = take.mid(onsets[k], rate / 25);
            const double frequency = SignalChecks::dominantFrequency(click, rate, 400, 1000);
            if (qAbs(frequency - (k == 3 ? 800.0 : 600.0)) >= 30.0)
                return QStringLiteral("click %1 at %2 Hz").arg(k).arg(frequency);
        }
        return {};
    }

    template <typename NoteOn, typename Attach>
    void playAndCheck(NoteOn noteOn, Attach attach, double expectedFrequency, int requestedRate = 44100)
    {
        LoopbackRecorder recorder;
        QVERIFY(recorder.start());
        LiveAudioPlayer player;
        attach(player);
        QVERIFY(player.start(requestedRate));
        const qsizetype from = recorder.samples.size();
        noteOn();
        const qsizetype onset = recorder.waitForSound(from);
        QVERIFY(onset >= 0);
        QVERIFY(recorder.waitForLength(onset + recorder.rate / 2));
        player.stop();
        const QList<float> sound = recorder.samples.mid(onset + recorder.rate / 20, recorder.rate / 3);
        QVERIFY(SignalChecks::rms(sound) > 0.005);
        const double frequency = SignalChecks::dominantFrequency(sound, recorder.rate, 100, 2000);
        QVERIFY2(qAbs(frequency - expectedFrequency) < 6.0, qPrintable(QString::number(frequency)));
    }
};

QTEST_GUILESS_MAIN(LiveOutputDevicesTest)
#include "tst_LiveOutputDevices.moc"
