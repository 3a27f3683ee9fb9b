#include "OggDecoder.h"

#include "GrowingSampleBuffer.h"
#include "OggPageFilter.h"
#include "OggPageParser.h"
#include "OggSeekCheck.h"
#include "SegmentedDecoding.h"
#include "StbVorbisAllowance.h"
#include "StbVorbisModes.h"
#include "VorbisCodebookCheck.h"
#include "VorbisPacketClock.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

namespace {

struct VorbisDeleter {
    void operator()(stb_vorbis* v) const { stb_vorbis_close(v); }
};
using Vorbis = std::unique_ptr<stb_vorbis, VorbisDeleter>;

using OggPageParser::kNoPosition;

// stb_vorbis rewrites one shared CRC table whenever it opens a stream and
// reads it while it looks for pages (seeking, measuring the length), so
// those calls are serialised: parallel segment decoders would race on it.
std::mutex& pageSearchMutex()
{
    static std::mutex mutex;
    return mutex;
}

Vorbis openVorbis(const QByteArray& bytes, int& error)
{
    error = 0;
    const std::lock_guard<std::mutex> lock(pageSearchMutex());
    // A failed open leaves some of its allocations behind; they are freed here.
    stbVorbisBeginOpen(STB_VORBIS_DEFAULT_ALLOWANCE);
    Vorbis vorbis(stb_vorbis_open_memory(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                         int(bytes.size()), &error, nullptr));
    stbVorbisEndOpen(vorbis != nullptr);
    return vorbis;
}

// The same over the push interface, which finds its way back to the next
// page after damage; `used` is where the header packets end.
Vorbis openPushVorbis(const QByteArray& bytes, int& used, int& error)
{
    error = 0;
    used = 0;
    const std::lock_guard<std::mutex> lock(pageSearchMutex());
    stbVorbisBeginOpen(STB_VORBIS_DEFAULT_ALLOWANCE);
    Vorbis vorbis(stb_vorbis_open_pushdata(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                           int(bytes.size()), &used, &error, nullptr));
    stbVorbisEndOpen(vorbis != nullptr);
    return vorbis;
}

// The comment and setup headers (the second and third packets) as
// stb_vorbis reads them: packet after packet from the page after the
// identification page, across continued pages, each up to its end or to
// the end of the file. False when the pages on the way make stb_vorbis
// read something that cannot be told from the file: a page without
// segments (it reuses the previous page's segment table), or a page that
// does not continue a packet running into it (stb_vorbis reads on into it).
bool headerPackets(const QByteArray& bytes, QByteArray& comment, QByteArray& setup)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qint64 size = bytes.size();
    constexpr qint64 kPageHeader = 27;  // up to the segment count
    // A page header as stb_vorbis accepts one: pattern, version 0, whole lacing table.
    auto isPage = [&](qint64 at) {
        return at >= 0 && size - at >= kPageHeader && std::memcmp(data + at, "OggS", 4) == 0
               && data[at + 4] == 0 && size - at - kPageHeader >= data[at + 26];
    };
    comment.clear();
    setup.clear();
    if (!isPage(0) || data[26] != 1)
        return true;  // no identification page: stb_vorbis stops before the comments
    qint64 page = kPageHeader + 1 + data[kPageHeader];  // the page being read
    int segments = 0;   // its segment count
    int next = 0;       // its next segment
    qint64 body = 0;    // where that segment's bytes start
    bool firstPage = true;
    for (QByteArray* packet : {&comment, &setup}) {
        for (bool continuing = false;; continuing = true) {
            if (next == segments) {  // on to the next page
                if (!isPage(page))
                    return true;
                segments = data[page + 26];
                if (segments == 0 || (!firstPage && bool(data[page + 5] & 1) != continuing))
                    return false;
                firstPage = false;
                next = 0;
                body = page + kPageHeader + segments;
            }
            const int length = data[page + kPageHeader + next++];
            packet->append(reinterpret_cast<const char*>(data) + std::min(body, size),
                           qsizetype(std::clamp<qint64>(size - body, 0, length)));
            body += length;
            if (next == segments)
                page = body;
            if (length < 255)
                break;
        }
    }
    return true;
}

