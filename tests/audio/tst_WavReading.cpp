// WAV reading: exact values for every sample encoding, the chunk walk, the
// failure texts and the suffix rule; sox-made files against sox's own decode.

#include "audio/AudioProcessor.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <cmath>
#include <cstring>

namespace {

void putU16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
void putU32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray chunk(const char* id, const QByteArray& body, qint64 declaredSize = -1)
{
    QByteArray b(id, 4);
    putU32(b, quint32(declaredSize < 0 ? body.size() : declaredSize));
    b += body;
    if (body.size() & 1)
        b.append('\0');
    return b;
}

constexpr quint16 kExtensible = 0xFFFE;

QByteArray fmtBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits, quint16 subFormat = 0)
{
    QByteArray b;
    putU16(b, tag);
    putU16(b, channels);
    putU32(b, rate);
    putU32(b, rate * channels * (bits / 8));
    putU16(b, quint16(channels * (bits / 8)));
    putU16(b, bits);
    if (tag == kExtensible) {
        putU16(b, 22);
        putU16(b, bits);
        putU32(b, 0);
        putU16(b, subFormat);
        b += QByteArray::fromHex("000000001000800000AA00389B71");
    }
    return b;
}

QByteArray riff(const QByteArray& chunks)
{
    QByteArray b("RIFF");
    putU32(b, quint32(chunks.size() + 4));
    b += "WAVE";
    b += chunks;
    return b;
}

QByteArray simpleWav(quint16 tag, quint16 channels, quint32 rate, quint16 bits, const QByteArray& data)
{
    return riff(chunk("fmt ", fmtBody(tag, channels, rate, bits)) + chunk("data", data));
}

QByteArray pcm16(const QList<int>& values)
{
    QByteArray b;
    for (int v : values)
        putU16(b, quint16(qint16(v)));
    return b;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QList<float> readRawFloats(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray raw = f.readAll();
    QList<float> out(raw.size() / 4);
    std::memcpy(out.data(), raw.constData(), size_t(out.size()) * 4);
    return out;
}

} // namespace

class WavReadingTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void decodesEverySampleEncoding_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QList<float>>("expected");

        QByteArray d8 = QByteArray::fromHex("0080FF40");
        QList<float> e8{-1.0f, 0.0f, 127.0f / 128.0f, -0.5f};

        QList<int> v16{-32768, 0, 32767, 16384, -1};
        QList<float> e16;
        for (int v : v16)
            e16 << float(v) / 32768.0f;

        QList<qint32> v24{8388607, -8388608, 0, 1, -1, 4660};
        QByteArray d24;
        QList<float> e24;
        for (qint32 v : v24) {
            for (int i = 0; i < 3; ++i)
                d24.append(char((quint32(v) >> (8 * i)) & 0xFF));
            e24 << float(double(v) / 8388608.0);
        }

        QList<qint32> v32{std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), 0,
                          123456789, -1};
        QByteArray d32;
        QList<float> e32;
        for (qint32 v : v32) {
            putU32(d32, quint32(v));
            e32 << float(double(v) / 2147483648.0);
        }

        // Float data is taken as stored: no clipping.
        QList<float> vf{1.5f, -0.25f, 0.0f, 3.0e-8f, -7.0f};
        QByteArray df(reinterpret_cast<const char*>(vf.constData()), vf.size() * 4);

        QList<double> vd{0.1, -2.5, 1e-3, 1.0};
        QByteArray dd(reinterpret_cast<const char*>(vd.constData()), vd.size() * 8);
        QList<float> ed;
        for (double v : vd)
            ed << float(v);

        // ... except NaN and infinities, which no recording holds and which
        // would spread through every filter and mix: they read as silence;
        // values past +48 dBFS are clamped there.
        const float inf = std::numeric_limits<float>::infinity();
        QList<float> vn{std::numeric_limits<float>::quiet_NaN(), 0.5f, inf, -inf, -0.75f};
        QByteArray dn(reinterpret_cast<const char*>(vn.constData()), vn.size() * 4);
        QList<float> en{0.0f, 0.5f, 0.0f, 0.0f, -0.75f};
        QList<double> vdn{1e300, -0.5, std::numeric_limits<double>::quiet_NaN(), -1e39};
        QByteArray ddn(reinterpret_cast<const char*>(vdn.constData()), vdn.size() * 8);
        QList<float> edn{256.0f, -0.5f, 0.0f, -256.0f};

        for (int tag : {1, int(kExtensible)}) {
            const char* kind = tag == 1 ? "plain" : "extensible";
            QTest::addRow("pcm8 %s", kind) << tag << 8 << d8 << e8;
            QTest::addRow("pcm16 %s", kind) << tag << 16 << pcm16(v16) << e16;
            QTest::addRow("pcm24 %s", kind) << tag << 24 << d24 << e24;
            QTest::addRow("pcm32 %s", kind) << tag << 32 << d32 << e32;
        }
        for (int tag : {3, int(kExtensible)}) {
            const char* kind = tag == 3 ? "plain" : "extensible";
            QTest::addRow("float32 %s", kind) << tag << 32 << df << vf;
            QTest::addRow("float64 %s", kind) << tag << 64 << dd << ed;
            QTest::addRow("float32 non-finite %s", kind) << tag << 32 << dn << en;
            QTest::addRow("float64 beyond float %s", kind) << tag << 64 << ddn << edn;
        }
    }

    void decodesEverySampleEncoding()
    {
        QFETCH(int, tag);
        QFETCH(int, bits);
        QFETCH(QByteArray, data);
        QFETCH(QList<float>, expected);

        const bool extensible = tag == kExtensible;
        const bool isFloat = QByteArray(QTest::currentDataTag()).startsWith("float");
        const quint16 sub = isFloat ? 3 : 1;
        const QByteArray bytes = riff(
            chunk("fmt ", fmtBody(quint16(tag), 1, 22050, quint16(bits), extensible ? sub : 0))
            + chunk("data", data));
        const QString path = writeFile(m_dir, QStringLiteral("depth.wav"), bytes);

        AudioProcessor p;
        QSignalSpy loaded(&p, &AudioProcessor::audioLoaded);
        QVERIFY(p.loadAudioFile(path));
        QCOMPARE(p.samples, expected);
        QVERIFY(p.stereoSamples.isEmpty());
        QCOMPARE(p.sampleRate, 22050);
        QCOMPARE(p.channels, 1);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toString(), path);
    }

    void channelRuleAndLoadedSignal()
    {
        // Stereo: interleaved copy plus per-frame average.
        const QList<int> stereo{1000, -3000, 32767, 32767, -32768, 0};
        const QString path = writeFile(m_dir, "stereo.wav", simpleWav(1, 2, 48000, 16, pcm16(stereo)));
        AudioProcessor p;
        QSignalSpy loaded(&p, &AudioProcessor::audioLoaded);
        QVERIFY(p.loadAudioFile(path));
        QCOMPARE(p.channels, 2);
        QCOMPARE(p.sampleRate, 48000);
        QCOMPARE(p.stereoSamples.size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(p.stereoSamples[i], stereo[i] / 32768.0f);
        QCOMPARE(p.samples.size(), 3);
        for (int f = 0; f < 3; ++f)
            QCOMPARE(p.samples[f], (stereo[2 * f] / 32768.0f + stereo[2 * f + 1] / 32768.0f) * 0.5f);
        QCOMPARE(loaded.at(0).at(1).toInt(), 48000);
        QCOMPARE(loaded.at(0).at(2).toInt(), 2);
        QCOMPARE(loaded.at(0).at(3).toLongLong(), 0LL); // 3 frames: 3 * 1000 / 48000

        // Three channels: the mean, no stereo copy.
        const QList<int> three{300, 600, 900, -32768, 0, 32767};
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "three.wav", simpleWav(1, 3, 8000, 16, pcm16(three)))));
        QCOMPARE(p.channels, 3);
        QVERIFY(p.stereoSamples.isEmpty());
        QCOMPARE(p.samples.size(), 2);
        QCOMPARE(p.samples[0], (300 + 600 + 900) / 32768.0f / 3.0f);
        QVERIFY(std::abs(p.samples[1] - (-32768 + 32767) / 32768.0f / 3.0f) < 1e-7f);

        // Loud float files stay finite: values are clamped to +48 dBFS first.
        const float loud = 3.0e38f, kept = 256.0f;
        QByteArray floats;
        for (float v : {loud, loud, loud, -loud, -loud, loud}) {
            quint32 bits;
            std::memcpy(&bits, &v, 4);
            putU32(floats, bits);
        }
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "loud3.wav", simpleWav(3, 3, 8000, 32, floats))));
        QCOMPARE(p.samples, QList<float>({kept, -kept / 3.0f}));
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "loud2.wav", simpleWav(3, 2, 8000, 32, floats))));
        QCOMPARE(p.samples, QList<float>({kept, 0.0f, 0.0f}));

        // Duration: 12345 frames at 8000 Hz is 1543 ms (truncated).
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "long.wav", simpleWav(1, 1, 8000, 8, QByteArray(12345, '\x80')))));
        QCOMPARE(loaded.last().at(3).toLongLong(), 12345LL * 1000 / 8000);
        QCOMPARE(p.samples.size(), 12345);
    }

    void chunkWalk_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<float>>("expected");

        const QByteArray fmt = chunk("fmt ", fmtBody(1, 1, 44100, 16));
        const QList<float> e{0.5f, -0.25f};
        const QByteArray data = chunk("data", pcm16({16384, -8192}));

        QTest::newRow("data before fmt") << riff(data + fmt) << e;
        QTest::newRow("odd LIST chunk with pad byte")
            << riff(fmt + chunk("LIST", QByteArray("INFOabc", 7)) + data) << e;
        QTest::newRow("unknown chunks skipped")
            << riff(chunk("junk", QByteArray(10, 'x')) + fmt + chunk("bext", QByteArray(3, 'y')) + data)
            << e;
        QTest::newRow("later data replaces earlier")
            << riff(fmt + chunk("data", pcm16({1, 2, 3})) + data) << e;
        QTest::newRow("later fmt replaces earlier")
            << riff(chunk("fmt ", fmtBody(1, 2, 8000, 8)) + data + fmt) << e;
        // Declared past the end: the whole frames present load, a torn one does not.
        QTest::newRow("data declared past the end")
            << riff(fmt + chunk("data", pcm16({16384, -8192}), 1000000) + QByteArray(1, '\x7F')) << e;
        QTest::newRow("data of a streamed file") << riff(fmt + chunk("data", pcm16({16384, -8192}), 0xFFFFFFFFu)) << e;
        QTest::newRow("huge chunk after data ends the walk")
            << riff(fmt + data + chunk("huge", QByteArray(4, 'z'), 0xFFFFFFF0u)) << e;
        QTest::newRow("longer fmt with extension")
            << riff(chunk("fmt ", fmtBody(1, 1, 44100, 16) + QByteArray(4, '\0')) + data) << e;
    }

    void chunkWalk()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<float>, expected);
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "walk.wav", bytes)));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(p.samples, expected);
        QCOMPARE(p.sampleRate, 44100);
        // Less than the data chunk states (not a streaming writer's placeholder) is said.
        QCOMPARE(p.damageNote().isEmpty(), QTest::currentDataTag() != QByteArray("data declared past the end"));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");

        const QByteArray fmt = chunk("fmt ", fmtBody(1, 1, 44100, 16));
        const QByteArray data = chunk("data", pcm16({100, 200}));

        QTest::newRow("43 bytes") << QByteArray(43, 'R') << "WAV文件头损坏: %1";
        QByteArray notRiff = riff(fmt + data);
        notRiff[0] = 'X';
        QTest::newRow("no RIFF") << notRiff << "不是有效的WAV文件: %1";
        QByteArray notWave = riff(fmt + data);
        notWave[8] = 'X';
        QTest::newRow("no WAVE") << notWave << "不是有效的WAV文件: %1";
        QTest::newRow("RF64") << riff(fmt + data).replace(0, 4, "RF64") << "不支持的WAV文件格式 (RF64): %1";
        QTest::newRow("fmt shorter than 16")
            << riff(chunk("fmt ", fmtBody(1, 1, 44100, 16).left(14)) + data) << "WAV fmt chunk损坏: %1";
        QTest::newRow("fmt past the end")
            << riff(data + chunk("fmt ", fmtBody(1, 1, 44100, 16), 400)) << "WAV fmt chunk损坏: %1";
        QTest::newRow("44 bytes without data")
            << riff(chunk("fmt ", fmtBody(1, 1, 44100, 16)) + chunk("LIST", QByteArray(0, '\0')))
            << "WAV文件中没有找到音频数据: %1";
        QTest::newRow("empty data") << riff(fmt + chunk("data", QByteArray()) + chunk("pad ", QByteArray(8, '\0')))
                                    << "WAV文件中没有找到音频数据: %1";
        QTest::newRow("less than one frame")
            << simpleWav(1, 2, 44100, 24, QByteArray(5, '\x01')) << "WAV文件中没有找到音频数据: %1";
        QTest::newRow("no fmt") << riff(data + chunk("LIST", QByteArray(12, '\0')))
                                << "WAV文件声道数为0: %1";
        QTest::newRow("zero channels") << simpleWav(1, 0, 44100, 16, pcm16({1, 2}))
                                       << "WAV文件声道数为0: %1";
        QTest::newRow("zero sample rate") << simpleWav(1, 1, 0, 16, pcm16({1, 2}))
                                          << "WAV fmt chunk损坏: %1";
        QTest::newRow("ADPCM tag") << simpleWav(2, 1, 44100, 4, QByteArray(64, '\x11'))
                                   << "不支持的WAV编码格式: %1";
        QTest::newRow("extensible with unknown sub-format")
            << riff(chunk("fmt ", fmtBody(kExtensible, 1, 44100, 16, 1).replace(24 + 2, 1, "\x55"))
                    + data)
            << "不支持的WAV编码格式: %1";
        QTest::newRow("12-bit PCM") << simpleWav(1, 1, 44100, 12, pcm16({16, 32}))
                                    << "不支持的WAV编码格式: %1";
        QTest::newRow("16-bit float") << simpleWav(3, 1, 44100, 16, pcm16({16, 32}))
                                      << "不支持的WAV编码格式: %1";
        QTest::newRow("zero bits") << simpleWav(1, 1, 44100, 0, pcm16({16, 32}))
                                   << "不支持的WAV编码格式: %1";
    }

    void failures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path = writeFile(m_dir, "bad.wav", bytes);
        QVERIFY(!path.isEmpty());

        AudioProcessor p;
        p.noiseProfile = {1.0f, 2.0f};
        p.samples = {0.3f};
        p.stereoSamples = {0.1f, 0.2f};
        p.sampleRate = 8000;
        p.channels = 1;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QSignalSpy loaded(&p, &AudioProcessor::audioLoaded);
        QVERIFY(!p.loadAudioFile(path));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message.arg(path));
        QCOMPARE(loaded.count(), 0);
        QVERIFY(p.samples.isEmpty());
        QVERIFY(p.stereoSamples.isEmpty());
        QCOMPARE(p.sampleRate, 44100);
        QCOMPARE(p.channels, 2);
        QCOMPARE(p.noiseProfile, QList<float>({1.0f, 2.0f}));
    }

    void missingFile()
    {
        const QString path = m_dir.filePath("absent.wav");
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(!p.loadAudioFile(path));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("无法打开文件: %1").arg(path));
    }

    void suffixRule()
    {
        const QByteArray wav = simpleWav(1, 1, 44100, 16, pcm16({16384}));
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "Song.WAV", wav)));
        QCOMPARE(p.samples, QList<float>{0.5f});
        QVERIFY(p.loadAudioFile(writeFile(m_dir, "mixed.WaV", wav)));

        QVERIFY(!p.loadAudioFile(writeFile(m_dir, "song.aiff", wav)));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("不支持的音频格式: aiff"));
        QVERIFY(!p.loadAudioFile(writeFile(m_dir, "Take.AIFF", wav)));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("不支持的音频格式: aiff"));
        QVERIFY(!p.loadAudioFile(writeFile(m_dir, "noext", wav)));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("不支持的音频格式: "));
        QVERIFY(p.samples.isEmpty());
    }

    // Files written by sox (the extensible layout for 24-bit and multichannel)
    // read exactly as sox itself decodes them to 32-bit float.
    void soxFilesMatchSoxDecode_data()
    {
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<int>("channels");
        QTest::newRow("24-bit stereo") << QStringList{"-b", "24", "-e", "signed-integer"} << 2;
        QTest::newRow("float stereo") << QStringList{"-b", "32", "-e", "floating-point"} << 2;
        QTest::newRow("16-bit 6 channels") << QStringList{"-b", "16", "-e", "signed-integer"} << 6;
    }

    void soxFilesMatchSoxDecode()
    {
        if (!TestSupport::hasCommand("sox"))
            QSKIP("sox is not installed");
        QFETCH(QStringList, format);
        QFETCH(int, channels);
        const QString wav = m_dir.filePath("sox.wav");
        const QString raw = m_dir.filePath("sox.f32");
        QStringList synth{"-n", "-r", "32000", "-c", QString::number(channels)};
        synth << format << wav << "synth" << "0.05";
        for (int c = 0; c < channels; ++c)
            synth << "sine" << QString::number(300 + 170 * c);
        synth << "vol" << "0.7";
        QVERIFY(TestSupport::runCommand("sox", synth));
        QVERIFY(TestSupport::runCommand(
            "sox", {wav, "-t", "raw", "-e", "floating-point", "-b", "32", raw}));
        const QList<float> reference = readRawFloats(raw);

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(wav));
        QCOMPARE(p.channels, channels);
        QCOMPARE(p.sampleRate, 32000);
        const qsizetype frames = reference.size() / channels;
        QCOMPARE(p.samples.size(), frames);
        QCOMPARE(p.stereoSamples.size(), channels == 2 ? reference.size() : 0);
        // sox passes float data through 32-bit integers, hence the tiny tolerance;
        // integer encodings agree exactly.
        for (qsizetype i = 0; i < p.stereoSamples.size(); ++i)
            QVERIFY(std::abs(p.stereoSamples[i] - reference[i]) <= 1e-9);
        for (qsizetype f = 0; f < frames; ++f) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c)
                sum += reference[f * channels + c];
            QVERIFY2(std::abs(p.samples[f] - sum / channels) < 1e-6,
                     qPrintable(QString("frame %1").arg(f)));
        }
    }
};

QTEST_GUILESS_MAIN(WavReadingTest)
#include "tst_WavReading.moc"
