// Compressed files whose headers state lengths that their contents do not
// bear out: a forged FLAC length, Ogg Vorbis comment headers whose counts
// and lengths run past the packet, and setup headers whose codebook sizes
// overflow stb_vorbis's arithmetic. They must load what is really there or
// fail cleanly, never corrupt memory or ask for absurd amounts of it.

#include "audio/AudioProcessor.h"
#include "audio/codecs/FlacDecoder.h"
#include "audio/codecs/OggDecoder.h"
#include "audio/codecs/StbVorbisAllowance.h"

#include "CraftedFlac.h"
#include "OggPages.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest/QtTest>
#include <cmath>
#include <functional>
#include <limits>
#include <sys/resource.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

using namespace CraftedFlac;

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

// The comment and setup headers (the second and third packets) and the
// first page after them; an empty setup when the stream has fewer packets.
struct HeaderPackets {
    QByteArray comment;
    QByteArray setup;
    qsizetype firstAudioPage = 1;
};

HeaderPackets headerPackets(const QList<OggPage>& pages)
{
    HeaderPackets headers;
    QByteArray* packets[2] = {&headers.comment, &headers.setup};
    int packet = 0;
    for (; headers.firstAudioPage < pages.size() && packet < 2; ++headers.firstAudioPage) {
        const OggPage& page = pages[headers.firstAudioPage];
        qsizetype at = 0;
        for (quint8 l : page.lacing) {
            if (packet < 2)
                *packets[packet] += page.body.mid(at, l);
            at += l;
            if (l < 255)
                ++packet;
        }
    }
    if (packet < 2)
        headers.setup.clear();
    return headers;
}

// The stream with its comment and setup headers replaced; an empty argument
// keeps the stream's own packet. Both go on one page after the
// identification page; audio starts on a fresh page, so the pages after the
// headers are kept as they are.
QByteArray withHeaders(const QByteArray& ogg, QByteArray comment, QByteArray setup)
{
    const QList<OggPage> pages = oggPages(ogg);
    const HeaderPackets own = headerPackets(pages);
    if (own.setup.isEmpty())
        return {};
    if (comment.isEmpty())
        comment = own.comment;
    if (setup.isEmpty())
        setup = own.setup;
    OggPage headers = pages[1];
    headers.header[5] = 0;  // neither continued nor first nor last
    headers.lacing.clear();
    appendLacing(headers.lacing, comment.size());
    appendLacing(headers.lacing, setup.size());
    if (headers.lacing.size() > 255)
        return {};
    headers.body = comment + setup;
    QByteArray out = pageBytes(pages[0]) + pageBytes(headers);
    for (qsizetype i = own.firstAudioPage; i < pages.size(); ++i)
        out += pageBytes(pages[i]);
    return out;
}

// The stream with its header page split in two after `segments` segments,
// the second page flagged as continuing a packet or not.
QByteArray withHeaderPageSplit(const QByteArray& ogg, int segments, bool continued)
{
    QList<OggPage> pages = oggPages(withHeaders(ogg, {}, {}));
    if (pages.size() < 3 || pages[1].lacing.size() <= segments)
        return {};
    OggPage second = pages[1];
    qsizetype bytes = 0;
    for (int i = 0; i < segments; ++i)
        bytes += pages[1].lacing[i];
    pages[1].lacing = pages[1].lacing.first(segments);
    pages[1].body = pages[1].body.left(bytes);
    second.lacing = second.lacing.mid(segments);
    second.body = second.body.mid(bytes);
    second.header[5] = char(continued ? 1 : 0);
    pages.insert(2, second);
    QByteArray out;
    for (const OggPage& page : pages)
        out += pageBytes(page);
    return out;
}

