// Seeded mutations of Ogg Vorbis files whose pages are rewritten with valid
// checksums, so stb_vorbis takes them in: forged granule positions and page
// flags, changed segment lengths, pages dropped, repeated, moved or hidden
// inside another page, then some raw damage. Each file decodes in parallel
// segments (which seek) and whole; it loads or fails by result, never faults
// (the sanitizers watch), and a failed open keeps no memory.

#include "audio/codecs/OggDecoder.h"
#include "audio/codecs/OggPageParser.h"
#include "audio/codecs/StbVorbisAllowance.h"

#include "OggPages.h"
#include "TestSupport.h"

#include <QRandomGenerator>
#include <QtTest/QtTest>

#include <algorithm>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void setGranule(OggPage& page, quint64 granule)
{
    for (int i = 0; i < 8; ++i)
        page.header[6 + i] = char((granule >> (8 * i)) & 0xFF);
}

quint64 granuleOf(const OggPage& page)
{
    quint64 granule = 0;
    for (int i = 7; i >= 0; --i)
        granule = granule << 8 | quint8(page.header[6 + i]);
    return granule;
}

// Numbers the pages from `first` on down by one (or `by`), as a tool that
// drops a page and writes the rest out again would.
void renumberFrom(QList<OggPage>& pages, qsizetype first, int by = -1)
{
    for (qsizetype p = first; p < pages.size(); ++p) {
        quint32 sequence = 0;
        for (int i = 3; i >= 0; --i)
            sequence = sequence << 8 | quint8(pages[p].header[18 + i]);
        for (int i = 0; i < 4; ++i)
            pages[p].header[18 + i] = char(((sequence + by) >> (8 * i)) & 0xFF);
    }
}

// A page of another logical stream (serial 77) holding one packet.
OggPage otherStreamPage(int flags, quint32 sequence, const QByteArray& packet)
{
    OggPage page{QByteArray("OggS\0", 5).leftJustified(27, '\0'), {}, packet};
    page.header[5] = char(flags);
    page.header[14] = 77;
    page.header[18] = char(sequence);
    appendLacing(page.lacing, packet.size());
    return page;
}

QByteArray joined(const QList<OggPage>& pages)
{
    QByteArray bytes;
    for (const OggPage& page : pages)
        bytes += pageBytes(page);
    return bytes;
}

QList<float> samplesOf(const DecodedAudio& audio)
{
    QList<float> all;
    for (const QList<float>& part : audio.parts)
        all += part;
    return all;
}

// One forged change to the pages, the checksums kept valid.
void mutatePages(QList<OggPage>& pages, QRandomGenerator& random)
{
    const qsizetype count = pages.size();
    // The header pages are changed less often: most damage goes to audio.
    const qsizetype at = random.bounded(8) == 0 ? random.bounded(count) : 2 + random.bounded(count - 2);
    OggPage& page = pages[at];
    switch (random.bounded(9)) {
    case 8: {
        // Positions that still rise but no longer match the audio.
        const double scale = 0.25 + random.bounded(4.0);
        const quint64 shift = random.bounded(20000);
        for (OggPage& each : pages)
            if (granuleOf(each) != ~quint64(0) && granuleOf(each) > 0)
                setGranule(each, quint64(double(granuleOf(each)) * scale) + shift);
        break;
    }
    case 0:
    case 1: {
        const quint64 own = granuleOf(page);
        const quint64 choices[] = {random.generate64(), random.generate(), granuleOf(pages[random.bounded(count)]),
                                   own + random.bounded(600) - 300, 0, ~quint64(0), own | quint64(1) << 32,
                                   0xFFFFFFFFu};
        setGranule(page, choices[random.bounded(8)]);
        break;
    }
    case 2:
        page.header[5] = char(quint8(page.header[5]) ^ (1 << random.bounded(3)));
        break;
    case 3:
        if (!page.lacing.isEmpty()) {
            const qsizetype s = random.bounded(page.lacing.size());
            const int length = random.bounded(256);
            qsizetype offset = 0;
            for (qsizetype i = 0; i < s; ++i)
                offset += page.lacing[i];
            const int old = page.lacing[s];
            if (length > old)
                page.body.insert(offset + old, QByteArray(length - old, char(random.bounded(256))));
            else
                page.body.remove(offset + length, old - length);
            page.lacing[s] = quint8(length);
        }
        break;
    case 4:
        pages.removeAt(at);
        break;
    case 5:
        pages.insert(at, pages[random.bounded(count)]);
        break;
    case 6:
        pages.swapItemsAt(at, random.bounded(count));
        break;
    default: {
        // A whole page, forged granule and all, hidden in another's body.
        OggPage hidden = pages[random.bounded(count)];
        setGranule(hidden, random.bounded(2) ? random.generate64() : granuleOf(hidden) / 2);
        const QByteArray bytes = pageBytes(hidden);
        page.body += bytes;
        appendLacing(page.lacing, bytes.size());
        while (page.lacing.size() > 255)
            page.lacing.removeLast();
        break;
    }
    }
}

