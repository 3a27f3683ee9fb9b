// The live output and the metronome without a sound server, and the frame
// conversions they use when a device takes another format.

#include "engine/devices/LiveAudioPlayer.h"
#include "engine/devices/Metronome.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/devices/StereoPcmConverter.h"
#include "NoSoundServer.h"

#include <QtTest/QtTest>
#include <cstring>

class LiveAudioPlayerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // No sound server for this process, and none started on its behalf.
        QVERIFY(TestSupport::disconnectFromSoundServers());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void pushSizes_data()
    {
        QTest::addColumn<qint64>("bytesFree");
        QTest::addColumn<int>("bytesPerFrame");
        QTest::addColumn<int>("frames");
        QTest::newRow("6 bytes: one frame") << qint64(6) << 4 << 1;
        QTest::newRow("nothing free: still one frame") << qint64(0) << 4 << 1;
        QTest::newRow("10000 bytes: 1024 frames") << qint64(10000) << 4 << 1024;
        QTest::newRow("4095 bytes") << qint64(4095) << 4 << 1023;
        QTest::newRow("float stereo, 4096 bytes") << qint64(4096) << 8 << 512;
        QTest::newRow("mono 16-bit, 2048 bytes") << qint64(2048) << 2 << 1024;
    }

    void pushSizes()
    {
        QFETCH(qint64, bytesFree);
        QFETCH(int, bytesPerFrame);
        QFETCH(int, frames);
        QCOMPARE(LiveAudioPlayer::framesToPush(bytesFree, bytesPerFrame), frames);
    }

    void conversions_data()
    {
        QTest::addColumn<int>("sampleFormat");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QByteArray>("expected"); // for frames (16384, -16384) and (-32768, 32767)
        auto bytes = [](auto... values) {
            QByteArray out;
            for (auto v : {values...})
                out.append(reinterpret_cast<const char*>(&v), sizeof(v));
            return out;
        };
        QTest::newRow("int16 stereo") << int(QAudioFormat::Int16) << 2
                                      << bytes(qint16(16384), qint16(-16384), qint16(-32768), qint16(32767));
        QTest::newRow("int16 mono") << int(QAudioFormat::Int16) << 1 << bytes(qint16(0), qint16(0));
        QTest::newRow("float stereo") << int(QAudioFormat::Float) << 2
                                      << bytes(0.5f, -0.5f, -1.0f, 32767.0f / 32768.0f);
        QTest::newRow("int32 stereo") << int(QAudioFormat::Int32) << 2
                                      << bytes(qint32(16384 << 16), qint32(-16384 * 65536),
                                               qint32(-32768 * 65536), qint32(32767 * 65536));
        QTest::newRow("uint8 stereo") << int(QAudioFormat::UInt8) << 2
                                      << bytes(quint8(192), quint8(64), quint8(0), quint8(255));
        QTest::newRow("float 4 channels") << int(QAudioFormat::Float) << 4
                                          << bytes(0.5f, -0.5f, 0.0f, 0.0f, -1.0f, 32767.0f / 32768.0f, 0.0f, 0.0f);
    }

    void conversions()
    {
        QFETCH(int, sampleFormat);
        QFETCH(int, channels);
        QFETCH(QByteArray, expected);
        QAudioFormat format;
        format.setSampleRate(48000);
        format.setChannelCount(channels);
        format.setSampleFormat(QAudioFormat::SampleFormat(sampleFormat));
        const StereoPcmConverter converter(format);
        QVERIFY(converter.isValid());
        QCOMPARE(converter.bytesPerFrame() * 2, int(expected.size()));
        const short stereo[4] = {16384, -16384, -32768, 32767};
        QByteArray out(expected.size(), '\x7f');
        converter.convert(stereo, 2, out.data());
        QCOMPARE(out, expected);
        QVERIFY(!StereoPcmConverter(QAudioFormat()).isValid());
    }

    void noOutputDeviceMeansNoStart()
    {
        PianoSampler piano;
        LiveAudioPlayer player;
        player.stop(); // not started: nothing happens
        QVERIFY(!player.isRunning());
        player.setPianoSampler(&piano);
        // A start returns at once; the output that finds no device ends soon after.
        QTest::ignoreMessage(QtWarningMsg, "PushAudioSink: no audio output device");
        player.start(44100);
        QVERIFY(QTest::qWaitFor([&] { return !player.isRunning(); }));
        player.pushAudio(); // stopped: nothing to do

        Metronome metronome;
        QTest::ignoreMessage(QtWarningMsg, "PushAudioSink: no audio output device");
        metronome.start(44100, 120.0, 4);
        QVERIFY(QTest::qWaitFor([&] { return !metronome.isRunning(); }));
        std::vector<short> out(100, 9);
        metronome.render(out.data(), 50);
        QCOMPARE(out, std::vector<short>(100, 9));
    }
};

QTEST_GUILESS_MAIN(LiveAudioPlayerTest)
#include "tst_LiveAudioPlayer.moc"
