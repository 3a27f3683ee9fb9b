#include "Mp3Encoder.h"

#include <lame/lame.h>

#include <algorithm>

namespace {

constexpr int kChunkSamples = Mp3Encoder::ChunkSamples;
// LAME's worst case for one chunk: 1.25 * samples + 7200.
constexpr int kChunkBytes = 8640;

} // namespace

Mp3Encoder::~Mp3Encoder()
{
    if (m_lame)
        lame_close(m_lame);
}

Mp3Encoder::Status Mp3Encoder::open(int sampleRate)
{
    m_lame = lame_init();
    if (!m_lame)
        return Status::InitFailed;
    lame_set_in_samplerate(m_lame, sampleRate);
    lame_set_num_channels(m_lame, 1);
    lame_set_quality(m_lame, 2);
    lame_set_mode(m_lame, MONO);
    lame_set_brate(m_lame, 192);
    lame_set_VBR(m_lame, vbr_off);
    lame_set_bWriteVbrTag(m_lame, 1);
    if (lame_init_params(m_lame) < 0)
        return Status::ParamsFailed;
    return Status::Ok;
}

bool Mp3Encoder::encode(const qint16* pcm, qint64 count, QByteArray& out)
{
    unsigned char buffer[kChunkBytes];
    for (qint64 start = 0; start < count; start += kChunkSamples) {
        const int n = int(std::min<qint64>(kChunkSamples, count - start));
        // Mono: LAME reads only the left input.
        const int bytes = lame_encode_buffer(m_lame, pcm + start, pcm + start, n, buffer, kChunkBytes);
        if (bytes < 0)
            return false;
        out.append(reinterpret_cast<const char*>(buffer), bytes);
    }
    return true;
}

bool Mp3Encoder::finish(QByteArray& out)
{
    unsigned char buffer[kChunkBytes];
    const int bytes = lame_encode_flush(m_lame, buffer, kChunkBytes);
    if (bytes < 0)
        return false;
    out.append(reinterpret_cast<const char*>(buffer), bytes);

    // The first frame LAME emitted is a placeholder of the tag's size.
    unsigned char tag[kChunkBytes];
    const size_t tagBytes = lame_get_lametag_frame(m_lame, tag, sizeof tag);
    if (tagBytes > 0 && tagBytes <= size_t(out.size()))
        std::copy(tag, tag + tagBytes, out.begin());
    return true;
}
