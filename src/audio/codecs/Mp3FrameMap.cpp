#include "Mp3FrameMap.h"

#include "DecodedAudio.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

struct FrameHeader {
    int version = 0; // 0: MPEG-1, 1: MPEG-2, 2: MPEG-2.5
    int layer = 0;   // 1..3
    int rateIndex = 0;
    int bitrateIndex = 0;
    bool mono = false;
    int bytes = 0;
    int unpadded = 0; // what the frame's bit rate gives without the padding slot
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
    h.bitrateIndex = p[2] >> 4;
    h.rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || h.bitrateIndex == 0 || h.bitrateIndex == 15 || h.rateIndex == 3
        || (p[3] & 3) == 2)
        return false;
    h.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    h.layer = 4 - layerBits;
    h.mono = (p[3] >> 6) == 3;
    h.bytes = frameSize(h, h.bitrateIndex, (p[2] >> 1) & 1);
    h.unpadded = frameSize(h, h.bitrateIndex, 0);
    h.samples = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 0) ? 576 : 1152;
    return true;
}

// The last few frames found: with those after a place, they tell best what
// frames lost there were like, as a variable bit rate follows the sound.
class NearbyFrames {
public:
    static constexpr int kCount = 8;

    void add(const FrameHeader& h) { m_bytes[size_t(m_added++ % kCount)] = h.bytes; }

