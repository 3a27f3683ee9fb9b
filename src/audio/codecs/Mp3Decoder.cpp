#include "Mp3Decoder.h"

#include "GrowingSampleBuffer.h"
#include "SegmentedDecoding.h"
#include "common/SampleBound.h"

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

    bool open(const QByteArray& bytes)
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
        return mpg123_replace_reader_handle(mh, readMemory, seekMemory, nullptr) == MPG123_OK
               && mpg123_open_handle(mh, &source) == MPG123_OK
               && mpg123_getformat(mh, &rate, &channels, &encoding) == MPG123_OK && rate > 0
               && channels > 0 && encoding == MPG123_ENC_FLOAT_32;
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
            SampleBound::apply(dst, got);
            if (remaining > 0)
                remaining -= got;
            if (rc == MPG123_DONE)
                break;
            if (rc == MPG123_NEW_FORMAT) {
                long r = 0;
                int c = 0;
                int e = 0;
                mpg123_getformat(handle.get(), &r, &c, &e);
                if (r != rate || c != channels || e != MPG123_ENC_FLOAT_32) {
                    qWarning() << "Mp3Decoder: format changes mid-stream; keeping the frames before it";
                    break;
                }
                continue;
            }
            if (rc != MPG123_OK)
                break;  // damaged tail: keep what decoded
        }
        buffer.shrinkBy(buffer.size() % channels);
    }
};

} // namespace

bool Mp3Decoder::decode(const QByteArray& bytes, DecodedAudio& out, int segments)
{
    Stream main;
    if (!main.open(bytes))
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
            if (!s.open(bytes) || s.rate != main.rate || s.channels != main.channels)
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
            out.channels = main.channels;
            out.sampleRate = int(main.rate);
            out.parts = std::move(parts);
            return true;
        }
        if (mpg123_seek(main.handle.get(), 0, SEEK_SET) != 0 && !main.open(bytes))
            return false;
    }

    GrowingSampleBuffer buffer;
    const off_t announced = mpg123_length(main.handle.get());
    if (announced > 0)
        buffer.reserveHint(qint64(announced) * main.channels, bytes.size() * kMaxValuesPerByte);
    main.read(-1, buffer);
    if (buffer.size() == 0)
        return false;
    out.channels = main.channels;
    out.sampleRate = int(main.rate);
    out.parts.clear();
    out.parts.push_back(buffer.take());
    return true;
}
