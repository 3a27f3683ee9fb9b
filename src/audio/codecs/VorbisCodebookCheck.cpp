#include "VorbisCodebookCheck.h"

#include <cmath>
#include <cstring>
#include <limits>

// A codebook with lookup type 2 lists entries x dimensions values, which
// stb_vorbis counts in 32 bits and then allocates for as 2 and 4 bytes a
// value with sizes passed as int: past 2^32 values, or past 2^31 bytes, a
// size wraps to a small table that it fills or that decoding indexes far
// past its end (at entry x dimensions). Its value count for lookup type 1
// casts floating-point powers to int, undefined for large dimensions. So
// every book is walked here, reading only its codeword lengths and what
// leads to its sizes and to the next book, and refused unless stb_vorbis's
// sizes come out right, its codewords are short enough for it and the book
// fits the packet.

namespace {

// Vorbis packs fields least significant bit first.
class BitReader {
public:
    BitReader(const QByteArray& bytes, qint64 firstByte)
        : m_data(reinterpret_cast<const unsigned char*>(bytes.constData()))
        , m_bits(qint64(bytes.size()) * 8)
        , m_at(firstByte * 8)
    {
    }

    qint64 remaining() const { return m_bits - m_at; }

    // False, reading nothing, when fewer than `bits` (at most 32) remain.
    bool read(int bits, quint32& value)
    {
        if (remaining() < bits)
            return false;
        value = 0;
        for (int i = 0; i < bits; ++i, ++m_at)
            value |= quint32((m_data[m_at >> 3] >> (m_at & 7)) & 1) << i;
        return true;
    }

    bool skip(qint64 bits)
    {
        if (bits < 0 || remaining() < bits)
            return false;
        m_at += bits;
        return true;
    }

private:
    const unsigned char* m_data;
    qint64 m_bits;
    qint64 m_at;
};

// Bits needed to hold `value`.
int ilog(quint32 value)
{
    int bits = 0;
    for (; value != 0; value >>= 1)
        ++bits;
    return bits;
}

// stb_vorbis's value count for lookup type 1 (the largest r with
// r^dimensions <= entries), computed as it does, in float and double
// with the powers cast to int: -1 where a power leaves the int range
// (the cast is then undefined) or where it finds no count.
qint64 lookup1Values(int entries, int dimensions)
{
    auto fitsInt = [](double value) { return value < 2147483648.0; };
    const float root = float(std::log(double(float(entries)))) / float(dimensions);
    int r = int(std::floor(std::exp(double(root))));
    const double above = std::floor(std::pow(double(float(r) + 1.0f), double(dimensions)));
    if (!fitsInt(above))
        return -1;
    if (int(above) <= entries)
        ++r;
    if (std::pow(double(float(r) + 1.0f), double(dimensions)) <= entries)
        return -1;
    const double power = std::floor(std::pow(double(float(r)), double(dimensions)));
    if (!fitsInt(power) || int(power) > entries)
        return -1;
    return r;
}

// stb_vorbis searches books of up to 8 entries with the int mask
// (1 << length) - 1, which overflows for 31 bits; it refuses 32 itself.
// No encoder writes codewords anywhere near that long.
constexpr quint32 kMaxCodewordBits = 30;

// Reads one codebook, leaving `in` at the next.
bool codebookFits(BitReader& in)
{
    quint32 sync = 0, dimensions = 0, entries = 0, ordered = 0;
    if (!in.read(24, sync) || sync != 0x564342 || !in.read(16, dimensions) || !in.read(24, entries)
        || !in.read(1, ordered))
        return false;
    if (dimensions == 0 && entries != 0)
        return false;

    // Codeword lengths: runs of rising lengths, or one length per entry
    // (sparse books flag each entry as used first).
    if (ordered) {
        quint32 length = 0;
        if (!in.read(5, length))
            return false;
        for (quint32 entry = 0, run = 0; entry < entries; entry += run) {
            if (++length > kMaxCodewordBits || !in.read(ilog(entries - entry), run) || run > entries - entry)
                return false;
        }
    } else {
        quint32 sparse = 0;
        if (!in.read(1, sparse))
            return false;
        for (quint32 entry = 0, used = 1, length = 0; entry < entries; ++entry) {
            if ((sparse && !in.read(1, used)) || (used && (!in.read(5, length) || length + 1 > kMaxCodewordBits)))
                return false;
        }
    }

    quint32 lookupType = 0;
    if (!in.read(4, lookupType) || lookupType > 2)
        return false;
    if (lookupType == 0)
        return true;
    quint32 valueBits = 0;
    if (!in.skip(32 + 32) || !in.read(4, valueBits) || !in.skip(1))  // minimum, delta; sequence flag
        return false;
    // A float for every entry and dimension (type 1 books are expanded to
    // that), its size in bytes rounded up to 8 in an int.
    constexpr quint64 kMaxTableValues = (std::numeric_limits<int>::max() - 7) / sizeof(float);
    const quint64 vectorValues = quint64(entries) * dimensions;
    if (vectorValues == 0 || vectorValues > kMaxTableValues)
        return false;
    const qint64 values = lookupType == 1 ? lookup1Values(int(entries), int(dimensions)) : qint64(vectorValues);
    return values > 0 && in.skip(values * (qint64(valueBits) + 1));
}

} // namespace

bool VorbisCodebookCheck::codebooksFit(const QByteArray& setupPacket)
{
    const char* p = setupPacket.constData();
    if (setupPacket.size() < 7 || p[0] != 5 || std::memcmp(p + 1, "vorbis", 6) != 0)
        return true;
    BitReader in(setupPacket, 7);
    quint32 lastBook = 0;
    if (!in.read(8, lastBook))
        return false;
    for (quint32 book = 0; book <= lastBook; ++book) {
        if (!codebookFits(in))
            return false;
    }
    return true;
}
