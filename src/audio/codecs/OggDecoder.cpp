#include "OggDecoder.h"

#include "GrowingSampleBuffer.h"

#include <limits>
#include <memory>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

namespace {

struct VorbisDeleter {
    void operator()(stb_vorbis* v) const { stb_vorbis_close(v); }
};

} // namespace

bool OggDecoder::decode(const QByteArray& bytes, DecodedAudio& out, int& errorCode)
{
    errorCode = 0;
    if (bytes.size() > std::numeric_limits<int>::max()) {
        errorCode = VORBIS_unexpected_eof;
        return false;
    }
    int error = 0;
    std::unique_ptr<stb_vorbis, VorbisDeleter> vorbis(
        stb_vorbis_open_memory(reinterpret_cast<const unsigned char*>(bytes.constData()),
                               int(bytes.size()), &error, nullptr));
    if (!vorbis) {
        errorCode = error;
        return false;
    }
    const stb_vorbis_info info = stb_vorbis_get_info(vorbis.get());
    const int channels = info.channels;
    if (channels <= 0 || info.sample_rate == 0
        || info.sample_rate > unsigned(std::numeric_limits<int>::max()))
        return false;

    GrowingSampleBuffer buffer;
    for (;;) {
        int frameChannels = 0;
        float** pcm = nullptr;
        const int n = stb_vorbis_get_frame_float(vorbis.get(), &frameChannels, &pcm);
        if (n <= 0)
            break;
        if (frameChannels != channels)
            break;
        float* dst = buffer.append(qsizetype(n) * channels);
        if (channels == 2) {
            const float* left = pcm[0];
            const float* right = pcm[1];
            for (int i = 0; i < n; ++i) {
                dst[2 * i] = left[i];
                dst[2 * i + 1] = right[i];
            }
        } else {
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    dst[qsizetype(i) * channels + c] = pcm[c][i];
        }
    }
    if (buffer.size() == 0) {
        errorCode = stb_vorbis_get_error(vorbis.get());
        return false;
    }
    out.channels = channels;
    out.sampleRate = int(info.sample_rate);
    out.interleaved = buffer.take();
    return true;
}