// Vorbis packs header fields least significant bit first.
class BitReader {
public:
    BitReader(const QByteArray& bytes, qint64 bit) : m_bytes(bytes), m_at(bit) {}
    qint64 at() const { return m_at; }
    quint32 get(int bits)  // zeros past the end
    {
        quint32 value = 0;
        for (int i = 0; i < bits; ++i, ++m_at) {
            const qint64 byte = m_at >> 3;
            if (byte < m_bytes.size() && (quint8(m_bytes[byte]) >> (m_at & 7)) & 1)
                value |= 1u << i;
        }
        return value;
    }

private:
    const QByteArray& m_bytes;
    qint64 m_at;
};

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
    void copy(const QByteArray& from, qint64 begin, qint64 end)
    {
        BitReader in(from, begin);
        for (; in.at() < end;)
            put(in.get(1), 1);
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    qint64 m_bits = 0;
};

void setBits(QByteArray& bytes, qint64 at, int bits, quint32 value)
{
    for (int i = 0; i < bits; ++i, ++at) {
        const char mask = char(1 << (at & 7));
        bytes[at >> 3] = char((value >> i) & 1 ? bytes[at >> 3] | mask : bytes[at >> 3] & ~mask);
    }
}

int bitsFor(quint32 value)
{
    int bits = 0;
    for (; value != 0; value >>= 1)
        ++bits;
    return bits;
}

// The largest r with r^dimensions <= entries.
quint32 lookup1Count(quint32 entries, quint32 dimensions)
{
    auto fits = [&](quint64 r) {
        quint64 power = 1;
        for (quint32 d = 0; d < dimensions && power <= entries; ++d)
            power *= r;
        return power <= entries;
    };
    quint32 r = 0;
    while (fits(r + 1))
        ++r;
    return r;
}

// A codebook of a sound setup header: where it begins, where its lookup
// type is and where it ends (bit positions), and its lookup fields.
struct Codebook {
    qint64 begin = 0;
    qint64 lookup = 0;
    qint64 end = 0;
    quint32 dimensions = 0;
    quint32 entries = 0;
    quint32 lookupType = 0;
    quint32 valueBits = 0;
    bool sequence = false;
    QList<quint32> values;
};

QList<Codebook> codebooksOf(const QByteArray& setup, qint64& booksEnd)
{
    BitReader in(setup, 7 * 8);
    QList<Codebook> books(in.get(8) + 1);
    for (Codebook& book : books) {
        book.begin = in.at();
        in.get(24);
        book.dimensions = in.get(16);
        book.entries = in.get(24);
        if (in.get(1)) {  // ordered: runs of rising lengths
            in.get(5);
            for (quint32 entry = 0; entry < book.entries;)
                entry += in.get(bitsFor(book.entries - entry));
        } else {
            const bool sparse = in.get(1);
            for (quint32 entry = 0; entry < book.entries; ++entry)
                if (!sparse || in.get(1))
                    in.get(5);
        }
        book.lookup = in.at();
        book.lookupType = in.get(4);
        if (book.lookupType != 0) {
            in.get(32);  // minimum
            in.get(32);  // delta
            book.valueBits = in.get(4) + 1;
            book.sequence = in.get(1);
            const quint32 count = book.lookupType == 1 ? lookup1Count(book.entries, book.dimensions)
                                                       : book.entries * book.dimensions;
            for (quint32 i = 0; i < count; ++i)
                book.values << in.get(int(book.valueBits));
        }
        book.end = in.at();
    }
    booksEnd = in.at();
    return books;
}

// The setup header with each codebook that `replace` writes anew replaced
// by what it writes; everything else is copied bit for bit.
QByteArray rebuiltSetup(const QByteArray& setup, const std::function<bool(const Codebook&, BitWriter&)>& replace)
{
    qint64 booksEnd = 0;
    const QList<Codebook> books = codebooksOf(setup, booksEnd);
    BitWriter w;
    w.put(quint32(books.size() - 1), 8);
    for (const Codebook& book : books) {
        if (!replace(book, w))
            w.copy(setup, book.begin, book.end);
    }
    w.copy(setup, booksEnd, qint64(setup.size()) * 8);
    return setup.left(7) + w.bytes();
}

