#include "FlacDecoder.h"

#include "GrowingSampleBuffer.h"
#include "SegmentedDecoding.h"

#include <FLAC/stream_decoder.h>
#include <QByteArrayView>
#include <QDebug>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

// STREAMINFO's length is a claim: believed only up to this many values per
// byte, well above what sound compresses to. Longer streams (long silences
// can reach thousands of values a byte) grow their buffer as they decode,
// so a forged length cannot ask for more memory than the machine has.
constexpr qint64 kMaxValuesPerByte = 16;

// The head of a stream joined on after the one before (files joined end to
// end): 'fLaC' and its STREAMINFO block, met among the frames.
struct JoinedStream {
    bool met = false;
    int sampleRate = 0;
    int channels = 0;
    qint64 frames = 0; // its stated length; 0 when unknown
    int blockSize = 0; // its frames' fixed length; 0 when they vary
};

// Where a frame lies in the bytes, [start, end); `known` once its start
// was found (it decoded cleanly).
struct FrameBytes {
    FLAC__uint64 start = 0;
    FLAC__uint64 end = 0;
    bool known = false;
};

// A frame numbered further ahead than the bytes since the frame before
// can have held, waiting for the output to reach its number.
struct AheadFrame {
    bool held = false;
    qint64 dest = 0;
    qint64 length = 0;
    float scale = 0.0f;
    FrameBytes bytes;
    FLAC__uint64 spanned = 0;
    std::vector<FLAC__int32> values; // a channel after the other
    std::vector<const FLAC__int32*> channels;
};

struct DecodeState {
    const unsigned char* data = nullptr;
    qint64 size = 0;
    qint64 pos = 0;
    int channels = 0;
    int sampleRate = 0;
    qint64 totalFrames = 0;  // as STREAMINFO announces it; 0 when unknown
    int streamErrors = 0;
    FLAC__StreamDecoderErrorStatus firstError = FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC;
    // Damage is an error that a good frame follows; errors after the last
    // frame are a cut or trailing bytes (a tag), not a hole in the sound.
    bool errorSinceFrame = false;
    bool damaged = false;
    // Sequential decoding puts each frame at the sample its header names,
    // with silence where frames were lost; a segment's frames must follow on.
    bool fillGaps = false;
    qint64 filledFrames = 0;
    // The sample number whose frame heads the output; -1: the first frame's
    // (a stream without a stated length may be cut from a longer one).
    qint64 origin = 0;
    // A stream joined on numbers its frames from its own start, which
    // follows what came before: where the stream being read begins in the
    // output, what its frame numbers are moved by and its stated length.
    qint64 streamStart = 0;
    qint64 shift = 0;
    qint64 streamFrames = 0;
    // libFLAC counts frame numbers in blocks of the first stream's fixed
    // length; a stream joined on with frames of another length follows on
    // without its numbers being read.
    int fixedBlockSize = 0;
    bool numbersRead = true;
    int joinedStreams = 0;
    bool earlierStreamCut = false; // a stream before the last ended before its stated length
    bool laterStreamsLeft = false; // a stream joined on in another layout stopped the decoding
    JoinedStream joined;           // met since the last frame placed
    FLAC__uint64 searchedTo = 0;   // the bytes before it were looked through for one
    int leftSampleRate = 0;        // the stream that stopped the decoding
    int leftChannels = 0;
    FrameBytes frame;              // the frame being written
    // The output frames that hold the reader's own silence for lost audio
    // (first frame, frame after the last): the only places that a frame
    // numbered behind what was decoded may be written to.
    std::map<qint64, qint64> filled;
    FLAC__uint64 firstFrameEnd = 0; // byte position after the first frame taken, 0: none yet
    FLAC__uint64 lastFrameEnd = 0;  // byte position after the last frame that took bytes
    // For a jump in frame numbers libFLAC writes up to 5 s of silent frames
    // of its own, whatever the bytes, before the frame after the jump and in
    // the same call. So a silent frame waits for the end of its call; one
    // that another frame follows is libFLAC's and is dropped (the reader
    // puts in its own silence, within its bounds).
    bool held = false;
    FLAC__FrameHeader heldHeader{};
    bool afterFill = false;  // libFLAC's silence came before this frame
    // libFLAC 1.4.2 writes the frame after its silence as silence too; that
    // frame is decoded again and then placed (its number, -1: none; the
    // output frame its number names, how long, its bytes and those since
    // the frame before).
    qint64 clearedNumber = -1;
    FLAC__uint64 clearedFrom = 0;  // byte position after the frame before it
    qint64 clearedDest = 0;
    qint64 clearedLength = 0;
    FrameBytes clearedBytes;
    FLAC__uint64 clearedSpanned = 0;
    // Each frame put at the output frame its number names, by that output
    // frame: a frame numbered behind is a repeat only if it is that frame.
    std::map<qint64, FrameBytes> placedFrames;
    // Repeats held back, output frames [repeatFrom, repeatTo): dropped
    // when the stream goes on where it was, kept when sound numbered
    // behind follows them (a part appended without its stream head whose
    // first frames equal the first part's, as silence does).
    qint64 repeatFrom = 0;
    qint64 repeatTo = 0;
    // The number (as an output frame) that continues the sound numbered
    // behind put after what came before; -1: none.
    qint64 followOnNumber = -1;
    AheadFrame ahead;
    bool decodingAgain = false;
    bool decodedAgain = false;
    GrowingSampleBuffer buffer;
    bool outOfMemory = false; // storing a frame failed, and libFLAC was stopped
};

