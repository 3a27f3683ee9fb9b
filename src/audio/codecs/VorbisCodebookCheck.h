#pragma once
// Walks the codebooks of a Vorbis setup header before stb_vorbis parses it,
// to refuse books whose sizes or codewords stb_vorbis would handle wrongly.

#include <QByteArray>

class VorbisCodebookCheck {
public:
    // False when a codebook of this setup packet is malformed, needs more
    // bits than the packet holds, has sizes that stb_vorbis's 32-bit
    // arithmetic gets wrong, or codewords too long for its search. True
    // for anything that is not a setup header at all: stb_vorbis rejects
    // that itself.
    static bool codebooksFit(const QByteArray& setupPacket);
};