// An ordered book of `runs[i]` codewords of `firstLength + i` bits, with
// the lookup type given and `values` 1-bit values (all 0).
void putOrderedBook(BitWriter& w, quint32 lookupType, quint32 dimensions, int firstLength,
                    const QList<quint32>& runs, quint32 values)
{
    quint32 entries = 0;
    for (quint32 run : runs)
        entries += run;
    w.put(0x564342, 24);
    w.put(dimensions, 16);
    w.put(entries, 24);
    w.put(1, 1);
    w.put(quint32(firstLength - 1), 5);
    quint32 done = 0;
    for (quint32 run : runs) {
        w.put(run, bitsFor(entries - done));
        done += run;
    }
    w.put(lookupType, 4);
    w.put(0, 32);  // minimum
    w.put(0, 32);  // delta
    w.put(0, 4);   // 1-bit values
    w.put(0, 1);   // no sequence
    for (quint32 i = 0; i < values; ++i)
        w.put(0, 1);
}

// The same book with its vectors listed (lookup type 2) instead of
// built from the value column (type 1).
void putListedBook(const QByteArray& setup, const Codebook& book, BitWriter& w)
{
    w.copy(setup, book.begin, book.lookup);
    w.put(2, 4);
    w.copy(setup, book.lookup + 4, book.lookup + 4 + 64 + 5);  // minimum, delta, value bits, sequence
    const quint32 columns = quint32(book.values.size());
    for (quint32 entry = 0; entry < book.entries; ++entry) {
        for (quint32 d = 0, index = entry; d < book.dimensions; ++d, index /= columns)
            w.put(book.values[index % columns], int(book.valueBits));
    }
}

// Decodes with stb_vorbis alone, without our checks.
QList<float> stbVorbisDecode(const QByteArray& bytes, int& channels)
{
    stbVorbisAllowAllocation(STB_VORBIS_DEFAULT_ALLOWANCE);
    int error = 0;
    stb_vorbis* v = stb_vorbis_open_memory(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                           int(bytes.size()), &error, nullptr);
    QList<float> out;
    if (!v)
        return out;
    channels = stb_vorbis_get_info(v).channels;
    QList<float> chunk(4096 * channels);
    for (int got; (got = stb_vorbis_get_samples_float_interleaved(v, channels, chunk.data(), int(chunk.size()))) > 0;)
        out += chunk.first(qsizetype(got) * channels);
    stb_vorbis_close(v);
    return out;
}

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