// Silence put in for lost frames is believed only up to this many values
// per damaged byte (and never beyond the length STREAMINFO states), so a
// forged frame position cannot ask for much memory.
constexpr qint64 kMaxFillValuesPerByte = 64;

FLAC__StreamDecoderReadStatus onRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                     void* client)
{
    auto* s = static_cast<DecodeState*>(client);
    const qint64 n = std::min<qint64>(qint64(*bytes), s->size - s->pos);
    if (n <= 0) {
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    std::memcpy(buffer, s->data + s->pos, size_t(n));
    s->pos += n;
    *bytes = size_t(n);
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus onSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* client)
{
    auto* s = static_cast<DecodeState*>(client);
    if (offset > FLAC__uint64(s->size))
        return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    s->pos = qint64(offset);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus onTell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client)
{
    *offset = FLAC__uint64(static_cast<DecodeState*>(client)->pos);
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus onLength(const FLAC__StreamDecoder*, FLAC__uint64* length, void* client)
{
    *length = FLAC__uint64(static_cast<DecodeState*>(client)->size);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool onEof(const FLAC__StreamDecoder*, void* client)
{
    auto* s = static_cast<DecodeState*>(client);
    return s->pos >= s->size;
}

// FLAC's frame CRC-16 (x^16 + x^15 + x^2 + 1, most significant bit first).
constexpr quint16 kCrc16Polynomial = 0x8005;

quint16 crc16TimesX(quint16 a)
{
    return quint16(a & 0x8000 ? (a << 1) ^ kCrc16Polynomial : a << 1);
}

// No frame, of any layout, is longer than this.
constexpr FLAC__uint64 kMaxFrameBytes = FLAC__uint64(1) << 22;

// Where the frame that ends at `end` begins, looked for from `from` on:
// the first frame sync whose bytes up to the footer give the footer's
// CRC. The CRCs of all the tails are found in one pass backwards (the CRC
// of a byte b followed by n bytes is b x^(8n+16) mod the polynomial, added
// to theirs). 0 when there is none (the frame did not decode).
FLAC__uint64 frameStart(const unsigned char* data, FLAC__uint64 from, FLAC__uint64 end)
{
    if (end < from + 4)
        return 0;
    from = std::max(from, end - std::min(end, kMaxFrameBytes));
    const quint16 footer = quint16(data[end - 2] << 8 | data[end - 1]);
    quint16 crc = 0;
    quint16 weight = kCrc16Polynomial; // x^16 mod the polynomial
    FLAC__uint64 start = 0;
    for (FLAC__uint64 p = end - 2; p-- > from;) {
        quint16 term = 0;
        for (int bit = 7; bit >= 0; --bit)
            term = quint16(crc16TimesX(term) ^ ((data[p] >> bit) & 1 ? weight : 0));
        crc ^= term;
        for (int i = 0; i < 8; ++i)
            weight = crc16TimesX(weight);
        if (crc == footer && data[p] == 0xFF && (data[p + 1] & 0xFE) == 0xF8)
            start = p;
    }
    return start;
}

// Whether two frames are the same bytes.
bool sameFrame(const unsigned char* data, const FrameBytes& a, const FrameBytes& b)
{
    return a.known && b.known && a.end - a.start == b.end - b.start
           && std::memcmp(data + a.start, data + b.start, size_t(a.end - a.start)) == 0;
}

// Output frames [from, from + count), just appended, hold silence for lost audio.
void noteFilled(DecodeState* s, qint64 from, qint64 count)
{
    if (count <= 0)
        return;
    s->filledFrames += count;
    if (!s->filled.empty() && std::prev(s->filled.end())->second == from)
        std::prev(s->filled.end())->second += count;
    else
        s->filled.emplace_hint(s->filled.end(), from, from + count);
}

// Output frames [from, to), silence for lost audio, now hold decoded audio.
void unfill(DecodeState* s, qint64 from, qint64 to)
{
    const auto holding = std::prev(s->filled.upper_bound(from));
    const auto [start, end] = *holding;
    s->filled.erase(holding);
    if (start < from)
        s->filled.emplace(start, from);
    if (to < end)
        s->filled.emplace(to, end);
    s->filledFrames -= to - from;
}

// Calls f(begin, end, lost) over output frames [from, to) in stretches
// that hold silence for lost audio (lost) or decoded audio.
template <typename F>
void forEachStretch(const DecodeState* s, qint64 from, qint64 to, F&& f)
{
    auto it = s->filled.upper_bound(from);
    if (it != s->filled.begin() && std::prev(it)->second > from)
        --it;
    for (; from < to && it != s->filled.end() && it->first < to; ++it) {
        if (from < it->first)
            f(from, it->first, false);
        const qint64 end = std::min(it->second, to);
        f(std::max(from, it->first), end, true);
        from = end;
    }
    if (from < to)
        f(from, to, false);
}

// Silence from where the sound stopped to where a frame says it begins,
// when the bytes since the last frame (`spanned`) can have held it.
bool fillGap(DecodeState* s, qint64 gap, qint64 blockSize, FLAC__uint64 spanned)
{
    const qint64 at = s->buffer.size() / s->channels;
    const qint64 believable = qint64(std::min<FLAC__uint64>(spanned, FLAC__uint64(1) << 40)) * kMaxFillValuesPerByte
                              / s->channels;
    if (gap > believable || (s->streamFrames > 0 && at - s->streamStart + gap + blockSize > s->streamFrames))
        return false;
    float* dst = s->buffer.append(qsizetype(gap) * s->channels);
    std::fill(dst, dst + gap * s->channels, 0.0f);
    noteFilled(s, at, gap);
    return true;
}

bool silent(const FLAC__Frame* frame, const FLAC__int32* const channelData[])
{
    for (unsigned c = 0; c < frame->header.channels; ++c) {
        const FLAC__int32* values = channelData[c];
        if (std::any_of(values, values + frame->header.blocksize, [](FLAC__int32 v) { return v != 0; }))
            return false;
    }
    return true;
}

// A frame coded as silence: libFLAC's own silent frames are of this kind.
bool codedSilent(const FLAC__Frame* frame)
{
    for (unsigned c = 0; c < frame->header.channels; ++c) {
        const FLAC__Subframe& sub = frame->subframes[c];
        if (sub.type != FLAC__SUBFRAME_TYPE_CONSTANT || sub.data.constant.value != 0)
            return false;
    }
    return true;
}

// A frame's values a channel, or silence (no values); `lost`: silence
// that stands for audio libFLAC could not read.
struct FrameValues {
    const FLAC__int32* const* channels = nullptr;
    float scale = 0.0f;
    qint64 length = 0;
    bool lost = false;
};

FrameValues valuesOf(const FLAC__Frame* frame, const FLAC__int32* const channelData[], bool lost)
{
    const int bits = int(frame->header.bits_per_sample);
    return {lost ? nullptr : channelData, float(1.0 / double(qint64(1) << (bits - 1))),
            qint64(frame->header.blocksize), lost};
}

// Writes `count` values a channel, from the frame's `first`th on, to `dst`.
void convert(int channels, const FrameValues& v, qint64 first, qint64 count, float* dst)
{
    if (!v.channels) {
        std::fill(dst, dst + count * channels, 0.0f);
        return;
    }
    if (channels == 2) {
        const FLAC__int32* left = v.channels[0] + first;
        const FLAC__int32* right = v.channels[1] + first;
        for (qint64 i = 0; i < count; ++i) {
            dst[2 * i] = float(left[i]) * v.scale;
            dst[2 * i + 1] = float(right[i]) * v.scale;
        }
    } else {
        for (int c = 0; c < channels; ++c) {
            const FLAC__int32* src = v.channels[c] + first;
            for (qint64 i = 0; i < count; ++i)
                dst[i * channels + c] = float(src[i]) * v.scale;
        }
    }
}

// Puts a frame at output frame `dest`, at most the end of the output:
// before the end it is written only over the reader's silence for lost
// audio, and what lies past the end is appended.
void putFrame(DecodeState* s, const FrameValues& v, qint64 dest)
{
    const int channels = s->channels;
    const qint64 at = s->buffer.size() / channels;
    if (dest < at && !v.lost) {
        std::vector<std::pair<qint64, qint64>> lost;
        forEachStretch(s, dest, std::min(at, dest + v.length), [&](qint64 begin, qint64 end, bool silence) {
            if (silence)
                lost.emplace_back(begin, end);
        });
        for (const auto& [begin, end] : lost) {
            const qsizetype values = qsizetype((end - begin) * channels);
            convert(channels, v, begin - dest, end - begin, s->buffer.rewrite(qsizetype(begin * channels), values));
            unfill(s, begin, end);
        }
    }
    const qint64 first = std::clamp<qint64>(at - dest, 0, v.length);
    if (first == v.length)
        return;
    convert(channels, v, first, v.length - first, s->buffer.append(qsizetype((v.length - first) * channels)));
    if (v.lost)
        noteFilled(s, dest + first, v.length - first);
}

// The repeats held back were the head of a part appended without its
// stream head (kept: put after what came before) or repeats (dropped).
void endRepeats(DecodeState* s, bool kept)
{
    if (kept && s->repeatTo > s->repeatFrom) {
        const qsizetype values = qsizetype((s->repeatTo - s->repeatFrom) * s->channels);
        float* dst = s->buffer.append(values);
        std::memcpy(dst, s->buffer.data() + s->repeatFrom * s->channels, size_t(values) * sizeof(float));
        s->followOnNumber = s->repeatTo;
    }
    s->repeatFrom = s->repeatTo = 0;
}

// A frame numbered behind the end of the output (at output frame `dest`).
// Where only the reader's silence for lost audio lies, it is a lost frame
// come late. The very frame put at its number, the same bytes, is a repeat
// (or the head of a part appended without its stream head, whose first
// frames equal the first part's): held back until a frame tells which.
// Any other, and what continues it, follows what came before.
void placeBehind(DecodeState* s, const FrameValues& v, qint64 dest, const FrameBytes& bytes)
{
    const qint64 at = s->buffer.size() / s->channels;
    const bool continues = dest == s->followOnNumber;
    if (v.lost) {
        if (continues) {
            putFrame(s, v, at);
            s->followOnNumber += v.length;
        }
        return;
    }
    bool lostOnly = true;
    forEachStretch(s, dest, std::min(at, dest + v.length),
                   [&](qint64, qint64, bool lost) { lostOnly = lostOnly && lost; });
    if (lostOnly) {
        endRepeats(s, false);
        s->followOnNumber = -1;
        putFrame(s, v, dest);
        if (bytes.known)
            s->placedFrames[dest] = bytes;
        return;
    }
    const auto placed = s->placedFrames.find(dest);
    if (placed != s->placedFrames.end() && sameFrame(s->data, placed->second, bytes)) {
        if (s->repeatTo > s->repeatFrom && dest == s->repeatTo) {
            s->repeatTo += v.length;
            return;
        }
        if (!continues) {
            endRepeats(s, false);
            s->followOnNumber = -1;
            s->repeatFrom = dest;
            s->repeatTo = dest + v.length;
            return;
        }
    } else {
        endRepeats(s, true);
    }
    putFrame(s, v, s->buffer.size() / s->channels);
    s->followOnNumber = dest + v.length;
}

void holdAhead(DecodeState* s, const FrameValues& v, qint64 dest, const FrameBytes& bytes, FLAC__uint64 spanned);
void putAhead(DecodeState* s);

// Puts a frame whose number names output frame `dest`. One numbered ahead
// follows silence for the lost frames where the bytes can have held them,
// else waits for the output to reach its number (unless it is the frame
// that waited: then its stream's numbers jumped, and it follows what came
// before). One numbered behind goes as placeBehind says.
void settle(DecodeState* s, const FrameValues& v, qint64 dest, const FrameBytes& bytes, FLAC__uint64 spanned,
            bool mayWait = true)
{
    AheadFrame& ahead = s->ahead;
    if (mayWait && ahead.held && (dest >= ahead.dest || s->buffer.size() / s->channels >= ahead.dest)) {
        // This very frame in its turn takes the place of the one that waited.
        if (dest == ahead.dest && sameFrame(s->data, bytes, ahead.bytes))
            ahead.held = false;
        else
            putAhead(s);
    }
    const qint64 at = s->buffer.size() / s->channels;
    bool ownPlace = true;
    if (dest > at && fillGap(s, dest - at, v.length, spanned)) {
        s->damaged = true;
    } else if (dest > at && mayWait && !v.lost) {
        holdAhead(s, v, dest, bytes, spanned);
        return;
    } else if (dest > at) {
        dest = at;
        ownPlace = false;
    } else if (dest < at) {
        s->damaged = true;
        placeBehind(s, v, dest, bytes);
        return;
    } else if (!mayWait) {
        s->damaged = true; // it came before frames numbered before it
    }
    endRepeats(s, false);
    s->followOnNumber = -1;
    putFrame(s, v, dest);
    if (ownPlace && bytes.known)
        s->placedFrames[dest] = bytes;
}

// One frame waits at a time: one waiting before goes first.
void holdAhead(DecodeState* s, const FrameValues& v, qint64 dest, const FrameBytes& bytes, FLAC__uint64 spanned)
{
    putAhead(s);
    AheadFrame& ahead = s->ahead;
    const size_t length = size_t(v.length);
    ahead.values.resize(length * size_t(s->channels));
    ahead.channels.resize(size_t(s->channels));
    for (int c = 0; c < s->channels; ++c) {
        FLAC__int32* values = ahead.values.data() + size_t(c) * length;
        ahead.channels[size_t(c)] = values;
        if (v.channels)
            std::copy(v.channels[c], v.channels[c] + length, values);
        else
            std::fill(values, values + length, 0); // a silent frame
    }
    ahead.held = true;
    ahead.dest = dest;
    ahead.length = v.length;
    ahead.scale = v.scale;
    ahead.bytes = bytes;
    ahead.spanned = spanned;
}

void putAhead(DecodeState* s)
{
    AheadFrame& ahead = s->ahead;
    if (!ahead.held)
        return;
    ahead.held = false;
    settle(s, FrameValues{ahead.channels.data(), ahead.scale, ahead.length, false}, ahead.dest, ahead.bytes,
           ahead.spanned, false);
}

// Puts a frame where its header says (no data: a silent frame); a stream
// joined on follows the one before it.
void placeFrame(DecodeState* s, const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                const FLAC__int32* const channelData[])
{
    const qint64 blockSize = qint64(frame->header.blocksize);
    FLAC__uint64 end = s->lastFrameEnd;
    FLAC__stream_decoder_get_decode_position(decoder, &end);
    if (s->decodingAgain) {
        // Only the same frame, from the same bytes, goes to its place.
        if (end == s->lastFrameEnd && frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER
            && qint64(frame->header.number.sample_number) == s->clearedNumber && channelData) {
            s->decodedAgain = true;
            FrameValues values = valuesOf(frame, channelData, false);
            values.length = std::min(blockSize, s->clearedLength);
            settle(s, values, s->clearedDest, s->clearedBytes, s->clearedSpanned);
        }
        return;
    }
    // A joined stream's head explains the bytes that libFLAC could not read before its first frame.
    const JoinedStream joined = std::exchange(s->joined, JoinedStream{});
    const bool joins = joined.met && s->fillGaps;
    const bool afterError = s->errorSinceFrame && !joined.met;
    s->errorSinceFrame = false;
    const FLAC__uint64 previousEnd = s->lastFrameEnd;
    s->lastFrameEnd = end;
    if (s->firstFrameEnd == 0)
        s->firstFrameEnd = end;
    if (joins) {
        // What waits of the stream before goes before the one joined on.
        endRepeats(s, false);
        putAhead(s);
        s->followOnNumber = -1;
    }
    const qint64 at = s->buffer.size() / s->channels;
    if (joins) {
        s->earlierStreamCut = s->earlierStreamCut || (s->streamFrames > 0 && at - s->streamStart < s->streamFrames);
        s->streamStart = at;
        s->streamFrames = joined.frames;
        s->numbersRead = joined.blockSize == 0 || s->fixedBlockSize == 0 || joined.blockSize == s->fixedBlockSize;
        ++s->joinedStreams;
    }
    qint64 dest = at;
    if (frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER && s->numbersRead) {
        const qint64 number = qint64(std::min<FLAC__uint64>(frame->header.number.sample_number, FLAC__uint64(1) << 40));
        if (s->origin < 0)
            s->origin = number;
        if (joins)
            s->shift = at - (number - s->origin);
        dest = number - s->origin + s->shift;
    }
    const bool cleared = s->afterFill && channelData && silent(frame, channelData);
    if (!s->fillGaps) {
        // A segment's frames must follow on; anything else is left to the sequential decode.
        s->damaged = s->damaged || dest != at || afterError || joined.met;
        putFrame(s, valuesOf(frame, channelData, cleared), at);
        return;
    }
    if (afterError)
        s->damaged = true;
    const FLAC__uint64 spanned = end - std::min(end, previousEnd);
    if (cleared && frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
        // Its values come when it is decoded again (decodeClearedFrame).
        s->clearedNumber = qint64(frame->header.number.sample_number);
        s->clearedFrom = previousEnd;
        s->clearedDest = dest;
        s->clearedLength = blockSize;
        s->clearedBytes = s->frame;
        s->clearedSpanned = spanned;
        return;
    }
    // Silence that libFLAC wrote for a frame it could not read stands for lost audio.
    const bool lost = cleared || (afterError && channelData && silent(frame, channelData));
    settle(s, valuesOf(frame, channelData, lost), dest, lost ? FrameBytes{} : s->frame, spanned);
}

// Where the frame being written lies: it follows the last one directly
// unless libFLAC lost sync since.
void findFrame(DecodeState* s, const FLAC__StreamDecoder* decoder)
{
    FLAC__uint64 end = s->lastFrameEnd;
    FLAC__stream_decoder_get_decode_position(decoder, &end);
    end = std::min<FLAC__uint64>(end, FLAC__uint64(s->size));
    // libFLAC's own silent frames come in the call of the frame after them.
    if (end == s->frame.end)
        return;
    const FLAC__uint64 start = s->errorSinceFrame ? frameStart(s->data, s->lastFrameEnd, end) : s->lastFrameEnd;
    s->frame = {start, end, start > 0};
}

// Looks through the bytes that libFLAC could not read since the last
// frame (not into the frame being written, which decoded) for the head of
// a stream joined on. False when that stream cannot follow this one
// (another rate or channel count): the decoding stops before it.
bool lookForJoinedStream(DecodeState* s)
{
    if (!s->errorSinceFrame)
        return true;
    const FLAC__uint64 from = std::max(s->lastFrameEnd, s->searchedTo);
    const FLAC__uint64 end = s->frame.known ? s->frame.start : s->frame.end;
    s->searchedTo = std::max(s->searchedTo, s->frame.end);
    if (from >= end)
        return true;
    // 'fLaC', the STREAMINFO block's header (type 0, 34 bytes) and the block.
    constexpr qsizetype kHead = 4 + 4 + 34;
    const QByteArrayView bytes(s->data + from, qsizetype(end - from));
    for (qsizetype i = bytes.indexOf("fLaC"); i >= 0 && i + kHead <= bytes.size(); i = bytes.indexOf("fLaC", i + 1)) {
        const unsigned char* block = s->data + from + i + 4;
        if ((block[0] & 0x7F) != 0 || block[1] != 0 || block[2] != 0 || block[3] != 34)
            continue;
        const unsigned char* info = block + 4;
        s->joined.met = true;
        s->joined.sampleRate = int(info[10]) << 12 | int(info[11]) << 4 | int(info[12]) >> 4;
        s->joined.channels = ((info[12] >> 1) & 7) + 1;
        s->joined.frames = qint64(info[13] & 0x0F) << 32 | qint64(info[14]) << 24 | qint64(info[15]) << 16
                           | qint64(info[16]) << 8 | qint64(info[17]);
        const int minBlockSize = info[0] << 8 | info[1], maxBlockSize = info[2] << 8 | info[3];
        s->joined.blockSize = minBlockSize == maxBlockSize ? maxBlockSize : 0;
        if (s->joined.sampleRate != s->sampleRate || s->joined.channels != s->channels) {
            s->laterStreamsLeft = true;
            s->leftSampleRate = s->joined.sampleRate;
            s->leftChannels = s->joined.channels;
            s->damaged = s->damaged || !s->fillGaps;
            return false;
        }
        return true;
    }
    return true;
}

FLAC__StreamDecoderWriteStatus onWrite(const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                                       const FLAC__int32* const channelData[], void* client)
{
    auto* s = static_cast<DecodeState*>(client);
    const int channels = int(frame->header.channels);
    const int bits = int(frame->header.bits_per_sample);
    if (s->channels == 0)
        s->channels = channels;
    if (s->sampleRate == 0)
        s->sampleRate = int(frame->header.sample_rate);
    if (!s->decodingAgain) {
        findFrame(s, decoder);
        if (!lookForJoinedStream(s))
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    // A stream whose layout changes is damaged; keep what came before.
    if (channels != s->channels || bits < 4 || bits > 32)
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    if (s->held) {
        // The silent frame before this one in the same call was libFLAC's.
        // (In a stream whose numbers are not read, libFLAC fills what its
        // own counting finds missing: no sign of damage.)
        s->held = false;
        s->afterFill = true;
        s->damaged = s->damaged || s->numbersRead;
    }
    if (codedSilent(frame) && !s->decodingAgain) {
        s->held = true;
        s->heldHeader = frame->header;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    placeFrame(s, decoder, frame, channelData);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

// Nothing may be thrown through libFLAC, which is C: memory running out
// while a frame is stored stops it, and the failure is thrown again once
// libFLAC has returned.
FLAC__StreamDecoderWriteStatus onWriteGuarded(const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                                              const FLAC__int32* const channelData[], void* client)
{
    try {
        return onWrite(decoder, frame, channelData, client);
    } catch (const std::bad_alloc&) {
        static_cast<DecodeState*>(client)->outOfMemory = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
}

void onMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client)
{
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
        return;
    auto* s = static_cast<DecodeState*>(client);
    const auto& info = metadata->data.stream_info;
    s->sampleRate = int(info.sample_rate);
    s->channels = int(info.channels);
    s->totalFrames = qint64(info.total_samples);
    s->streamFrames = s->totalFrames;
    s->fixedBlockSize = info.min_blocksize == info.max_blocksize ? int(info.max_blocksize) : 0;
}

void onError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client)
{
    // libFLAC skips a damaged frame and resynchronises by itself; count only.
    auto* s = static_cast<DecodeState*>(client);
    if (s->streamErrors++ == 0)
        s->firstError = status;
    s->errorSinceFrame = true;
}

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};

struct Stream {
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder;
    DecodeState state;

    bool open(const QByteArray& bytes)
    {
        decoder.reset(FLAC__stream_decoder_new());
        if (!decoder)
            return false;
        // The bytes are in memory already; the MD5 pass would only cost time.
        FLAC__stream_decoder_set_md5_checking(decoder.get(), false);
        state.data = reinterpret_cast<const unsigned char*>(bytes.constData());
        state.size = bytes.size();
        const bool opened = FLAC__stream_decoder_init_stream(decoder.get(), onRead, onSeek, onTell, onLength, onEof,
                                                             onWriteGuarded, onMetadata, onError, &state)
                                == FLAC__STREAM_DECODER_INIT_STATUS_OK
                            && FLAC__stream_decoder_process_until_end_of_metadata(decoder.get());
        // Silence for frames lost before the first one found is bounded by the bytes after the headers.
        if (opened)
            FLAC__stream_decoder_get_decode_position(decoder.get(), &state.lastFrameEnd);
        return opened;
    }

    // A segment (one of `shares`) reserves at most its share of the bound.
    void reserve(qint64 frames, int shares = 1)
    {
        if (frames > 0 && state.channels > 0)
            state.buffer.reserveHint(frames * state.channels,
                                     state.size * kMaxValuesPerByte / std::max(shares, 1));
    }

    // Seeks to sample `first`, which the next frame written starts with.
    bool seek(qint64 first)
    {
        const bool sought = FLAC__stream_decoder_seek_absolute(decoder.get(), FLAC__uint64(first));
        takeHeldFrame();
        return sought;
    }

    // Decodes up to maxFrames frames (all when negative), through the
    // frame that holds the one after them.
    void read(qint64 maxFrames)
    {
        const qint64 wanted = maxFrames * state.channels;
        while (maxFrames < 0 || state.buffer.size() <= wanted) {
            const bool more = FLAC__stream_decoder_process_single(decoder.get())
                              && FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM;
            takeHeldFrame();
            if (state.clearedNumber >= 0)
                decodeClearedFrame();
            if (!more)
                break;
        }
        if (state.outOfMemory)
            throw std::bad_alloc();
        if (maxFrames >= 0 && state.buffer.size() > wanted)
            state.buffer.shrinkBy(state.buffer.size() - qsizetype(wanted));
        if (state.streamErrors > 0)
            qWarning() << "FlacDecoder:" << state.streamErrors << "damaged places, first:"
                       << FLAC__StreamDecoderErrorStatusString[state.firstError];
    }

    // At the end of the stream: repeats held back are dropped, a frame
    // waiting for its turn is put in.
    void finish()
    {
        endRepeats(&state, false);
        putAhead(&state);
    }

    // A silent frame written last in its call is the stream's own.
    void takeHeldFrame()
    {
        if (state.held) {
            state.held = false;
            FLAC__Frame frame{};
            frame.header = state.heldHeader;
            placeFrame(&state, decoder.get(), &frame, nullptr);
        }
        state.afterFill = false;
    }

    // The frame that libFLAC wrote as silence is read again from the end
    // of the frame before it (after a flush libFLAC puts in no silence of
    // its own), once, and put in its place; decoding then goes on where it
    // was. Should that fail, silence takes its place.
    void decodeClearedFrame()
    {
        const FLAC__uint64 resumeAt = state.lastFrameEnd;
        const int errors = state.streamErrors;
        const bool errorSinceFrame = state.errorSinceFrame;
        FLAC__stream_decoder_flush(decoder.get());
        state.pos = qint64(state.clearedFrom);
        state.decodingAgain = true;
        state.decodedAgain = false;
        FLAC__uint64 at = state.clearedFrom;
        while (!state.decodedAgain && at < resumeAt && FLAC__stream_decoder_process_single(decoder.get())
               && FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM
               && FLAC__stream_decoder_get_decode_position(decoder.get(), &at)) {
        }
        state.decodingAgain = false;
        state.clearedNumber = -1;
        state.streamErrors = errors;
        state.errorSinceFrame = errorSinceFrame;
        if (!state.decodedAgain)
            settle(&state, FrameValues{nullptr, 0.0f, state.clearedLength, true}, state.clearedDest, FrameBytes{},
                   state.clearedSpanned);
        FLAC__stream_decoder_flush(decoder.get());
        state.pos = qint64(resumeAt);
    }
};

} // namespace

bool FlacDecoder::decode(const QByteArray& bytes, DecodedAudio& out, int segments)
{
    Stream main;
    if (!main.open(bytes))
        return false;

    const qint64 announced = main.state.totalFrames;
    const int count = SegmentedDecoding::segmentCount(announced, segments);
    if (count > 1 && main.state.channels > 0) {
        std::vector<QList<float>> parts;
        // Where each segment's first and last frames end: a segment must
        // begin with the frame the one before it ended with, or frames in
        // between (repeated ones that a seek stepped over) went unread.
        std::vector<std::pair<FLAC__uint64, FLAC__uint64>> frameEnds(static_cast<size_t>(count));
        auto decodeSegment = [&](qint64 first, qint64 end, QList<float>& part) {
            Stream s;
            if (!s.open(bytes) || s.state.channels != main.state.channels)
                return false;
            s.reserve(end < 0 ? announced - first : end - first, count);
            // The seek delivers the frame holding `first`, starting at `first`.
            s.state.origin = first;
            if (first > 0 && !s.seek(first))
                return false;
            s.read(end < 0 ? -1 : end - first);
            frameEnds[size_t((first * count + announced - 1) / announced)] = {s.state.firstFrameEnd,
                                                                               s.state.lastFrameEnd};
            part = s.state.buffer.take();
            // Lost frames are put back in place only by a sequential decode.
            return !s.state.damaged;
        };
        bool tiled = SegmentedDecoding::decode(announced, count, main.state.channels, decodeSegment, parts);
        for (size_t k = 1; k < frameEnds.size(); ++k)
            tiled = tiled && (frameEnds[k].first == 0 || frameEnds[k].first == frameEnds[k - 1].second);
        if (tiled) {
            out.channels = main.state.channels;
            out.sampleRate = main.state.sampleRate;
            out.parts = std::move(parts);
            out.cutShort = out.frames() < announced;
            return out.sampleRate > 0;
        }
    }

    main.reserve(announced);
    main.state.fillGaps = true;
    main.state.origin = announced > 0 ? 0 : -1;
    main.read(-1);
    main.finish();
    if (main.state.channels <= 0 || main.state.sampleRate <= 0 || main.state.buffer.size() == 0)
        return false;
    out.channels = main.state.channels;
    out.sampleRate = main.state.sampleRate;
    out.parts.clear();
    out.parts.push_back(main.state.buffer.take());
    const DecodeState& state = main.state;
    out.damaged = state.damaged;
    out.filledFrames = state.filledFrames;
    out.joinedStreams = state.joinedStreams;
    out.laterStreamsLeft = state.laterStreamsLeft;
    out.leftSampleRate = state.leftSampleRate;
    out.leftChannels = state.leftChannels;
    // libFLAC codes silence in a few bytes a frame: zeros at the end are no frames.
    out.cutShort = state.earlierStreamCut
                   || (state.streamFrames > 0 ? out.frames() - state.streamStart < state.streamFrames
                                              : DecodedAudio::endsInReservedZeros(bytes, qint64(state.lastFrameEnd)));
    return true;
}
