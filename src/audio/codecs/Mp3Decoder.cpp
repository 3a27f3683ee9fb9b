#include "Mp3Decoder.h"

#include "GrowingSampleBuffer.h"
#include "Mp3FrameMap.h"
#include "SegmentedDecoding.h"

#include <QDebug>
#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct MemorySource {
    const char* data = nullptr;
    qint64 size = 0;
    qint64 pos = 0;
};

// A reader over the bytes in memory, so files inside the program's
// resources decode the same way as files on disk.
mpg123_ssize_t readMemory(void* handle, void* buffer, size_t count)
{
    auto* src = static_cast<MemorySource*>(handle);
    const qint64 n = std::min<qint64>(qint64(count), src->size - src->pos);
    std::memcpy(buffer, src->data + src->pos, size_t(n));
    src->pos += n;
    return mpg123_ssize_t(n);
}

off_t seekMemory(void* handle, off_t offset, int whence)
{
    auto* src = static_cast<MemorySource*>(handle);
    qint64 target = offset;
    if (whence == SEEK_CUR)
        target += src->pos;
    else if (whence == SEEK_END)
        target += src->size;
    if (target < 0 || target > src->size)
        return off_t(-1);
    src->pos = target;
    return off_t(target);
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const
    {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

// Upper bound of decoded values per input byte for any MPEG audio layer,
// rate and bit rate; beyond it an announced length is not believed.
constexpr qint64 kMaxValuesPerByte = 64;
// Frames decoded ahead of a seek target to refill the bit reservoir: it
// reaches back up to 511 bytes (255 for MPEG-2/2.5), which at the lowest
// bit rates spans about a dozen frames. The synthesis filter may then
// differ from a sequential decode by float rounding (about 1e-7).
constexpr long kPreFrames = 16;

struct Stream {
    std::unique_ptr<mpg123_handle, HandleDeleter> handle;
    MemorySource source;
    long rate = 0;
    int channels = 0;
    qint64 statedLength = 0; // frames, when a tag of the stream states them

    // `lengthStated`: a Xing/Info tag states the frame count. Without one,
    // libmpg123's length is a guess from the byte count.
    bool open(const QByteArray& bytes, bool lengthStated)
    {
        static std::once_flag initOnce;
        std::call_once(initOnce, [] { mpg123_init(); });
        int err = MPG123_OK;
        handle.reset(mpg123_new(nullptr, &err));
        if (!handle)
            return false;
        mpg123_handle* mh = handle.get();
        mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT | MPG123_GAPLESS | MPG123_QUIET, 0);
        mpg123_param(mh, MPG123_PREFRAMES, kPreFrames, 0);
        // Every rate and channel layout, always as 32-bit float.
        mpg123_format_none(mh);
        const long* rates = nullptr;
        size_t rateCount = 0;
        mpg123_rates(&rates, &rateCount);
        for (size_t i = 0; i < rateCount; ++i)
            mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

        source = MemorySource{bytes.constData(), bytes.size(), 0};
        int encoding = 0;
        if (mpg123_replace_reader_handle(mh, readMemory, seekMemory, nullptr) != MPG123_OK
            || mpg123_open_handle(mh, &source) != MPG123_OK
            || mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0
            || encoding != MPG123_ENC_FLOAT_32)
            return false;
        if (lengthStated)
            statedLength = std::max<qint64>(mpg123_length(mh), 0);
        return true;
    }

    // Decodes frame by frame to the end. Frames starting inside a muted
    // span (positions in the bytes the stream was opened on) give silence
    // instead of their sound, and where a span begins silence stands for
    // the frames lost there. Returns the frames of silence.
    struct Muted {
        qint64 begin = 0;
        qint64 end = 0;
        qint64 lostFrames = 0;
        qint64 lostAtMost = 0; // what the damaged bytes can have held
        bool cutOut = false;   // bytes were cut out here: more may have been lost
        double share = 0;      // of the lost frames, as the frames beside it make them
    };
    qint64 readFillingGaps(const std::vector<Muted>& spans, int samplesPerFrame, GrowingSampleBuffer& buffer)
    {
        qint64 filled = 0;
        size_t span = 0;
        bool entered = false;
        auto silence = [&](qint64 values) {
            float* dst = buffer.append(qsizetype(values));
            std::fill(dst, dst + values, 0.0f);
            filled += values / channels;
        };
        auto enter = [&] {
            if (!entered)
                silence(spans[span].lostFrames * samplesPerFrame * channels);
            entered = true;
        };
        for (;;) {
            off_t number = 0;
            unsigned char* audio = nullptr;
            size_t bytes = 0;
            const int rc = mpg123_decode_frame(handle.get(), &number, &audio, &bytes);
            if (rc == MPG123_NEW_FORMAT && sameFormat())
                continue;
            if (rc != MPG123_OK)
                break;
            const off_t at = mpg123_framepos(handle.get());
            for (; span < spans.size() && at >= spans[span].end; ++span, entered = false)
                enter();
            const qsizetype values = qsizetype(bytes / sizeof(float));
            if (span < spans.size() && at >= spans[span].begin) {
                enter();
                silence(values);
            } else {
                std::memcpy(buffer.append(values), audio, size_t(values) * sizeof(float));
            }
        }
        buffer.shrinkBy(buffer.size() % channels);
        return filled;
    }

    bool sameFormat()
    {
        long r = 0;
        int c = 0;
        int e = 0;
        mpg123_getformat(handle.get(), &r, &c, &e);
        if (r == rate && c == channels && e == MPG123_ENC_FLOAT_32)
            return true;
        qWarning() << "Mp3Decoder: format changes mid-stream; keeping the frames before it";
        return false;
    }

    // Appends up to maxFrames frames (all when negative); stops early at a
    // damaged tail or a change of format.
    void read(qint64 maxFrames, GrowingSampleBuffer& buffer)
    {
        constexpr qsizetype kChunkValues = 1 << 16;
        qint64 remaining = maxFrames < 0 ? -1 : maxFrames * channels;
        while (remaining != 0) {
            const qsizetype want = remaining < 0 ? kChunkValues : qsizetype(std::min<qint64>(kChunkValues, remaining));
            float* dst = buffer.append(want);
            size_t done = 0;
            const int rc = mpg123_read(handle.get(), dst, size_t(want) * sizeof(float), &done);
            const qsizetype got = qsizetype(done / sizeof(float));
            buffer.shrinkBy(want - got);
            if (remaining > 0)
                remaining -= got;
            if (rc == MPG123_DONE)
                break;
            if (rc == MPG123_NEW_FORMAT) {
                if (!sameFormat())
                    break;
                continue;
            }
            if (rc != MPG123_OK)
                break;  // a tail that does not decode: keep what did
        }
        buffer.shrinkBy(buffer.size() % channels);
    }
};

// Whether the decoded frames fall short of what a tag of the stream states
// (a frame's worth of difference is allowed for tags that count frames a
// little differently), or, without a tag, zeros stand where frames should
// follow. A last frame cut short is no news by itself: less than a frame is
// missing, and without a stated length nothing says that more should
// follow (stream recordings and split files end so).
bool endsEarly(const DecodedAudio& out, qint64 statedLength, const Mp3FrameMap& map)
{
    if (statedLength > 0)
        return out.frames() + qMax(map.samplesPerFrame, 1152) < statedLength;
    return map.endsInZeros;
}

// The decoded parts become the result, with the stream's format.
void deliver(const Stream& stream, const Mp3FrameMap& map, std::vector<QList<float>> parts, DecodedAudio& out,
             qint64 statedLength)
{
    out.channels = stream.channels;
    out.sampleRate = int(stream.rate);
    out.parts = std::move(parts);
    out.cutShort = endsEarly(out, statedLength, map);
    out.laterStreamsLeft = map.laterStreamLeft;
    out.leftSampleRate = map.laterSampleRate;
    out.leftChannels = map.laterChannels;
}

// Whether a tag's count of frames beyond what the damaged bytes left can
// hold tells of bytes deleted rather than of a tag that lies. Its missing
// frames are no more than the frames found, so a wrong count at most
// doubles the length, where a lying one (a count from another stream, or
// noise) misses by far more; and where the tag counts the stream's bytes,
// those it counts beyond the frames found can hold the missing frames.
// Zeros at the end tell of frames lost there too, which the count takes in.
bool countOfDeletedBytes(qint64 missing, const Mp3FrameMap& map)
{
    return missing <= map.frames && !map.endsInZeros
           && (map.statedLossAtMost < 0 || missing <= map.statedLossAtMost);
}

// Each stretch keeps its estimate, and the frames the count adds go to the
// stretches where bytes were cut out, shared out evenly: which of several
// lost how many cannot be told. Without such a stretch the count is stale
// (a file cut short after its tag was written) and the estimates stand.
void spreadBeyondEstimates(std::vector<Stream::Muted>& spans, qint64 extra)
{
    const qint64 count = std::count_if(spans.begin(), spans.end(), [](const Stream::Muted& s) { return s.cutOut; });
    if (count == 0)
        return;
    qint64 i = 0;
    for (Stream::Muted& span : spans)
        if (span.cutOut)
            span.lostFrames += extra / count + (i++ < extra % count ? 1 : 0);
}

// Silence for lost frames fills no more than the frames that the tag's
// count misses: bytes inserted into a stream destroyed nothing. Where the
// stream ends on a whole frame, no fewer either: the frames the tag counts
// and the runs lack were lost in the damage, and a variable bit rate makes
// the estimate from the mean frame size miss by seconds (quiet passages
// take small frames), or miss a few small frames altogether. The count is
// shared out in proportion to what the damaged bytes held at the size of
// the frames beside them, and no stretch gets more than its bytes can have
// held. A count beyond what all of them can have held is believed only as
// bytes deleted, not overwritten, which leave a stub of the frames they
// held: see countOfDeletedBytes. Otherwise it is wrong or stale, and the
// estimates stand, as without a tag.
void fitToStatedCount(std::vector<Stream::Muted>& spans, const Mp3FrameMap& map)
{
    if (map.statedFrames <= 0 || spans.empty())
        return;
    const qint64 missing = std::max<qint64>(map.statedFrames - map.frames, 0);
    qint64 estimated = 0;
    qint64 room = 0;
    for (const Stream::Muted& span : spans) {
        estimated += span.lostFrames;
        room += span.lostAtMost;
    }
    // A stream cut inside a frame lost an unknown number at its end too.
    if (estimated == missing || (estimated < missing && map.endsInFrame))
        return;
    const bool cut = std::any_of(spans.begin(), spans.end(), [](const Stream::Muted& s) { return s.cutOut; });
    // A count that the bytes the tag counts cannot hold, or that its table
    // of contents does not bear out, is wrong (raised, or another stream's).
    const bool wrong = (map.statedLossAtMost >= 0 && missing > map.statedLossAtMost) || !map.countFitsTable;
    if (missing > room || wrong) {
        // Where a count is not believed, the bytes it counts may still tell
        // how many frames were cut out.
        const qint64 lost = !wrong && countOfDeletedBytes(missing, map) ? missing : map.statedLossEstimate;
        if (cut && lost > estimated && countOfDeletedBytes(lost, map))
            spreadBeyondEstimates(spans, lost - estimated);
        return;
    }
    double shares = 0;
    for (const Stream::Muted& span : spans)
        shares += span.share;
    double before = 0;
    qint64 kept = 0;
    qint64 over = 0;
    for (Stream::Muted& span : spans) {
        before += span.share;
        const qint64 upTo = shares > 0 ? std::llround(before * double(missing) / shares) : 0;
        span.lostFrames = std::min(upTo - kept, span.lostAtMost);
        over += upTo - kept - span.lostFrames;
        kept = upTo;
    }
    for (Stream::Muted& span : spans) {
        const qint64 more = std::min(over, span.lostAtMost - span.lostFrames);
        span.lostFrames += more;
        over -= more;
    }
}

// The joined runs with their tag's count set to the frames they hold, so
// that the decoder trims the padding at their end and nothing before it;
// a stream cut inside a frame has no padding left, so its count is put out
// of reach. Returns the count written, or 0 when the joined runs carry no tag.
qint64 restateFrameCount(QByteArray& joined, const Mp3FrameMap& map)
{
    const qint64 at = map.statedFramesAt - map.runs.front().begin;
    if (map.statedFrames <= 0 || at < 0 || at + 4 > map.runs.front().end - map.runs.front().begin)
        return 0;
    const qint64 count = map.endsInFrame ? std::max(map.statedFrames, map.frames + 2) : map.frames;
    for (int i = 0; i < 4; ++i)
        joined[qsizetype(at + i)] = char((count >> (24 - 8 * i)) & 0xFF);
    return count;
}

// A damaged stream: its runs of frames joined, decoded in one pass with
// silence for the frames lost between them.
bool decodeDamaged(const QByteArray& bytes, const Mp3FrameMap& map, DecodedAudio& out)
{
    // Silence for the frames lost between the runs and for those on either
    // side of the damage whose sound cannot be trusted.
    QByteArray joined;
    std::vector<Stream::Muted> spans;
    qint64 lastFrame = 0; // where the last run's last frame begins in `joined`
    for (const Mp3FrameMap::Run& run : map.runs) {
        const qint64 shift = joined.size() - run.begin; // from the file's positions to the joined ones
        if (run.afterDamage) {
            const double share = run.nearBytes > 0 ? double(run.begin - run.damagedFrom) / run.nearBytes : 0.0;
            const Stream::Muted span{lastFrame, shift + run.trustedFrom, run.framesLostBefore,
                                     run.framesLostAtMost, run.cutOut, share};
            if (!spans.empty() && span.begin <= spans.back().end) {
                spans.back().end = std::max(spans.back().end, span.end);
                spans.back().lostFrames += span.lostFrames;
                spans.back().lostAtMost += span.lostAtMost;
                spans.back().cutOut = spans.back().cutOut || span.cutOut;
                spans.back().share += span.share;
            } else {
                spans.push_back(span);
            }
        }
        lastFrame = run.end > run.begin ? shift + run.lastFrame : joined.size();
        joined.append(bytes.constData() + run.begin, qsizetype(run.end - run.begin));
    }
    fitToStatedCount(spans, map);
    const qint64 count = restateFrameCount(joined, map);
    Stream stream;
    if (!stream.open(joined, count > 0))
        return false;
    // The length the file's own tag states, for telling a stream cut short.
    const qint64 statedLength =
        count > 0 ? stream.statedLength + (map.statedFrames - count) * map.samplesPerFrame : 0;
    GrowingSampleBuffer buffer;
    buffer.reserveHint(std::max(statedLength, stream.statedLength) * stream.channels,
                       bytes.size() * kMaxValuesPerByte);
    const qint64 filled = stream.readFillingGaps(spans, map.samplesPerFrame, buffer);
    out.filledFrames = std::min(filled, qint64(buffer.size() / stream.channels));
    if (buffer.size() == 0)
        return false;
    deliver(stream, map, {buffer.take()}, out, statedLength);
    out.damaged = true;
    return true;
}

// Files joined end to end: each part read on its own, its tag frame, encoder
// delay and padding taken out, the parts in order. A part at another rate
// or channel count ends the reading there.
bool decodeJoined(const QByteArray& bytes, const Mp3FrameMap& map, DecodedAudio& out, int segments)
{
    std::vector<qint64> bounds{0};
    bounds.insert(bounds.end(), map.joinedAt.begin(), map.joinedAt.end());
    bounds.push_back(bytes.size());
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        DecodedAudio part;
        const bool read = Mp3Decoder::decode(bytes.mid(bounds[i], bounds[i + 1] - bounds[i]), part, segments);
        if (out.parts.empty()) {
            if (!read)
                continue; // a tag frame and nothing after it
        } else if (!read || part.sampleRate != out.sampleRate || part.channels != out.channels) {
            out.laterStreamsLeft = true;
            if (read) { // the import names why
                out.leftSampleRate = part.sampleRate;
                out.leftChannels = part.channels;
            }
            break;
        } else {
            ++out.joinedStreams;
        }
        out.sampleRate = part.sampleRate;
        out.channels = part.channels;
        // A part that ends early lost sound inside the file.
        out.damaged = out.damaged || out.cutShort || part.damaged;
        out.cutShort = part.cutShort;
        out.laterStreamsLeft = part.laterStreamsLeft;
        out.leftSampleRate = part.leftSampleRate;
        out.leftChannels = part.leftChannels;
        out.filledFrames += part.filledFrames;
        for (QList<float>& values : part.parts)
            out.parts.push_back(std::move(values));
    }
    return !out.parts.empty();
}

} // namespace

