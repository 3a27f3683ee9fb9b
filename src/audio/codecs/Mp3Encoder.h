#pragma once
// Mono constant-bit-rate MP3 through LAME (192 kbit/s, quality 2). The
// stream starts with a LAME/Info tag frame so decoders trim the encoder
// delay and padding.

#include <QByteArray>
#include <QtGlobal>

struct lame_global_struct;

class Mp3Encoder {
public:
    enum class Status { Ok, InitFailed, ParamsFailed };
    // Samples handed to LAME at a time by encode().
    static constexpr int ChunkSamples = 1152;

    Mp3Encoder() = default;
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    Status open(int sampleRate);
    // Appends the encoded bytes of `count` 16-bit mono samples; false on an encoder error.
    bool encode(const qint16* pcm, qint64 count, QByteArray& out);
    // Flushes the last frames and writes the final tag frame over the
    // placeholder at the start of `out`; false on an encoder error.
    bool finish(QByteArray& out);

private:
    lame_global_struct* m_lame = nullptr;
};
