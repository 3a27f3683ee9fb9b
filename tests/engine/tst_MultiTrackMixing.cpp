// The mixing engine: offline render, the real-time block handler driven
// through a scripted device, and slot hand-over while an audio thread runs.
#include "FakeAudioDevice.h"
#include "engine/devices/MultiTrackAudioEngine.h"

#include <QtTest/QtTest>

#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>
#include <new>
#include <set>
#include <thread>

using TrackSlot = MultiTrackAudioEngine::TrackSlot;

// Heap calls made on this thread while counting is on: the audio thread's
// block must make none.
namespace {
thread_local bool countHeapCalls = false;
thread_local int heapCalls = 0;
} // namespace

void* operator new(std::size_t size)
{
    if (countHeapCalls)
        ++heapCalls;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    if (countHeapCalls && p)
        ++heapCalls;
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace {

std::vector<float> ramp(int count)
{
    std::vector<float> s(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        s[std::size_t(k)] = float(k % 2048) / 2048.0f - 0.5f;
    return s;
}

TrackSlot slotOf(const std::vector<float>& samples, double start = 0.0, float volume = 1.0f,
                 float pan = 0.0f)
{
    TrackSlot slot;
    slot.samples = samples.data();
    slot.sampleCount = int(samples.size());
    slot.startTime = start;
    slot.volume = volume;
    slot.pan = pan;
    return slot;
}

QList<float> render(MultiTrackAudioEngine& engine, const std::vector<TrackSlot>& mix, int frames,
                    int rate = 44100)
{
    QList<float> out;
    engine.renderOffline(mix, frames, rate, out);
    return out;
}

} // namespace

class MultiTrackMixingTest : public QObject {
    Q_OBJECT
private slots:
    void rampSlotLandsOnWholeFrames_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("startFrame");
        QTest::newRow("at 0") << 0.0 << 44100 << 0;
        QTest::newRow("at 2.0 s") << 2.0 << 44100 << 88200;
        QTest::newRow("at 0.1 s, 44.1 kHz") << 0.1 << 44100 << 4410;
        QTest::newRow("between frames, 48 kHz") << 0.123456 << 48000 << 5926;
        QTest::newRow("at 1/3 s, 48 kHz") << 1.0 / 3.0 << 48000 << 16000;
        QTest::newRow("before the origin") << -0.01 << 44100 << -441;
    }

    // out[2k] = out[2k+1] = 0.707 x s[k - startFrame]: each output frame reads the
    // next sample, never one twice and never skipping one.
    void rampSlotLandsOnWholeFrames()
    {
        QFETCH(double, start);
        QFETCH(int, rate);
        QFETCH(int, startFrame);
        MultiTrackAudioEngine engine(nullptr);
        const std::vector<float> s = ramp(30000);
        const int frames = std::max(startFrame, 0) + 30000 + 500;
        const QList<float> out = render(engine, {slotOf(s, start)}, frames, rate);
        QCOMPARE(out.size(), 2 * qsizetype(frames));
        for (int k = 0; k < frames; ++k) {
            const int index = k - startFrame;
            const float expected = index >= 0 && index < 30000 ? 0.707f * s[std::size_t(index)] : 0.0f;
            if (out[2 * k] != expected || out[2 * k + 1] != expected)
                QFAIL(qPrintable(QStringLiteral("frame %1: %2 / %3, expected %4")
                                     .arg(k).arg(out[2 * k]).arg(out[2 * k + 1]).arg(expected)));
        }
    }

    void soloAndMute_data()
    {
        QTest::addColumn<QList<bool>>("muted");
        QTest::addColumn<QList<bool>>("solo");
        QTest::addColumn<QList<bool>>("heard");
        using L = QList<bool>;
        QTest::newRow("all play") << L{0, 0, 0} << L{0, 0, 0} << L{1, 1, 1};
        QTest::newRow("one muted") << L{0, 1, 0} << L{0, 0, 0} << L{1, 0, 1};
        QTest::newRow("one solo") << L{0, 0, 0} << L{0, 1, 0} << L{0, 1, 0};
        QTest::newRow("two solo") << L{0, 0, 0} << L{1, 0, 1} << L{1, 0, 1};
        QTest::newRow("muted solo silences all") << L{1, 0, 0} << L{1, 0, 0} << L{0, 0, 0};
        QTest::newRow("muted solo beside a solo") << L{1, 0, 0} << L{1, 0, 1} << L{0, 0, 1};
        QTest::newRow("solo and mute on one") << L{0, 1, 0} << L{0, 1, 1} << L{0, 0, 1};
        QTest::newRow("all muted") << L{1, 1, 1} << L{0, 0, 0} << L{0, 0, 0};
    }

    void soloAndMute()
    {
        QFETCH(QList<bool>, muted);
        QFETCH(QList<bool>, solo);
        QFETCH(QList<bool>, heard);
        const std::vector<std::vector<float>> buffers{std::vector<float>(16, 0.125f),
                                                      std::vector<float>(16, 0.25f),
                                                      std::vector<float>(16, 0.5f)};
        std::vector<TrackSlot> mix;
        float expected = 0.0f;
        for (int i = 0; i < 3; ++i) {
            TrackSlot slot = slotOf(buffers[std::size_t(i)]);
            slot.muted = muted[i];
            slot.solo = solo[i];
            mix.push_back(slot);
            if (heard[i])
                expected += 0.707f * buffers[std::size_t(i)][0];
        }
        MultiTrackAudioEngine engine(nullptr);
        const QList<float> out = render(engine, mix, 16);
        for (float v : out)
            QCOMPARE(v, expected);
    }

    void panLaw_data()
    {
        QTest::addColumn<float>("pan");
        QTest::addColumn<float>("volume");
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("right");
        QTest::newRow("hard left") << -1.0f << 1.0f << 0.707f << 0.0f;
        QTest::newRow("half left") << -0.5f << 1.0f << 0.707f << 0.3535f;
        QTest::newRow("centre") << 0.0f << 1.0f << 0.707f << 0.707f;
        QTest::newRow("half right") << 0.5f << 1.0f << 0.3535f << 0.707f;
        QTest::newRow("hard right") << 1.0f << 1.0f << 0.0f << 0.707f;
        QTest::newRow("centre, volume 0.5") << 0.0f << 0.5f << 0.3535f << 0.3535f;
        QTest::newRow("half right, volume 0.8") << 0.5f << 0.8f << 0.2828f << 0.5656f;
    }

    void panLaw()
    {
        QFETCH(float, pan);
        QFETCH(float, volume);
        QFETCH(float, left);
        QFETCH(float, right);
        MultiTrackAudioEngine engine(nullptr);
        const std::vector<float> fullScale(8, 1.0f);
        const QList<float> out = render(engine, {slotOf(fullScale, 0.0, volume, pan)}, 8);
        for (int k = 0; k < 8; ++k) {
            QVERIFY(std::abs(out[2 * k] - left) < 1e-6f);
            QVERIFY(std::abs(out[2 * k + 1] - right) < 1e-6f);
        }
    }

    void fullScaleSlotsClamp_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("expected");
        QTest::newRow("three in phase") << 3 << 1.0f << 1.0f;
        QTest::newRow("three negative") << 3 << -1.0f << -1.0f;
        QTest::newRow("two in phase") << 2 << 1.0f << 1.0f;
        QTest::newRow("one") << 1 << 1.0f << 0.707f;
    }

    void fullScaleSlotsClamp()
    {
        QFETCH(int, count);
        QFETCH(float, value);
        QFETCH(float, expected);
        const std::vector<float> buffer(64, value);
        std::vector<TrackSlot> mix(std::size_t(count), slotOf(buffer));
        MultiTrackAudioEngine engine(nullptr);
        const QList<float> out = render(engine, mix, 64);
        for (float v : out)
            QCOMPARE(v, expected);
    }

    void renderOfflineSizesAndLeavesPlaybackAlone()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        const std::vector<float> s = ramp(100);
        QList<float> out(7, 9.0f);
        QVERIFY(engine.renderOffline({slotOf(s)}, 10, 44100, out));
        QCOMPARE(out.size(), 20);
        QCOMPARE(out[2], 0.707f * s[1]);
        QVERIFY(engine.renderOffline({slotOf(s)}, 0, 44100, out));
        QVERIFY(out.isEmpty());
        QVERIFY(engine.renderOffline({slotOf(s)}, -5, 44100, out));
        QVERIFY(out.isEmpty());
        QVERIFY(engine.renderOffline({}, 4, 44100, out));
        QCOMPARE(out, QList<float>(8, 0.0f));
        QCOMPARE(device->opens, 0);
        QVERIFY(!engine.isPlaying());
        QCOMPARE(engine.getPlaybackPosition(), 0.0);
    }

    // A device block, and so the device's buffer, lasts as long at every rate.
    void deviceBlocksLastAsLongAtEveryRate()
    {
        for (const auto& [rate, frames] : {std::pair{48000, 557u}, {96000, 1115u}, {192000, 2229u}}) {
            auto device = FakeDeviceState::withDevices();
            MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
            engine.initialize(rate, 512);
            QVERIFY(engine.startPlayback(0.0));
            QCOMPARE(device->bufferFrames, frames);
        }
    }

    // A device that ran out of mix played nothing for a while, and all that
    // followed was heard that much later: the engine tells such a gap from
    // the pace of the device's requests, and tells nothing of jitter or of
    // a late request the device caught up on.
    void gapsAreFoundFromTheDevicesPace()
    {
        auto device = FakeDeviceState::withDevices();
        device->outputLatency = 4 * 512;
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        engine.initialize(44100, 512);
        QVERIFY(engine.startPlayback(0.0));
        std::vector<float> out(2 * 512);
        const std::int64_t block = 512 * std::int64_t(1000000000) / 44100;
        const std::int64_t held = 3 * block; // what the device holds when it asks
        std::int64_t due = 1000000000 - held; // the first four requests fill its buffer
        auto run = [&](int blocks, std::int64_t notBefore, std::int64_t jitter = 0) {
            for (int i = 0; i < blocks; ++i, due += block)
                engine.processBlockAt(out.data(), 512, std::max(due, notBefore) + (i % 2) * jitter);
        };
        run(100, 1000000000, 3000000); // each other request 3 ms late
        run(60, due + 40000000); // 40 ms late, then a burst back to the pace
        QVERIFY(engine.playbackGaps().empty());
        // The device stood 100 ms longer than its buffer lasted, asked for a
        // whole buffer at once and played on 100 ms later.
        run(4, due + held + 100000000);
        due += 100000000;
        run(1, 0);
        QCOMPARE(engine.playbackGaps().size(), std::size_t(1)); // as far as known yet
        run(99, 0);
        const auto gaps = engine.playbackGaps();
        QCOMPARE(gaps.size(), std::size_t(1));
        QCOMPARE(gaps[0].at, 160 * 512 / 44100.0);
        QVERIFY2(std::abs(gaps[0].seconds - 0.1) < 1e-6, qPrintable(QString::number(gaps[0].seconds)));
        // Counted on beyond the gaps kept one by one.
        for (int more = 0; more < 80; ++more) {
            run(4, due + held + 20000000);
            due += 20000000;
            run(100, 0);
        }
        QCOMPARE(engine.playbackGapCount(), 81);
        QVERIFY(engine.startPlayback(0.0)); // counted afresh
        QVERIFY(engine.playbackGaps().empty());
    }

    // The device's blocks, whatever their sizes, give exactly the offline mix.
    void realTimeMatchesOffline()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        engine.initialize(44100, 512);
        const std::vector<float> a = ramp(40000);
        const std::vector<float> b = ramp(25000);
        std::vector<TrackSlot> mix{slotOf(a, 0.5, 0.8f, -0.3f), slotOf(b, 0.123456, 0.6f, 0.7f)};
        mix[1].id = "a track id long enough to live on the heap";
        engine.setTracks(mix);
        QVERIFY(engine.startPlayback(0.3));
        QCOMPARE(engine.getPlaybackPosition(), 0.3);
        QCOMPARE(device->opens, 1);
        QVERIFY(!device->hasInput);
        QCOMPARE(device->rate, 44100u);
        QCOMPARE(device->bufferFrames, 512u);

        std::vector<float> played;
        const int sizes[] = {333, 512, 1, 1000, 4096, 77};
        for (int round = 0; round < 8; ++round)
            for (int n : sizes) {
                const std::vector<float> block = device->runBlock(n);
                played.insert(played.end(), block.begin(), block.end());
            }
        const int first = 13230; // 0.3 s
        const int frames = int(played.size() / 2);
        const QList<float> offline = render(engine, mix, first + frames);
        for (int k = 0; k < frames; ++k) {
            QCOMPARE(played[2 * std::size_t(k)], offline[2 * (first + k)]);
            QCOMPARE(played[2 * std::size_t(k) + 1], offline[2 * (first + k) + 1]);
        }
        QCOMPARE(engine.getPlaybackPosition(), double(first + frames) / 44100);
    }

    void transport()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        engine.initialize(48000, 512);
        const std::vector<float> s(48000, 0.5f);
        engine.setTracks({slotOf(s, 1.5)});
        QVERIFY(engine.startPlayback(1.5));
        QVERIFY(engine.isPlaying());
        QCOMPARE(engine.getPlaybackPosition(), 1.5); // position 72000
        QCOMPARE(device->runBlock(2)[0], 0.707f * 0.5f);

        engine.pausePlayback();
        QVERIFY(!engine.isPlaying());
        QVERIFY(device->open);
        QVERIFY(!device->running);
        const double paused = engine.getPlaybackPosition();
        QCOMPARE(device->runBlock(4), std::vector<float>(8, 0.0f)); // silent, position held
        QCOMPARE(engine.getPlaybackPosition(), paused);
        engine.resumePlayback();
        QVERIFY(engine.isPlaying());
        QVERIFY(device->running);

        engine.pausePlayback();
        QVERIFY(engine.startPlayback(1.5)); // the paused stream is closed, a new one opened
        QCOMPARE(device->opens, 2);
        QCOMPARE(device->closes, 1);
        QCOMPARE(engine.getPlaybackPosition(), 1.5);

        engine.stopPlayback();
        QVERIFY(!engine.isPlaying());
        QVERIFY(!device->open);
        QCOMPARE(engine.getPlaybackPosition(), 0.0);
        engine.resumePlayback(); // nothing to resume without a stream
        QVERIFY(!engine.isPlaying());
    }

    void updateTrackSlot()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        const std::vector<float> s(100000, 0.5f);
        engine.setTracks({slotOf(s), slotOf(s), slotOf(s, 0.0, 1.0f, 1.0f)});
        QVERIFY(engine.startPlayback(0.0));
        const float twoLeft = 0.707f * 0.5f + 0.707f * 0.5f; // the third is hard right
        const std::vector<float> before = device->runBlock(1);
        QCOMPARE(before[0], twoLeft);
        QCOMPARE(before[1], 1.0f); // 1.06 clamped

        TrackSlot quiet = slotOf(s, 0.0, 0.25f, -1.0f);
        engine.updateTrackSlot(5, quiet); // out of range: nothing changes
        engine.updateTrackSlot(-1, quiet);
        QCOMPARE(device->runBlock(1), before);

        TrackSlot mutedSlot = slotOf(s);
        mutedSlot.muted = true;
        engine.updateTrackSlot(0, mutedSlot);
        engine.updateTrackSlot(1, mutedSlot);
        const std::vector<float> changed = device->runBlock(1);
        QCOMPARE(changed[0], 0.0f);
        QCOMPARE(changed[1], 0.707f * 0.5f); // only the hard-right slot is left
    }

    void noDeviceFailsToStart_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("warning");
        QTest::newRow("no back end") << 0 << "MultiTrackAudioEngine: No audio device found";
        QTest::newRow("no devices") << 1 << "MultiTrackAudioEngine: No audio device found";
        QTest::newRow("open refused") << 2 << "MultiTrackAudioEngine: openStream failed: no sink";
        QTest::newRow("start refused") << 3 << "MultiTrackAudioEngine: startStream failed: no sink";
    }

    void noDeviceFailsToStart()
    {
        QFETCH(int, kind);
        QFETCH(QString, warning);
        const auto device =
            FakeDeviceState::failing(kind, "no sink", AudioDeviceBackend::Result::SystemError);
        MultiTrackAudioEngine engine(device ? FakeAudioDevice::make(device) : nullptr);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        QVERIFY(!engine.startPlayback(1.0));
        QVERIFY(!engine.isPlaying());
        if (device)
            QVERIFY(!device->open);
    }

    // A sound server slow to answer holds no caller: keeping the output
    // open, a start and the engine's end go on while the server has not
    // answered the open; the stream starts and closes once it has.
    void aSlowSoundServerHoldsNoCaller()
    {
        struct Server {
            std::promise<void> answer;
            std::shared_future<void> answered = answer.get_future().share();
            std::atomic<bool> opened{false}, started{false}, closed{false}, lastBlockSilent{false};
        };
        auto server = std::make_shared<Server>();
        auto device = FakeDeviceState::withDevices();
        device->mixes = true;
        device->onCall = [server, stream = device.get()](const std::string& call) {
            if (call == "open") {
                server->answered.wait_for(std::chrono::seconds(30));
                server->opened = true;
            }
            server->started = server->started || call == "start";
            if (call == "close") {
                // The stream calls back until it is closed, the engine long gone.
                const std::vector<float> out = stream->runBlock(64);
                server->lastBlockSilent = std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; });
                server->closed = true;
            }
        };
        {
            MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
            engine.initialize(48000, 512);
            QVERIFY(engine.prepareOutput());
            QVERIFY(engine.startPlayback(0.0));
            QVERIFY(engine.isPlaying());
            QVERIFY(!server->opened);
        }
        QVERIFY(!server->opened);
        server->answer.set_value();
        QTRY_VERIFY_WITH_TIMEOUT(server->started && server->closed, 30000);
        QVERIFY(server->lastBlockSilent);
    }

    // New slots, with ids long enough to live on the heap, reach the audio
    // thread without it allocating or freeing anything.
    void newSlotsReachTheAudioThreadWithoutHeapCalls()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        const std::vector<float> s(4096, 0.5f);
        std::vector<TrackSlot> tracks{slotOf(s), slotOf(s, 0.0, 1.0f, 1.0f)};
        for (TrackSlot& slot : tracks)
            slot.id = "a track identifier far too long for the string's own buffer";
        engine.setTracks(tracks);
        QVERIFY(engine.startPlayback(0.0));
        std::vector<float> out(2 * 64);
        for (int round = 0; round < 3; ++round) {
            if (round == 1)
                engine.setTracks({tracks[0]});
            if (round == 2)
                engine.updateTrackSlot(0, tracks[1]);
            countHeapCalls = true;
            heapCalls = 0;
            engine.processBlock(out.data(), 64);
            countHeapCalls = false;
            QCOMPARE(heapCalls, 0);
        }
        QCOMPARE(out[0], 0.0f); // the hard-right slot alone
        QCOMPARE(out[1], 0.707f * 0.5f);
        engine.stopPlayback();
    }

    // Slot sets swapped and edited while an audio thread mixes: every block is
    // mixed from one whole set (run under the sanitizers for races and stale reads).
    void slotsSwappedWhileAudioThreadRuns()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackAudioEngine engine(FakeAudioDevice::make(device));
        const std::vector<float> a(1 << 16, 0.25f);
        const std::vector<float> b(1 << 16, 0.125f);
        const std::vector<float> c(1 << 16, 0.5f);
        std::vector<TrackSlot> setA{slotOf(a)};
        std::vector<TrackSlot> setB{slotOf(b), slotOf(c)};
        for (auto* set : {&setA, &setB})
            for (auto& slot : *set)
                slot.id = "identifier long enough to be allocated " + std::to_string(set->size());
        TrackSlot mutedC = slotOf(c);
        mutedC.muted = true;
        const std::set<float> allowed{0.0f, 0.707f * 0.25f, 0.707f * 0.125f + 0.707f * 0.5f,
                                      0.707f * 0.125f};
        engine.setTracks(setA);
        QVERIFY(engine.startPlayback(0.0));

        std::atomic<bool> quit{false};
        std::atomic<int> blocks{0};
        std::atomic<int> bad{0};
        std::thread audioThread([&] {
            std::vector<float> out(2 * 256);
            while (!quit) {
                engine.processBlock(out.data(), 256);
                const float first = out[0];
                if (!allowed.count(first)
                    || !std::all_of(out.begin(), out.end(), [&](float v) { return v == first; }))
                    ++bad;
                ++blocks;
            }
        });
        // Keep swapping until the audio thread has mixed plenty of blocks.
        for (int i = 0; i < 3000 || (blocks < 3000 && i < 10000000); ++i) {
            engine.setTracks(i % 2 ? setB : setA);
            if (i % 2)
                engine.updateTrackSlot(1, i % 4 == 1 ? mutedC : setB[1]);
            if (i % 500 == 0) {
                engine.pausePlayback();
                engine.resumePlayback();
            }
        }
        quit = true;
        audioThread.join();
        QCOMPARE(bad.load(), 0);
        engine.stopPlayback();
    }
};

QTEST_GUILESS_MAIN(MultiTrackMixingTest)
#include "tst_MultiTrackMixing.moc"
