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

// What the slow path does with a character outside the alphabet.
enum : signed char { kSkip = -1, kPad = -2, kStop = -3 };

// Line breaks, tabs and spaces: writers that wrap lines put them inside
// the text; they are skipped without counting as damage.
constexpr bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Per byte: its six bits, kPad for '=', kStop for what ends a run of plain
// text (a quote, a backslash, control characters other than white space and
// bytes beyond ASCII) and kSkip for the rest.
struct CharKinds {
    signed char kind[256];
    constexpr CharKinds() : kind()
    {
        for (int c = 0; c < 256; ++c)
            kind[c] = ((c < 0x20 && !isSpace(static_cast<unsigned char>(c))) || c >= 0x80 || c == '"'
                       || c == '\\')
                          ? kStop
                          : kSkip;
        kind[int('=')] = kPad;
        for (int i = 0; i < 64; ++i)
            kind[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr CharKinds kKinds;

// Decodes n characters into out; returns the bytes written. With
// `StopAtSpecial` it stops before the first kStop byte and reports where
// in `consumed`; otherwise every character outside the alphabet is skipped.
template <bool StopAtSpecial>
qsizetype decodeSlice(const unsigned char* in, qsizetype n, unsigned char* out, DecodeState& state,
                      qsizetype* consumed = nullptr)
{
    qsizetype written = 0;
    qsizetype i = 0;
    for (;;) {
        // Fast path: four alphabet characters make three whole bytes.
        if (state.bits == 0 && state.padding == 0) {
            const qsizetype from = i;
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
            state.symbols += i - from;
        }
        if (i >= n)
            break;
        // Slow path for one character: skip anything outside the alphabet
        // and emit a byte whenever eight bits gathered.
        const int kind = StopAtSpecial ? kKinds.kind[in[i]] : kDecode.value[in[i]];
        if (StopAtSpecial && kind == kStop)
            break;
        ++i;
        if (kind < 0) {
            // Padding may only close the text; white space may be anywhere;
            // anything else is damage.
            if (in[i - 1] == '=')
                state.clean &= ++state.padding <= 2;
            else if (!isSpace(in[i - 1]))
                state.clean = false;
            continue;
        }
        state.clean &= state.padding == 0;
        ++state.symbols;
        state.buffer = (state.buffer << 6) | quint32(kind);
        state.bits += 6;
        if (state.bits >= 8) {
            state.bits -= 8;
            out[written++] = static_cast<unsigned char>(state.buffer >> state.bits);
            state.buffer &= (1u << state.bits) - 1;
        }
    }
    if (consumed)
        *consumed = i;
    return written;
}

// An upper bound of the floats a text can hold (six bits a character).
qsizetype maxFloats(qsizetype characters)
{
    return characters * 3 / 4 / 4 + 1;
}

} // namespace

ChannelDecoder::ChannelDecoder(QList<float>& target, qsizetype stride, qsizetype offset, bool grow)
    : m_target(target), m_stride(stride), m_offset(offset), m_grow(grow)
{
}

template <bool StopAtSpecial> qsizetype ChannelDecoder::decode(const char* text, qsizetype n)
{
    constexpr qsizetype kSliceChars = 16384;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    qsizetype at = 0;
    while (at < n) {
        const qsizetype sliceChars = std::min(kSliceChars, n - at);
        qsizetype used = sliceChars;
        const qsizetype total =
            m_pending + decodeSlice<StopAtSpecial>(in + at, sliceChars, m_bytes + m_pending, m_state, &used);
        at += used;
        const qsizetype floats = total / 4;
        if (m_grow && (m_count + floats) * m_stride > m_target.size())
            m_target.resize((m_count + floats) * m_stride);
        const qsizetype places = (m_target.size() - m_offset + m_stride - 1) / m_stride;
        const qsizetype room = std::clamp<qsizetype>(places - m_count, 0, floats);
        float* dst = room > 0 ? m_target.data() + m_offset + m_count * m_stride : nullptr;
        for (qsizetype k = 0; k < room; ++k) {
            quint32 bits;
            std::memcpy(&bits, m_bytes + 4 * k, 4);
            bits = qFromLittleEndian(bits);
            std::memcpy(dst + k * m_stride, &bits, 4);
        }
        m_count += floats;
        m_pending = total - floats * 4;
        std::memmove(m_bytes, m_bytes + floats * 4, size_t(m_pending));
        if (used < sliceChars)
            break; // stopped at a special byte
    }
    return at;
}

void ChannelDecoder::feed(QByteArrayView text)
{
    decode<false>(text.data(), text.size());
}

qsizetype ChannelDecoder::feedPlain(const char* text, qsizetype n)
{
    return decode<true>(text, n);
}

bool ChannelDecoder::clean() const
{
    // Padding, when written, fills the last group; without it the last group
    // needs at least two characters (a whole byte).
    const bool groupsWhole = m_state.padding > 0 ? (m_state.symbols + m_state.padding) % 4 == 0
                                                 : m_state.symbols % 4 != 1;
    return m_state.clean && m_pending == 0 && groupsWhole;
}

void ChannelDecoder::finish()
{
    if (m_grow)
        m_target.resize(m_count * m_stride);
}

qsizetype decodeBytes(QByteArrayView text, unsigned char* out)
{
    DecodeState state;
    return decodeSlice<false>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, state);
}

QList<float> decodeFloats(QByteArrayView text, bool* clean)
{
    QList<float> out;
    out.reserve(maxFloats(text.size()));
    ChannelDecoder decoder(out, 1, 0, true);
    decoder.feed(text);
    decoder.finish();
    if (clean)
        *clean = decoder.clean();
    return out;
}

QList<float> decodeInterleaved(QByteArrayView left, QByteArrayView right, bool* clean)
{
    // Each channel goes straight to its slots; no per-channel copies.
    QList<float> out;
    out.reserve(2 * std::min(maxFloats(left.size()), maxFloats(right.size())));
    ChannelDecoder leftDecoder(out, 2, 0, true);
    leftDecoder.feed(left);
    leftDecoder.finish();
    ChannelDecoder rightDecoder(out, 2, 1, false);
    rightDecoder.feed(right);
    out.resize(2 * std::min(leftDecoder.count(), rightDecoder.count()));
    if (clean)
        *clean = leftDecoder.clean() && rightDecoder.clean() && leftDecoder.count() == rightDecoder.count();
    return out;
}

} // namespace Base64Floats
