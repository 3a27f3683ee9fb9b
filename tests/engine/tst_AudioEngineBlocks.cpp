// The duplex engine's block handler and stream handling, driven block by block
// through a scripted device (no sound server needed).
#include "FakeAudioDevice.h"
#include "engine/devices/AudioEngine.h"

#include <QtTest/QtTest>

#include <atomic>
#include <thread>

namespace {

// Distinct, exactly representable values: any repeat, skip or misplacement shows.
std::vector<float> ramp(int count)
{
    std::vector<float> s(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        s[std::size_t(k)] = float(k % 1024) / 1024.0f - 0.5f;
    return s;
}

std::unique_ptr<AudioEngine> makeEngine(const std::shared_ptr<FakeDeviceState>& device,
                                        int rate = 44100)
{
    auto engine = std::make_unique<AudioEngine>(FakeAudioDevice::make(device));
    engine->initialize(rate, 512);
    return engine;
}

} // namespace

class AudioEngineBlocksTest : public QObject {
    Q_OBJECT
private slots:
    void sourceEndingInsideBlock_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("start");
        QTest::addColumn<float>("volume");
        QTest::newRow("1000 from 900") << 1000 << 900 << 1.0f;
        QTest::newRow("1000 from 900 at half volume") << 1000 << 900 << 0.5f;
        QTest::newRow("ends on the last frame") << 1024 << 512 << 1.0f;
        QTest::newRow("starts beyond the end") << 1000 << 1000 << 1.0f;
        QTest::newRow("silent volume") << 700 << 0 << 0.0f;
    }

    void sourceEndingInsideBlock()
    {
        QFETCH(int, count);
        QFETCH(int, start);
        QFETCH(float, volume);
        const int frames = 512;
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        const std::vector<float> source = ramp(count);
        engine->setVolume(volume);
        QVERIFY(engine->startPlayback(source.data(), count, 44100, start));
        QCOMPARE(device->opens, 1);
        QVERIFY(!device->hasInput);
        QCOMPARE(device->output.deviceId, 1u);
        QCOMPARE(device->output.nChannels, 2u);

        const std::vector<float> out = device->runBlock(frames);
        const int played = std::max(0, std::min(frames, count - start));
        for (int i = 0; i < frames; ++i) {
            const float expected = i < played ? source[std::size_t(start + i)] * volume : 0.0f;
            QCOMPARE(out[2 * std::size_t(i)], expected);
            QCOMPARE(out[2 * std::size_t(i) + 1], expected);
        }
        // A source that ends on the block's last frame is found exhausted one block later.
        QCOMPARE(engine->isPlaying(), played == frames);
        QCOMPARE(engine->getPosition(), std::max(start, start + played));

        const std::vector<float> next = device->runBlock(frames);
        QVERIFY(std::all_of(next.begin(), next.end(), [](float v) { return v == 0.0f; }));
        QVERIFY(!engine->isPlaying());
    }

