#include "OggPageParser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace OggPageParser {

namespace {

// The Ogg checksum: CRC-32, polynomial 0x04C11DB7, most significant bit
// first, starting from 0, over the page with its checksum field as zeros.
const std::array<quint32, 256>& crcTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

quint32 readLe32(const unsigned char* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The end of the page at `at` as its header and lacing state it; 0 when
// the data holds no whole page there.
qint64 pageEnd(const unsigned char* data, qint64 size, qint64 at)
{
    if (at < 0 || size - at < kHeaderBytes || std::memcmp(data + at, "OggS", 4) != 0 || data[at + 4] != 0)
        return 0;
    const int segments = data[at + 26];
    if (size - at - kHeaderBytes < segments)
        return 0;
    qint64 end = at + kHeaderBytes + segments;
    for (int s = 0; s < segments; ++s)
        end += data[at + kHeaderBytes + s];
    return end <= size ? end : 0;
}

} // namespace

quint32 checksum(const unsigned char* data, qint64 count)
{
    const auto& table = crcTable();
    quint32 crc = 0;
    for (qint64 i = 0; i < count; ++i)
        crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
    return crc;
}

bool statedPageAt(const unsigned char* data, qint64 size, qint64 at, Page& page)
{
    page.end = pageEnd(data, size, at);
    if (page.end == 0)
        return false;
    const unsigned char* header = data + at;
    page.begin = at;
    page.segments = header[26];
    page.lacing = header + kHeaderBytes;
    page.flags = header[5];
    page.granule = quint64(readLe32(header + 6)) | quint64(readLe32(header + 10)) << 32;
    page.serial = readLe32(header + 14);
    page.sequence = readLe32(header + 18);
    return true;
}

bool pageAt(const unsigned char* data, qint64 size, qint64 at, Page& page, qint64* checked)
{
    if (!statedPageAt(data, size, at, page))
        return false;
    const unsigned char* header = data + at;
    const auto& table = crcTable();
    quint32 crc = 0;
    auto add = [&](const unsigned char* from, const unsigned char* to) {
        for (; from < to; ++from)
            crc = (crc << 8) ^ table[(crc >> 24) ^ *from];
    };
    static const unsigned char zeros[4] = {0, 0, 0, 0};
    add(header, header + 22);
    add(zeros, zeros + 4); // the checksum field counts as zeros
    add(header + 26, data + page.end);
    if (checked)
        *checked += page.end - at;
    return crc == readLe32(header + 22);
}

int packetsEnding(const Page& page)
{
    return int(std::count_if(page.lacing, page.lacing + page.segments,
                             [](unsigned char length) { return length < 255; }));
}

qint64 failedCheckAllowance(qint64 size)
{
    return std::max<qint64>(size, qint64(1) << 20);
}

Survey survey(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qint64 size = bytes.size();
    const std::string_view text(bytes.constData(), size_t(size));
    const qint64 allowance = failedCheckAllowance(size);
    Survey found;
    qint64 failed = 0; // bytes of failed checksums
    int lastFlags = 0;
    // A page that could continue the stream: known flags, and the serial of
    // the pages before it unless it begins a stream of its own.
    auto couldContinue = [&](qint64 at) {
        const int flags = data[at + 5];
        return flags <= (Continued | FirstPage | LastPage)
               && (found.pages.empty() || (flags & FirstPage) || readLe32(data + at + 14) == found.pages.back().serial);
    };
    auto check = [&](qint64 at, Page& page) {
        const qint64 before = found.checkedBytes;
        if (pageAt(data, size, at, page, &found.checkedBytes))
            return true;
        failed += found.checkedBytes - before;
        return false;
    };
    for (qint64 at = 0; at < size;) {
        Page page;
        if (check(at, page)) {
            // Sequence numbers count the pages of one logical stream.
            if (!found.pages.empty() && page.serial == found.pages.back().serial
                && page.sequence != found.pages.back().sequence + 1)
                found.sequenceJumps.push_back(found.pages.size());
            found.pages.push_back(page);
            lastFlags = page.flags;
            at = page.end;
            continue;
        }
        qint64 next = -1;
        for (size_t from = size_t(at) + 1; next < 0 && failed <= allowance;) {
            const size_t hit = text.find("OggS", from);
            if (hit == std::string_view::npos || size - qint64(hit) < kHeaderBytes)
                break;
            Page probe;
            if (couldContinue(qint64(hit)) && check(qint64(hit), probe))
                next = qint64(hit);
            from = hit + 1;
        }
        if (next < 0) {
            // The rest unsearched, or a whole last page whose checksum
            // fails: damage, not a cut. Other bytes are a cut page or bytes
            // after the stream.
            if (failed > allowance) {
                found.damaged = true;
            } else if (pageEnd(data, size, at) != 0) {
                found.damaged = true;
                lastFlags = data[at + 5];
            }
            break;
        }
        found.damaged = true;
        at = next;
    }
    found.cutShort = found.pages.empty() || !(lastFlags & LastPage);
    return found;
}

bool endsInOtherStream(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qint64 size = bytes.size();
    const std::string_view text(bytes.constData(), size_t(size));
    Page first;
    const size_t start = text.find("OggS");
    if (start == std::string_view::npos || !pageAt(data, size, qint64(start), first))
        return false;
    // The last page begins at most one page's length (65307 bytes) from the
    // end; after damage there, no further back is searched.
    constexpr qint64 kMaxPageBytes = kHeaderBytes + 255 + 255 * 255;
    for (size_t from = text.size(); from > 0;) {
        const size_t hit = text.rfind("OggS", from - 1);
        if (hit == std::string_view::npos || size - qint64(hit) > 2 * kMaxPageBytes || hit <= start)
            return false;
        Page last;
        if (pageAt(data, size, qint64(hit), last))
            return last.serial != first.serial;
        from = hit;
    }
    return false;
}

QString otherCodec(const QByteArray& bytes)
{
    // Streams multiplexed together (a Skeleton index beside the sound)
    // begin with their first pages one after another.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    Page first;
    for (qint64 at = 0; pageAt(data, bytes.size(), at, first) && (first.flags & FirstPage); at = first.end) {
        if (first.segments == 0)
            continue;
        const QByteArray packet = bytes.mid(first.begin + kHeaderBytes + first.segments, first.lacing[0]);
        if (packet.startsWith("OpusHead"))
            return QStringLiteral("Opus");
        if (packet.startsWith("\x7F" "FLAC"))
            return QStringLiteral("FLAC");
    }
    return {};
}

} // namespace OggPageParser
