#include "OggDecoder.h"

#include "GrowingSampleBuffer.h"
#include "SegmentedDecoding.h"

#include <limits>
#include <memory>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

namespace {

struct VorbisDeleter {
    void operator()(stb_vorbis* v) const { stb_vorbis_close(v); }
};
using Vorbis = std::unique_ptr<stb_vorbis, VorbisDeleter>;

Vorbis openVorbis(const QByteArray& bytes, int& error)
{
    error = 0;
    return Vorbis(stb_vorbis_open_memory(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                         int(bytes.size()), &error, nullptr));
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

} // namespace

bool OggDecoder::decode(const QByteArray& bytes, DecodedAudio& out, int& errorCode, int segments)
{
    errorCode = 0;
    if (bytes.size() > std::numeric_limits<int>::max()) {
        errorCode = VORBIS_unexpected_eof;
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
    out.parts.clear();

    if (segments != 1) {
        // The last page's position: used only to place the segments.
        const qint64 announced = stb_vorbis_stream_length_in_samples(main.get());
        const int count = SegmentedDecoding::segmentCount(announced, segments);
        auto decodeSegment = [&](qint64 first, qint64 end, QList<float>& part) {
            int err = 0;
            Vorbis v = openVorbis(bytes, err);
            if (!v || first > qint64(std::numeric_limits<unsigned>::max()))
                return false;
            if (first > 0 && !stb_vorbis_seek(v.get(), unsigned(first)))
                return false;
            GrowingSampleBuffer buffer;
            readFrames(v.get(), channels, end < 0 ? -1 : end - first, buffer);
            part = buffer.take();
            return true;
        };
        if (count > 1 && SegmentedDecoding::decode(announced, count, channels, decodeSegment, out.parts))
            return true;
        main = openVorbis(bytes, error);
        if (!main) {
            errorCode = error;
            return false;
        }
    }

    GrowingSampleBuffer buffer;
    readFrames(main.get(), channels, -1, buffer);
    if (buffer.size() == 0) {
        errorCode = stb_vorbis_get_error(main.get());
        return false;
    }
    out.parts.push_back(buffer.take());
    return true;
}
