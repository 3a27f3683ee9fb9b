#include "OggSeekCheck.h"

#include "OggPageParser.h"

#include <string_view>
#include <vector>

namespace OggSeekCheck {

using namespace OggPageParser;

namespace {

// stb_vorbis reads granule positions into 32-bit ints while it seeks.
constexpr quint64 kGranuleLimit = quint64(1) << 31;
constexpr int kHeaderPackets = 3;

} // namespace

bool seekable(const QByteArray& bytes, VorbisPacketClock clock)
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
    quint32 sequence = 0;
    int lastFlags = 0;
    for (qint64 at = 0; at < size;) {
        Page page;
        if (!pageAt(data, size, at, page))
            return false;
        // A gap in the page numbers is pages lost: seeking by position would
        // place the sound after it too early, and the segment before it
        // would run on into the next one.
        if (starts.empty())
            serial = page.serial;
        else if (page.serial != serial || (page.flags & FirstPage) || page.sequence != sequence + 1)
            return false;
        sequence = page.sequence;
        // A page without segments makes stb_vorbis reuse the previous
        // page's segment table; a page after the last one is not its own.
        if (page.segments == 0 || bool(page.flags & Continued) != packetOpen || (lastFlags & LastPage))
            return false;
        int ends = 0;
        const unsigned char* body = page.lacing + page.segments;
        for (int s = 0; s < page.segments; body += page.lacing[s++]) {
            // Its seeking skips a packet that is not sound, or empty, while
            // it reads the packet it has placed: it then loses its place.
            const bool starts = s == 0 ? !packetOpen : page.lacing[s - 1] < 255;
            if (audio && starts && (page.lacing[s] == 0 || (body[0] & 1)))
                return false;
            ends += page.lacing[s] < 255 ? 1 : 0;
        }
        packetOpen = page.lacing[page.segments - 1] == 255;
        const quint64 step = clock.advance(page);
        if (!audio) {
            packetsEnded += ends;
            if (packetsEnded >= kHeaderPackets) {
                // Audio must start on a page of its own.
                if (packetsEnded > kHeaderPackets || packetOpen)
                    return false;
                audio = true;
            }
        } else if (ends > 0) {
            // The first audio page counts from 0.
            if (page.granule == kNoPosition || page.granule >= kGranuleLimit
                || (haveGranule && page.granule <= lastGranule) || page.granule - lastGranule > step)
                return false;
            lastGranule = page.granule;
            haveGranule = true;
        } else if (page.granule != kNoPosition) {
            return false;
        }
        starts.push_back(at);
        lastFlags = page.flags;
        at = page.end;
    }
    if (!audio || !haveGranule || !(lastFlags & LastPage))
        return false;

    // No valid page may hide between the page starts (inside a body). The
    // seek's own page search would checksum every capture pattern in them:
    // bodies full of those are not searched further, nor seeked in.
    const std::string_view text(bytes.constData(), size_t(size));
    const qint64 allowance = failedCheckAllowance(size);
    qint64 checked = 0;
    size_t next = 0;
    for (size_t found = text.find("OggS"); found != std::string_view::npos; found = text.find("OggS", found + 1)) {
        while (next < starts.size() && starts[next] < qint64(found))
            ++next;
        if (next < starts.size() && starts[next] == qint64(found))
            continue;
        Page hidden;
        if (pageAt(data, size, qint64(found), hidden, &checked) || checked > allowance)
            return false;
    }
    return true;
}

} // namespace OggSeekCheck
