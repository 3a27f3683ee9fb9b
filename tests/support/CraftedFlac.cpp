#include "CraftedFlac.h"

#include "audio/codecs/FlacEncoder.h"

namespace CraftedFlac {

quint16 flacCrc(const QByteArray& bytes, int width, quint32 poly)
{
    quint32 crc = 0;
    for (char ch : bytes) {
        crc ^= quint32(quint8(ch)) << (width - 8);
        for (int i = 0; i < 8; ++i)
            crc = ((crc >> (width - 1)) & 1 ? (crc << 1) ^ poly : crc << 1) & ((1u << width) - 1);
    }
    return quint16(crc);
}

QByteArray flacFrames(const QList<qint64>& starts, qint64 statedFrames, int blockSize,
                      const std::function<qint16(qint64)>& value)
{
    QByteArray out("fLaC\x80\0\0\x22", 8);
    for (int i = 0; i < 2; ++i)
        out.append(char(blockSize >> 8)).append(char(blockSize));
    out += QByteArray(6, '\0');
    const quint64 format = quint64(8000) << 44 | quint64(15) << 36 | quint64(statedFrames);
    for (int i = 7; i >= 0; --i)
        out += char(format >> (8 * i));
    out += QByteArray(16, '\0');
    for (qint64 start : starts) {
        // Sample numbers, an 8- or 16-bit block size, 8 kHz, mono 16-bit.
        QByteArray frame(blockSize <= 256 ? "\xFF\xF9\x64\x08" : "\xFF\xF9\x74\x08", 4);
        FlacEncoder::writeFlacUtf8Number(frame, quint64(start));
        if (blockSize > 256)
            frame += char((blockSize - 1) >> 8);
        frame += char(blockSize - 1);
        frame += char(flacCrc(frame, 8, 0x07));
        QByteArray values;
        for (qint64 i = start; i < start + blockSize; ++i)
            values.append(char(value(i) >> 8)).append(char(value(i)));
        // A verbatim subframe, or a constant one of value 0.
        frame += values.count('\0') == values.size() ? QByteArray(3, '\0') : char(0x02) + values;
        const quint16 crc = flacCrc(frame, 16, 0x8005);
        out += frame + char(crc >> 8) + char(crc);
    }
    return out;
}

QList<qint64> blockStarts(int from, int to, qint64 step)
{
    QList<qint64> starts;
    for (int k = from; k < to; ++k)
        starts << step * k;
    return starts;
}

} // namespace CraftedFlac
