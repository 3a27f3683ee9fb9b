#pragma once
// Turns decoded video frames into 32-bit images. The scaler is looked up for
// every frame, so a stream whose size or pixel format changes midway never
// scales with the parameters of an earlier frame.

#include <QImage>

struct AVFrame;
struct SwsContext;

class VideoFrameConverter {
public:
    // Frames larger than this are refused: an 8K picture is the most a
    // preview needs, and a forged size must not allocate gigabytes.
    static constexpr qint64 MaxPixels = qint64(8192) * 4320;

    VideoFrameConverter() = default;
    ~VideoFrameConverter();
    VideoFrameConverter(const VideoFrameConverter&) = delete;
    VideoFrameConverter& operator=(const VideoFrameConverter&) = delete;

    // A null image for a frame without a usable size or a pixel format the
    // scaler cannot read, or when the scaler or the image cannot be made.
    QImage convert(const AVFrame* frame);
    void reset();

private:
    SwsContext* scaler = nullptr;
};