// stb_vorbis sizes its vendor and comment buffers from the lengths the
// comment header states, without checking them against the packet: a
// forged count or length makes it write past a buffer, free pointers it
// never set, or allocate gigabytes. Every stated length must fit the packet,
// and the buffers must fit well inside stb_vorbis's allowance (see
// StbVorbis.c): running out while it reads the comments also has it free
// pointers it never set.
bool commentHeaderFits(const QByteArray& packet)
{
    constexpr qint64 kCommentAllowance = STB_VORBIS_DEFAULT_ALLOWANCE / 2;
    const auto* p = reinterpret_cast<const unsigned char*>(packet.constData());
    const qint64 n = packet.size();
    if (n < 7 || p[0] != 3 || std::memcmp(p + 1, "vorbis", 6) != 0)
        return true;  // no comment header: stb_vorbis rejects the stream itself
    qint64 at = 7;
    auto readLength = [&](qint64& value) {
        if (n - at < 4)
            return false;
        value = qint64(p[at]) | qint64(p[at + 1]) << 8 | qint64(p[at + 2]) << 16
                | qint64(p[at + 3]) << 24;
        at += 4;
        return true;
    };
    // What stb_vorbis allocates for a buffer: rounded up to 8 bytes.
    auto cost = [](qint64 bytes) { return (bytes + 7) & ~qint64(7); };
    qint64 vendor = 0;
    if (!readLength(vendor) || vendor > n - at)
        return false;
    at += vendor;
    // Each comment takes at least its 4-byte length.
    qint64 count = 0;
    if (!readLength(count) || count > (n - at) / 4)
        return false;
    qint64 allocated = cost(vendor + 1) + cost(8 * count);
    for (qint64 i = 0; i < count; ++i) {
        qint64 length = 0;
        if (!readLength(length) || length > n - at)
            return false;
        at += length;
        allocated += cost(length + 1);
        if (allocated > kCommentAllowance)
            return false;
    }
    return allocated <= kCommentAllowance;
}

// Appends up to maxFrames frames (all when negative).
void readFrames(stb_vorbis* v, int channels, qint64 maxFrames, GrowingSampleBuffer& buffer)
{
    constexpr int kChunkFrames = 4096;
    qint64 remaining = maxFrames;
    while (remaining != 0) {
        const int want = remaining < 0 ? kChunkFrames : int(std::min<qint64>(kChunkFrames, remaining));
        float* dst = buffer.append(qsizetype(want) * channels);
        const int got = stb_vorbis_get_samples_float_interleaved(v, channels, dst, want * channels);
        buffer.shrinkBy(qsizetype(want - got) * channels);
        if (got <= 0)
            break;
        if (remaining > 0)
            remaining -= got;
    }
}

// A file cut by a tool that keeps the pages' numbers and positions: they
// jump once, from the header pages (ending at `audioStart`) to the first
// audio page kept, whose position is at least what its packets decode to
// (a stream's own first page states exactly that) and below every later
// one (else pages were moved). Its sound starts the file, as other readers
// play it. The index of that page, or ~0.
size_t cutAfterHeaders(const std::vector<OggPageParser::Page>& pages, qint64 audioStart, VorbisPacketClock clock)
{
    constexpr size_t kNone = ~size_t(0);
    size_t cut = 1;
    for (; cut < pages.size() && pages[cut].begin != audioStart; ++cut)
        clock.advance(pages[cut - 1]);
    if (cut >= pages.size())
        return kNone;
    clock.advance(pages[cut - 1]);
    const OggPageParser::Page& headers = pages[cut - 1];
    const OggPageParser::Page& page = pages[cut];
    if (headers.end != page.begin || page.serial != headers.serial || page.sequence <= headers.sequence
        || (page.flags & (OggPageParser::Continued | OggPageParser::FirstPage)) || page.granule == kNoPosition
        || page.granule < clock.advance(page))
        return kNone;
    for (size_t i = cut + 1; i < pages.size() && !(pages[i - 1].flags & OggPageParser::LastPage); ++i)
        if (pages[i].serial == page.serial && pages[i].granule <= page.granule)
            return kNone;
    return cut;
}

// Runs of the first stream's pages that follow one another unbroken: each
// the next in sequence, no bytes between them, and its position no further
// on than its packets decode to (pages lost and the rest numbered on
// without a gap show only there). After the first audio page (`audioStart`
// on), a page whose packets end must state a position beyond the last one:
// one that does not (a page repeated or moved back; the reader's filter has
// dropped plain repeats) is damage, left out, so no sound is heard twice or
// pushes the rest late. `cut`: the page accepted as a cut after the headers.
// A stream chained after it would need its own headers, so reading ends
// with the first stream.
struct PageRun {
    qint64 begin = 0;
    qint64 end = 0;
    size_t first = 0; // index of its first page
};

