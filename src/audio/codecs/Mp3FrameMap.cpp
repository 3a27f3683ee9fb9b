#include "Mp3FrameMap.h"

#include "DecodedAudio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct FrameHeader {
    int version = 0; // 0: MPEG-1, 1: MPEG-2, 2: MPEG-2.5
    int layer = 0;   // 1..3
    int rateIndex = 0;
    bool mono = false;
    int bytes = 0;
    int samples = 0;

    // Frames of one stream share these; a header from noise rarely does.
    bool sameStream(const FrameHeader& o) const
    {
        return version == o.version && layer == o.layer && rateIndex == o.rateIndex && mono == o.mono;
    }
};

const int kKbps[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
const int kRates[3] = {44100, 48000, 32000};

// The size of a frame of the stream `h` belongs to at a bit-rate index.
int frameSize(const FrameHeader& h, int bitrateIndex, int padding)
{
    const int rate = kRates[h.rateIndex] >> h.version;
    const int bitsPerSecond = kKbps[h.version == 0 ? 0 : 1][h.layer - 1][bitrateIndex] * 1000;
    if (h.layer == 1)
        return (12 * bitsPerSecond / rate + padding) * 4;
    const int perFrame = (h.layer == 3 && h.version != 0) ? 72 : 144;
    return perFrame * bitsPerSecond / rate + padding;
}

// Free-format frames (bit-rate index 0) state no size and are not mapped.
bool readHeader(const unsigned char* p, FrameHeader& h)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    h.rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || h.rateIndex == 3
        || (p[3] & 3) == 2)
        return false;
    h.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    h.layer = 4 - layerBits;
    h.mono = (p[3] >> 6) == 3;
    h.bytes = frameSize(h, bitrateIndex, (p[2] >> 1) & 1);
    h.samples = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 0) ? 576 : 1152;
    return true;
}

class Walker {
public:
    explicit Walker(const QByteArray& bytes)
        : m_data(reinterpret_cast<const unsigned char*>(bytes.constData())), m_size(bytes.size())
    {
    }

    bool headerAt(qint64 at, FrameHeader& h) const { return at >= 0 && m_size - at >= 4 && readHeader(m_data + at, h); }

    bool frameOf(const FrameHeader& stream, qint64 at, FrameHeader& h) const
    {
        return headerAt(at, h) && h.sameStream(stream);
    }

    // A frame at `at` that `count` more frames of its stream follow, or the
    // end of the data or a tag.
    bool chainAt(const FrameHeader& stream, qint64 at, int count) const
    {
        FrameHeader h;
        for (; count >= 0; --count) {
            if (!frameOf(stream, at, h))
                return false;
            at += h.bytes;
            if (at >= m_size || tagAt(at) != 0)
                return true;
        }
        return true;
    }

    // Tag bytes at `at` (ID3v2 anywhere, ID3v1, APE and Lyrics3 at the end
    // of the sound): their length, or -1 for a trailing tag, 0 for none.
    qint64 tagAt(qint64 at) const
    {
        const qint64 left = m_size - at;
        const char* p = reinterpret_cast<const char*>(m_data + at);
        if (left >= 10 && std::memcmp(p, "ID3", 3) == 0) {
            const auto* u = m_data + at;
            const qint64 body = qint64(u[6] & 0x7F) << 21 | qint64(u[7] & 0x7F) << 14 | qint64(u[8] & 0x7F) << 7
                                | qint64(u[9] & 0x7F);
            return 10 + body + ((u[5] & 0x10) ? 10 : 0);
        }
        if ((left == 128 && std::memcmp(p, "TAG", 3) == 0) || (left >= 32 && std::memcmp(p, "APETAGEX", 8) == 0)
            || (left >= 11 && std::memcmp(p, "LYRICSBEGIN", 11) == 0))
            return -1;
        return 0;
    }

    // The frame after the first one of the run at `at` whose main data lies
    // wholly inside the run: Layer III frames begin their data up to 511
    // bytes back in the frames before them. Layers I and II have no such
    // reservoir, but the first frame still carries the overlap.
    qint64 trustedFrom(const FrameHeader& stream, qint64 at) const
    {
        qint64 available = 0; // main data bytes of the run's frames so far
        for (FrameHeader h; frameOf(stream, at, h) && at + h.bytes <= m_size; at += h.bytes) {
            if (h.layer != 3)
                return at + h.bytes;
            const unsigned char* side = m_data + at + ((m_data[at + 1] & 1) ? 4 : 6);
            const bool mpeg1 = h.version == 0;
            const int sideBytes = mpeg1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
            const qint64 mainBytes = h.bytes - (side - (m_data + at)) - sideBytes;
            if (mainBytes < 0)
                continue;
            const int begin = mpeg1 ? (side[0] << 1 | side[1] >> 7) : side[0];
            if (begin <= available)
                return at + h.bytes;
            available += mainBytes;
        }
        return at;
    }

