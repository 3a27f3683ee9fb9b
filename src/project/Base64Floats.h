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

// Decodes Base64 text into floats, one per whole 4 bytes (leftover bytes ignored).
QList<float> decodeFloats(QByteArrayView text);

// Decodes two channels and interleaves them, L then R, for min(frames) frames.
QList<float> decodeInterleaved(QByteArrayView left, QByteArrayView right);

} // namespace Base64Floats