    // Mean size of the remembered frames and of `after`.
    int mean(const std::vector<FrameHeader>& after) const
    {
        qint64 sum = 0;
        const int before = std::min(m_added, kCount);
        for (int i = 0; i < before; ++i)
            sum += m_bytes[size_t(i)];
        for (const FrameHeader& h : after)
            sum += h.bytes;
        const qint64 n = before + qint64(after.size());
        return n > 0 ? int(sum / n) : 0;
    }

private:
    std::array<int, kCount> m_bytes{};
    int m_added = 0;
};

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
    // of the sound, ID3v1 also at the end of a file joined on before another
    // one): their length, or -1 for a trailing tag, 0 for none.
    qint64 tagAt(qint64 at) const
    {
        const qint64 left = m_size - at;
        const char* p = reinterpret_cast<const char*>(m_data + at);
        FrameHeader h;
        if (left > 128 + 10 && std::memcmp(p, "TAG", 3) == 0
            && (std::memcmp(p + 128, "ID3", 3) == 0 || headerAt(at + 128, h)))
            return 128;
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
    // lies, the stream's bytes (from that frame on) when the tag states
    // them, and where its table of contents lies (-1: none); 0 without one.
    qint64 statedFrames(const FrameHeader& h, qint64 at, qint64& countAt, qint64& bytes, qint64& tocAt) const
    {
        if (h.layer != 3)
            return 0;
        const bool mpeg1 = h.version == 0;
        const qint64 tag =
            at + 4 + ((m_data[at + 1] & 1) ? 0 : 2) + (mpeg1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17));
        const qint64 end = std::min(at + h.bytes, m_size);
        if (tag + 12 > end)
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
        if ((flags & 2) && tag + 16 <= end)
            bytes = be32(tag + 12);
        tocAt = tag + ((flags & 2) ? 16 : 12);
        if (!(flags & 4) || tocAt + 100 > end)
            tocAt = -1;
        return be32(countAt);
    }

    // Whether `frames` frames of sound in `bytes` bytes from the tag's frame
    // on, intact, make up the share of a stream of `stated` frames that the
    // tag's table of contents gives those bytes; true where that cannot be
    // told (no table, or too little of the stream for its resolution of a
    // hundredth of the length and 1/256 of the bytes).
    bool fitsTable(qint64 tocAt, qint64 statedBytes, qint64 stated, qint64 frames, qint64 bytes) const
    {
        if (tocAt < 0 || statedBytes <= 0 || stated <= 0 || bytes <= 0)
            return true;
        const double x = 256.0 * double(bytes) / double(statedBytes);
        int i = 0;
        while (i < 99 && m_data[tocAt + i + 1] <= x)
            ++i;
        const double from = m_data[tocAt + i];
        const double to = i < 99 ? m_data[tocAt + i + 1] : 256.0;
        const double percent = i + (to > from ? std::clamp((x - from) / (to - from), 0.0, 1.0) : 0.0);
        if (percent < 10.0)
            return true;
        return std::abs(double(frames) * 100.0 / percent - double(stated)) <= 0.1 * double(stated);
    }

    // Up to `count` frames of the stream from `at` on.
    std::vector<FrameHeader> framesFrom(const FrameHeader& stream, qint64 at, int count) const
    {
        std::vector<FrameHeader> frames;
        for (FrameHeader h; int(frames.size()) < count && frameOf(stream, at, h) && at + h.bytes <= m_size;
             at += h.bytes)
            frames.push_back(h);
        return frames;
    }

    // Whether the damaged bytes before `after` are what bytes cut out of the
    // stream leave: the stub of the frame the cut ended in, shorter than it.
    // Bytes overwritten leave whole frames: the size one frame of the stream
    // has (at a bit rate it uses), or about two frames and more.
    bool cutOut(const FrameHeader& stream, unsigned bitRates, const Mp3FrameMap::Run& before,
                const Mp3FrameMap::Run& after) const
    {
        const qint64 stretch = after.begin - after.damagedFrom;
        for (int index = 1; index < 15; ++index)
            if ((bitRates >> index & 1)
                && (stretch == frameSize(stream, index, 0) || stretch == frameSize(stream, index, 1)))
                return false;
        FrameHeader h;
        int beside = headerAt(after.begin, h) ? h.bytes : 0;
        if (before.end > before.begin && headerAt(before.lastFrame, h))
            beside = std::max(beside, h.bytes);
        return 2 * stretch < 3 * beside;
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
    qint64 tocAt = -1;
    map.statedFrames = walk.statedFrames(stream, at, map.statedFramesAt, statedBytes, tocAt);

    map.runs.push_back({at, at, 0});
    const qint64 first = at;
    qint64 frames = 0;
    qint64 frameBytes = 0;
    unsigned bitRates = 0;    // the bit-rate indexes of the frames found
    int smallest = 0;         // the smallest frame of sound found, without padding
    qint64 soundBytes = 0;    // of the frames of sound found
    NearbyFrames nearby;
    qint64 intactFrames = -1; // before the first damage, with the bytes they take
    qint64 intactBytes = 0;
    while (at < size) {
        FrameHeader h;
        if (walk.frameOf(stream, at, h)) {
            if (at + h.bytes > size) {
                map.endsInFrame = true; // a last frame cut short
                break;
            }
            qint64 countAt = 0;
            qint64 joinedBytes = 0;
            qint64 joinedToc = 0;
            if (at != first && walk.statedFrames(h, at, countAt, joinedBytes, joinedToc) > 0)
                map.joinedAt.push_back(at);
            if (at != first || map.statedFrames == 0) {
                bitRates |= 1u << h.bitrateIndex;
                smallest = smallest > 0 ? std::min(smallest, h.unpadded) : h.unpadded;
                soundBytes += h.bytes;
                nearby.add(h);
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
        // Another stream joined on, its tag frame right here or (the stream
        // before it cut short) inside the last frame. One of another rate
        // or channel count is not read.
        qint64 joined = map.runs.back().end > map.runs.back().begin ? map.runs.back().lastFrame + 1 : at;
        for (qint64 countAt, tagBytes, toc; joined <= at; ++joined)
            if (walk.headerAt(joined, h) && walk.statedFrames(h, joined, countAt, tagBytes, toc) > 0
                && walk.chainAt(h, joined, 2))
                break;
        if (joined <= at && !h.sameStream(stream)) {
            map.laterStreamLeft = true;
            map.laterSampleRate = kRates[h.rateIndex] >> h.version;
            map.laterChannels = h.mono ? 1 : 2;
            break;
        }
        if (joined < at) {
            at = joined;
            continue;
        }
        // Damage: on to the next frame that two more of its stream follow.
        qint64 next = at + 1;
        while (next < size && !walk.chainAt(stream, next, 2))
            ++next;
        if (next >= size)
            break; // trailing bytes that are no frames
        map.damaged = true;
        if (intactFrames < 0) {
            intactFrames = frames - (map.statedFrames > 0 ? 1 : 0);
            intactBytes = at - first;
        }
        Run run;
        run.begin = run.end = next;
        run.damagedFrom = at;
        run.nearBytes = nearby.mean(walk.framesFrom(stream, next, NearbyFrames::kCount));
        // The lost frames filled the damaged bytes, none smaller than the
        // lowest bit rate makes them.
        run.framesLostAtMost = (next - at) / frameSize(stream, 1, 0);
        run.framesLostBefore = std::min(
            run.nearBytes > 0 ? qint64(std::llround(double(next - at) / run.nearBytes)) : 0, run.framesLostAtMost);
        run.trustedFrom = walk.trustedFrom(stream, next);
        run.afterDamage = true;
        map.runs.push_back(run);
        at = next;
    }
    map.frames = frames - (map.statedFrames > 0 ? 1 : 0);
    qint64 cutNearBytes = 0;
    int cuts = 0;
    for (size_t i = 1; i < map.runs.size(); ++i) {
        Run& run = map.runs[i];
        if (run.afterDamage && (run.cutOut = walk.cutOut(stream, bitRates, map.runs[i - 1], run))) {
            cutNearBytes += run.nearBytes;
            ++cuts;
        }
    }
    if (statedBytes > 0 && smallest > 0) {
        const qint64 lost = std::max<qint64>(statedBytes - frameBytes, 0);
        map.statedLossAtMost = lost / smallest;
        // Bytes cut out held frames like those beside the cuts.
        const double mean = cuts > 0 ? double(cutNearBytes) / cuts : double(soundBytes) / double(map.frames);
        map.statedLossEstimate = std::llround(double(lost) / mean);
    }
    map.countFitsTable = intactFrames < 0
                         || walk.fitsTable(tocAt, statedBytes, map.statedFrames, intactFrames, intactBytes);
    // A frame cut by the zeros is lost before them.
    map.endsInZeros = DecodedAudio::endsInReservedZeros(bytes, map.runs.back().end);
    // Frames beyond the tag's count were repeated or appended: their sound
    // is kept, which only the damaged-file decoding does (a decoder stops at
    // the stated end). A frame's difference is how encoders count.
    if (map.statedFrames > 0 && map.frames > map.statedFrames + 1)
        map.damaged = true;
    return map;
}
