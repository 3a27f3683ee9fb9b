#pragma once
// FLAC decoding from memory through libFLAC's stream decoder. A sample of
// b bits becomes value / 2^(b-1).

#include "DecodedAudio.h"

#include <QByteArray>

class FlacDecoder {
public:
    // False when the bytes hold no decodable FLAC frame.
    static bool decode(const QByteArray& bytes, DecodedAudio& out);
};