std::vector<PageRun> pageRuns(const std::vector<OggPageParser::Page>& pages, VorbisPacketClock clock,
                              qint64 audioStart, size_t cut)
{
    std::vector<PageRun> runs;
    const OggPageParser::Page* last = nullptr;
    quint64 stated = 0; // the last position a page stated
    bool audioStated = false;
    for (size_t i = 0; i < pages.size(); ++i) {
        const OggPageParser::Page& page = pages[i];
        if (last && page.serial != last->serial)
            continue;
        const bool positioned = page.granule != kNoPosition;
        // The last page may state no more than the one before: its packets
        // can be all padding.
        if (audioStated && positioned
            && (page.granule < stated || (page.granule == stated && !(page.flags & OggPageParser::LastPage))))
            continue;
        VorbisPacketClock next = clock;
        const quint64 step = next.advance(page);
        if (last && page.begin == last->end
            && (i == cut
                || (page.sequence == last->sequence + 1
                    && (!positioned || page.granule <= stated || page.granule - stated <= step)))) {
            runs.back().end = page.end;
            clock = next;
        } else {
            runs.push_back({page.begin, page.end, i});
            clock.restart();
            clock.advance(page);
        }
        if (positioned) {
            stated = page.granule;
            audioStated = audioStated || page.begin >= audioStart;
        }
        last = &page;
        if (page.flags & OggPageParser::LastPage)
            break;
    }
    return runs;
}

// Where the sound after a break begins, when only the stream's last page
// would tell: its position is where the sound ends once the encoder's
// padding is cut off, which alone cannot place it. A single damaged page
// before it still states where its packets end, if its header holds
// together with its neighbours: believed only within what its packets and
// the last page's can decode to, and when no packet runs across into the
// last page (stb_vorbis drops that one uncounted). ~0 when nothing tells.
quint64 positionBeforeLastPage(const unsigned char* data, qint64 size, const std::vector<OggPageParser::Page>& pages,
                               const PageRun& run, const VorbisPacketClock& clock, int longBlock)
{
    if (run.first == 0)
        return kNoPosition;
    const OggPageParser::Page& before = pages[run.first - 1];
    const OggPageParser::Page& after = pages[run.first];
    const OggPageParser::Page* closing = nullptr; // the first page after the break that states a position
    for (size_t i = run.first; i < pages.size() && pages[i].begin < run.end && !closing; ++i)
        if (pages[i].granule != kNoPosition)
            closing = &pages[i];
    OggPageParser::Page lost;
    if (!closing || !(closing->flags & OggPageParser::LastPage) || (after.flags & OggPageParser::Continued)
        || after.segments == 0 || after.lacing[0] == 0
        || !OggPageParser::statedPageAt(data, size, before.end, lost) || lost.end != after.begin
        || lost.serial != after.serial || lost.sequence != before.sequence + 1 || after.sequence != lost.sequence + 1
        || lost.granule == kNoPosition || lost.granule > closing->granule
        || (before.granule != kNoPosition && lost.granule < before.granule))
        return kNoPosition;
    const quint64 packetFrames = quint64(longBlock / 2);
    if ((before.granule != kNoPosition
         && lost.granule - before.granule > quint64(OggPageParser::packetsEnding(lost)) * packetFrames)
        || closing->granule - lost.granule > quint64(OggPageParser::packetsEnding(*closing)) * packetFrames)
        return kNoPosition;
    // The position is the middle of the last block ending on the damaged
    // page. stb_vorbis counts the next packet from the end of that block's
    // sound, which lies past the middle where a long block meets a short
    // one: by a quarter of their difference.
    const int nextBlock = clock.blockOf(after.lacing[after.segments]);
    VorbisPacketClock onLostPage = clock;
    onLostPage.restart(); // a packet that began before it is not known
    onLostPage.advance(lost);
    const int lastBlock = onLostPage.lastEndedBlock();
    const quint64 position = lost.granule
                             + (nextBlock > 0 && nextBlock < longBlock && lastBlock == longBlock
                                    ? quint64(longBlock - nextBlock) / 4
                                    : 0);
    return position < quint64(std::numeric_limits<int>::max()) ? position : kNoPosition;
}

// After a flush stb_vorbis decodes on from the page after the first one
// whose checksum holds. This stand-in is that page: it has no segments, so
// the next good page is decoded. Without a position (~0) none is believed
// before a packet ends on a page that states one; with one, stb_vorbis
// counts on from it. Four spare bytes follow it, as stb_vorbis looks at a
// page only with more behind it.
std::array<unsigned char, OggPageParser::kHeaderBytes + 4> restartPage(quint64 position)
{
    std::array<unsigned char, OggPageParser::kHeaderBytes + 4> page{};
    std::memcpy(page.data(), "OggS", 4);
    for (int i = 0; i < 8; ++i)
        page[6 + i] = (position >> (8 * i)) & 0xFF;
    const quint32 crc = OggPageParser::checksum(page.data(), OggPageParser::kHeaderBytes);
    for (int i = 0; i < 4; ++i)
        page[22 + i] = (crc >> (8 * i)) & 0xFF;
    return page;
}