// Loads a crafted Ogg file; it either loads about one second of audio with no
// error, or fails with exactly one Ogg error that starts with `failurePrefix`
// and leaves nothing loaded.
void expectOggOutcome(const QString& path, bool loads, const QString& failurePrefix)
{
    AudioProcessor p;
    QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
    QCOMPARE(p.loadAudioFile(path), loads);
    if (loads) {
        QCOMPARE(errors.count(), 0);
        QVERIFY2(std::abs(p.samples.size() - 44100) <= 2048, qPrintable(QString::number(p.samples.size())));
    } else {
        QCOMPARE(errors.count(), 1);
        const QString text = errors.at(0).at(0).toString();
        QVERIFY2(text.startsWith(failurePrefix) && text.endsWith(path), qPrintable(text));
        QVERIFY(p.samples.isEmpty());
    }
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

        expectOggOutcome(path, loads, QStringLiteral("OGG解码失败 (错误码 "));
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

    // The setup header split across pages: the second page must say that it
    // continues the packet, as stb_vorbis would otherwise read on into it.
    void oggSetupHeaderAcrossPages_data()
    {
        QTest::addColumn<bool>("continued");
        QTest::newRow("continued") << true;
        QTest::newRow("not continued") << false;
    }

    void oggSetupHeaderAcrossPages()
    {
        QFETCH(bool, continued);
        const HeaderPackets own = headerPackets(oggPages(m_ogg));
        QVERIFY(own.setup.size() > 5 * 255);
        // The comment's segments, then four full ones of the setup header.
        const int split = int(own.comment.size() / 255 + 1 + 4);
        const QByteArray crafted = withHeaderPageSplit(m_ogg, split, continued);
        QVERIFY(!crafted.isEmpty());
        const QString path = m_dir.filePath("split.ogg");
        QVERIFY(writeFile(path, crafted));

        AudioProcessor p;
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QCOMPARE(p.loadAudioFile(path), continued);
        if (continued) {
            QVERIFY(std::abs(p.samples.size() - 44100) <= 2048);
        } else {
            QCOMPARE(errors.count(), 1);
            QVERIFY(errors.at(0).at(0).toString().startsWith("OGG解码失败 (错误码 "));
        }
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

    // Codebook sizes, with every vector book of a real file replaced. A book
    // listing its vectors (lookup type 2) holds entries x dimensions values,
    // which stb_vorbis counts in 32 bits and allocates for with int sizes;
    // its value count for type 1 casts powers to int. Sound books load;
    // books whose sizes wrap or outgrow the packet fail. Unchecked, the
    // wrapping ones crashed: a 4-value table read gigabytes past its end, a
    // table of 0 bytes filled with 2^31 values.
    void oggCodebookSizes_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<bool>("loads");
        const QByteArray setup = headerPackets(oggPages(m_ogg)).setup;
        QVERIFY(!setup.isEmpty());
        auto vectorBooks = [&](const std::function<void(const Codebook&, BitWriter&)>& write) {
            return rebuiltSetup(setup, [&](const Codebook& book, BitWriter& w) {
                if (book.lookupType != 1 || book.sequence)
                    return false;
                write(book, w);
                return true;
            });
        };
        QTest::newRow("books as they were") << rebuiltSetup(setup, [](const Codebook&, BitWriter&) { return false; })
                                            << true;
        QTest::newRow("vectors listed (type 2)")
            << vectorBooks([&](const Codebook& book, BitWriter& w) { putListedBook(setup, book, w); }) << true;
        auto orderedBooks = [&](quint32 type, quint32 dimensions, int firstLength, QList<quint32> runs,
                                quint32 values) {
            return vectorBooks([=](const Codebook&, BitWriter& w) {
                putOrderedBook(w, type, dimensions, firstLength, runs, values);
            });
        };
        // Codewords of 1, 2 and 2 bits: 3 entries x 4 dimensions.
        QTest::newRow("3 x 4 listed") << orderedBooks(2, 4, 1, {1, 2}, 12) << true;
        // 65022 codewords of 16 bits and 1028 of 17 (a complete code).
        QTest::newRow("66050 x 65026 wrapping to 4") << orderedBooks(2, 65026, 16, {65022, 1028}, 4) << false;
        // 2^31 + 2 values: 8-byte tables once their sizes are cut to int.
        QTest::newRow("66050 x 32513 beyond int") << orderedBooks(2, 32513, 16, {65022, 1028}, 0) << false;
        // 2^31 - 2 values: the 2-byte-a-value table's size wraps to 0.
        QTest::newRow("42966 x 49981 under 2^31") << orderedBooks(2, 49981, 15, {22570, 20396}, 0) << false;
        QTest::newRow("66050 x 1000 beyond the packet") << orderedBooks(2, 1000, 16, {65022, 1028}, 0) << false;
        // Two entries: one value (1^d <= 2 < 2^d), but stb_vorbis casts 2^d to int.
        QTest::newRow("type 1, 2 x 30") << orderedBooks(1, 30, 1, {2}, 1) << true;
        QTest::newRow("type 1, 2 x 31") << orderedBooks(1, 31, 1, {2}, 1) << false;
        // Codewords of 1 and 31 bits: stb_vorbis searches a short book with
        // the mask (1 << 31) - 1, an int overflow.
        QList<quint32> oneAnd31(31, 0);
        oneAnd31.first() = oneAnd31.last() = 1;
        QTest::newRow("31-bit codeword") << orderedBooks(1, 2, 1, oneAnd31, 1) << false;
    }

    void oggCodebookSizes()
    {
        QFETCH(QByteArray, setup);
        QFETCH(bool, loads);
        const QByteArray crafted = withHeaders(m_ogg, {}, setup);
        QVERIFY(!crafted.isEmpty());
        const QString path = m_dir.filePath("codebooks.ogg");
        QVERIFY(writeFile(path, crafted));

        expectOggOutcome(path, loads, QStringLiteral("OGG解码失败 (错误码 20): "));
    }

    // Seeded damage to the setup header's codebooks: bits flipped, a book's
    // sizes or lookup type overwritten. Each file loads or fails cleanly.
    void oggSetupMutationsNeverCrash()
    {
        const QByteArray setup = headerPackets(oggPages(m_ogg)).setup;
        qint64 booksEnd = 0;
        const QList<Codebook> books = codebooksOf(setup, booksEnd);
        QVERIFY(books.size() > 1);
        const QString path = m_dir.filePath("mutated.ogg");
        int refused = 0;
        for (quint32 seed = 1; seed <= 240; ++seed) {
            QRandomGenerator random(seed);
            QByteArray mutated = setup;
            const Codebook& book = books[random.bounded(qsizetype(books.size()))];
            switch (seed % 4) {
            case 0:
                for (int i = 0, n = 1 + random.bounded(4); i < n; ++i) {
                    const qint64 bit = random.bounded(qint64(7 * 8), booksEnd);
                    mutated[bit >> 3] = char(mutated[bit >> 3] ^ (1 << (bit & 7)));
                }
                break;
            case 1:  // dimensions only: the lengths stay readable
                setBits(mutated, book.begin + 24, 16, random.generate());
                break;
            case 2:  // dimensions and entries
                setBits(mutated, book.begin + 24, 16, random.generate());
                setBits(mutated, book.begin + 40, 24, random.generate() >> random.bounded(24));
                break;
            default:  // what follows is read as lookup fields
                setBits(mutated, book.lookup, 4, 1 + random.bounded(2));
                setBits(mutated, book.begin + 24, 16, random.generate() >> random.bounded(16));
                break;
            }
            QVERIFY(writeFile(path, withHeaders(m_ogg, {}, mutated)));
            AudioProcessor p;
            QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
            if (!p.loadAudioFile(path)) {
                ++refused;
                QCOMPARE(errors.count(), 1);
                QVERIFY(errors.at(0).at(0).toString().startsWith("OGG解码失败 (错误码 "));
            }
        }
        QVERIFY(refused > 0);
    }

    // Files from the encoders decode exactly as stb_vorbis alone decodes
    // them, also with a comment header spanning many pages.
    void oggRealFilesDecodeAsBefore_data()
    {
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("oggenc -1, 8 kHz mono") << "oggenc" << QStringList{"-q", "-1"} << 8000 << 1;
        QTest::newRow("oggenc 4, 22.05 kHz stereo") << "oggenc" << QStringList{"-q", "4"} << 22050 << 2;
        QTest::newRow("oggenc 10, 44.1 kHz mono") << "oggenc" << QStringList{"-q", "10"} << 44100 << 1;
        QTest::newRow("oggenc 6, 96 kHz stereo") << "oggenc" << QStringList{"-q", "6"} << 96000 << 2;
        QTest::newRow("oggenc 100 kB comment")
            << "oggenc" << QStringList{"-c", "COMMENT=" + QString(100000, 'x')} << 44100 << 2;
        QTest::newRow("libvorbis 0, 16 kHz mono") << "ffmpeg" << QStringList{"-q:a", "0"} << 16000 << 1;
        QTest::newRow("libvorbis 8, 48 kHz stereo") << "ffmpeg" << QStringList{"-q:a", "8"} << 48000 << 2;
    }

    void oggRealFilesDecodeAsBefore()
    {
        QFETCH(QString, encoder);
        QFETCH(QStringList, options);
        QFETCH(int, rate);
        QFETCH(int, channels);
        if (!TestSupport::hasCommand(encoder))
            QSKIP("the encoder is not installed");
        const QString wav = m_dir.filePath("real.wav");
        const QString ogg = m_dir.filePath("real.ogg");
        QFile::remove(ogg);
        QVERIFY(TestSupport::runCommand("sox", {"-n", "-r", QString::number(rate), "-c", QString::number(channels),
                                                "-b", "16", wav, "synth", "0.5", "sine", "300-3000", "pinknoise",
                                                "vol", "0.5"}));
        QVERIFY(encoder == "oggenc"
                    ? TestSupport::runCommand("oggenc", QStringList{"-Q"} + options + QStringList{wav, "-o", ogg})
                    : TestSupport::runCommand("ffmpeg", QStringList{"-v", "quiet", "-y", "-i", wav, "-c:a", "libvorbis"}
                                                            + options + QStringList{ogg}));
        const QByteArray bytes = readFile(ogg);
        int stbChannels = 0;
        const QList<float> reference = stbVorbisDecode(bytes, stbChannels);
        QCOMPARE(stbChannels, channels);
        QVERIFY(std::abs(reference.size() / channels - rate / 2) <= 2048);

        DecodedAudio decoded;
        int error = -1;
        QVERIFY(OggDecoder::decode(bytes, decoded, error, 1));
        QCOMPARE(decoded.sampleRate, rate);
        QCOMPARE(decoded.channels, channels);
        QCOMPARE(decoded.parts.size(), size_t(1));
        QVERIFY(decoded.parts[0] == reference);
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

    // Frames whose numbers disagree with the order of the stream: each
    // lands where its header says, silence where frames are missing, but
    // never more silence than the bytes or the stated length allow.
    void flacFramesGoWhereTheirNumbersSay_data()
    {
        QTest::addColumn<QList<qint64>>("starts");
        QTest::addColumn<qint64>("stated");
        QTest::addColumn<QList<qint64>>("expected");  // first sample of each output block, -1 silence
        QTest::addColumn<bool>("damaged");
        const QList<qint64> all = blockStarts(0, 20), jumps = blockStarts(0, 10, 100000);
        QTest::newRow("lost frame") << blockStarts(0, 10) + blockStarts(11, 20) << qint64(1280)
                                    << blockStarts(0, 10) + QList<qint64>{-1} + blockStarts(11, 20) << true;
        QTest::newRow("frame after a gap named twice") << all + blockStarts(5, 6) + blockStarts(7, 20) << qint64(1280)
                                                       << all << true;
        QTest::newRow("jumps past the stated length") << jumps << qint64(640) << jumps << true;
        QTest::newRow("jumps past what the bytes hold") << jumps << qint64(0) << jumps << true;
        QTest::newRow("frames repeated") << blockStarts(0, 30) + blockStarts(10, 20) + blockStarts(30, 40)
                                         << qint64(2560) << blockStarts(0, 40) << true;
        QTest::newRow("lost frame comes late") << blockStarts(0, 10) + blockStarts(11, 20) + blockStarts(10, 11)
                                               << qint64(1280) << all << true;
        QTest::newRow("cut out, no length") << blockStarts(10, 30) << qint64(0) << blockStarts(10, 30) << false;
        // Further ahead than the bytes can have held: the frame waits for its turn.
        QTest::newRow("frame far ahead, again in its turn")
            << blockStarts(0, 10) + blockStarts(300, 301) + blockStarts(10, 310) << qint64(0) << blockStarts(0, 310) << true;
        QTest::newRow("frame moved far ahead") << blockStarts(0, 10) + blockStarts(300, 301) + blockStarts(10, 300)
                                                      + blockStarts(301, 310)
                                               << qint64(0) << blockStarts(0, 310) << true;
    }

    void flacFramesGoWhereTheirNumbersSay()
    {
        QFETCH(QList<qint64>, starts);
        QFETCH(qint64, stated);
        QFETCH(QList<qint64>, expected);
        QFETCH(bool, damaged);
        for (int segments : {1, 3}) {
            DecodedAudio decoded;
            QVERIFY(FlacDecoder::decode(flacFrames(starts, stated), decoded, segments));
            QCOMPARE(decoded.frames(), 64 * expected.size());
            QCOMPARE(decoded.damaged, damaged);
            QCOMPARE(decoded.filledFrames, 64 * expected.count(-1));
            const QList<float> values = decoded.parts.size() == 1 ? decoded.parts[0] : QList<float>();
            for (qsizetype i = 0; i < values.size(); ++i)
                QCOMPARE(values[i], expected[i / 64] < 0 ? 0.0f : float(flacValue(expected[i / 64] + i % 64)) / 32768.0f);
        }
    }

    // Every second frame named 0 (0, 0, 1, 0, 2, 0, ...), each a repeat of
    // the first: dropping them must cost about what the frames cost, not
    // what all the output before them costs. Timed against the same
    // frames in order, in turns, the fastest of three runs each.
    void flacFramesNumberedBehindDecodeInLinearTime()
    {
        const int frames = 2000, blockSize = 1024;
        QList<qint64> behind;
        for (int k = 0; k < frames; ++k)
            behind << (k % 2 ? 0 : blockSize * (k / 2));
        const QByteArray bytes[2] = {flacFrames(blockStarts(0, frames, blockSize), 0, blockSize),
                                     flacFrames(behind, 0, blockSize)};
        DecodedAudio decoded[2];
        qint64 fastest[2] = {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
        for (int run = 0; run < 6; ++run) {
            decoded[run % 2] = DecodedAudio();
            QElapsedTimer clock;
            clock.start();
            QVERIFY(FlacDecoder::decode(bytes[run % 2], decoded[run % 2], 1));
            fastest[run % 2] = std::min(fastest[run % 2], clock.nsecsElapsed());
        }
        QCOMPARE(decoded[1].frames(), decoded[0].frames() / 2);
        QVERIFY(decoded[1].damaged);
        QVERIFY2(fastest[1] < 10 * fastest[0],
                 qPrintable(QString("%1 ms against %2 ms in order").arg(fastest[1] / 1e6).arg(fastest[0] / 1e6)));
    }

    // Two files joined end to end (cat a.flac b.flac): both play, the
    // second after the first, and the note says the file was joined; also
    // when both halves are the same file.
    void flacFilesJoinedEndToEndPlayInOrder_data()
    {
        QTest::addColumn<bool>("sameFile");
        QTest::newRow("two files") << false;
        QTest::newRow("one file twice") << true;
    }

    void flacFilesJoinedEndToEndPlayInOrder()
    {
        QFETCH(bool, sameFile);
        const QString first = m_dir.filePath("first.flac"), second = m_dir.filePath("second.flac");
        AudioProcessor writer;
        QVERIFY(writer.saveAudioFile(first, TestSupport::sineWave(440, 3, 44100), 44100, 1, 16));
        QVERIFY(writer.saveAudioFile(second, TestSupport::sineWave(660, 2, 44100), 44100, 1, 16));
        const QString later = sameFile ? first : second;
        AudioProcessor parts[2];
        QVERIFY(parts[0].loadAudioFile(first) && parts[1].loadAudioFile(later));
        const QByteArray bytes = readFile(first) + readFile(later);
        const QString joined = m_dir.filePath("joined.flac");
        QVERIFY(writeFile(joined, bytes));

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(joined));
        QCOMPARE(p.samples, parts[0].samples + parts[1].samples);
        QVERIFY2(p.damageNote().startsWith(QStringLiteral("文件由 2 段音频串联而成")), qPrintable(p.damageNote()));
        for (int segments : {1, 3}) {
            DecodedAudio decoded;
            QVERIFY(FlacDecoder::decode(bytes, decoded, segments));
            QCOMPARE(decoded.frames(), p.samples.size());
            QVERIFY(!decoded.damaged && !decoded.cutShort);
        }
    }

    // The frames of a second stream appended without its head, both parts
    // silent at the same places (at the start, and where the second ends):
    // the second part's silent frames are its own, not repeats of the
    // first part's frames of the same numbers, and play after the first.
    void flacPartAppendedWithoutItsHeadKeepsItsSilence()
    {
        auto part = [](int sign) {
            return [sign](qint64 i) { return qint16(i < 200 || (i >= 500 && i < 640) ? 0 : sign * flacValue(i)); };
        };
        const QByteArray first = flacFrames(blockStarts(0, 20), 1280, 64, part(1));
        const QByteArray second = flacFrames(blockStarts(0, 10), 640, 64, part(-1));
        const QByteArray head = flacFrames({}, 640);
        for (int segments : {1, 3}) {
            DecodedAudio decoded;
            QVERIFY(FlacDecoder::decode(first + second.mid(head.size()), decoded, segments));
            QCOMPARE(decoded.frames(), 1920);
            const QList<float> values = decoded.parts.size() == 1 ? decoded.parts[0] : QList<float>();
            for (qsizetype i = 0; i < values.size(); ++i)
                QCOMPARE(values[i], float(i < 1280 ? part(1)(i) : part(-1)(i - 1280)) / 32768.0f);
        }
    }

    // 'fLaC' and a STREAMINFO block among a frame's samples are sound, not
    // the head of a stream joined on; also in the frame libFLAC finds
    // after bytes it could not read.
    void flacStreamHeadAmongSamplesIsSound_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("afterLostBytes");
        QTest::newRow("same layout") << 8000 << false;
        QTest::newRow("other rate") << 48000 << false;
        QTest::newRow("same layout, after lost bytes") << 8000 << true;
        QTest::newRow("other rate, after lost bytes") << 48000 << true;
    }

    void flacStreamHeadAmongSamplesIsSound()
    {
        QFETCH(int, rate);
        QFETCH(bool, afterLostBytes);
        QByteArray head = flacFrames({}, 640);
        head[18] = char(rate >> 12);  // STREAMINFO's 20-bit rate
        head[19] = char(rate >> 4);
        head[20] = char((rate & 0x0F) << 4 | (quint8(head[20]) & 0x0F));
        // Block 10 holds the head from its ninth sample on.
        const auto value = [&head](qint64 i) {
            const qint64 k = i - 648;
            return k >= 0 && 2 * k < head.size() ? qint16(quint8(head[2 * k]) << 8 | quint8(head[2 * k + 1]))
                                                  : flacValue(i);
        };
        QByteArray bytes = flacFrames(blockStarts(0, 20), 1280, 64, value);
        QVERIFY(bytes.indexOf(head) > 0);
        // Block 9's frame made zeros: libFLAC loses sync and finds block 10.
        const qsizetype blockNine = flacFrames(blockStarts(0, 9), 1280).size();
        const qsizetype blockTen = flacFrames(blockStarts(0, 10), 1280).size();
        if (afterLostBytes)
            bytes.replace(blockNine, blockTen - blockNine, QByteArray(blockTen - blockNine, '\0'));
        DecodedAudio decoded;
        QVERIFY(FlacDecoder::decode(bytes, decoded, 1));
        QCOMPARE(decoded.joinedStreams, 0);
        QVERIFY(!decoded.laterStreamsLeft);
        QCOMPARE(decoded.damaged, afterLostBytes);
        QCOMPARE(decoded.frames(), 1280);
        const QList<float> values = decoded.parts[0];
        for (qsizetype i = 0; i < values.size(); ++i)
            QCOMPARE(values[i], afterLostBytes && i / 64 == 9 ? 0.0f : float(value(i)) / 32768.0f);
    }

    // A part at another rate or channel count ends the import, and the
    // note says what the part is.
    void flacPartInAnotherLayoutIsNamed_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("why");
        QTest::newRow("rate") << 48000 << 1 << QStringLiteral("第 2 段为 48000 Hz（前面为 44100 Hz）");
        QTest::newRow("channels") << 44100 << 2 << QStringLiteral("第 2 段为 2 声道（前面为 1 声道）");
        QTest::newRow("both") << 22050 << 2 << QStringLiteral("第 2 段为 22050 Hz、2 声道（前面为 44100 Hz、1 声道）");
    }

    void flacPartInAnotherLayoutIsNamed()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QString, why);
        const QString first = m_dir.filePath("first.flac"), second = m_dir.filePath("second.flac");
        AudioProcessor writer;
        QVERIFY(writer.saveAudioFile(first, TestSupport::sineWave(440, 1, 44100), 44100, 1, 16));
        QVERIFY(writer.saveAudioFile(second, TestSupport::sineWave(660, channels, rate), rate, channels, 16)); // 1 s a channel
        const QString joined = m_dir.filePath("joined.flac");
        QVERIFY(writeFile(joined, readFile(first) + readFile(second)));
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(joined));
        QCOMPARE(p.samples.size(), 44100);
        QCOMPARE(p.damageNote(), QStringLiteral("文件由多段音频串联而成，只导入了第一段（1.0 秒），") + why);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_ogg;
};

QTEST_GUILESS_MAIN(CraftedAudioFilesTest)
#include "tst_CraftedAudioFiles.moc"
