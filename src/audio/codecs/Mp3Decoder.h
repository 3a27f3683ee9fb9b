#pragma once
// MPEG audio decoding from memory through libmpg123: 32-bit float output,
// gapless (encoder delay and padding trimmed when the stream carries a
// LAME/Info tag). Long streams decode in parallel segments.

#include "DecodedAudio.h"

#include <QByteArray>

class Mp3Decoder {
public:
    // False when the bytes hold no decodable frame. `segments` > 0 forces
    // that many parallel segments (0: chosen by length and cores).
    static bool decode(const QByteArray& bytes, DecodedAudio& out, int segments = 0);
};
