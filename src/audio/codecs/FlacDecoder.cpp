#include "FlacDecoder.h"

#include "GrowingSampleBuffer.h"

#include <FLAC/stream_decoder.h>
#include <QDebug>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// A FLAC block can describe 65535 frames of silence in a handful of bytes,
// so an announced length is believed only up to this many values per byte.
constexpr qint64 kMaxValuesPerByte = 4096;

struct DecodeState {
    const unsigned char* data = nullptr;
    qint64 size = 0;
    qint64 pos = 0;
    int channels = 0;
    int sampleRate = 0;
    int streamErrors = 0;
    FLAC__StreamDecoderErrorStatus firstError = FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC;
    GrowingSampleBuffer buffer;
};

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

FLAC__StreamDecoderWriteStatus onWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
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

void onMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client)
{
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
        return;
    auto* s = static_cast<DecodeState*>(client);
    const auto& info = metadata->data.stream_info;
    s->sampleRate = int(info.sample_rate);
    if (info.total_samples > 0)
        s->buffer.reserveHint(qint64(info.total_samples) * info.channels,
                              s->size * kMaxValuesPerByte);
}

void onError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client)
{
    // libFLAC skips a damaged frame and resynchronises by itself; count only.
    auto* s = static_cast<DecodeState*>(client);
    if (s->streamErrors++ == 0)
        s->firstError = status;
}

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};

} // namespace

bool FlacDecoder::decode(const QByteArray& bytes, DecodedAudio& out)
{
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder(FLAC__stream_decoder_new());
    if (!decoder)
        return false;
    // Our own reads come from memory; the MD5 pass would only cost time.
    FLAC__stream_decoder_set_md5_checking(decoder.get(), false);

    DecodeState state;
    state.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    state.size = bytes.size();
    if (FLAC__stream_decoder_init_stream(decoder.get(), onRead, onSeek, onTell, onLength, onEof,
                                         onWrite, onMetadata, onError, &state)
        != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return false;
    FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
    FLAC__stream_decoder_finish(decoder.get());
    if (state.streamErrors > 0)
        qWarning() << "FlacDecoder:" << state.streamErrors << "damaged places, first:"
                   << FLAC__StreamDecoderErrorStatusString[state.firstError];

    if (state.channels <= 0 || state.sampleRate <= 0 || state.buffer.size() == 0)
        return false;
    out.channels = state.channels;
    out.sampleRate = state.sampleRate;
    out.interleaved = state.buffer.take();
    return true;
}
