#pragma once
// Our own FLAC encoder: VERBATIM subframes, blocks of 4096 frames, a
// STREAMINFO and a VORBIS_COMMENT block with the vendor "CalderwynStudio".
// Output is 16- or 24-bit; callers validate the layout first.

#include <QByteArray>

class QIODevice;

class FlacEncoder {
public:
    static constexpr int kBlockSize = 4096;

    static bool supportsChannels(int channels) { return channels == 1 || channels == 2; }
    static bool supportsSampleRate(int sampleRate);
    // 16 and 24 bits are stored as asked; 32 (float projects) as 24.
    static bool supportsBits(int bitsPerSample);
    static int storedBits(int bitsPerSample) { return bitsPerSample == 16 ? 16 : 24; }

    // Writes the whole stream to a seekable device (STREAMINFO is completed
    // at the end). `frames` = values / channels. False on a failed write.
    static bool encode(QIODevice& out, const float* data, qint64 frames, int channels,
                       int sampleRate, int bitsPerSample);

    // Appends the UTF-8-like coded number of a frame header.
    static void writeFlacUtf8Number(QByteArray& out, quint64 value);
};
