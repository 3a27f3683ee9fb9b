#include "WavReader.h"

#include "common/ParallelRanges.h"
#include "common/SampleBound.h"
#include "common/SampleMemory.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr quint16 kFormatPcm = 1;
constexpr quint16 kFormatFloat = 3;
constexpr quint16 kFormatExtensible = 0xFFFE;
constexpr qint64 kCanonicalHeaderBytes = 44;
// Data sizes from here up are taken for placeholders of writers that could
// not seek back (pipes, recorders stopped abruptly), not stated lengths.
constexpr qint64 kStreamedDataSize = 0x7F000000;
// Below this many values a second thread costs more than it saves.
constexpr qint64 kValuesPerThread = 1 << 20;

// The fixed tail of the KSDATAFORMAT sub-format GUIDs; the first two bytes
// carry the ordinary format tag.
constexpr unsigned char kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

quint16 u16At(const unsigned char* p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32At(const unsigned char* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

struct Format {
    bool present = false;
    quint16 tag = 0;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bits = 0;
};

// Converts `values` samples of one encoding to floats.
template <typename Decode>
void decodeAll(const unsigned char* src, qint64 values, int bytesPerSample, float* dst, Decode decode)
{
    for (qint64 i = 0; i < values; ++i, src += bytesPerSample)
        dst[i] = decode(src);
}

bool decodeSamples(quint16 tag, int bits, const unsigned char* src, qint64 values, float* dst)
{
    if (tag == kFormatPcm) {
        switch (bits) {
        case 8:
            decodeAll(src, values, 1, dst, [](const unsigned char* p) { return (int(p[0]) - 128) / 128.0f; });
            return true;
        case 16:
            decodeAll(src, values, 2, dst, [](const unsigned char* p) {
                return qint16(u16At(p)) / 32768.0f;
            });
            return true;
        case 24:
            decodeAll(src, values, 3, dst, [](const unsigned char* p) {
                const qint32 v = qint32(quint32(p[0]) << 8 | quint32(p[1]) << 16 | quint32(p[2]) << 24) >> 8;
                return float(v) / 8388608.0f;
            });
            return true;
        case 32:
            decodeAll(src, values, 4, dst, [](const unsigned char* p) {
                return float(double(qint32(u32At(p))) / 2147483648.0);
            });
            return true;
        default:
            return false;
        }
    }
    // Float data is taken as stored, within the sample bound.
    if (tag == kFormatFloat) {
        if (bits == 32) {
            decodeAll(src, values, 4, dst, [](const unsigned char* p) {
                const quint32 raw = u32At(p);
                float f;
                std::memcpy(&f, &raw, 4);
                return SampleBound::bounded(f);
            });
            return true;
        }
        if (bits == 64) {
            decodeAll(src, values, 8, dst, [](const unsigned char* p) {
                const quint64 raw = quint64(u32At(p)) | (quint64(u32At(p + 4)) << 32);
                double d;
                std::memcpy(&d, &raw, 8);
                return SampleBound::bounded(d);
            });
            return true;
        }
    }
    return false;
}

bool isDecodable(quint16 tag, int bits)
{
    if (tag == kFormatPcm)
        return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (tag == kFormatFloat)
        return bits == 32 || bits == 64;
    return false;
}

} // namespace

WavReader::Status WavReader::read(const QByteArray& bytes, DecodedAudio& out)
{
    const qint64 size = bytes.size();
    if (size < kCanonicalHeaderBytes)
        return Status::HeaderDamaged;
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (std::memcmp(base + 8, "WAVE", 4) == 0 && std::memcmp(base, "RF64", 4) == 0)
        return Status::Rf64;
    if (std::memcmp(base, "RIFF", 4) != 0 || std::memcmp(base + 8, "WAVE", 4) != 0)
        return Status::NotWav;

    Format fmt;
    bool haveData = false;
    qint64 dataOffset = 0;
    qint64 dataSize = 0;
    bool dataCut = false;

    // Every step advances by at least 8 bytes and stays inside the file, so
    // no declared size can loop the walk or read outside the buffer.
    qint64 pos = 12;
    while (size - pos >= 8) {
        const unsigned char* header = base + pos;
        const qint64 chunkSize = u32At(header + 4);
        const qint64 body = pos + 8;
        const qint64 available = size - body;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (chunkSize < 16 || chunkSize > available)
                return Status::FormatDamaged;
            const unsigned char* f = base + body;
            fmt.present = true;
            fmt.tag = u16At(f);
            fmt.channels = u16At(f + 2);
            fmt.sampleRate = u32At(f + 4);
            fmt.bits = u16At(f + 14);
            if (fmt.tag == kFormatExtensible) {
                // The sub-format GUID follows cbSize, valid bits and the channel mask.
                if (chunkSize >= 40 && std::memcmp(f + 26, kGuidTail, sizeof kGuidTail) == 0)
                    fmt.tag = u16At(f + 24);
            }
        } else if (std::memcmp(header, "data", 4) == 0) {
            haveData = true;
            dataOffset = body;
            dataSize = std::min(chunkSize, available);
            // Less than stated is a file cut short, unless the size is the
            // placeholder a streaming writer puts (0x7FFFF000, 0xFFFFFFFF).
            dataCut = chunkSize > available && chunkSize < kStreamedDataSize;
        }
        const qint64 next = body + chunkSize + (chunkSize & 1);
        if (next > size)
            break;
        pos = next;
    }

    if (!haveData || dataSize == 0)
        return Status::NoAudioData;
    if (!fmt.present || fmt.channels == 0)
        return Status::ZeroChannels;
    if (fmt.sampleRate == 0 || fmt.sampleRate > quint32(std::numeric_limits<int>::max()))
        return Status::FormatDamaged;
    if (!isDecodable(fmt.tag, fmt.bits))
        return Status::UnsupportedFormat;

    const int bytesPerSample = fmt.bits / 8;
    const qint64 frameBytes = qint64(bytesPerSample) * fmt.channels;
    const qint64 frames = dataSize / frameBytes;
    if (frames == 0)
        return Status::NoAudioData;

    const qint64 values = frames * fmt.channels;
    QList<float> samples = SampleMemory::uninitialized(qsizetype(values));
    float* dst = samples.data();
    const unsigned char* src = base + dataOffset;
    ParallelRanges::run(values, ParallelRanges::partsFor(values, kValuesPerThread),
                        [&](int, qint64 begin, qint64 end) {
                            decodeSamples(fmt.tag, fmt.bits, src + begin * bytesPerSample, end - begin,
                                          dst + begin);
                        });

    out.channels = fmt.channels;
    out.sampleRate = int(fmt.sampleRate);
    out.parts.clear();
    out.parts.push_back(std::move(samples));
    out.cutShort = dataCut;
    return Status::Ok;
}
