#pragma once
// MPEG audio decoding from memory through libmpg123: 32-bit float output,
// gapless (encoder delay and padding trimmed when the stream carries a
// LAME/Info tag).

#include "DecodedAudio.h"

#include <QByteArray>

class Mp3Decoder {
public:
    // False when the bytes hold no decodable frame.
    static bool decode(const QByteArray& bytes, DecodedAudio& out);
};
