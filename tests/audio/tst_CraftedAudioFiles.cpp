// Compressed files whose headers state lengths that their contents do not
// bear out: a forged FLAC length and Ogg Vorbis comment headers whose counts
// and lengths run past the packet. They must load what is really there or
// fail cleanly, never corrupt memory or ask for absurd amounts of it.

#include "audio/AudioProcessor.h"
#include "audio/codecs/FlacDecoder.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <cmath>
#include <sys/resource.h>

namespace {

qint64 peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

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

void appendLacing(QList<quint8>& lacing, qsizetype bytes)
{
    for (;; bytes -= 255) {
        lacing << quint8(std::min<qsizetype>(bytes, 255));
        if (bytes < 255)
            return;
    }
}

// The stream with its comment and setup headers (the second and third
// packets) replaced; an empty argument keeps the stream's own packet. Both
// go on one page after the identification page; audio starts on a fresh
// page, so the pages after the headers are kept as they are.
QByteArray withHeaders(const QByteArray& ogg, QByteArray comment, QByteArray setup)
{
    const QList<OggPage> pages = oggPages(ogg);
    QByteArray packets[2];
    int packet = 0;
    qsizetype firstAudioPage = 1;
    for (; firstAudioPage < pages.size() && packet < 2; ++firstAudioPage) {
        const OggPage& page = pages[firstAudioPage];
        qsizetype at = 0;
        for (quint8 l : page.lacing) {
            if (packet < 2)
                packets[packet] += page.body.mid(at, l);
            at += l;
            if (l < 255)
                ++packet;
        }
    }
    if (packet < 2)
        return {};
    if (comment.isEmpty())
        comment = packets[0];
    if (setup.isEmpty())
        setup = packets[1];
    OggPage headers = pages[1];
    headers.header[5] = 0;  // neither continued nor first nor last
    headers.lacing.clear();
    appendLacing(headers.lacing, comment.size());
    appendLacing(headers.lacing, setup.size());
    if (headers.lacing.size() > 255)
        return {};
    headers.body = comment + setup;
    QByteArray out = pageBytes(pages[0]) + pageBytes(headers);
    for (qsizetype i = firstAudioPage; i < pages.size(); ++i)
        out += pageBytes(pages[i]);
    return out;
}

// Vorbis packs header fields least significant bit first.
class BitWriter {
public:
    void put(quint32 value, int bits)
    {
        for (int i = 0; i < bits; ++i, ++m_bits) {
            if (m_bits % 8 == 0)
                m_bytes.append('\0');
            if ((value >> i) & 1)
                m_bytes[m_bytes.size() - 1] = char(quint8(m_bytes.back()) | (1 << (m_bits % 8)));
        }
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_bits = 0;
};

// A setup header whose codebooks each ask for 2^24 - 1 entries of
// 30-dimensional vectors: stb_vorbis once expanded each into 2 GB of
// multiplicands, from a packet of a few dozen bytes.
QByteArray hugeCodebookSetup(int books)
{
    BitWriter w;
    w.put(quint32(books - 1), 8);
    for (int b = 0; b < books; ++b) {
        w.put(0x564342, 24);   // codebook sync
        w.put(30, 16);         // dimensions
        w.put(0xFFFFFF, 24);   // entries
        w.put(1, 1);           // ordered lengths
        w.put(23, 5);          // every codeword 24 bits long
        w.put(0xFFFFFF, 24);   // one run over all entries
        w.put(1, 4);           // lookup type 1
        w.put(0, 32);          // minimum value
        w.put(0, 32);          // delta value
        w.put(0, 4);           // 1-bit values
        w.put(0, 1);           // no sequence
        w.put(0, 1);           // the one lookup value
    }
    return QByteArray(1, char(5)) + "vorbis" + w.bytes() + QByteArray(64, '\0');
}

// A comment header: packet type 3, "vorbis", then the fields as given
// (vendor length and text, comment count, each comment's length and text)
// and the framing bit.
QByteArray commentHeader(const QByteArray& fields)
{
    return QByteArray(1, char(3)) + "vorbis" + fields + QByteArray(1, char(1));
}

// A setup header that stb_vorbis rejects only after taking a work buffer
// of `entries` bytes for its first codebook's lengths, which it then leaks:
// a sparse book whose first codeword is 32 bits long.
QByteArray leakingSetup(quint32 entries)
{
    BitWriter w;
    w.put(0, 8);            // one codebook
    w.put(0x564342, 24);
    w.put(1, 16);           // dimensions
    w.put(entries, 24);
    w.put(0, 1);            // not ordered
    w.put(1, 1);            // sparse
    w.put(1, 1);            // first entry present
    w.put(31, 5);           // 32 bits long: invalid
    return QByteArray(1, char(5)) + "vorbis" + w.bytes() + QByteArray(64, '\0');
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
        const QByteArray crafted = withHeaders(m_ogg, comment, {});
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

    // A header page without segments: stb_vorbis reads the identification
    // page's segment table for it (one 30-byte segment), so the comment
    // header it sees is bytes that no page declares. Such a stream fails.
    void oggHeaderPageWithoutSegments()
    {
        const QList<OggPage> pages = oggPages(m_ogg);
        QVERIFY(pages.size() > 2);
        OggPage empty = pages[1];
        empty.header[5] = 0;
        empty.lacing.clear();
        empty.body.clear();
        QByteArray stale = QByteArray(1, char(3)) + "vorbis" + le32(0) + le32(3000000);
        stale += QByteArray(30 - stale.size(), '\0');
        const QString path = m_dir.filePath("empty-page.ogg");
        QVERIFY(writeFile(path, pageBytes(pages[0]) + pageBytes(empty) + stale));

        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(!p.loadAudioFile(path));
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString().startsWith("OGG解码失败 (错误码 "));
    }

    // Memory for a setup header is bounded: the file fails at once instead
    // of taking gigabytes (and most of a minute) first.
    void oggSetupHeaderCannotTakeGigabytes()
    {
        const QByteArray crafted = withHeaders(m_ogg, {}, hugeCodebookSetup(4));
        QVERIFY(!crafted.isEmpty());
        QVERIFY(crafted.size() < 8192);
        const QString path = m_dir.filePath("setup.ogg");
        QVERIFY(writeFile(path, crafted));

        const qint64 peakBefore = peakResidentBytes();
        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(!p.loadAudioFile(path));
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString().startsWith("OGG解码失败 (错误码 "));
        const qint64 growth = peakResidentBytes() - peakBefore;
        QVERIFY2(growth < 512LL * 1024 * 1024, qPrintable(QString::number(growth)));
    }

    // The allowance is per stream: what stb_vorbis leaks on failures does
    // not shrink it, so a good file still loads after many bad ones.
    void oggAllowanceIsPerStream()
    {
        // Leaks of 4 MB, then of 64 kB, fill a 64 MB allowance to the brim.
        for (const auto& [entries, times] : {std::pair{1u << 22, 16}, std::pair{1u << 16, 80}}) {
            const QString bad = m_dir.filePath("leaks.ogg");
            QVERIFY(writeFile(bad, withHeaders(m_ogg, {}, leakingSetup(entries))));
            for (int i = 0; i < times; ++i) {
                AudioProcessor p;
                QVERIFY(!p.loadAudioFile(bad));
            }
        }
        const QString good = m_dir.filePath("good.ogg");
        QVERIFY(writeFile(good, m_ogg));
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(good));
        QVERIFY(std::abs(p.samples.size() - 44100) <= 2048);
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
