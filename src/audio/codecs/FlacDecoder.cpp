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
    // Sequential decoding puts silence where frames were lost, so the sound
    // after the damage keeps its time (frame headers carry their position).
    bool fillGaps = false;
    qint64 filledFrames = 0;
    FLAC__uint64 lastFrameEnd = 0;  // byte position after the last frame written
    FLAC__uint64 spanStart = 0;     // after the frame before the last one that took bytes
    // A sound frame that libFLAC wrote as silence right after the silence it
    // put in for lost frames (libFLAC 1.4.2 clears its output for those):
    // its first sample, -1 when none, and where it begins in the buffer.
    qint64 clearedFrame = -1;
    qint64 clearedAt = 0;
    bool decodingAgain = false;
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

// Silence from where the sound stopped to where this frame says it begins:
// libFLAC fills a lost stretch itself only up to 50 blocks (about 5 s).
// `spanned`: the bytes since the last frame before the loss.
void fillGap(DecodeState* s, const FLAC__FrameHeader& header, FLAC__uint64 spanned)
{
    if (!s->fillGaps || header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER)
        return;
    const qint64 at = s->buffer.size() / s->channels;
    const qint64 gap = qint64(std::min<FLAC__uint64>(header.number.sample_number, FLAC__uint64(1) << 40)) - at;
    const qint64 believable = qint64(std::min<FLAC__uint64>(spanned, FLAC__uint64(1) << 40)) * kMaxFillValuesPerByte
                              / s->channels;
    if (gap <= 0 || gap > believable || (s->totalFrames > 0 && at + gap + header.blocksize > s->totalFrames))
        return;
    float* dst = s->buffer.append(qsizetype(gap) * s->channels);
    std::fill(dst, dst + gap * s->channels, 0.0f);
    s->filledFrames += gap;
    s->damaged = true;
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
    const bool afterError = s->errorSinceFrame;
    s->errorSinceFrame = false;
    // libFLAC puts silent frames where it lost some, which take no bytes
    // (the frame after them, written last, may come out silent too), and
    // some versions write a frame whose checksum failed as silence.
    FLAC__uint64 end = 0;
    const bool ownBytes = !FLAC__stream_decoder_get_decode_position(decoder, &end) || end != s->lastFrameEnd;
    if (ownBytes)
        s->spanStart = s->lastFrameEnd;
    s->lastFrameEnd = end;
    if (afterError || !ownBytes)
        s->damaged = true;
    if (!s->decodingAgain)
        fillGap(s, frame->header, end - std::min(end, s->spanStart));
    if ((afterError || !ownBytes) && silent(frame, channelData)) {
        s->filledFrames += frame->header.blocksize;
        // libFLAC's own silent frames are constant; a decoded frame is not.
        if (!ownBytes && !s->decodingAgain && frame->subframes[0].type != FLAC__SUBFRAME_TYPE_CONSTANT
            && frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
            s->clearedFrame = qint64(frame->header.number.sample_number);
            s->clearedAt = s->buffer.size() / channels;
        }
    }

    const qsizetype blockSize = qsizetype(frame->header.blocksize);
    const float scale = float(1.0 / double(qint64(1) << (bits - 1)));
    float* dst = s->buffer.append(blockSize * channels);
    if (channels == 2) {
        const FLAC__int32* left = channelData[0];
        const FLAC__int32* right = channelData[1];
        for (qsizetype i = 0; i < blockSize; ++i) {
            dst[2 * i] = float(left[i]) * scale;
            dst[2 * i + 1] = float(right[i]) * scale;
        }
    } else {
        for (int c = 0; c < channels; ++c) {
            const FLAC__int32* src = channelData[c];
            for (qsizetype i = 0; i < blockSize; ++i)
                dst[i * channels + c] = float(src[i]) * scale;
        }
    }
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
        return FLAC__stream_decoder_init_stream(decoder.get(), onRead, onSeek, onTell, onLength, onEof,
                                                onWriteGuarded, onMetadata, onError, &state)
                   == FLAC__STREAM_DECODER_INIT_STATUS_OK
               && FLAC__stream_decoder_process_until_end_of_metadata(decoder.get());
    }

    // A segment (one of `shares`) reserves at most its share of the bound.
    void reserve(qint64 frames, int shares = 1)
    {
        if (frames > 0 && state.channels > 0)
            state.buffer.reserveHint(frames * state.channels,
                                     state.size * kMaxValuesPerByte / std::max(shares, 1));
    }

    // Decodes up to maxFrames frames (all when negative).
    void read(qint64 maxFrames)
    {
        if (maxFrames < 0 && state.fillGaps) {
            while (FLAC__stream_decoder_process_single(decoder.get())
                   && FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM) {
                if (state.clearedFrame >= 0)
                    decodeClearedFrame();
            }
        } else if (maxFrames < 0) {
            FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
        } else {
            const qint64 wanted = maxFrames * state.channels;
            while (state.buffer.size() < wanted) {
                if (!FLAC__stream_decoder_process_single(decoder.get())
                    || FLAC__stream_decoder_get_state(decoder.get()) == FLAC__STREAM_DECODER_END_OF_STREAM)
                    break;
            }
            if (state.buffer.size() > wanted)
                state.buffer.shrinkBy(state.buffer.size() - qsizetype(wanted));
        }
        if (state.outOfMemory)
            throw std::bad_alloc();
        if (state.streamErrors > 0)
            qWarning() << "FlacDecoder:" << state.streamErrors << "damaged places, first:"
                       << FLAC__StreamDecoderErrorStatusString[state.firstError];
    }

    // The frame that libFLAC wrote as silence, the last one written, is
    // decoded again by seeking to it (a seek puts in no silence). Should
    // that fail, the silence stays and decoding goes on after the frame.
    void decodeClearedFrame()
    {
        const qint64 first = state.clearedFrame;
        state.clearedFrame = -1;
        const qint64 at = state.clearedAt;
        const qint64 end = state.buffer.size() / state.channels;
        FLAC__uint64 resumeAt = 0;
        if (at >= end || !FLAC__stream_decoder_get_decode_position(decoder.get(), &resumeAt))
            return;
        state.buffer.shrinkBy(qsizetype((end - at) * state.channels));
        state.filledFrames -= end - at;
        state.decodingAgain = true;
        const bool sought = FLAC__stream_decoder_seek_absolute(decoder.get(), FLAC__uint64(first));
        state.decodingAgain = false;
        const qint64 now = state.buffer.size() / state.channels;
        if (sought && now == end)
            return;
        if (now != at)
            state.buffer.shrinkBy(qsizetype((now - at) * state.channels));
        float* dst = state.buffer.append(qsizetype((end - at) * state.channels));
        std::fill(dst, dst + (end - at) * state.channels, 0.0f);
        state.filledFrames += end - at;
        FLAC__stream_decoder_flush(decoder.get());
        state.pos = qint64(resumeAt);
        state.lastFrameEnd = resumeAt;
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
        auto decodeSegment = [&](qint64 first, qint64 end, QList<float>& part) {
            Stream s;
            if (!s.open(bytes) || s.state.channels != main.state.channels)
                return false;
            s.reserve(end < 0 ? announced - first : end - first, count);
            // The seek delivers the frame holding `first`, starting at `first`.
            if (first > 0 && !FLAC__stream_decoder_seek_absolute(s.decoder.get(), FLAC__uint64(first)))
                return false;
            s.read(end < 0 ? -1 : end - first);
            part = s.state.buffer.take();
            // Lost frames are put back in place only by a sequential decode.
            return !s.state.damaged;
        };
        if (SegmentedDecoding::decode(announced, count, main.state.channels, decodeSegment, parts)) {
            out.channels = main.state.channels;
            out.sampleRate = main.state.sampleRate;
            out.parts = std::move(parts);
            out.cutShort = out.frames() < announced;
            return out.sampleRate > 0;
        }
    }

    main.reserve(announced);
    main.state.fillGaps = true;
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
