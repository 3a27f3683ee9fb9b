#include "WavWriter.h"

#include "SampleConversion.h"

#include <QIODevice>

#include <cstring>
#include <vector>

namespace {

constexpr qint64 kMaxU32 = 0xFFFFFFFFLL;

void putU16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

void putU32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray header(qint64 values, int sampleRate, int channels, int bits)
{
    const quint32 bytesPerSample = quint32(bits / 8);
    const bool isFloat = bits == 32;
    const quint32 dataBytes = quint32(values * bytesPerSample);
    QByteArray h;
    h.reserve(56);
    h += "RIFF";
    putU32(h, dataBytes + (isFloat ? 48 : 36));
    h += "WAVE";
    h += "fmt ";
    putU32(h, 16);
    putU16(h, isFloat ? 3 : 1);
    putU16(h, quint16(channels));
    putU32(h, quint32(sampleRate));
    putU32(h, quint32(channels) * quint32(sampleRate) * bytesPerSample);
    putU16(h, quint16(bytesPerSample * quint32(channels)));
    putU16(h, quint16(bits));
    if (isFloat) {
        h += "fact";
        putU32(h, 4);
        putU32(h, quint32(values / channels));
    }
    h += "data";
    putU32(h, dataBytes);
    return h;
}

} // namespace

bool WavWriter::supportsBits(int bitsPerSample)
{
    return bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32;
}

bool WavWriter::fits(qint64 values, int sampleRate, int channels, int bitsPerSample)
{
    const qint64 bytesPerSample = bitsPerSample / 8;
    return channels >= 1 && sampleRate >= 1 && bytesPerSample * channels <= 0xFFFF
           && qint64(channels) * sampleRate * bytesPerSample <= kMaxU32
           && values * bytesPerSample + 48 <= kMaxU32;
}

bool WavWriter::write(QIODevice& out, const QList<float>& data, int sampleRate, int channels,
                      int bitsPerSample)
{
    const qint64 values = data.size();
    const QByteArray h = header(values, sampleRate, channels, bitsPerSample);
    if (out.write(h) != h.size())
        return false;

    const float* src = data.constData();
    if (bitsPerSample == 32) {
        // Little-endian hosts store the floats exactly as the file wants them.
        static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "float WAV data is written as stored");
        return out.write(reinterpret_cast<const char*>(src), values * 4) == values * 4;
    }

    const int bytesPerSample = bitsPerSample / 8;
    constexpr qint64 kChunkValues = 1 << 16;
    std::vector<unsigned char> buffer(size_t(kChunkValues * bytesPerSample));
    for (qint64 start = 0; start < values; start += kChunkValues) {
        const qint64 n = std::min(kChunkValues, values - start);
        unsigned char* dst = buffer.data();
        if (bitsPerSample == 16) {
            for (qint64 i = 0; i < n; ++i) {
                const qint32 v = SampleConversion::toPcm16(src[start + i]);
                dst[2 * i] = quint8(v);
                dst[2 * i + 1] = quint8(v >> 8);
            }
        } else {
            for (qint64 i = 0; i < n; ++i) {
                const qint32 v = SampleConversion::toPcm24(src[start + i]);
                dst[3 * i] = quint8(v);
                dst[3 * i + 1] = quint8(v >> 8);
                dst[3 * i + 2] = quint8(v >> 16);
            }
        }
        const qint64 bytes = n * bytesPerSample;
        if (out.write(reinterpret_cast<const char*>(dst), bytes) != bytes)
            return false;
    }
    return true;
}