    void pauseAndResumeKeepThePosition()
    {
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        const std::vector<float> source = ramp(3000);
        QVERIFY(engine->startPlayback(source.data(), 3000, 44100, 0));
        device->runBlock(512);
        device->runBlock(512);
        engine->pausePlayback();
        QVERIFY(!engine->isPlaying());
        const std::vector<float> silent = device->runBlock(512);
        QVERIFY(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0.0f; }));
        QCOMPARE(engine->getPosition(), 1024);

        engine->resumePlayback();
        QVERIFY(engine->isPlaying());
        const std::vector<float> out = device->runBlock(512);
        for (int i = 0; i < 512; ++i)
            QCOMPARE(out[2 * std::size_t(i)], source[std::size_t(1024 + i)]);

        // Run out, then resume does nothing.
        for (int i = 0; i < 5; ++i)
            device->runBlock(512);
        QVERIFY(!engine->isPlaying());
        engine->resumePlayback();
        QVERIFY(!engine->isPlaying());
        QCOMPARE(device->opens, 1);
    }

    void startPlaybackWhileRunningJumps()
    {
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        const std::vector<float> source = ramp(4000);
        QVERIFY(engine->start());
        QVERIFY(engine->startPlayback(source.data(), 4000, 44100, 100));
        QCOMPARE(device->opens, 1);
        QCOMPARE(engine->getPosition(), 100);
        device->runBlock(64);
        QVERIFY(engine->startPlayback(source.data(), 4000, 44100, 3000));
        QCOMPARE(engine->getPosition(), 3000);
        QCOMPARE(device->runBlock(1)[0], source[3000]);
        QCOMPARE(device->opens, 1);

        engine->stopPlayback();
        QVERIFY(!engine->isPlaying());
        QCOMPARE(engine->getPosition(), 0);
        QVERIFY(engine->isRunning()); // the stream keeps running, silent
        QCOMPARE(device->runBlock(8), std::vector<float>(16, 0.0f));
        QVERIFY(!engine->startPlayback(nullptr, 10, 44100, 0));
        QVERIFY(!engine->startPlayback(source.data(), 0, 44100, 0));
    }

    void materialRateIsFollowed_data()
    {
        QTest::addColumn<int>("engineRate");
        QTest::addColumn<int>("materialRate");
        QTest::addColumn<bool>("recordingFirst");
        QTest::addColumn<int>("expectedOpens");
        QTest::addColumn<int>("blockFrames"); // as long as 512 frames at 44.1 kHz
        QTest::newRow("same rate") << 44100 << 44100 << false << 1 << 512;
        QTest::newRow("48 kHz material") << 44100 << 48000 << false << 2 << 557;
        QTest::newRow("48 kHz material while recording") << 44100 << 48000 << true << 2 << 557;
        QTest::newRow("22.05 kHz material") << 48000 << 22050 << false << 2 << 256;
        QTest::newRow("192 kHz material") << 44100 << 192000 << false << 2 << 2229;
    }

    void materialRateIsFollowed()
    {
        QFETCH(int, engineRate);
        QFETCH(int, materialRate);
        QFETCH(bool, recordingFirst);
        QFETCH(int, expectedOpens);
        QFETCH(int, blockFrames);
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device, engineRate);
        QVERIFY(recordingFirst ? engine->startRecording() : engine->start());
        const std::vector<float> source = ramp(2000);
        QVERIFY(engine->startPlayback(source.data(), 2000, materialRate, 0));
        QCOMPARE(device->opens, expectedOpens);
        QCOMPARE(int(device->rate), materialRate);
        QCOMPARE(int(device->bufferFrames), blockFrames);
        QCOMPARE(engine->getSampleRate(), materialRate);
        QCOMPARE(device->hasInput, recordingFirst);
        QCOMPARE(engine->isRecording(), recordingFirst);
        QCOMPARE(device->runBlock(4)[2], source[1]);
    }

    void recordBlocksArriveWholeAndInOrder()
    {
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        std::vector<float> recorded;
        std::vector<int> blockSizes;
        engine->setRecordCallback([&](const float* in, int frames) {
            recorded.insert(recorded.end(), in, in + frames);
            blockSizes.push_back(frames);
        });
        const std::vector<float> mic = ramp(5000);

        QVERIFY(engine->start());
        device->runBlock(100, mic.data()); // not recording yet: nothing arrives
        QVERIFY(recorded.empty());

        QVERIFY(engine->startRecording());
        QVERIFY(engine->isRecording());
        QCOMPARE(device->opens, 2); // reopened with input
        QCOMPARE(device->closes, 1);
        QVERIFY(device->hasInput);
        QCOMPARE(device->input.deviceId, 2u);
        QCOMPARE(device->input.nChannels, 1u);

        const std::vector<int> sizes{512, 1, 1024, 333, 7, 512};
        std::vector<float> expected;
        int offset = 0;
        for (int n : sizes) {
            device->runBlock(n, mic.data() + offset);
            expected.insert(expected.end(), mic.begin() + offset, mic.begin() + offset + n);
            offset += n;
        }
        QCOMPARE(blockSizes, sizes);
        QCOMPARE(recorded, expected);

        engine->stopRecording();
        QVERIFY(engine->isRunning());
        device->runBlock(512, mic.data());
        QCOMPARE(recorded.size(), expected.size());
    }

    void recordingGoesOnWhilePlaying()
    {
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        const std::vector<float> source = ramp(4000);
        int recordedFrames = 0;
        engine->setRecordCallback([&](const float*, int frames) { recordedFrames += frames; });
        QVERIFY(engine->startPlayback(source.data(), 4000, 44100, 0));
        device->runBlock(256);
        QVERIFY(engine->startRecording());
        QVERIFY(engine->isPlaying());
        const std::vector<float> mic(256, 0.25f);
        const std::vector<float> out = device->runBlock(256, mic.data());
        QCOMPARE(out[0], source[256]); // playback went on from its position
        QCOMPARE(recordedFrames, 256);
    }

    void recordingWithoutInputDeviceFails()
    {
        auto device = FakeDeviceState::withDevices(false);
        auto engine = makeEngine(device);
        bool called = false;
        engine->setRecordCallback([&](const float*, int) { called = true; });
        const std::vector<float> source = ramp(3000);
        QVERIFY(engine->startPlayback(source.data(), 3000, 44100, 0));

        QTest::ignoreMessage(QtWarningMsg, "AudioEngine: No valid input device found for recording");
        QTest::ignoreMessage(QtWarningMsg, "AudioEngine: Failed to start with input for recording");
        QVERIFY(!engine->startRecording());
        QVERIFY(!engine->isRecording());
        QVERIFY(engine->isRunning()); // output goes on
        QVERIFY(engine->isPlaying());
        const std::vector<float> mic(64, 0.5f);
        device->runBlock(64, mic.data());
        QVERIFY(!called);
    }

    void setVolumeClamps_data()
    {
        QTest::addColumn<float>("given");
        QTest::addColumn<float>("stored");
        QTest::newRow("above") << 1.5f << 1.0f;
        QTest::newRow("below") << -0.2f << 0.0f;
        QTest::newRow("inside") << 0.3f << 0.3f;
    }

    void setVolumeClamps()
    {
        QFETCH(float, given);
        QFETCH(float, stored);
        AudioEngine engine(nullptr);
        QCOMPARE(engine.getVolume(), 1.0f);
        engine.setVolume(given);
        QCOMPARE(engine.getVolume(), stored);
    }

    void playbackProcessCallbackShapesWhatIsHeard_data()
    {
        QTest::addColumn<int>("frames");
        QTest::newRow("one block") << 512;
        QTest::newRow("long block") << 10000;
    }

    void playbackProcessCallbackShapesWhatIsHeard()
    {
        QFETCH(int, frames);
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        const std::vector<float> source = ramp(20000);
        std::vector<float> seen;
        engine->setPlaybackProcessCallback([&](float* buffer, int n) {
            seen.insert(seen.end(), buffer, buffer + 2 * n);
            for (int i = 0; i < 2 * n; ++i)
                buffer[i] = -buffer[i];
        });
        engine->setVolume(0.5f);
        QVERIFY(engine->startPlayback(source.data(), 20000, 44100, 10));
        const std::vector<float> out = device->runBlock(frames);
        // The callback sees the interleaved output with playback added...
        QCOMPARE(seen.size(), std::size_t(2 * frames));
        for (int i = 0; i < frames; ++i) {
            QCOMPARE(seen[2 * std::size_t(i)], source[std::size_t(10 + i)] * 0.5f);
            QCOMPARE(seen[2 * std::size_t(i) + 1], source[std::size_t(10 + i)] * 0.5f);
        }
        // ...and what it leaves is what is heard.
        for (int i = 0; i < 2 * frames; ++i)
            QCOMPARE(out[std::size_t(i)], -seen[std::size_t(i)]);
        engine->setPlaybackProcessCallback({});
        seen.clear();
        QCOMPARE(device->runBlock(4)[0], source[std::size_t(10 + frames)] * 0.5f);
        QVERIFY(seen.empty());
    }

    void processCallbackSeesInputAndOutput()
    {
        auto device = FakeDeviceState::withDevices();
        auto engine = makeEngine(device);
        engine->setProcessCallback([](const float* in, float* out, int frames) {
            for (int i = 0; i < frames; ++i)
                out[2 * i] = in ? in[i] : 0.75f; // left only
        });
        QVERIFY(engine->startRecording());
        const std::vector<float> mic{0.125f, -0.25f};
        const std::vector<float> out = device->runBlock(2, mic.data());
        QCOMPARE(out, (std::vector<float>{0.125f, 0.0f, -0.25f, 0.0f}));
    }

    // A cleared callback is gone once the call returns: its owner may free what
    // it uses while the audio thread goes on (AddressSanitizer would catch a late call).
    void clearingACallbackWaitsForTheRunningBlock()
    {
        AudioEngine engine(nullptr);
        struct Owned {
            std::atomic<int> calls{0};
            std::atomic<bool> inside{false};
        };
        auto* owned = new Owned;
        engine.setProcessCallback([owned](const float*, float*, int) {
            owned->inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++owned->calls;
            owned->inside = false;
        });
        std::atomic<bool> quit{false};
        std::atomic<int> blocks{0};
        std::thread audioThread([&] {
            std::vector<float> out(2 * 64);
            while (!quit) {
                engine.processBlock(out.data(), nullptr, 64);
                ++blocks;
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(owned->inside.load(), 5000);
        engine.setProcessCallback({});
        const bool stillInside = owned->inside;
        const int calls = owned->calls;
        delete owned;
        const int blocksAtClear = blocks;
        QTRY_VERIFY_WITH_TIMEOUT(blocks.load() > blocksAtClear + 100, 5000);
        quit = true;
        audioThread.join();
        QVERIFY(!stillInside);
        QVERIFY(calls >= 1);
    }

    void noDeviceFailsEveryStart_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("warning");
        QTest::newRow("no back end") << 0 << "AudioEngine: No audio device found";
        QTest::newRow("no devices") << 1 << "AudioEngine: No audio device found";
        QTest::newRow("open refused") << 2 << "AudioEngine: openStream failed: device busy";
        QTest::newRow("start refused") << 3 << "AudioEngine: startStream failed: device busy";
    }

    void noDeviceFailsEveryStart()
    {
        QFETCH(int, kind);
        QFETCH(QString, warning);
        const auto device =
            FakeDeviceState::failing(kind, "device busy", AudioDeviceBackend::Result::DriverError);
        AudioEngine engine(device ? FakeAudioDevice::make(device) : nullptr);
        engine.initialize(44100, 512);
        const std::vector<float> source = ramp(100);

        const QByteArray text = warning.toUtf8();
        QTest::ignoreMessage(QtWarningMsg, text.constData());
        QVERIFY(!engine.start());
        QTest::ignoreMessage(QtWarningMsg, text.constData());
        QVERIFY(!engine.startPlayback(source.data(), 100, 44100, 0));
        QVERIFY(!engine.isPlaying());
        QTest::ignoreMessage(QtWarningMsg, text.constData());
        QTest::ignoreMessage(QtWarningMsg, "AudioEngine: Failed to start with input for recording");
        QVERIFY(!engine.startRecording());
        QVERIFY(!engine.isRecording());
        QVERIFY(!engine.isRunning());
        QVERIFY(engine.getInputDevices().empty() || kind >= 2);
        if (device) {
            QVERIFY(!device->open); // a failed start leaves no stream open
            QCOMPARE(device->closes, device->opens);
        }
    }

    // A server's device that refuses the open only after the start stopped
    // waiting: the start counts as under way, then ends as a failed start,
    // which the page tells apart from a stream that started and was lost.
    void aLateRefusalIsAFailedStartNotALoss()
    {
        for (const bool refused : {true, false}) {
            const auto device = refused
                ? FakeDeviceState::failing(2, "device busy", AudioDeviceBackend::Result::DriverError)
                : FakeDeviceState::withDevices();
            device->mixes = true;
            device->onCall = [](const std::string& call) {
                if (call == "open")
                    std::this_thread::sleep_for(AudioEngine::kStartWait * 4);
            };
            AudioEngine engine(FakeAudioDevice::make(device));
            engine.initialize(44100, 512);
            const std::vector<float> source = ramp(100000);
            QSignalSpy lost(&engine, &AudioEngine::streamLost);
            QVERIFY(engine.startPlayback(source.data(), int(source.size()), 44100, 0));
            if (!refused) {
                QTRY_VERIFY(device->running);
                device->lost = true;
            }
            QVERIFY(lost.wait(5000));
            QVERIFY(engine.isStreamLost() && !engine.isPlaying());
            QCOMPARE(engine.startFailedInBackground(), refused);
        }
    }

    void listsDevicesByDirection()
    {
        auto device = FakeDeviceState::withDevices();
        AudioEngine engine(FakeAudioDevice::make(device));
        QCOMPARE(engine.getOutputDevices(), std::vector<std::string>{"FakeOut"});
        QCOMPARE(engine.getInputDevices(), std::vector<std::string>{"FakeMic"});
    }
};

QTEST_GUILESS_MAIN(AudioEngineBlocksTest)
#include "tst_AudioEngineBlocks.moc"
