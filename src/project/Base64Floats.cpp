#include "Base64Floats.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit group, so three bytes encode with
// two lookups.
struct PairTable {
    char pairs[4096][2];
    constexpr PairTable() : pairs()
    {
        for (int i = 0; i < 4096; ++i) {
            pairs[i][0] = kAlphabet[i >> 6];
            pairs[i][1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;

// Per character position, the character's six bits already shifted into
// place; characters outside the alphabet carry kInvalid, which survives OR.
constexpr quint32 kInvalid = 0x80000000u;
struct DecodeTables {
    quint32 shifted[4][256];
    signed char value[256];
    constexpr DecodeTables() : shifted(), value()
    {
        for (int c = 0; c < 256; ++c) {
            value[c] = -1;
            for (int k = 0; k < 4; ++k)
                shifted[k][c] = kInvalid;
        }
        for (int i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kAlphabet[i]);
            value[c] = static_cast<signed char>(i);
            for (int k = 0; k < 4; ++k)
                shifted[k][c] = quint32(i) << (18 - 6 * k);
        }
    }
};
constexpr DecodeTables kDecode;

inline quint32 floatBitsLE(const float* value)
{
    quint32 bits;
    std::memcpy(&bits, value, 4);
    return qToLittleEndian(bits);
}

inline void encodeTriple(quint32 triple, char* out)
{
    std::memcpy(out, kPairs.pairs[triple >> 12], 2);
    std::memcpy(out + 2, kPairs.pairs[triple & 4095], 2);
}

} // namespace

namespace Base64Floats {

qsizetype encodedLength(qsizetype count)
{
    return (count * 4 + 2) / 3 * 4;
}

void encode(const float* data, qsizetype count, qsizetype stride, char* out)
{
    // Three floats are twelve bytes, exactly sixteen characters.
    qsizetype i = 0;
    for (; i + 3 <= count; i += 3) {
        unsigned char bytes[12];
        for (int k = 0; k < 3; ++k) {
            const quint32 bits = floatBitsLE(data + (i + k) * stride);
            std::memcpy(bytes + 4 * k, &bits, 4);
        }
        for (int k = 0; k < 4; ++k) {
            const unsigned char* b = bytes + 3 * k;
            encodeTriple((quint32(b[0]) << 16) | (quint32(b[1]) << 8) | b[2], out);
            out += 4;
        }
    }
    // Tail of one or two floats (4 or 8 bytes), padded with '='.
    unsigned char tail[8];
    qsizetype tailBytes = 0;
    for (; i < count; ++i) {
        const quint32 bits = floatBitsLE(data + i * stride);
        std::memcpy(tail + tailBytes, &bits, 4);
        tailBytes += 4;
    }
    qsizetype pos = 0;
    for (; pos + 3 <= tailBytes; pos += 3) {
        encodeTriple((quint32(tail[pos]) << 16) | (quint32(tail[pos + 1]) << 8) | tail[pos + 2], out);
        out += 4;
    }
    const qsizetype rest = tailBytes - pos;
    if (rest == 1) {
        encodeTriple(quint32(tail[pos]) << 16, out);
        out[2] = '=';
        out[3] = '=';
    } else if (rest == 2) {
        encodeTriple((quint32(tail[pos]) << 16) | (quint32(tail[pos + 1]) << 8), out);
        out[3] = '=';
    }
}

namespace {

// Bits gathered from characters that did not yet make a whole byte; kept
// between slices so text can be decoded piecewise.
struct DecodeState {
    quint32 buffer = 0;
    int bits = 0;
};

qsizetype decodeSlice(const unsigned char* in, qsizetype n, unsigned char* out, DecodeState& state)
{
    qsizetype written = 0;
    qsizetype i = 0;
    for (;;) {
        // Fast path: four alphabet characters make three whole bytes.
        if (state.bits == 0) {
            while (i + 4 <= n) {
                const quint32 triple = kDecode.shifted[0][in[i]] | kDecode.shifted[1][in[i + 1]]
                                       | kDecode.shifted[2][in[i + 2]] | kDecode.shifted[3][in[i + 3]];
                if (triple & kInvalid)
                    break;
                out[written] = static_cast<unsigned char>(triple >> 16);
                out[written + 1] = static_cast<unsigned char>(triple >> 8);
                out[written + 2] = static_cast<unsigned char>(triple);
                written += 3;
                i += 4;
            }
        }
        if (i >= n)
            return written;
        // Slow path for one character: skip anything outside the alphabet
        // (padding included) and emit a byte whenever eight bits gathered.
        const int value = kDecode.value[in[i++]];
        if (value < 0)
            continue;
        state.buffer = (state.buffer << 6) | quint32(value);
        state.bits += 6;
        if (state.bits >= 8) {
            state.bits -= 8;
            out[written++] = static_cast<unsigned char>(state.buffer >> state.bits);
            state.buffer &= (1u << state.bits) - 1;
        }
    }
}

// Decodes one channel into every `stride`-th float of `dst`, at most
// `maxCount` floats; returns how many whole floats the text held (capped).
qsizetype decodeChannel(QByteArrayView text, float* dst, qsizetype stride, qsizetype maxCount)
{
    constexpr qsizetype kSliceChars = 16384;
    unsigned char bytes[kSliceChars * 3 / 4 + 8];
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    DecodeState state;
    qsizetype pending = 0; // bytes of an unfinished float at the start of `bytes`
    qsizetype count = 0;
    for (qsizetype at = 0; at < text.size() && count < maxCount; at += kSliceChars) {
        const qsizetype n = std::min(kSliceChars, text.size() - at);
        const qsizetype total = pending + decodeSlice(in + at, n, bytes + pending, state);
        qsizetype used = 0;
        for (; used + 4 <= total && count < maxCount; used += 4) {
            quint32 bits;
            std::memcpy(&bits, bytes + used, 4);
            bits = qFromLittleEndian(bits);
            std::memcpy(dst + count * stride, &bits, 4);
            ++count;
        }
        pending = total - used;
        std::memmove(bytes, bytes + used, size_t(pending));
    }
    return count;
}

// An upper bound of the floats a text can hold (six bits a character).
qsizetype maxFloats(QByteArrayView text)
{
    return text.size() * 3 / 4 / 4;
}

} // namespace

qsizetype decodeBytes(QByteArrayView text, unsigned char* out)
{
    DecodeState state;
    return decodeSlice(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, state);
}

QList<float> decodeFloats(QByteArrayView text)
{
    QList<float> out(maxFloats(text));
    out.resize(decodeChannel(text, out.data(), 1, out.size()));
    return out;
}

QList<float> decodeInterleaved(QByteArrayView left, QByteArrayView right)
{
    // Each channel goes straight to its slots; no per-channel copies.
    const qsizetype capacity = std::min(maxFloats(left), maxFloats(right));
    if (capacity == 0)
        return {};  // an empty list has no data pointer to offset
    QList<float> out(capacity * 2);
    const qsizetype leftCount = decodeChannel(left, out.data(), 2, capacity);
    const qsizetype rightCount = decodeChannel(right, out.data() + 1, 2, capacity);
    out.resize(std::min(leftCount, rightCount) * 2);
    return out;
}

} // namespace Base64Floats
