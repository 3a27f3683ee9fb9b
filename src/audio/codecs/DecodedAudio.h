#pragma once
// What every decoder hands back: interleaved float samples with their layout.

#include <QList>

struct DecodedAudio {
    int channels = 0;
    int sampleRate = 0;
    QList<float> interleaved;  // channels values per frame

    qint64 frames() const { return channels > 0 ? interleaved.size() / channels : 0; }
};
