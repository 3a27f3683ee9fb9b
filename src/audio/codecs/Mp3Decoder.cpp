#include "Mp3Decoder.h"

#include "GrowingSampleBuffer.h"

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

} // namespace

bool Mp3Decoder::decode(const QByteArray& bytes, DecodedAudio& out)
{
    static std::once_flag initOnce;
    std::call_once(initOnce, [] { mpg123_init(); });

    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> mh(mpg123_new(nullptr, &err));
    if (!mh)
        return false;
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT | MPG123_GAPLESS | MPG123_QUIET, 0);
    // Every rate and channel layout, always as 32-bit float.
    mpg123_format_none(mh.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

    MemorySource source{bytes.constData(), bytes.size(), 0};
    if (mpg123_replace_reader_handle(mh.get(), readMemory, seekMemory, nullptr) != MPG123_OK
        || mpg123_open_handle(mh.get(), &source) != MPG123_OK)
        return false;

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0
        || channels <= 0 || encoding != MPG123_ENC_FLOAT_32)
        return false;

    GrowingSampleBuffer buffer;
    const off_t announced = mpg123_length(mh.get());
    if (announced > 0)
        buffer.reserveHint(qint64(announced) * channels, bytes.size() * kMaxValuesPerByte);

    constexpr qsizetype kChunkValues = 1 << 16;
    for (;;) {
        float* dst = buffer.append(kChunkValues);
        size_t done = 0;
        const int rc = mpg123_read(mh.get(), dst, kChunkValues * sizeof(float), &done);
        buffer.shrinkBy(kChunkValues - qsizetype(done / sizeof(float)));
        if (rc == MPG123_DONE)
            break;
        if (rc == MPG123_NEW_FORMAT) {
            long r = 0;
            int c = 0;
            int e = 0;
            mpg123_getformat(mh.get(), &r, &c, &e);
            if (r != rate || c != channels || e != encoding) {
                qWarning() << "Mp3Decoder: format changes mid-stream; keeping the frames before it";
                break;
            }
            continue;
        }
        if (rc != MPG123_OK)
            break;  // damaged tail: keep what decoded
    }

    const qsizetype whole = buffer.size() - buffer.size() % channels;
    buffer.shrinkBy(buffer.size() - whole);
    if (whole == 0)
        return false;
    out.channels = channels;
    out.sampleRate = int(rate);
    out.interleaved = buffer.take();
    return true;
}
