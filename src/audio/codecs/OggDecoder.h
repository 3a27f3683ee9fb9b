#pragma once
// Ogg Vorbis decoding from memory through stb_vorbis. The output grows as
// packets decode; the length the stream announces only chooses where
// parallel segments of a long stream begin.

#include "DecodedAudio.h"

#include <QByteArray>

class OggDecoder {
public:
    // False when the stream cannot be opened or yields no frame; errorCode
    // then holds stb_vorbis's error code (0 when it reported none).
    // `segments` > 0 forces that many parallel segments (0: by length and cores).
    static bool decode(const QByteArray& file, DecodedAudio& out, int& errorCode, int segments = 0);
};
