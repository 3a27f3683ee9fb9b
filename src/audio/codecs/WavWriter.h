#pragma once
// Canonical WAV output: 16- and 24-bit PCM, or 32-bit IEEE float with a
// fact chunk.

#include <QList>

class QIODevice;

class WavWriter {
public:
    static bool supportsBits(int bitsPerSample);
    // False when the header fields cannot hold the layout or the data size.
    static bool fits(qint64 values, int sampleRate, int channels, int bitsPerSample);
    // Writes header and samples; false on any failed write.
    static bool write(QIODevice& out, const QList<float>& data, int sampleRate, int channels,
                      int bitsPerSample);
};
