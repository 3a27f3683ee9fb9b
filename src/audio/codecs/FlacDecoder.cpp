#include "FlacDecoder.h"

#include "GrowingSampleBuffer.h"
#include "SegmentedDecoding.h"

#include <FLAC/stream_decoder.h>
#include <QDebug>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// STREAMINFO's length is a claim: believed only up to this many values per
// byte, well above what sound compresses to. Longer streams (long silences
// can reach thousands of values a byte) grow their buffer as they decode,
// so a forged length cannot ask for more memory than the machine has.
constexpr qint64 kMaxValuesPerByte = 16;

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
    // frame is decoded again into its place (its number, -1: none; where it
    // lies in the output, how long).
    qint64 clearedNumber = -1;
    FLAC__uint64 clearedFrom = 0;  // byte position after the frame before it
    qint64 clearedAt = 0;
    qint64 clearedLength = 0;
    bool decodingAgain = false;
    qint64 decodedAgain = 0;
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

// Silence from where the sound stopped to where a frame says it begins,
// when the bytes since the last frame (`spanned`) can have held it.
bool fillGap(DecodeState* s, qint64 gap, qint64 blockSize, FLAC__uint64 spanned)
{
    const qint64 at = s->buffer.size() / s->channels;
    const qint64 believable = qint64(std::min<FLAC__uint64>(spanned, FLAC__uint64(1) << 40)) * kMaxFillValuesPerByte
                              / s->channels;
    if (gap > believable || (s->totalFrames > 0 && at + gap + blockSize > s->totalFrames))
        return false;
    float* dst = s->buffer.append(qsizetype(gap) * s->channels);
    std::fill(dst, dst + gap * s->channels, 0.0f);
    s->filledFrames += gap;
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

// Writes `count` values a channel of the frame, from its `skip`th on, at
// output frame `dest`, over what is there and on past the end (no data:
// silence).
void writeFrame(DecodeState* s, const FLAC__Frame* frame, const FLAC__int32* const channelData[], qint64 dest,
                qint64 skip, qint64 count)
{
    const int channels = s->channels;
    const qint64 end = s->buffer.size() / channels;
    if (dest + count > end)
        s->buffer.append(qsizetype((dest + count - end) * channels));
    float* dst = s->buffer.rewrite(qsizetype(dest * channels));
    if (!channelData) {
        std::fill(dst, dst + count * channels, 0.0f);
        return;
    }
    const int bits = int(frame->header.bits_per_sample);
    const float scale = float(1.0 / double(qint64(1) << (bits - 1)));
    if (channels == 2) {
        const FLAC__int32* left = channelData[0] + skip;
        const FLAC__int32* right = channelData[1] + skip;
        for (qint64 i = 0; i < count; ++i) {
            dst[2 * i] = float(left[i]) * scale;
            dst[2 * i + 1] = float(right[i]) * scale;
        }
    } else {
        for (int c = 0; c < channels; ++c) {
            const FLAC__int32* src = channelData[c] + skip;
            for (qint64 i = 0; i < count; ++i)
                dst[i * channels + c] = float(src[i]) * scale;
        }
    }
}

// Puts a frame where its header says (no data: a silent frame). A frame
// numbered behind what was decoded is damage and goes to its own place;
// one numbered ahead follows silence for the lost frames where the bytes
// can have held them, else what was decoded.
void placeFrame(DecodeState* s, const FLAC__StreamDecoder* decoder, const FLAC__Frame* frame,
                const FLAC__int32* const channelData[])
{
    const bool afterError = s->errorSinceFrame;
    s->errorSinceFrame = false;
    const qint64 blockSize = qint64(frame->header.blocksize);
    const qint64 at = s->buffer.size() / s->channels;
    FLAC__uint64 end = s->lastFrameEnd;
    FLAC__stream_decoder_get_decode_position(decoder, &end);
    if (s->decodingAgain) {
        // Only the same frame, from the same bytes, goes to the silence.
        if (end == s->lastFrameEnd && frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER
            && qint64(frame->header.number.sample_number) == s->clearedNumber && channelData) {
            s->decodedAgain = std::min(blockSize, s->clearedLength);
            writeFrame(s, frame, channelData, s->clearedAt, 0, s->decodedAgain);
        }
        return;
    }
    const FLAC__uint64 previousEnd = s->lastFrameEnd;
    s->lastFrameEnd = end;
    if (s->firstFrameEnd == 0)
        s->firstFrameEnd = end;
    qint64 dest = at;
    if (frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
        const qint64 number = qint64(std::min<FLAC__uint64>(frame->header.number.sample_number, FLAC__uint64(1) << 40));
        if (s->origin < 0)
            s->origin = number;
        dest = number - s->origin;
    }
    const bool cleared = s->afterFill && channelData && silent(frame, channelData);
    if (!s->fillGaps) {
        // A segment's frames must follow on; anything else is left to the sequential decode.
        s->damaged = s->damaged || dest != at;
        dest = at;
    } else if (dest > at && fillGap(s, dest - at, blockSize, end - std::min(end, previousEnd))) {
        s->damaged = true;
    } else if (dest > at) {
        dest = at;  // more than the bytes can have held: the frame follows on
    }
    if (afterError || dest < at)
        s->damaged = true;
    if (dest < at && cleared)
        return;  // nothing to put over what was decoded there
    const qint64 skip = std::max<qint64>(0, -dest);
    if (skip >= blockSize)
        return;
    writeFrame(s, frame, cleared ? nullptr : channelData, dest + skip, skip, blockSize - skip);
    if (cleared && s->fillGaps && frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
        s->clearedNumber = qint64(frame->header.number.sample_number);
        s->clearedFrom = previousEnd;
        s->clearedAt = dest + skip;
        s->clearedLength = blockSize - skip;
    } else if (cleared || (afterError && channelData && silent(frame, channelData))) {
        // libFLAC wrote silence for a frame it could not read.
        s->filledFrames += blockSize - skip;
    }
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
    // A stream whose layout changes is damaged; keep what came before.
    if (channels != s->channels || bits < 4 || bits > 32)
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    if (s->held) {
        // The silent frame before this one in the same call was libFLAC's.
        s->held = false;
        s->afterFill = true;
        s->damaged = true;
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
    // its own), once, into its place; decoding then goes on where it was.
    // Should that fail, the silence stays.
    void decodeClearedFrame()
    {
        const FLAC__uint64 resumeAt = state.lastFrameEnd;
        const int errors = state.streamErrors;
        const bool errorSinceFrame = state.errorSinceFrame;
        FLAC__stream_decoder_flush(decoder.get());
        state.pos = qint64(state.clearedFrom);
        state.decodingAgain = true;
        state.decodedAgain = 0;
        FLAC__uint64 at = state.clearedFrom;
        while (state.decodedAgain == 0 && at < resumeAt && FLAC__stream_decoder_process_single(decoder.get())
               && FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM
               && FLAC__stream_decoder_get_decode_position(decoder.get(), &at)) {
        }
        state.decodingAgain = false;
        state.clearedNumber = -1;
        state.streamErrors = errors;
        state.errorSinceFrame = errorSinceFrame;
        if (state.decodedAgain == 0)
            state.filledFrames += state.clearedLength;
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
    if (main.state.channels <= 0 || main.state.sampleRate <= 0 || main.state.buffer.size() == 0)
        return false;
    out.channels = main.state.channels;
    out.sampleRate = main.state.sampleRate;
    out.parts.clear();
    out.parts.push_back(main.state.buffer.take());
    out.damaged = main.state.damaged;
    out.filledFrames = main.state.filledFrames;
    // libFLAC codes silence in a few bytes a frame: zeros at the end are no frames.
    out.cutShort = announced > 0 ? out.frames() < announced
                                 : DecodedAudio::endsInReservedZeros(bytes, qint64(main.state.lastFrameEnd));
    return true;
}
