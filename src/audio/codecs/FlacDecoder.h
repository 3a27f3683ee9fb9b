#pragma once
// FLAC decoding from memory through libFLAC's stream decoder. A sample of
// b bits becomes value / 2^(b-1). Long streams decode in parallel segments.
// Files joined end to end are read one after the other.

#include "DecodedAudio.h"

#include <QByteArray>

class FlacDecoder {
public:
    // False when the bytes hold no decodable FLAC frame. `segments` > 0
    // forces that many parallel segments (0: chosen by length and cores).
    static bool decode(const QByteArray& bytes, DecodedAudio& out, int segments = 0);
};
