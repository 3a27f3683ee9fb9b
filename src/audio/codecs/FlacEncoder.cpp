#include "FlacEncoder.h"

#include "SampleConversion.h"

#include "common/ParallelRanges.h"

#include <FLAC/format.h>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr char kVendor[] = "CalderwynStudio";
constexpr int kStreamInfoBytes = 34;
// The format allows no smaller block sizes in STREAMINFO; only the last
// block may be shorter, and decoders refuse a stream that says otherwise.
constexpr int kSmallestStatedBlock = 16;

std::array<quint8, 256> makeCrc8Table()
{
    std::array<quint8, 256> t{};
    for (int i = 0; i < 256; ++i) {
        quint8 crc = quint8(i);
        for (int b = 0; b < 8; ++b)
            crc = quint8((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
        t[size_t(i)] = crc;
    }
    return t;
}

// Eight tables so the CRC-16 consumes eight bytes per step; frames are
// mostly sample bytes, and this is where the encoder spends its time.
std::array<std::array<quint16, 256>, 8> makeCrc16Tables()
{
    std::array<std::array<quint16, 256>, 8> t{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int b = 0; b < 8; ++b)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
        t[0][size_t(i)] = crc;
    }
    for (int i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k)
            t[k][size_t(i)] = quint16((t[k - 1][size_t(i)] << 8) ^ t[0][t[k - 1][size_t(i)] >> 8]);
    return t;
}

const std::array<quint8, 256> kCrc8 = makeCrc8Table();
const std::array<std::array<quint16, 256>, 8> kCrc16 = makeCrc16Tables();

quint8 crc8(const unsigned char* p, size_t n)
{
    quint8 crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = kCrc8[crc ^ p[i]];
    return crc;
}

quint16 crc16(const unsigned char* p, size_t n)
{
    quint16 crc = 0;
    while (n >= 8) {
        crc = quint16(kCrc16[7][(p[0] ^ (crc >> 8)) & 0xFF] ^ kCrc16[6][(p[1] ^ crc) & 0xFF]
                      ^ kCrc16[5][p[2]] ^ kCrc16[4][p[3]] ^ kCrc16[3][p[4]] ^ kCrc16[2][p[5]]
                      ^ kCrc16[1][p[6]] ^ kCrc16[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = quint16((crc << 8) ^ kCrc16[0][((crc >> 8) ^ *p++) & 0xFF]);
    return crc;
}

int blockSizeCode(int blockSize)
{
    switch (blockSize) {
    case 256: return 8;
    case 512: return 9;
    case 1024: return 10;
    case 2048: return 11;
    case 4096: return 12;
    default: return 7;
    }
}

int sampleRateCode(int rate)
{
    switch (rate) {
    case 88200: return 1;
    case 176400: return 2;
    case 192000: return 3;
    case 8000: return 4;
    case 16000: return 5;
    case 22050: return 6;
    case 24000: return 7;
    case 32000: return 8;
    case 44100: return 9;
    case 48000: return 10;
    case 96000: return 11;
    default: return 0;  // taken from STREAMINFO
    }
}

struct StreamStats {
    int minBlock = 0;
    int maxBlock = 0;
    int maxFrameBytes = 0;
};

QByteArray streamHead(const StreamStats& stats, int sampleRate, int channels, int bits, qint64 frames)
{
    QByteArray h("fLaC");
    h.append(char(0x00));  // STREAMINFO, not last
    h.append(char(0)).append(char(0)).append(char(kStreamInfoBytes));
    auto put = [&h](quint64 v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            h.append(char((v >> (8 * i)) & 0xFF));
    };
    // An empty stream states no blocks at all.
    auto stated = [](int block) { return quint64(block > 0 ? std::max(block, kSmallestStatedBlock) : 0); };
    put(stated(stats.minBlock), 2);
    put(stated(stats.maxBlock), 2);
    put(0, 3);
    put(quint64(stats.maxFrameBytes), 3);
    // 20 bits rate, 3 bits channels-1, 5 bits bits-1, 36 bits total samples.
    const quint64 packed = (quint64(sampleRate) << 44) | (quint64(channels - 1) << 41)
                           | (quint64(bits - 1) << 36) | (quint64(frames) & 0xFFFFFFFFFULL);
    put(packed, 8);
    h.append(16, '\0');  // MD5 not computed

    const int vendorLength = int(sizeof kVendor) - 1;
    const int commentBytes = 4 + vendorLength + 4;
    h.append(char(0x84));  // VORBIS_COMMENT, last block
    put(quint64(commentBytes), 3);
    for (int i = 0; i < 4; ++i)
        h.append(char((vendorLength >> (8 * i)) & 0xFF));
    h.append(kVendor, vendorLength);
    h.append(4, '\0');  // no comments
    return h;
}

// Encodes one block into `frame` (cleared first); returns its size.
void encodeFrame(std::vector<unsigned char>& frame, const float* data, qint64 firstFrame,
                 int blockSize, int channels, int sampleRate, int bits)
{
    frame.clear();
    frame.push_back(0xFF);
    frame.push_back(0xF9);  // sync, reserved 0, variable blocking (coded sample number)
    const int bsCode = blockSizeCode(blockSize);
    frame.push_back(quint8((bsCode << 4) | sampleRateCode(sampleRate)));
    frame.push_back(quint8(((channels - 1) << 4) | ((bits == 24 ? 0b110 : 0b100) << 1)));
    QByteArray number;
    FlacEncoder::writeFlacUtf8Number(number, quint64(firstFrame));
    frame.insert(frame.end(), number.begin(), number.end());
    if (bsCode == 7) {
        frame.push_back(quint8((blockSize - 1) >> 8));
        frame.push_back(quint8(blockSize - 1));
    }
    frame.push_back(crc8(frame.data(), frame.size()));

    const int bytesPerSample = bits / 8;
    const size_t headerBytes = frame.size();
    frame.resize(headerBytes + size_t(channels) * (1 + size_t(blockSize) * size_t(bytesPerSample)) + 2);
    unsigned char* p = frame.data() + headerBytes;
    const float* block = data + firstFrame * channels;
    for (int c = 0; c < channels; ++c) {
        *p++ = 0x02;  // VERBATIM, no wasted bits
        if (bits == 24) {
            for (int i = 0; i < blockSize; ++i, p += 3) {
                const qint32 v = SampleConversion::toPcm24(block[qint64(i) * channels + c]);
                p[0] = quint8(v >> 16);
                p[1] = quint8(v >> 8);
                p[2] = quint8(v);
            }
        } else {
            for (int i = 0; i < blockSize; ++i, p += 2) {
                const qint32 v = SampleConversion::toPcm16(block[qint64(i) * channels + c]);
                p[0] = quint8(v >> 8);
                p[1] = quint8(v);
            }
        }
    }
    // Everything is byte-aligned, so no padding precedes the CRC-16.
    const quint16 crc = crc16(frame.data(), size_t(p - frame.data()));
    p[0] = quint8(crc >> 8);
    p[1] = quint8(crc);
}

} // namespace

bool FlacEncoder::supportsSampleRate(int sampleRate)
{
    return sampleRate > 0 && FLAC__format_sample_rate_is_valid(unsigned(sampleRate));
}

bool FlacEncoder::supportsBits(int bitsPerSample)
{
    return bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32;
}

void FlacEncoder::writeFlacUtf8Number(QByteArray& out, quint64 value)
{
    if (value < 0x80) {
        out.append(char(value));
        return;
    }
    // Continuation bytes carry six bits each; the lead byte marks the count.
    int continuation = 1;
    while (continuation < 6 && value >= (quint64(1) << (6 + 5 * continuation)))
        ++continuation;
    const quint8 leadMarker = quint8(0xFF00 >> (continuation + 1));
    out.append(char(leadMarker | quint8(value >> (6 * continuation))));
    for (int i = continuation - 1; i >= 0; --i)
        out.append(char(0x80 | ((value >> (6 * i)) & 0x3F)));
}

bool FlacEncoder::encode(QIODevice& out, const float* data, qint64 frames, int channels,
                         int sampleRate, int bitsPerSample)
{
    const int bits = storedBits(bitsPerSample);
    StreamStats stats;
    // The head has a fixed size; it is written again once the sizes are known.
    const qint64 headStart = out.pos();
    QByteArray head = streamHead(stats, sampleRate, channels, bits, frames);
    if (out.write(head) != head.size())
        return false;

    // Frames do not depend on each other: a round of them is encoded on
    // every core (the CRC of each byte is most of the work), then written
    // in order.
    constexpr qint64 kRoundBlocks = 256;
    std::vector<std::vector<unsigned char>> round(static_cast<size_t>(kRoundBlocks));
    std::vector<unsigned char> pending;
    constexpr size_t kFlushBytes = 1 << 20;
    pending.reserve(kFlushBytes + 2 * kBlockSize * 3 * 2 + 64);
    const qint64 blocks = (frames + kBlockSize - 1) / kBlockSize;
    const auto blockLength = [&](qint64 block) {
        return int(std::min<qint64>(kBlockSize, frames - block * kBlockSize));
    };
    for (qint64 firstBlock = 0; firstBlock < blocks; firstBlock += kRoundBlocks) {
        const qint64 count = std::min(kRoundBlocks, blocks - firstBlock);
        ParallelRanges::run(count, ParallelRanges::partsFor(count, 16), [&](int, qint64 begin, qint64 end) {
            for (qint64 k = begin; k < end; ++k) {
                encodeFrame(round[size_t(k)], data, (firstBlock + k) * kBlockSize,
                            blockLength(firstBlock + k), channels, sampleRate, bits);
            }
        });
        for (qint64 k = 0; k < count; ++k) {
            const std::vector<unsigned char>& frame = round[size_t(k)];
            const int blockSize = blockLength(firstBlock + k);
            stats.minBlock = stats.minBlock == 0 ? blockSize : std::min(stats.minBlock, blockSize);
            stats.maxBlock = std::max(stats.maxBlock, blockSize);
            stats.maxFrameBytes = std::max(stats.maxFrameBytes, int(frame.size()));
            pending.insert(pending.end(), frame.begin(), frame.end());
            if (pending.size() >= kFlushBytes) {
                if (out.write(reinterpret_cast<const char*>(pending.data()), qint64(pending.size()))
                    != qint64(pending.size()))
                    return false;
                pending.clear();
            }
        }
    }
    if (!pending.empty()
        && out.write(reinterpret_cast<const char*>(pending.data()), qint64(pending.size()))
               != qint64(pending.size()))
        return false;

    const qint64 end = out.pos();
    head = streamHead(stats, sampleRate, channels, bits, frames);
    return out.seek(headStart) && out.write(head) == head.size() && out.seek(end);
}