bool Mp3Decoder::decode(const QByteArray& bytes, DecodedAudio& out, int segments)
{
    const Mp3FrameMap map = Mp3FrameMap::of(bytes);
    if (!map.joinedAt.empty())
        return decodeJoined(bytes, map, out, segments);
    if (map.damaged)
        return decodeDamaged(bytes, map, out);

    const bool lengthStated = map.statedFrames > 0;
    Stream main;
    if (!main.open(bytes, lengthStated))
        return false;

    // Short streams (the piano's samples) skip the scan that splitting needs.
    const bool split = segments > 1
                       || (segments == 0
                           && mpg123_length(main.handle.get()) >= 2 * SegmentedDecoding::kMinSegmentFrames);
    if (split && mpg123_scan(main.handle.get()) == MPG123_OK) {
        // The scan walks every frame header, so the length is counted, not claimed.
        const qint64 length = mpg123_length(main.handle.get());
        const int count = SegmentedDecoding::segmentCount(length, segments);
        std::vector<QList<float>> parts;
        auto decodeSegment = [&](qint64 first, qint64 end, QList<float>& part) {
            Stream s;
            if (!s.open(bytes, lengthStated) || s.rate != main.rate || s.channels != main.channels)
                return false;
            if (first > 0 && mpg123_seek(s.handle.get(), off_t(first), SEEK_SET) != off_t(first))
                return false;
            GrowingSampleBuffer buffer;
            if (end >= 0)
                buffer.reserveHint((end - first) * s.channels, bytes.size() * kMaxValuesPerByte);
            s.read(end < 0 ? -1 : end - first, buffer);
            part = buffer.take();
            return true;
        };
        if (count > 1
            && SegmentedDecoding::decode(length, count, main.channels, decodeSegment, parts)) {
            deliver(main, map, std::move(parts), out, main.statedLength);
            return true;
        }
        // Afresh: a scan that finds fewer frames than the tag states drops
        // the tag's trimming of the encoder delay at the start.
        if (!main.open(bytes, lengthStated))
            return false;
    }

    GrowingSampleBuffer buffer;
    const off_t announced = mpg123_length(main.handle.get());
    if (announced > 0)
        buffer.reserveHint(qint64(announced) * main.channels, bytes.size() * kMaxValuesPerByte);
    main.read(-1, buffer);
    if (buffer.size() == 0)
        return false;
    deliver(main, map, {buffer.take()}, out, main.statedLength);
    return true;
}