// Decodes the pages whose checksums hold, packet by packet, and nothing
// else: stb_vorbis checks checksums only while it looks for a page, and
// would read damaged pages' bytes as sound. At each break between runs of
// pages it starts afresh (a packet running across the break is lost); the
// position of the first page after the break that states one places the
// sound (before the last page, the damaged page's own), and the time
// between becomes silence. Returns whether sound followed any damage.
bool readPastDamage(stb_vorbis* v, const QByteArray& bytes, int audioStart, size_t cut,
                    const OggPageParser::Survey& survey, const VorbisPacketClock& clock, int channels,
                    GrowingSampleBuffer& buffer, DecodedAudio& out, int& firstError)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    // A packet of a byte or two decodes to at most half a long block: no
    // more silence is believed for the bytes lost, so a forged position
    // asks for no more memory than the same bytes could have decoded to;
    // nor may the sound it places begin past the last position a page
    // states (its end may: on the last page that position cuts off padding).
    const int longBlock = stb_vorbis_get_info(v).max_frame_size * 2;
    const qint64 maxFramesPerByte = std::max(longBlock / 4, 1);
    quint64 streamEnd = 0;
    for (const OggPageParser::Page& page : survey.pages)
        if (page.granule != kNoPosition)
            streamEnd = std::max(streamEnd, page.granule);

    qint64 pos = audioStart;
    bool started = false;
    bool resumed = false;
    bool lost = false;       // waiting for sound after damage
    bool placing = false;    // sound after damage, not yet placed in time
    qint64 lostAt = 0;       // frames before the damage
    qint64 lostFrom = 0;     // byte position of the damage
    auto noteLoss = [&](int error) {
        if (error != VORBIS__no_error && firstError == VORBIS__no_error)
            firstError = error;
        if (!lost && !placing) {
            lostAt = buffer.size() / channels;
            lostFrom = pos;
        }
        lost = true;
    };
    bool headersApart = false; // a run of header pages ends where the audio begins: a break
    for (const PageRun& run : pageRuns(survey.pages, clock, audioStart, cut)) {
        if (run.end <= pos) { // the header pages
            headersApart = run.end == pos;
            continue;
        }
        if (started || run.begin > pos || headersApart) {
            noteLoss(VORBIS__no_error);
            const auto bridge = restartPage(
                positionBeforeLastPage(data, bytes.size(), survey.pages, run, clock, longBlock));
            float** unused = nullptr;
            int none = 0;
            const std::lock_guard<std::mutex> lock(pageSearchMutex());
            stb_vorbis_flush_pushdata(v);
            stb_vorbis_decode_frame_pushdata(v, bridge.data(), int(bridge.size()), nullptr, &unused, &none);
            pos = run.begin;
        }
        started = true;
        while (pos < run.end) {
            float** output = nullptr;
            int frames = 0;
            int took = 0;
            {
                // After an error stb_vorbis looks for a page, which reads
                // its shared checksum table.
                std::unique_lock<std::mutex> lock(pageSearchMutex(), std::defer_lock);
                if (lost)
                    lock.lock();
                took = stb_vorbis_decode_frame_pushdata(v, data + pos, int(run.end - pos), nullptr, &output, &frames);
            }
            const int error = stb_vorbis_get_error(v);
            if (took <= 0)
                break; // a packet running past the run
            pos += took;
            if (error != VORBIS__no_error && frames == 0)
                noteLoss(error);
            if (frames <= 0)
                continue;
            if (lost) {
                lost = false;
                placing = true;
                resumed = true;
            }
            const qint64 before = buffer.size() / channels;
            const int offset = stb_vorbis_get_sample_offset(v);
            if (placing && offset >= 0) {
                placing = false;
                const qint64 gap = qint64(offset) - frames - before;
                if (gap > 0 && gap <= (pos - lostFrom) * maxFramesPerByte && quint64(offset - frames) <= streamEnd) {
                    // Sound decoded since the damage moves back by the gap.
                    buffer.append(qsizetype(gap * channels));
                    float* at = buffer.data() + lostAt * channels;
                    std::memmove(at + gap * channels, at, size_t((before - lostAt) * channels) * sizeof(float));
                    std::fill(at, at + gap * channels, 0.0f);
                    out.filledFrames += gap;
                }
            }
            float* dst = buffer.append(qsizetype(frames) * channels);
            for (int i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    dst[qsizetype(i) * channels + c] = output[c][i];
        }
    }
    return resumed;
}

} // namespace

