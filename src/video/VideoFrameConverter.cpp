#include "video/VideoFrameConverter.h"

#include <QDebug>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

VideoFrameConverter::~VideoFrameConverter()
{
    reset();
}

void VideoFrameConverter::reset()
{
    sws_freeContext(scaler);
    scaler = nullptr;
}

QImage VideoFrameConverter::convert(const AVFrame* frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return {};
    if (qint64(frame->width) * frame->height > MaxPixels)
        return {};
    // Checked as a number first: a value outside the enumeration is no format.
    if (frame->format < 0 || frame->format >= AV_PIX_FMT_NB)
        return {};
    const auto format = AVPixelFormat(frame->format);
    if (!av_pix_fmt_desc_get(format) || !sws_isSupportedInput(format))
        return {};
    scaler = sws_getCachedContext(scaler, frame->width, frame->height, format, frame->width,
                                  frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr);
    if (!scaler)
        return {};
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    uint8_t* const destination[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int stride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, destination, stride) <= 0)
        return {};
    return image;
}
