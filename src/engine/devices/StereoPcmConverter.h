#pragma once
// The live output and the metronome render interleaved 16-bit stereo; the
// Qt audio sink may have taken another format. This writes those frames in
// the sink's sample type (unsigned 8-bit, 16-bit, 32-bit or float) and
// channel count (mono gets the mean of left and right; beyond two channels
// the rest stay silent).

#include <QAudioFormat>

class StereoPcmConverter {
public:
    explicit StereoPcmConverter(const QAudioFormat& format = QAudioFormat());

    // A known sample type and at least one channel.
    bool isValid() const { return bytesPerFrame_ > 0; }
    int bytesPerFrame() const { return bytesPerFrame_; }
    // The format is 16-bit stereo already: the frames pass as they are.
    bool isPassThrough() const;
    // Writes `frames` frames of 16-bit stereo into out (frames × bytesPerFrame bytes).
    void convert(const short* stereo, int frames, char* out) const;

private:
    QAudioFormat::SampleFormat sampleFormat_;
    int channels_;
    int bytesPerSample_ = 0;
    int bytesPerFrame_ = 0;
};