QByteArray mutated(const QByteArray& base, QRandomGenerator& random)
{
    QList<OggPage> pages = oggPages(base);
    for (int n = 1 + random.bounded(3); n > 0 && pages.size() > 3; --n)
        mutatePages(pages, random);
    QByteArray bytes;
    for (const OggPage& page : pages)
        bytes += pageBytes(page);
    switch (random.bounded(4)) {
    case 0:
        bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        break;
    case 1:
        bytes.truncate(random.bounded(bytes.size()));
        break;
    default:
        break;
    }
    return bytes;
}

} // namespace

class OggMutationTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArray m_short; // one second, a page every 20 ms
    QByteArray m_long;  // long enough that seeking searches by bisection
    QByteArray m_sweep; // a tone sweeping up (no period to mistake one place for another), a page a second
    QByteArray m_paged; // 6 s of that sweep, two pages a second

private slots:
    void initTestCase()
    {
        if (!TestSupport::hasCommand("ffmpeg"))
            QSKIP("ffmpeg is needed to make the inputs");
        // Noise takes more bytes than a tone: the long file spans more than
        // the 64 kB that stb_vorbis searches linearly.
        const QString tone = QStringLiteral("sine=frequency=440:duration=1:sample_rate=8000");
        const QString noise = QStringLiteral("anoisesrc=duration=24:sample_rate=16000:amplitude=0.3:seed=7");
        for (auto [file, source] : {std::pair{&m_short, tone}, std::pair{&m_long, noise}}) {
            const QString path = m_dir.filePath(QStringLiteral("in.ogg"));
            QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "quiet", "-y", "-f", "lavfi", "-i", source, "-ac", "1",
                                                       "-c:a", "libvorbis", "-q:a", "0", "-page_duration",
                                                       "20000", path}));
            *file = readFile(path);
            QVERIFY(oggPages(*file).size() > 30);
        }
        QVERIFY(m_long.size() > 80000);
        // 3.5 s: its last packet is mostly the encoder's padding, which the last page's position cuts off.
        const QString path = m_dir.filePath(QStringLiteral("sweep.ogg"));
        QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "quiet", "-y", "-f", "lavfi", "-i",
                                                   "aevalsrc=exprs=0.5*sin(2*PI*(200+400*t)*t):d=3.5:s=44100",
                                                   "-c:a", "libvorbis", "-q:a", "0", path}));
        m_sweep = readFile(path);
        QVERIFY(oggPages(m_sweep).size() >= 5);
        QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "quiet", "-y", "-f", "lavfi", "-i",
                                                   "aevalsrc=exprs=0.5*sin(2*PI*(200+400*t)*t):d=6:s=22050", "-c:a",
                                                   "libvorbis", "-q:a", "0", "-page_duration", "500000", path}));
        m_paged = readFile(path);
        QVERIFY(oggPages(m_paged).size() >= 14);
    }

    // The unchanged files decode alike in segments and whole.
    void segmentsMatchWholeOnSoundFiles()
    {
        for (const QByteArray* file : {&m_short, &m_long}) {
            DecodedAudio whole, parts;
            int error = 0;
            QVERIFY(OggDecoder::decode(*file, whole, error, 1));
            QVERIFY(OggDecoder::decode(*file, parts, error, 4));
            QCOMPARE(parts.parts.size(), size_t(4));
            QList<float> joined;
            for (const QList<float>& part : parts.parts)
                joined += part;
            QCOMPARE(joined, whole.parts.at(0));
        }
    }

    // A megabyte of capture patterns after a file, each one starting a page
    // header that claims kilobytes: looking past the damage checksums a
    // bounded share of the bytes, not a page's worth at every pattern.
    void capturePatternFloodTakesLinearWork_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::newRow("bare patterns") << QByteArray("OggS\0", 5);
        // Headers as the stream's own pages have them, bar the checksum.
        QTest::newRow("stream's headers") << m_short.mid(0, 26) + QByteArray(2, '\xff');
    }

    void capturePatternFloodTakesLinearWork()
    {
        QFETCH(QByteArray, pattern);
        const QByteArray bytes = m_short + 'x' + pattern.repeated((1 << 20) / pattern.size());
        const OggPageParser::Survey survey = OggPageParser::survey(bytes);
        QVERIFY2(survey.checkedBytes <= 3 * bytes.size(), qPrintable(QString::number(survey.checkedBytes)));
    }

    // A packet that is not sound ending each audio page: seeking to such a
    // page would make stb_vorbis skip it and lose its place (an assertion,
    // or reads out of bounds), so the file decodes in one pass.
    void pagesEndingInOtherPacketsNeverFault()
    {
        QList<OggPage> pages = oggPages(m_long);
        QByteArray bytes;
        for (OggPage& page : pages) {
            if (granuleOf(page) + 1 > 1 && page.lacing.last() < 255 && page.lacing.size() < 255) {
                page.body.append('\x07');
                page.lacing << 1;
            }
            bytes += pageBytes(page);
        }
        DecodedAudio whole, parts;
        int error = 0;
        QVERIFY(OggDecoder::decode(bytes, whole, error, 1));
        QVERIFY(OggDecoder::decode(bytes, parts, error, 4));
        QCOMPARE(parts.frames(), whole.frames());
    }

    // A page gone: damage in segments too, silence in its place and what follows in time.
    void droppedPageKeepsTime()
    {
        QList<OggPage> pages = oggPages(m_long);
        pages.removeAt(pages.size() * 2 / 5);
        QByteArray bytes;
        for (const OggPage& page : pages)
            bytes += pageBytes(page);
        DecodedAudio intact, damaged;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_long, intact, error, 1) && OggDecoder::decode(bytes, damaged, error, 4));
        QVERIFY(damaged.damaged && damaged.filledFrames > 0);
        QCOMPARE(damaged.frames(), intact.frames());
        QCOMPARE(damaged.parts.back().last(8000), intact.parts.back().last(8000));
    }

    // A page gone and the pages after it numbered on without a gap: only
    // the next page's position, more than its packets can hold, tells. The
    // time lost is silence, what follows keeps its time, whole and in segments.
    void renumberedGapKeepsTime_data()
    {
        QTest::addColumn<int>("segments");
        QTest::newRow("whole") << 1;
        QTest::newRow("segments") << 4;
    }

    void renumberedGapKeepsTime()
    {
        QFETCH(int, segments);
        QList<OggPage> pages = oggPages(m_sweep);
        const qsizetype hole = pages.size() / 2;
        const qsizetype before = qsizetype(granuleOf(pages[hole - 1]));
        const qsizetype lost = qsizetype(granuleOf(pages[hole])) - before;
        pages.removeAt(hole);
        renumberFrom(pages, hole);
        DecodedAudio intact, damaged;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_sweep, intact, error, 1));
        QVERIFY(OggDecoder::decode(joined(pages), damaged, error, segments));
        QVERIFY(damaged.damaged);
        QVERIFY2(damaged.filledFrames >= lost, qPrintable(QString::number(damaged.filledFrames)));
        const QList<float> reference = samplesOf(intact);
        const QList<float> got = samplesOf(damaged);
        QCOMPARE(got.size(), reference.size());
        const qsizetype resumed = before + damaged.filledFrames;
        QVERIFY(std::all_of(got.begin() + before, got.begin() + resumed, [](float x) { return x == 0.0f; }));
        QCOMPARE(got.mid(resumed), reference.mid(resumed));
    }

    // A damaged page just before the last one: the last page's position is
    // where the sound ends once the encoder's padding is cut off, which
    // alone cannot place it. Granule positions count single samples, and
    // the packets after the first one decode as in the intact file, so the
    // rest must match it exactly.
    void damageBeforeLastPageKeepsTime()
    {
        const QList<OggPage> pages = oggPages(m_sweep);
        const qsizetype at = pages.size() - 2;
        QByteArray bytes = joined(pages);
        const OggPage& damaged = pages[at];
        const qsizetype middle = joined(pages.mid(0, at)).size() + damaged.header.size() + damaged.lacing.size()
                                 + damaged.body.size() / 2;
        bytes[middle] = char(bytes[middle] ^ 0x55);
        DecodedAudio intact, decoded;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_sweep, intact, error, 1) && OggDecoder::decode(bytes, decoded, error, 1));
        QVERIFY(decoded.damaged && decoded.filledFrames > 0);
        const QList<float> reference = samplesOf(intact);
        const QList<float> got = samplesOf(decoded);
        QCOMPARE(got.size(), reference.size());
        const qsizetype resumed = qsizetype(granuleOf(pages[at - 1])) + decoded.filledFrames;
        QCOMPARE(got.mid(resumed), reference.mid(resumed));
    }

    // A page written twice (its copy after it or ahead of it, numbered on
    // or not): the copy is dropped, so nothing is heard twice and the rest
    // keeps its time, whole and in segments; the file is called damaged.
    void repeatedPagePlaysOnce_data()
    {
        QTest::addColumn<int>("copied");
        QTest::addColumn<int>("insertAt");
        QTest::addColumn<bool>("numberedOn");
        QTest::newRow("after it, numbered on") << 5 << 6 << true;
        QTest::newRow("after it, same number") << 5 << 6 << false;
        QTest::newRow("ahead of it, numbered on") << 9 << 4 << true;
        QTest::newRow("later, same number") << 3 << 10 << false;
    }

    void repeatedPagePlaysOnce()
    {
        QFETCH(int, copied);
        QFETCH(int, insertAt);
        QFETCH(bool, numberedOn);
        QList<OggPage> pages = oggPages(m_paged);
        pages.insert(insertAt, pages[copied]);
        if (numberedOn) {
            pages[insertAt].header.replace(18, 4, pages[insertAt + 1].header.mid(18, 4));
            renumberFrom(pages, insertAt + 1, 1);
        }
        DecodedAudio intact;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_paged, intact, error, 1));
        for (int segments : {1, 4}) {
            DecodedAudio decoded;
            QVERIFY(OggDecoder::decode(joined(pages), decoded, error, segments));
            QVERIFY(decoded.damaged);
            QCOMPARE(decoded.filledFrames, qint64(0));
            QCOMPARE(samplesOf(decoded), samplesOf(intact));
        }
    }

    // Two pages swapped: the one moved back states a position behind the
    // last one and is left out as damage. Silence stands for it; the page
    // moved ahead and the rest play at their own time.
    void swappedPagesKeepTime_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<bool>("numberedOn");
        QTest::newRow("first audio pages") << 2 << false;
        QTest::newRow("middle") << 7 << false;
        QTest::newRow("middle, numbered in order") << 7 << true;
    }

    void swappedPagesKeepTime()
    {
        QFETCH(int, first);
        QFETCH(bool, numberedOn);
        QList<OggPage> pages = oggPages(m_paged);
        const qsizetype before = qsizetype(granuleOf(pages[first - 1]));
        const qsizetype moved = qsizetype(granuleOf(pages[first])); // the moved-ahead page's sound begins here
        const qsizetype after = qsizetype(granuleOf(pages[first + 1]));
        const qsizetype rest = qsizetype(granuleOf(pages[first + 2]));
        pages.swapItemsAt(first, first + 1);
        if (numberedOn)
            for (int i = 18; i < 22; ++i)
                std::swap(pages[first].header[i], pages[first + 1].header[i]);
        DecodedAudio intact, decoded;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_paged, intact, error, 1));
        QVERIFY(OggDecoder::decode(joined(pages), decoded, error, 1));
        QVERIFY(decoded.damaged && decoded.filledFrames > 0);
        const QList<float> reference = samplesOf(intact);
        const QList<float> got = samplesOf(decoded);
        QCOMPARE(got.size(), reference.size());
        QCOMPARE(got.first(before), reference.first(before));
        const qsizetype half = (after - moved) / 2;
        QCOMPARE(got.mid(after - half, half), reference.mid(after - half, half));
        QCOMPARE(got.mid(rest), reference.mid(rest));
        for (qsizetype i = before; i < rest; ++i)
            QVERIFY2(got[i] == 0.0f || got[i] == reference[i], qPrintable(QString::number(i)));
    }

    // A file cut by a tool that keeps the pages' numbers and positions (they
    // jump once, after the header pages), alone or beside a Skeleton stream,
    // and a whole file beside another stream's pages: intact, the Vorbis
    // stream read from its first kept page, as other readers play it.
    void cutOrMultiplexedIsIntact_data()
    {
        QTest::addColumn<int>("firstKept");
        QTest::addColumn<QString>("beside");
        QTest::newRow("cut") << 6 << "";
        QTest::newRow("cut beside a Skeleton") << 6 << "skeleton";
        QTest::newRow("whole beside another stream") << 2 << "interleaved";
    }

    void cutOrMultiplexedIsIntact()
    {
        QFETCH(int, firstKept);
        QFETCH(QString, beside);
        QList<OggPage> pages = oggPages(m_paged);
        const qsizetype cutAt = qsizetype(granuleOf(pages[firstKept - 1]));
        const qsizetype firstPage = qsizetype(granuleOf(pages[firstKept])) - cutAt;
        pages.remove(2, firstKept - 2);
        if (beside == "skeleton") {
            pages.insert(0, otherStreamPage(2, 0, QByteArray("fishead\0", 8).leftJustified(64, '\0')));
            pages.insert(3, otherStreamPage(0, 1, QByteArray("fisbone\0", 8).leftJustified(52, '\0')));
            pages.insert(4, otherStreamPage(4, 2, {}));
        } else if (beside == "interleaved") {
            pages.insert(1, otherStreamPage(2, 0, "\x80theora"));
            for (qsizetype p = 3, n = 1; p < pages.size(); p += 2, ++n)
                pages.insert(p, otherStreamPage(p + 1 < pages.size() ? 0 : 4, quint32(n), QByteArray(300, char(n))));
        }
        DecodedAudio intact, decoded;
        int error = 0;
        QVERIFY(OggDecoder::decode(m_paged, intact, error, 1));
        QVERIFY2(OggDecoder::decode(joined(pages), decoded, error), qPrintable(QString::number(error)));
        QVERIFY(!decoded.damaged && !decoded.cutShort && !decoded.laterStreamsLeft);
        const QList<float> reference = samplesOf(intact);
        const QList<float> got = samplesOf(decoded);
        // The first kept packet only primes the decoder, as in any stream.
        const qsizetype lost = reference.size() - got.size();
        QVERIFY2(lost >= cutAt && lost - cutAt < firstPage / 4, qPrintable(QString::number(lost - cutAt)));
        QCOMPARE(got, reference.mid(lost));
    }

    void forgedPagesNeverFault()
    {
        const quint64 heldBefore = stbVorbisBlocksHeld();
        int loaded = 0;
        int failed = 0;
        for (quint32 seed = 1; seed <= 3000; ++seed) {
            QRandomGenerator random(seed);
            const QByteArray& base = seed % 16 == 0 ? m_long : m_short;
            const QByteArray bytes = mutated(base, random);
            DecodedAudio out;
            int error = 0;
            if (OggDecoder::decode(bytes, out, error, 2 + random.bounded(4))) {
                ++loaded;
                QCOMPARE(out.channels, 1);
            } else {
                ++failed;
            }
            QCOMPARE(stbVorbisBlocksHeld(), heldBefore);
        }
        QVERIFY(loaded > 100);
        QVERIFY(failed > 100);
    }
};

QTEST_GUILESS_MAIN(OggMutationTest)
#include "tst_OggMutation.moc"