bool OggDecoder::decode(const QByteArray& file, DecodedAudio& out, int& errorCode, int segments)
{
    errorCode = 0;
    if (file.size() > std::numeric_limits<int>::max()) {
        errorCode = VORBIS_unexpected_eof;
        return false;
    }
    OggPageParser::Survey survey = OggPageParser::survey(file);
    QByteArray filtered;
    int repeats = 0;
    const bool filteredOut = OggPageFilter::vorbisPages(file, survey, filtered, repeats);
    if (filteredOut)
        survey = OggPageParser::survey(filtered);
    const QByteArray& bytes = filteredOut ? filtered : file;
    QByteArray comment;
    QByteArray setup;
    if (!headerPackets(bytes, comment, setup) || !commentHeaderFits(comment)
        || !VorbisCodebookCheck::codebooksFit(setup)) {
        errorCode = VORBIS_invalid_setup;
        return false;
    }
    int error = 0;
    Vorbis main = openVorbis(bytes, error);
    if (!main) {
        errorCode = error;
        return false;
    }
    const stb_vorbis_info info = stb_vorbis_get_info(main.get());
    const int channels = info.channels;
    if (channels <= 0 || info.sample_rate == 0
        || info.sample_rate > unsigned(std::numeric_limits<int>::max()))
        return false;
    out.channels = channels;
    out.sampleRate = int(info.sample_rate);
    std::vector<int> modeBlocks(64);
    modeBlocks.resize(size_t(std::clamp(stbVorbisModeBlockSizes(main.get(), modeBlocks.data(), 64), 0, 64)));
    const VorbisPacketClock clock(std::move(modeBlocks), info.max_frame_size * 2);
    out.parts.clear();
    out.laterStreamsLeft = OggPageParser::endsInOtherStream(bytes);

    if (segments != 1) {
        // The last page's position: used only to place the segments.
        qint64 announced = 0;
        {
            const std::lock_guard<std::mutex> lock(pageSearchMutex());
            announced = stb_vorbis_stream_length_in_samples(main.get());
        }
        const int count = SegmentedDecoding::segmentCount(announced, segments);
        auto decodeSegment = [&](qint64 first, qint64 end, QList<float>& part) {
            int err = 0;
            Vorbis v = openVorbis(bytes, err);
            if (!v || first > qint64(std::numeric_limits<unsigned>::max()))
                return false;
            if (first > 0) {
                const std::lock_guard<std::mutex> lock(pageSearchMutex());
                if (!stb_vorbis_seek(v.get(), unsigned(first)))
                    return false;
            }
            GrowingSampleBuffer buffer;
            readFrames(v.get(), channels, end < 0 ? -1 : end - first, buffer);
            part = buffer.take();
            return true;
        };
        // Segments seek, which only a stream with sound page positions allows.
        if (count > 1 && OggSeekCheck::seekable(bytes, clock)
            && SegmentedDecoding::decode(announced, count, channels, decodeSegment, out.parts)) {
            out.damaged = repeats > 0;
            return true;
        }
    }

    // Sequentially: through the push interface, which gets past damage.
    int used = 0;
    Vorbis push = openPushVorbis(bytes, used, error);
    GrowingSampleBuffer buffer;
    int firstError = VORBIS__no_error;
    bool resumed = false;
    size_t cut = ~size_t(0);
    if (push) {
        main.reset();
        cut = cutAfterHeaders(survey.pages, used, clock);
        resumed = readPastDamage(push.get(), bytes, used, cut, survey, clock, channels, buffer, out, firstError);
    } else {
        main = openVorbis(bytes, error);
        if (!main) {
            errorCode = error;
            return false;
        }
        readFrames(main.get(), channels, -1, buffer);
        firstError = stb_vorbis_get_error(main.get());
    }
    if (buffer.size() == 0) {
        errorCode = firstError;
        out.filledFrames = 0;
        return false;
    }
    out.parts.push_back(buffer.take());
    const bool pagesMissing = std::any_of(survey.sequenceJumps.begin(), survey.sequenceJumps.end(),
                                          [cut](size_t page) { return page != cut; });
    out.damaged = survey.damaged || pagesMissing || resumed || repeats > 0;
    out.cutShort = survey.cutShort;
    return true;
}
