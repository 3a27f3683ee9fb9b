// Writing WAV, MP3 and FLAC: exact bytes and sizes, acceptance by the
// reference tools (flac -t / flac -d, sox, ffprobe), and failures that leave
// an earlier file intact.

#include "audio/AudioProcessor.h"
#include "audio/codecs/FlacEncoder.h"
#include "audio/codecs/Mp3Encoder.h"
#include "audio/codecs/SampleConversion.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

quint32 le32(const QByteArray& b, int at)
{
    return quint8(b[at]) | quint8(b[at + 1]) << 8 | quint8(b[at + 2]) << 16 | quint32(quint8(b[at + 3])) << 24;
}
quint16 le16(const QByteArray& b, int at) { return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8); }
quint64 be(const QByteArray& b, int at, int bytes)
{
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The writers' conversion, from its definition: clamp, scale, truncate.
qint32 expectedPcm(float v, int bits)
{
    const double c = std::max(-1.0, std::min(1.0, double(v)));
    return qint32(std::trunc(c * (bits == 24 ? 8388607.0 : 32767.0)));
}

QList<qint32> decodeWithFlacTool(const QString& flac, const QString& rawOut, int bits)
{
    if (!TestSupport::runCommand("flac", {"-s", "-d", "-f", "--force-raw-format", "--endian=little",
                                          "--sign=signed", "-o", rawOut, flac}))
        return {};
    const QByteArray raw = readAll(rawOut);
    const int bytes = bits / 8;
    QList<qint32> out;
    for (int i = 0; i + bytes <= raw.size(); i += bytes) {
        qint32 v = 0;
        for (int k = bytes - 1; k >= 0; --k)
            v = (v << 8) | quint8(raw[i + k]);
        out << ((v << (32 - bits)) >> (32 - bits));
    }
    return out;
}

QList<float> ramp(int count, int channels)
{
    QList<float> data;
    for (int i = 0; i < count * channels; ++i)
        data << float(std::sin(0.001 * i * (1 + i % channels)) * 1.2);  // some values clip
    return data;
}

} // namespace

class AudioFileWritingTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void suffixDispatch()
    {
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(p.saveAudioFile(path("take.WAV"), {0.5f}, 44100, 1, 16));
        QCOMPARE(readAll(path("take.WAV")).left(4), QByteArray("RIFF"));
        QVERIFY(p.saveAudioFile(path("take.Flac"), {0.5f}, 44100, 1, 16));
        QCOMPARE(readAll(path("take.Flac")).left(4), QByteArray("fLaC"));
        QCOMPARE(errors.count(), 0);

        QVERIFY(!p.saveAudioFile(path("take.ogg"), {0.5f}, 44100, 1, 16));
        QCOMPARE(errors.last().at(0).toString(), QStringLiteral("不支持保存的音频格式: ogg"));
        QVERIFY(!QFile::exists(path("take.ogg")));
        QCOMPARE(errors.count(), 1);
    }

    void wav16ExactBytes()
    {
        AudioProcessor p;
        QVERIFY(p.saveAudioFile(path("w16.wav"), {1.5f, -2.0f, 0.5f}, 22050, 1, 16));
        const QByteArray b = readAll(path("w16.wav"));
        QByteArray expected;
        QDataStream s(&expected, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::LittleEndian);
        s.writeRawData("RIFF", 4);
        s << quint32(3 * 2 + 36);
        s.writeRawData("WAVEfmt ", 8);
        s << quint32(16) << quint16(1) << quint16(1) << quint32(22050) << quint32(22050 * 2)
          << quint16(2) << quint16(16);
        s.writeRawData("data", 4);
        s << quint32(6) << qint16(32767) << qint16(-32767) << qint16(16383);
        QCOMPARE(b, expected);
    }

    void wav24Clamping()
    {
        AudioProcessor p;
        QVERIFY(p.saveAudioFile(path("w24.wav"), {1.0f, -1.0f, 0.25f, -7.0f}, 48000, 2, 24));
        const QByteArray b = readAll(path("w24.wav"));
        QCOMPARE(b.size(), 44 + 12);
        QCOMPARE(le32(b, 4), quint32(12 + 36));
        QCOMPARE(le16(b, 20), quint16(1));
        QCOMPARE(le16(b, 22), quint16(2));
        QCOMPARE(le32(b, 28), quint32(2 * 48000 * 3));
        QCOMPARE(le16(b, 32), quint16(6));
        QCOMPARE(le16(b, 34), quint16(24));
        QCOMPARE(le32(b, 40), quint32(12));
        QCOMPARE(b.mid(44, 3), QByteArray::fromHex("FFFF7F"));
        QCOMPARE(b.mid(47, 3), QByteArray::fromHex("010080"));
        // 0.25 * 8388607 = 2097151.75 -> 2097151 = 0x1FFFFF
        QCOMPARE(b.mid(50, 3), QByteArray::fromHex("FFFF1F"));
        QCOMPARE(b.mid(53, 3), QByteArray::fromHex("010080"));
    }

    void wavFloatWithFactChunk()
    {
        const QList<float> data{1.5f, -0.25f, 0.0f, -3.0f, 1e-6f, 0.75f};
        AudioProcessor p;
        QVERIFY(p.saveAudioFile(path("wf.wav"), data, 96000, 2, 32));
        const QByteArray b = readAll(path("wf.wav"));
        const int n = data.size();
        QCOMPARE(b.size(), 56 + 4 * n);
        QCOMPARE(le32(b, 4), quint32(4 * n + 48));
        QCOMPARE(le16(b, 20), quint16(3));
        QCOMPARE(le32(b, 28), quint32(2 * 96000 * 4));
        QCOMPARE(le16(b, 32), quint16(8));
        QCOMPARE(le16(b, 34), quint16(32));
        QCOMPARE(b.mid(36, 4), QByteArray("fact"));
        QCOMPARE(le32(b, 40), quint32(4));
        QCOMPARE(le32(b, 44), quint32(n / 2));
        QCOMPARE(b.mid(48, 4), QByteArray("data"));
        QCOMPARE(le32(b, 52), quint32(4 * n));
        QCOMPARE(b.mid(56), QByteArray(reinterpret_cast<const char*>(data.constData()), 4 * n));
    }

    void flacCodedNumbers_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QByteArray>("bytes");
        // The same forms as UTF-8 (extended to 7 bytes for 36 bits).
        QTest::newRow("127") << quint64(127) << QByteArray::fromHex("7F");
        QTest::newRow("128") << quint64(128) << QByteArray::fromHex("C280");
        QTest::newRow("2047") << quint64(2047) << QByteArray::fromHex("DFBF");
        QTest::newRow("2048") << quint64(2048) << QByteArray::fromHex("E0A080");
        QTest::newRow("65535") << quint64(65535) << QByteArray::fromHex("EFBFBF");
        QTest::newRow("65536") << quint64(65536) << QByteArray::fromHex("F0908080");
        QTest::newRow("2^21") << (quint64(1) << 21) << QByteArray::fromHex("F888808080");
        QTest::newRow("2^26") << (quint64(1) << 26) << QByteArray::fromHex("FC8480808080");
        QTest::newRow("2^31") << (quint64(1) << 31) << QByteArray::fromHex("FE828080808080");
        QTest::newRow("2^36-1") << ((quint64(1) << 36) - 1) << QByteArray::fromHex("FEBFBFBFBFBFBF");
    }

    void flacCodedNumbers()
    {
        QFETCH(quint64, value);
        QFETCH(QByteArray, bytes);
        QByteArray out("x");
        FlacEncoder::writeFlacUtf8Number(out, value);
        QCOMPARE(out, QByteArray("x") + bytes);
    }

    void flacLayoutOf10000MonoFrames()
    {
        QList<float> data(10000);
        for (int i = 0; i < data.size(); ++i)
            data[i] = float(std::sin(i * 0.05)) * 0.8f;
        AudioProcessor p;
        const QString file = path("layout.flac");
        QVERIFY(p.saveAudioFile(file, data, 44100, 1, 16));
        const QByteArray b = readAll(file);

        QCOMPARE(b.left(4), QByteArray("fLaC"));
        QCOMPARE(quint8(b[4]), quint8(0x00));
        QCOMPARE(be(b, 5, 3), quint64(34));
        const int si = 8;
        QCOMPARE(be(b, si, 2), quint64(1808));     // minimum block
        QCOMPARE(be(b, si + 2, 2), quint64(4096)); // maximum block
        QCOMPARE(be(b, si + 4, 3), quint64(0));
        // Largest frame: the second (3-byte coded number): 4+3+1 header, 1+8192 subframe, 2 CRC.
        QCOMPARE(be(b, si + 7, 3), quint64(8203));
        const quint64 packed = be(b, si + 10, 8);
        QCOMPARE(packed >> 44, quint64(44100));
        QCOMPARE((packed >> 41) & 7, quint64(0));
        QCOMPARE((packed >> 36) & 31, quint64(15));
        QCOMPARE(packed & 0xFFFFFFFFFULL, quint64(10000));
        QCOMPARE(b.mid(si + 18, 16), QByteArray(16, '\0'));

        const int vc = si + 34;
        QCOMPARE(quint8(b[vc]), quint8(0x84));
        QCOMPARE(be(b, vc + 1, 3), quint64(4 + 15 + 4));
        QCOMPARE(le32(b, vc + 4), quint32(15));
        QCOMPARE(b.mid(vc + 8, 15), QByteArray("CalderwynStudio"));
        QCOMPARE(le32(b, vc + 23), quint32(0));

        const int f1 = vc + 27;
        QCOMPARE(b.mid(f1, 5), QByteArray::fromHex("FFF9C90800"));  // code 12, rate 9, mono 16-bit, number 0
        const int f2 = f1 + 8201;
        QCOMPARE(b.mid(f2, 7), QByteArray::fromHex("FFF9C908E18080"));  // number 4096
        const int f3 = f2 + 8203;
        QCOMPARE(b.mid(f3, 9), QByteArray::fromHex("FFF97908E28080070F"));  // code 7, number 8192, 1807
        QCOMPARE(b.size(), f3 + 4 + 3 + 2 + 1 + 1 + 1808 * 2 + 2);

        if (!TestSupport::hasCommand("flac"))
            QSKIP("flac is not installed");
        QVERIFY2(TestSupport::runCommand("flac", {"-s", "-t", file}), "flac -t rejects the stream");
        const QList<qint32> decoded = decodeWithFlacTool(file, path("layout.raw"), 16);
        QCOMPARE(decoded.size(), data.size());
        for (int i = 0; i < data.size(); ++i)
            QCOMPARE(decoded[i], expectedPcm(data[i], 16));
    }

    void flacToolAcceptsAndDecodes_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("storedBits");
        QTest::addColumn<int>("rateCode");
        QTest::newRow("stereo 16-bit 48000") << 2 << 48000 << 16 << 16 << 10;
        QTest::newRow("mono 24-bit 22050") << 1 << 22050 << 24 << 24 << 6;
        QTest::newRow("stereo 32 requested as 24-bit") << 2 << 44100 << 32 << 24 << 9;
        QTest::newRow("mono 16-bit 11025 (rate from STREAMINFO)") << 1 << 11025 << 16 << 16 << 0;
        QTest::newRow("stereo 16-bit 96000 exact blocks") << 2 << 96000 << 16 << 16 << 11;
        // More frames than the writer encodes side by side at once.
        QTest::newRow("stereo 24-bit 44100 long") << 2 << 44100 << 24 << 24 << 9;
    }

    void flacToolAcceptsAndDecodes()
    {
        if (!TestSupport::hasCommand("flac"))
            QSKIP("flac is not installed");
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(int, storedBits);
        QFETCH(int, rateCode);
        const QByteArray tag(QTest::currentDataTag());
        const int frames = tag.contains("exact") ? 4096 * 3 : tag.contains("long") ? 4096 * 600 + 123 : 9001;
        const QList<float> data = ramp(frames, channels);
        AudioProcessor p;
        const QString file = path("tool.flac");
        QVERIFY(p.saveAudioFile(file, data, rate, channels, bits));
        const QByteArray b = readAll(file);
        const quint64 packed = be(b, 18, 8);
        QCOMPARE(packed >> 44, quint64(rate));
        QCOMPARE(int((packed >> 41) & 7) + 1, channels);
        QCOMPARE(int((packed >> 36) & 31) + 1, storedBits);
        QCOMPARE(int(packed & 0xFFFFFFFFFULL), frames);
        const int frame1 = 8 + 34 + 27;
        QCOMPARE(quint8(b[frame1 + 2]) & 0x0F, rateCode);
        QCOMPARE(quint8(b[frame1 + 3]) >> 4, channels - 1);

        QVERIFY2(TestSupport::runCommand("flac", {"-s", "-t", file}), "flac -t rejects the stream");
        const QList<qint32> decoded = decodeWithFlacTool(file, path("tool.raw"), storedBits);
        QCOMPARE(decoded.size(), data.size());
        for (int i = 0; i < data.size(); ++i)
            QCOMPARE(decoded[i], expectedPcm(data[i], storedBits));
    }

    void flacEmptyStream()
    {
        AudioProcessor p;
        const QString file = path("empty.flac");
        QVERIFY(p.saveAudioFile(file, {}, 44100, 2, 16));
        const QByteArray b = readAll(file);
        QCOMPARE(b.size(), 4 + 4 + 34 + 4 + 23);
        QCOMPARE(be(b, 8, 2), quint64(0));
        QCOMPARE(be(b, 10, 2), quint64(0));
        QCOMPARE(be(b, 15, 3), quint64(0));
        QCOMPARE(be(b, 18, 8) & 0xFFFFFFFFFULL, quint64(0));
        QCOMPARE(quint8(b[42]), quint8(0x84));
    }

    // However short, an export opens in other decoders with exactly its samples.
    void flacOfFewFramesOpensElsewhere_data()
    {
        QTest::addColumn<int>("frames");
        for (int frames : {1, 15, 16, 17, 4096 + 5})
            QTest::addRow("%d frames", frames) << frames;
    }

    void flacOfFewFramesOpensElsewhere()
    {
        if (!TestSupport::hasCommand("flac") || !TestSupport::hasCommand("ffmpeg"))
            QSKIP("flac and ffmpeg are not installed");
        QFETCH(int, frames);
        const QList<float> data = ramp(frames, 2);
        const QString file = path("few.flac");
        QVERIFY(AudioProcessor().saveAudioFile(file, data, 44100, 2, 16));
        QByteArray raw;
        QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "error", "-i", file, "-f", "s16le", "-"}, &raw));
        const QList<qint32> fromFlac = decodeWithFlacTool(file, path("few.raw"), 16);
        QCOMPARE(raw.size(), data.size() * 2);
        QCOMPARE(fromFlac.size(), data.size());
        for (int i = 0; i < data.size(); ++i) {
            QCOMPARE(qint32(qint16(le16(raw, 2 * i))), expectedPcm(data[i], 16));
            QCOMPARE(fromFlac[i], expectedPcm(data[i], 16));
        }
    }

    void mp3ReadByFfprobe_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::newRow("mono 44100") << 1 << 44100;
        QTest::newRow("stereo list 48000") << 2 << 48000;
    }

    void mp3ReadByFfprobe()
    {
        if (!TestSupport::hasCommand("ffprobe") || !TestSupport::hasCommand("ffmpeg"))
            QSKIP("ffprobe/ffmpeg are not installed");
        QFETCH(int, channels);
        QFETCH(int, rate);
        const int frames = rate * 2;
        QList<float> data;
        for (int i = 0; i < frames; ++i) {
            const float left = 0.4f * float(std::sin(2 * M_PI * 440 * i / rate));
            data << left;
            if (channels == 2)
                data << 0.4f * float(std::sin(2 * M_PI * 1000 * i / rate));
        }
        AudioProcessor p;
        const QString file = path("out.mp3");
        QVERIFY(p.saveAudioFile(file, data, rate, channels, 16));

        QByteArray probe;
        QVERIFY(TestSupport::runCommand("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                    "stream=channels,sample_rate,bit_rate,codec_name",
                                                    "-of", "default=nw=1", file}, &probe));
        QVERIFY2(probe.contains("codec_name=mp3"), probe.constData());
        QVERIFY2(probe.contains("channels=1\n"), probe.constData());
        QVERIFY2(probe.contains(QByteArray("sample_rate=") + QByteArray::number(rate)), probe.constData());
        QVERIFY2(probe.contains("bit_rate=192000"), probe.constData());

        // The Info tag makes a gapless decoder return exactly the frames we wrote.
        QByteArray raw;
        QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "error", "-i", file, "-f", "f32le", "-"}, &raw));
        QCOMPARE(raw.size() / 4, frames);
        AudioProcessor back;
        QVERIFY(back.loadAudioFile(file));
        QCOMPARE(back.samples.size(), frames);
        QCOMPARE(back.channels, 1);

        // The content is the (L + R) / 2 mix.
        double ab = 0, aa = 0, bb = 0;
        for (int i = 0; i < frames; ++i) {
            const float mix = channels == 2 ? (data[2 * i] + data[2 * i + 1]) * 0.5f : data[i];
            ab += double(mix) * back.samples[i];
            aa += double(mix) * mix;
            bb += double(back.samples[i]) * back.samples[i];
        }
        QVERIFY2(ab / std::sqrt(aa * bb) > 0.995, qPrintable(QString::number(ab / std::sqrt(aa * bb))));
    }

    // A list longer than the writer's blocks: the bytes of one whole encode.
    void mp3OfLongListSameAsOneEncode()
    {
        const int rate = 44100;
        const int frames = Mp3Encoder::ChunkSamples * 512 + 777;
        QList<float> data(2 * frames);
        std::vector<qint16> pcm(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            data[2 * i] = 0.4f * float(std::sin(2 * M_PI * 440 * i / rate));
            data[2 * i + 1] = 0.3f * float(std::sin(2 * M_PI * 1250 * i / rate));
            pcm[size_t(i)] = qint16(SampleConversion::toPcm16((data[2 * i] + data[2 * i + 1]) * 0.5f));
        }
        Mp3Encoder encoder;
        QCOMPARE(encoder.open(rate), Mp3Encoder::Status::Ok);
        QByteArray expected;
        QVERIFY(encoder.encode(pcm.data(), frames, expected) && encoder.finish(expected));

        AudioProcessor p;
        const QString file = path("long.mp3");
        QVERIFY(p.saveAudioFile(file, data, rate, 2, 16));
        QVERIFY(readAll(file) == expected);
    }

    void invalidParametersCreateNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("message");
        QTest::newRow("flac 3 channels") << "x.flac" << 3 << 44100 << 16 << "FLAC编码仅支持1或2声道";
        QTest::newRow("flac rate 0") << "x.flac" << 1 << 0 << 16 << "不支持的采样率: 0";
        QTest::newRow("flac rate too high") << "x.flac" << 1 << 2000000 << 16 << "不支持的采样率: 2000000";
        QTest::newRow("flac 8 bits") << "x.flac" << 1 << 44100 << 8 << "不支持的位深: 8";
        QTest::newRow("wav 8 bits") << "x.wav" << 1 << 44100 << 8 << "不支持的位深: 8";
        QTest::newRow("wav 0 channels") << "x.wav" << 0 << 44100 << 16 << "不支持的声道数: 0";
        QTest::newRow("wav rate 0") << "x.wav" << 1 << 0 << 16 << "不支持的采样率: 0";
        QTest::newRow("mp3 0 channels") << "x.mp3" << 0 << 44100 << 16 << "不支持的声道数: 0";
    }

    void invalidParametersCreateNothing()
    {
        QFETCH(QString, name);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString file = dir.filePath(name);
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(!p.saveAudioFile(file, QList<float>(300, 0.1f), rate, channels, bits));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

        // An existing file of that name stays as it was.
        writeBytes(file, "precious");
        QVERIFY(!p.saveAudioFile(file, QList<float>(300, 0.1f), rate, channels, bits));
        QCOMPARE(readAll(file), QByteArray("precious"));
    }

    void unwritableLocationFails_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::newRow("wav") << "wav";
        QTest::newRow("mp3") << "mp3";
        QTest::newRow("flac") << "flac";
    }

    void unwritableLocationFails()
    {
        QFETCH(QString, ext);
        QStringList targets{m_dir.filePath("no/such/folder/out." + ext), "/proc/cdw-out." + ext};
        // A read-only folder holding an earlier export (permissions do not stop root).
        QTemporaryDir readOnly;
        const QString earlier = readOnly.filePath("out." + ext);
        if (geteuid() != 0) {
            writeBytes(earlier, "earlier export");
            QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::ExeOwner);
            targets << earlier;
        }
        for (const QString& target : targets) {
            AudioProcessor p;
            QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
            QVERIFY2(!p.saveAudioFile(target, QList<float>(1000, 0.2f), 44100, 1, 16), qPrintable(target));
            QCOMPARE(errors.count(), 1);
            QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("无法创建文件: %1").arg(target));
            QCOMPARE(readAll(target), QByteArray(target == earlier ? "earlier export" : ""));
        }
        QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A full disk (here: the file-size limit) fails the write, reports it and
    // leaves the earlier file and no temporary behind.
    void fullDiskKeepsEarlierFile_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::newRow("wav") << "wav";
        QTest::newRow("mp3") << "mp3";
        QTest::newRow("flac") << "flac";
    }

    void fullDiskKeepsEarlierFile()
    {
        QFETCH(QString, ext);
        QTemporaryDir dir;
        const QString file = dir.filePath("export." + ext);
        writeBytes(file, "earlier export");

        const QList<float> data = ramp(44100 * 4, 2);
        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 32 * 1024;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        const bool ok = p.saveAudioFile(file, data, 44100, 2, 16);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!ok);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("无法写入文件: %1").arg(file));
        QCOMPARE(readAll(file), QByteArray("earlier export"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"export." + ext});

        // Without the limit the same export replaces the file.
        QVERIFY(p.saveAudioFile(file, data, 44100, 2, 16));
        QVERIFY(readAll(file).size() > 32 * 1024);
    }

    // A disk that fails to write back fails the export with its reason; the earlier file stays.
    void diskWriteBackErrorKeepsEarlierFile_data() { fullDiskKeepsEarlierFile_data(); }
    void diskWriteBackErrorKeepsEarlierFile()
    {
        QFETCH(QString, ext);
        const QString file = path("write-back." + ext);
        writeBytes(file, "earlier export");
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        TestSupport::FailingDataSync failing(EIO);
        QVERIFY(!p.saveAudioFile(file, ramp(4410, 1), 44100, 1, 16));
        QCOMPARE(errors, QList<QVariantList>{{QStringLiteral("无法写入文件: %1（磁盘读写错误）").arg(file)}});
        QCOMPARE(readAll(file), QByteArray("earlier export"));
        QCOMPARE(QDir(m_dir.path()).entryList({"write-back." + ext + "*"}, QDir::Files | QDir::Hidden).size(), 1);
    }
};

QTEST_GUILESS_MAIN(AudioFileWritingTest)
#include "tst_AudioFileWriting.moc"
