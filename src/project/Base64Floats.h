#pragma once
// Base64 (RFC 4648, standard alphabet, padded) of 32-bit floats stored as
// little-endian bytes: the form project files embed audio in. Written for
// speed on hour-long recordings; the decoder skips characters outside the
// alphabet the way QByteArray::fromBase64 does.

#include <QByteArrayView>
#include <QList>
#include <cstddef>

namespace Base64Floats {

// Number of Base64 characters for `count` floats.
qsizetype encodedLength(qsizetype count);

// Encodes `count` floats read with `stride` (1 = contiguous, 2 = one channel
// of an interleaved stereo list) into `out`, which must hold encodedLength.
void encode(const float* data, qsizetype count, qsizetype stride, char* out);

// Decodes Base64 text into bytes; returns the number of bytes written to
// `out`, which must hold at least text.size() * 3 / 4 bytes.
qsizetype decodeBytes(QByteArrayView text, unsigned char* out);

// Decodes Base64 text into floats, one per whole 4 bytes (leftover bytes
// ignored). `clean` tells whether the text held whole floats written as
// writers write them: alphabet characters, line breaks and spaces anywhere,
// the last group padded or left short, nothing after the padding.
QList<float> decodeFloats(QByteArrayView text, bool* clean = nullptr);

// Decodes two channels and interleaves them, L then R, for min(frames)
// frames; `clean` also needs both channels to hold the same count.
QList<float> decodeInterleaved(QByteArrayView left, QByteArrayView right, bool* clean = nullptr);

// Bits gathered from characters that did not yet make a whole byte, kept
// between pieces of text, and what the text looked like so far.
struct DecodeState {
    quint32 buffer = 0;
    int bits = 0;
    int padding = 0;      // '=' characters seen
    qsizetype symbols = 0; // alphabet characters seen
    bool clean = true;    // nothing outside the alphabet but white space, nothing after padding
};

// Decodes one channel that arrives in pieces: float k goes to
// target[offset + k * stride]. With `grow` the target is enlarged as floats
// arrive (and trimmed by finish()); without, floats beyond its end are
// counted but dropped.
class ChannelDecoder {
public:
    ChannelDecoder(QList<float>& target, qsizetype stride, qsizetype offset, bool grow);

    void feed(QByteArrayView text);
    // Decodes the leading run of plain text (printable ASCII and white space,
    // other than a quote or a backslash) and returns its length; what follows is the
    // caller's (the end of a JSON string, or something that needs unescaping).
    qsizetype feedPlain(const char* text, qsizetype n);
    void finish();

    qsizetype count() const { return m_count; } // whole floats so far
    bool clean() const;                          // see decodeFloats

private:
    template <bool StopAtSpecial> qsizetype decode(const char* text, qsizetype n);

    QList<float>& m_target;
    qsizetype m_stride;
    qsizetype m_offset;
    bool m_grow;
    qsizetype m_count = 0;
    DecodeState m_state;
    unsigned char m_bytes[16384 * 3 / 4 + 8];
    qsizetype m_pending = 0; // bytes of an unfinished float at the start of m_bytes
};

} // namespace Base64Floats
