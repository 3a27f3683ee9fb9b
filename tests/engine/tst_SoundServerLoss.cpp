// The sound server quitting under running streams: the live output and the
// metronome stop writing to push devices that Qt has deleted, the device
// engines stop calling back faster than real time, and every later start
// fails by result. The test runs a PulseAudio server of its own, so that
// stopping it disturbs no other test.
#include "engine/devices/AudioEngine.h"
#include "engine/devices/LiveAudioPlayer.h"
#include "engine/devices/Metronome.h"
#include "engine/devices/MultiTrackAudioEngine.h"
#include "engine/instruments/PianoSampler.h"

#include "TestSupport.h"

#include <QtTest/QtTest>

#include <atomic>

namespace {

constexpr int kRate = 48000;

bool serverAnswers()
{
    return TestSupport::runCommand("pactl", {"info"}, nullptr, 5000);
}

} // namespace

class SoundServerLossTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    bool started = false;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        if (!TestSupport::hasCommand("pulseaudio") || !TestSupport::hasCommand("pactl")) {
            if (TestSupport::serversRequired())
                QFAIL("needs pulseaudio and pactl");
            QSKIP("needs pulseaudio and pactl");
        }
        QVERIFY(runtime.isValid());
        // Before anything in this process reaches a server.
        qunsetenv("PULSE_SERVER");
        qputenv("PULSE_RUNTIME_PATH", runtime.filePath("pulse").toUtf8());
        qputenv("PULSE_STATE_PATH", runtime.filePath("pulse/state").toUtf8());
        QVERIFY(QDir().mkpath(runtime.filePath("pulse/state")));
        QVERIFY(TestSupport::runCommand(
            "pulseaudio",
            {"--daemonize=yes", "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
             "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=nullsink rate=48000",
             "--load=module-remap-source master=nullsink.monitor source_name=loopmic"},
            nullptr, 30000));
        started = true;
        QVERIFY(QTest::qWaitFor(serverAnswers, 10000));
        QVERIFY(TestSupport::runCommand("pactl", {"set-default-sink", "nullsink"}));
        QVERIFY(TestSupport::runCommand("pactl", {"set-default-source", "loopmic"}));
    }

    void cleanupTestCase()
    {
        if (started)
            TestSupport::runCommand("pulseaudio", {"--kill"}, nullptr, 10000);
    }

    void streamsOutliveTheServer()
    {
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(":/piano"));
        LiveAudioPlayer player;
        player.setPianoSampler(&piano);
        QVERIFY(player.start(kRate));
        piano.noteOn(60, 100);
        Metronome metronome;
        QVERIFY(metronome.start(kRate, 120.0, 4));

        const std::vector<float> material(10 * kRate, 0.25f);
        MultiTrackAudioEngine mixer;
        mixer.initialize(kRate, 512);
        MultiTrackAudioEngine::TrackSlot slot;
        slot.samples = material.data();
        slot.sampleCount = int(material.size());
        mixer.setTracks({slot});
        QVERIFY(mixer.startPlayback(0.0));

        AudioEngine duplex;
        duplex.initialize(kRate, 512);
        std::atomic<qint64> recorded{0};
        duplex.setRecordCallback([&](const float*, int frames) { recorded += frames; });
        QVERIFY(duplex.startRecording());
        QVERIFY(duplex.startPlayback(material.data(), int(material.size()), kRate, 0));
        QVERIFY(QTest::qWaitFor([&] { return recorded > kRate / 5; }, 15000));

        QElapsedTimer clock;
        clock.start();
        const qint64 recordedBefore = recorded;
        const double positionBefore = mixer.getPlaybackPosition();
        QVERIFY(TestSupport::runCommand("pulseaudio", {"--kill"}, nullptr, 10000));
        QVERIFY(QTest::qWaitFor([] { return !serverAnswers(); }, 10000));
        QTest::qWait(1500); // the push timers go on ticking meanwhile

        // At most real time plus a device buffer's grace, never the flood of a
        // stream that spins on a lost connection.
        const double seconds = clock.elapsed() / 1000.0 + 6.0;
        QVERIFY2(recorded - recordedBefore < qint64(seconds * kRate),
                 qPrintable(QString::number(recorded - recordedBefore)));
        QVERIFY2(mixer.getPlaybackPosition() - positionBefore < seconds,
                 qPrintable(QString::number(mixer.getPlaybackPosition())));
        QVERIFY(duplex.getPosition() < int(seconds * kRate));

        player.stop();
        metronome.stop();
        mixer.stopPlayback();
        duplex.shutdown();
        duplex.setRecordCallback({});
        QVERIFY(!player.start(kRate));
        QVERIFY(!metronome.start(kRate, 120.0, 4));
        QVERIFY(!mixer.startPlayback(0.0));
        QVERIFY(!duplex.startRecording());
        QVERIFY(!player.isRunning() && !metronome.isRunning() && !mixer.isPlaying());
    }
};

QTEST_GUILESS_MAIN(SoundServerLossTest)
#include "tst_SoundServerLoss.moc"
