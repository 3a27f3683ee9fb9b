// Compressed files whose headers state lengths that their contents do not
// bear out: a forged FLAC length and Ogg Vorbis comment headers whose counts
// and lengths run past the packet. They must load what is really there or
// fail cleanly, never corrupt memory or ask for absurd amounts of it.

#include "audio/AudioProcessor.h"
#include "audio/codecs/FlacDecoder.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <cmath>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray le32(quint32 v)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

// The Ogg page checksum: CRC-32, polynomial 0x04C11DB7, initial value 0,
// over the page with its checksum field zeroed.
quint32 oggCrc(const QByteArray& page)
{
    quint32 crc = 0;
    for (const char ch : page) {
        crc ^= quint32(quint8(ch)) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

struct OggPage {
    QByteArray header;  // the 27 fixed bytes
    QList<quint8> lacing;
    QByteArray body;
};

QList<OggPage> oggPages(const QByteArray& bytes)
{
    QList<OggPage> pages;
    qsizetype at = 0;
    while (at + 27 <= bytes.size() && bytes.mid(at, 4) == "OggS") {
        OggPage page;
        page.header = bytes.mid(at, 27);
        const int segments = quint8(bytes[at + 26]);
        qsizetype bodyBytes = 0;
        for (int s = 0; s < segments; ++s) {
            page.lacing << quint8(bytes[at + 27 + s]);
            bodyBytes += page.lacing.last();
        }
        page.body = bytes.mid(at + 27 + segments, bodyBytes);
        pages << page;
        at += 27 + segments + bodyBytes;
    }
    return pages;
}

QByteArray pageBytes(const OggPage& page)
{
    QByteArray out = page.header;
    out[26] = char(page.lacing.size());
    for (int i = 22; i < 26; ++i)
        out[i] = 0;
    for (quint8 l : page.lacing)
        out.append(char(l));
    out += page.body;
    const quint32 crc = oggCrc(out);
    for (int i = 0; i < 4; ++i)
        out[22 + i] = char((crc >> (8 * i)) & 0xFF);
    return out;
}

// The stream with its comment header (the first packet of the second page)
// replaced by `comment`; the setup header after it is kept.
QByteArray withCommentPacket(const QByteArray& ogg, const QByteArray& comment)
{
    QList<OggPage> pages = oggPages(ogg);
    if (pages.size() < 2)
        return {};
    OggPage& second = pages[1];
    qsizetype oldBytes = 0;
    int oldSegments = 0;
    while (oldSegments < second.lacing.size()) {
        oldBytes += second.lacing[oldSegments];
        if (second.lacing[oldSegments++] < 255)
            break;
    }
    QList<quint8> lacing;
    for (qsizetype left = comment.size(); ; left -= 255) {
        lacing << quint8(std::min<qsizetype>(left, 255));
        if (left < 255)
            break;
    }
    lacing += second.lacing.mid(oldSegments);
    if (lacing.size() > 255)
        return {};
    second.lacing = lacing;
    second.body = comment + second.body.mid(oldBytes);
    QByteArray out;
    for (const OggPage& page : pages)
        out += pageBytes(page);
    return out;
}

// A comment header: packet type 3, "vorbis", then the fields as given
// (vendor length and text, comment count, each comment's length and text)
// and the framing bit.
QByteArray commentHeader(const QByteArray& fields)
{
    return QByteArray(1, char(3)) + "vorbis" + fields + QByteArray(1, char(1));
}

} // namespace

class CraftedAudioFilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char* tool : {"sox", "oggenc"})
            if (!TestSupport::hasCommand(tool))
                QSKIP("sox and oggenc are needed to make the inputs");
        const QString wav = m_dir.filePath("one.wav");
        QVERIFY(TestSupport::runCommand("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", wav,
                                                "synth", "1", "sine", "440", "vol", "0.5"}));
        const QString ogg = m_dir.filePath("one.ogg");
        QVERIFY(TestSupport::runCommand("oggenc", {"-Q", wav, "-o", ogg}));
        m_ogg = readFile(ogg);
        QVERIFY(!m_ogg.isEmpty());
    }

    // Every stated length must fit the comment packet; the rebuilt stream
    // with sound lengths shows that the rebuilding itself is faithful.
    void oggCommentHeader_data()
    {
        QTest::addColumn<QByteArray>("comment");
        QTest::addColumn<bool>("loads");
        const QByteArray vendor = le32(4) + "test";
        const QByteArray two = le32(8) + "ARTIST=a" + le32(7) + "TITLE=b";
        QTest::newRow("sound lengths") << commentHeader(vendor + le32(2) + two) << true;
        QTest::newRow("no comments") << commentHeader(le32(0) + le32(0)) << true;
        // The pointer table would be sized for three and filled from nothing.
        QTest::newRow("count beyond the packet") << commentHeader(vendor + le32(3)) << false;
        // 8 x 0x20000001 wraps to an 8-byte pointer table, then 64 entries.
        QByteArray many;
        for (int i = 0; i < 64; ++i)
            many += le32(0);
        QTest::newRow("count wrapping the table size")
            << commentHeader(vendor + le32(0x20000001u) + many) << false;
        QTest::newRow("comment longer than the packet")
            << commentHeader(vendor + le32(1) + le32(0x40000000u) + "abc") << false;
        QTest::newRow("vendor longer than the packet")
            << commentHeader(le32(0x40000000u) + "test" + le32(0)) << false;
    }

    void oggCommentHeader()
    {
        QFETCH(QByteArray, comment);
        QFETCH(bool, loads);
        const QByteArray crafted = withCommentPacket(m_ogg, comment);
        QVERIFY(!crafted.isEmpty());
        const QString path = m_dir.filePath("crafted.ogg");
        QVERIFY(writeFile(path, crafted));

        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QCOMPARE(p.loadAudioFile(path), loads);
        if (loads) {
            QCOMPARE(errors.count(), 0);
            QVERIFY2(std::abs(p.samples.size() - 44100) <= 2048, qPrintable(QString::number(p.samples.size())));
        } else {
            QCOMPARE(errors.count(), 1);
            const QString text = errors.at(0).at(0).toString();
            QVERIFY2(text.startsWith("OGG解码失败 (错误码 ") && text.endsWith(path), qPrintable(text));
            QVERIFY(p.samples.isEmpty());
        }
    }

    // STREAMINFO claiming 2^36 - 1 frames in an 8 MB file: the claim must not
    // size the output (it once asked for 4096 values a byte, 128 GB here).
    void flacForgedLengthIsNotTrusted()
    {
        const int frames = 2 * 1024 * 1024;
        QList<float> stereo(2 * frames);
        quint32 x = 1;
        for (float& v : stereo) {
            x = x * 1664525u + 1013904223u;
            v = float(qint32(x) >> 16) / 32768.0f;
        }
        const QString path = m_dir.filePath("long.flac");
        AudioProcessor writer;
        QVERIFY(writer.saveAudioFile(path, stereo, 44100, 2, 16));
        QByteArray bytes = readFile(path);
        QVERIFY(bytes.size() > 8 * 1024 * 1024);
        AudioProcessor reference;
        QVERIFY(reference.loadAudioFile(path));
        QCOMPARE(reference.samples.size(), qsizetype(frames));

        // Total samples: the low 4 bits of STREAMINFO byte 13 and bytes 14..17.
        const int info = 8;
        bytes[info + 13] = char(quint8(bytes[info + 13]) | 0x0F);
        for (int i = 14; i < 18; ++i)
            bytes[info + i] = char(0xFF);
        QVERIFY(writeFile(path, bytes));

        AudioProcessor forged;
        QVERIFY(forged.loadAudioFile(path));
        QCOMPARE(forged.samples, reference.samples);
        QCOMPARE(forged.stereoSamples, reference.stereoSamples);
        for (int segments : {1, 3}) {
            DecodedAudio decoded;
            QVERIFY(FlacDecoder::decode(bytes, decoded, segments));
            QCOMPARE(decoded.frames(), qint64(frames));
        }
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_ogg;
};

QTEST_GUILESS_MAIN(CraftedAudioFilesTest)
#include "tst_CraftedAudioFiles.moc"
