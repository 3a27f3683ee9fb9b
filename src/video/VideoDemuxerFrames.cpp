// Seeking the video stream and decoding its frames into images.

#include "video/VideoDemuxer.h"

#include <algorithm>
#include <cmath>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// Frame times used when a frame carries no timestamp and the stream names no rate.
constexpr double FallbackFrameSeconds = 0.04;
// Bound for timestamps computed from seconds, far from the int64 limits.
constexpr double TimestampLimit = 4.0e18;
// A seek is retried from earlier points when its first frame lies past the target.
constexpr int MaxSeekAttempts = 8;
constexpr double MinSeekBackoffSeconds = 0.1;
constexpr double SeekToleranceSeconds = 0.005;

int64_t streamStart(const AVStream* stream)
{
    return stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
}

} // namespace

// Times are measured from the stream's first timestamp, so a file that does
// not start at 0 (MPEG-TS starts near 1.4 s) follows the playhead.
qint64 VideoDemuxer::videoTimestampFor(double seconds) const
{
    const double unit = av_q2d(videoStream->time_base);
    double steps = (unit > 0 && std::isfinite(seconds)) ? std::trunc(seconds / unit) : 0.0;
    steps = std::clamp(double(streamStart(videoStream)) + steps, -TimestampLimit, TimestampLimit);
    return qint64(steps);
}

double VideoDemuxer::videoFrameSeconds(const AVFrame* frame)
{
    int64_t timestamp = frame->best_effort_timestamp;
    if (timestamp == AV_NOPTS_VALUE)
        timestamp = frame->pts;
    double seconds = 0.0;
    if (timestamp != AV_NOPTS_VALUE) {
        seconds = (double(timestamp) - double(streamStart(videoStream))) * av_q2d(videoStream->time_base);
    } else if (lastVideoFrameSeconds >= 0.0) {
        // No timestamp at all: one frame after the previous one.
        const AVRational rate = av_guess_frame_rate(formatContext, videoStream, nullptr);
        seconds = lastVideoFrameSeconds + (rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate))
                                                                       : FallbackFrameSeconds);
    }
    lastVideoFrameSeconds = seconds;
    return seconds;
}

void VideoDemuxer::seekTo(double seconds)
{
    if (!videoCodecContext || !videoStream)
        return;
    // Some containers (MPEG-TS) land a key frame after the target, or past
    // the last one; the seek then starts ever earlier until the first frame
    // is not past the target.
    // That frame is kept for the next decodeNextFrame.
    inputAtStart = false;
    double backoff = 0.0;
    for (int attempt = 0; attempt < MaxSeekAttempts; ++attempt) {
        const double target = seconds - backoff;
        const bool sought = av_seek_frame(formatContext, videoStreamIndex, videoTimestampFor(target),
                                          AVSEEK_FLAG_BACKWARD)
                            >= 0;
        flushVideoCodec();
        double pts = -1.0;
        pendingImage = decodeFrame(pts);
        pendingSeconds = pts;
        // Nothing at all after a seek means it landed past the last key frame.
        const bool landedPast = pendingImage.isNull() || pts > seconds + SeekToleranceSeconds;
        if (sought && landedPast && target <= 0.0) {
            // Even the start was missed (a transport stream whose only key
            // frame is its first packet): read again from the very beginning.
            if (seekToFirstPacket()) {
                flushVideoCodec();
                pendingImage = decodeFrame(pts);
                pendingSeconds = pts;
            }
            return;
        }
        if (!sought || !landedPast)
            return;
        backoff = std::max({backoff * 2.0, pendingImage.isNull() ? 0.0 : pts - seconds,
                            MinSeekBackoffSeconds});
    }
}

bool VideoDemuxer::seekToFirstPacket()
{
    // Streams whose timestamps may jump (MPEG transport and program
    // streams) are read again from their first byte; others from their
    // earliest indexed packet.
    const int flags = formatContext->iformat->flags;
    if ((flags & AVFMT_TS_DISCONT) && !(flags & AVFMT_NO_BYTE_SEEK)
        && av_seek_frame(formatContext, -1, 0, AVSEEK_FLAG_BYTE) >= 0)
        return true;
    int64_t first = streamStart(videoStream);
    if (const AVIndexEntry* entry = avformat_index_get_entry(videoStream, 0))
        first = std::min(first, entry->timestamp);
    return av_seek_frame(formatContext, videoStreamIndex, first, AVSEEK_FLAG_BACKWARD) >= 0;
}

void VideoDemuxer::flushVideoCodec()
{
    if (!videoCodecContext)
        return;
    avcodec_flush_buffers(videoCodecContext);
    videoInputEnded = false;
    lastVideoFrameSeconds = -1.0;
    pendingImage = QImage();
    pendingSeconds = -1.0;
}

QImage VideoDemuxer::decodeFrameAt(double seconds)
{
    if (!videoCodecContext || !videoStream)
        return {};
    seekTo(seconds);
    double pts = -1.0;
    return decodeNextFrame(pts);
}

QImage VideoDemuxer::decodeNextFrame(double& pts)
{
    pts = -1.0;
    if (!videoCodecContext || !videoStream)
        return {};
    if (!pendingImage.isNull()) {
        pts = pendingSeconds;
        pendingSeconds = -1.0;
        return std::exchange(pendingImage, QImage());
    }
    return decodeFrame(pts);
}

QImage VideoDemuxer::decodeFrame(double& pts)
{
    pts = -1.0;
    if (!videoPacket)
        videoPacket = av_packet_alloc();
    if (!videoFrame)
        videoFrame = av_frame_alloc();
    if (!videoPacket || !videoFrame)
        return {};
    for (;;) {
        // Frames the decoder already holds come first, so no packet is sent
        // to a decoder that cannot take it.
        const int received = avcodec_receive_frame(videoCodecContext, videoFrame);
        if (received >= 0) {
            const double seconds = videoFrameSeconds(videoFrame);
            QImage image = frameConverter.convert(videoFrame);
            av_frame_unref(videoFrame);
            if (!image.isNull())
                pts = seconds;
            return image;
        }
        if (received != AVERROR(EAGAIN) || videoInputEnded)
            return {};
        inputAtStart = false;
        if (av_read_frame(formatContext, videoPacket) < 0) {
            // End of input: the decoder gives out the frames it still holds.
            videoInputEnded = true;
            avcodec_send_packet(videoCodecContext, nullptr);
            continue;
        }
        // A packet the decoder refuses is skipped.
        if (videoPacket->stream_index == videoStreamIndex)
            avcodec_send_packet(videoCodecContext, videoPacket);
        av_packet_unref(videoPacket);
    }
}
