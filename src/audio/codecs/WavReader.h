#pragma once
// RIFF/WAVE parser: walks every chunk and decodes PCM (8/16/24/32-bit),
// IEEE float (32/64-bit) and the extensible format by its sub-format.

#include "DecodedAudio.h"

#include <QByteArray>

class WavReader {
public:
    enum class Status {
        Ok,
        HeaderDamaged,      // shorter than a canonical header
        NotWav,             // no RIFF/WAVE signature
        Rf64,               // RF64/WAVE: sizes in a ds64 chunk, not read
        FormatDamaged,      // fmt chunk too short, cut off, or sample rate 0
        NoAudioData,        // no data chunk or not one whole frame in it
        ZeroChannels,       // channel count 0 or no fmt chunk
        UnsupportedFormat,  // a format tag or sample width we do not decode
    };

    static Status read(const QByteArray& bytes, DecodedAudio& out);
};
