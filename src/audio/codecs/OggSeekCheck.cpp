#include "OggSeekCheck.h"

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace OggSeekCheck {

namespace {

constexpr qint64 kHeaderBytes = 27; // up to the segment count
constexpr quint64 kNoGranule = ~quint64(0);
// stb_vorbis reads granule positions into 32-bit ints while it seeks.
constexpr quint64 kGranuleLimit = quint64(1) << 31;
constexpr int kHeaderPackets = 3;

enum Flag { Continued = 1, FirstPage = 2, LastPage = 4 };

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

struct Page {
    qint64 end = 0;
    int flags = 0;
    quint64 granule = 0;
    quint32 serial = 0;
    int segments = 0;
    const unsigned char* lacing = nullptr;
};

// The page at `at` as stb_vorbis's page search accepts one: capture
// pattern, version 0, the whole page inside the file, a matching checksum.
bool pageAt(const unsigned char* data, qint64 size, qint64 at, Page& page)
{
    if (at < 0 || size - at < kHeaderBytes || std::memcmp(data + at, "OggS", 4) != 0 || data[at + 4] != 0)
        return false;
    const unsigned char* header = data + at;
    page.segments = header[26];
    if (size - at - kHeaderBytes < page.segments)
        return false;
    page.lacing = header + kHeaderBytes;
    qint64 body = 0;
    for (int s = 0; s < page.segments; ++s)
        body += page.lacing[s];
    page.end = at + kHeaderBytes + page.segments + body;
    if (page.end > size)
        return false;
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
    if (crc != readLe32(header + 22))
        return false;
    page.flags = header[5];
    page.granule = quint64(readLe32(header + 6)) | quint64(readLe32(header + 10)) << 32;
    page.serial = readLe32(header + 14);
    return true;
}

} // namespace

bool seekable(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qint64 size = bytes.size();
    std::vector<qint64> starts;
    int packetsEnded = 0;
    bool packetOpen = false; // the previous page's last packet runs on
    bool audio = false;      // past the header packets
    quint64 lastGranule = 0;
    bool haveGranule = false;
    quint32 serial = 0;
    int lastFlags = 0;
    for (qint64 at = 0; at < size;) {
        Page page;
        if (!pageAt(data, size, at, page))
            return false;
        if (starts.empty())
            serial = page.serial;
        else if (page.serial != serial || (page.flags & FirstPage))
            return false;
        // A page without segments makes stb_vorbis reuse the previous
        // page's segment table; a page after the last one is not its own.
        if (page.segments == 0 || bool(page.flags & Continued) != packetOpen || (lastFlags & LastPage))
            return false;
        int ends = 0;
        for (int s = 0; s < page.segments; ++s)
            ends += page.lacing[s] < 255 ? 1 : 0;
        packetOpen = page.lacing[page.segments - 1] == 255;
        if (!audio) {
            packetsEnded += ends;
            if (packetsEnded >= kHeaderPackets) {
                // Audio must start on a page of its own.
                if (packetsEnded > kHeaderPackets || packetOpen)
                    return false;
                audio = true;
            }
        } else if (ends > 0) {
            if (page.granule == kNoGranule || page.granule >= kGranuleLimit
                || (haveGranule && page.granule <= lastGranule))
                return false;
            lastGranule = page.granule;
            haveGranule = true;
        } else if (page.granule != kNoGranule) {
            return false;
        }
        starts.push_back(at);
        lastFlags = page.flags;
        at = page.end;
    }
    if (!audio || !haveGranule || !(lastFlags & LastPage))
        return false;

    // No valid page may hide between the page starts (inside a body).
    const std::string_view text(bytes.constData(), size_t(size));
    size_t next = 0;
    for (size_t found = text.find("OggS"); found != std::string_view::npos; found = text.find("OggS", found + 1)) {
        while (next < starts.size() && starts[next] < qint64(found))
            ++next;
        if (next < starts.size() && starts[next] == qint64(found))
            continue;
        Page hidden;
        if (pageAt(data, size, qint64(found), hidden))
            return false;
    }
    return true;
}

} // namespace OggSeekCheck
