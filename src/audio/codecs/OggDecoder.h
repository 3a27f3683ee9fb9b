#pragma once
// Ogg Vorbis decoding from memory through stb_vorbis. The output grows as
// packets decode; nothing is sized from the length the stream announces.

#include "DecodedAudio.h"

#include <QByteArray>

class OggDecoder {
public:
    // False when the stream cannot be opened or yields no frame; errorCode
    // then holds stb_vorbis's error code (0 when it reported none).
    static bool decode(const QByteArray& bytes, DecodedAudio& out, int& errorCode);
};