    // The frame count of a Xing/Info tag in the Layer III frame at `at`
    // (after its header, checksum and side information), where the count
    // lies, and the stream's bytes (from that frame on) when the tag states
    // them; 0 without one.
    qint64 statedFrames(const FrameHeader& h, qint64 at, qint64& countAt, qint64& bytes) const
    {
        if (h.layer != 3)
            return 0;
        const bool mpeg1 = h.version == 0;
        const qint64 tag =
            at + 4 + ((m_data[at + 1] & 1) ? 0 : 2) + (mpeg1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17));
        if (tag + 12 > std::min(at + h.bytes, m_size))
            return 0;
        const char* p = reinterpret_cast<const char*>(m_data + tag);
        if (std::memcmp(p, "Xing", 4) != 0 && std::memcmp(p, "Info", 4) != 0)
            return 0;
        auto be32 = [this](qint64 i) {
            return qint64(m_data[i]) << 24 | qint64(m_data[i + 1]) << 16 | qint64(m_data[i + 2]) << 8 | m_data[i + 3];
        };
        const qint64 flags = be32(tag + 4);
        if (!(flags & 1))
            return 0;
        countAt = tag + 8;
        if ((flags & 2) && tag + 16 <= std::min(at + h.bytes, m_size))
            bytes = be32(tag + 12);
        return be32(countAt);
    }

    qint64 size() const { return m_size; }

private:
    const unsigned char* m_data;
    qint64 m_size;
};

} // namespace

Mp3FrameMap Mp3FrameMap::of(const QByteArray& bytes)
{
    Mp3FrameMap map;
    const Walker walk(bytes);
    const qint64 size = walk.size();

    // The first frame: after a leading tag, the first header that three
    // frames of its stream follow.
    qint64 at = 0;
    for (qint64 tag; at < size && (tag = walk.tagAt(at)) > 0;)
        at += tag;
    const qint64 lead = at;
    FrameHeader stream;
    for (; at < size; ++at)
        if (walk.headerAt(at, stream) && walk.chainAt(stream, at, 3))
            break;
    if (at >= size)
        return map;
    // Frames of that stream before it that damage follows within three
    // frames (the Xing frame and the first sound, say) begin the stream:
    // decoders start there, and the damage after them is mapped like any
    // other. Right after the leading tags one frame will do; after other
    // bytes, two in a row tell frames from noise.
    for (qint64 early = lead; early < at; ++early) {
        FrameHeader first;
        if (walk.frameOf(stream, early, first) && early + first.bytes <= size
            && (early == lead || walk.chainAt(stream, early, 1))) {
            at = early;
            break;
        }
    }
    map.samplesPerFrame = stream.samples;
    qint64 statedBytes = 0;
    map.statedFrames = walk.statedFrames(stream, at, map.statedFramesAt, statedBytes);

    map.runs.push_back({at, at, 0});
    qint64 frames = 0;
    qint64 frameBytes = 0;
    while (at < size) {
        FrameHeader h;
        if (walk.frameOf(stream, at, h)) {
            if (at + h.bytes > size) {
                map.endsInFrame = true; // a last frame cut short
                break;
            }
            map.runs.back().lastFrame = at;
            at += h.bytes;
            map.runs.back().end = at;
            ++frames;
            frameBytes += h.bytes;
            continue;
        }
        const qint64 tag = walk.tagAt(at);
        if (tag < 0)
            break;
        if (tag > 0) { // a tag between frames belongs to the file
            at += tag;
            if (at < size)
                map.runs.push_back({at, at, 0});
            continue;
        }
        // Damage: on to the next frame that two more of its stream follow.
        qint64 next = at + 1;
        while (next < size && !walk.chainAt(stream, next, 2))
            ++next;
        if (next >= size)
            break; // trailing bytes that are no frames
        const double meanBytes = double(frameBytes) / double(std::max<qint64>(frames, 1));
        map.damaged = true;
        Run run;
        run.begin = run.end = next;
        // The lost frames filled the damaged bytes, none smaller than the
        // lowest bit rate makes them.
        run.framesLostAtMost = (next - at) / frameSize(stream, 1, 0);
        run.framesLostBefore = std::min(
            meanBytes > 0 ? qint64(std::llround(double(next - at) / meanBytes)) : 0, run.framesLostAtMost);
        run.trustedFrom = walk.trustedFrom(stream, next);
        run.afterDamage = true;
        map.runs.push_back(run);
        at = next;
    }
    map.frames = frames - (map.statedFrames > 0 ? 1 : 0);
    if (statedBytes > 0)
        map.statedLossAtMost = std::max<qint64>(statedBytes - frameBytes, 0) / frameSize(stream, 1, 0);
    // A frame cut by the zeros is lost before them.
    map.endsInZeros = DecodedAudio::endsInReservedZeros(bytes, map.runs.back().end);
    // Frames beyond the tag's count were repeated or appended: their sound
    // is kept, which only the damaged-file decoding does (a decoder stops at
    // the stated end). A frame's difference is how encoders count.
    if (map.statedFrames > 0 && map.frames > map.statedFrames + 1)
        map.damaged = true;
    return map;
}
