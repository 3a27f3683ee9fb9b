#pragma once
// Opens a media file through FFmpeg, takes its first audio and first video
// stream, extracts the whole audio as 32-bit float and decodes video frames
// into images for the preview window. Not thread-safe: after the preview's
// decode thread has started only that thread may call it.

#include "video/VideoFrameConverter.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

extern "C" {
#include <libavutil/channel_layout.h>
}

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;
struct SwrContext;
class GrowingSampleBuffer;

class VideoDemuxer : public QObject {
    Q_OBJECT
public:
    explicit VideoDemuxer(QObject* parent = nullptr);
    ~VideoDemuxer() override;

    bool open(const QString& path);
    // Frees everything; safe to call repeatedly.
    void close();

    // False also when the picture is over the size limit: the sound stays usable.
    bool hasVideo() const;
    // The file's picture exceeds VideoFrameConverter::MaxPixels and is not decoded.
    bool pictureTooLarge() const;
    bool hasAudio() const;

    // The whole audio track: interleaved stereo plus its (L+R)/2 mix for
    // sources of two or more channels (downmixed to two), or mono only.
    bool extractAudio(QList<float>& mono, QList<float>& stereo, int& sampleRate);

    // The first frame after a seek to `seconds` (the key frame at or before it).
    QImage decodeFrameAt(double seconds);
    void seekTo(double seconds);
    void flushVideoCodec();
    // The next frame from the current position; pts is its time in seconds,
    // measured from the stream's start, or -1 when no frame came.
    QImage decodeNextFrame(double& pts);

    // Threads the video decoder is given on this machine.
    static int videoDecodeThreads();

    int getAudioSampleRate() const;
    int getAudioChannels() const;
    int getVideoWidth() const;
    int getVideoHeight() const;
    double getDuration() const;

signals:
    void errorOccurred(const QString& message);

private:
    bool openInput(const QString& path);
    bool openDecoder(AVStream* stream, AVCodecContext*& context, const char* missingLog);
    bool openResampler();
    bool setUpResampler(const AVChannelLayout& inLayout, int inRate, int inFormat);
    bool resamplerMatches(const AVFrame* frame) const;
    bool convertAudioFrame(const AVFrame* frame, GrowingSampleBuffer& out);
    void flushResampler(GrowingSampleBuffer& out);
    void decodeAudioFrames(AVFrame* frame, GrowingSampleBuffer& out);
    void rewindAudio();
    double videoFrameSeconds(const AVFrame* frame);
    QImage decodeFrame(double& pts);
    bool seekToFirstPacket();
    qint64 videoTimestampFor(double seconds) const;

    AVFormatContext* formatContext = nullptr;
    AVIOContext* input = nullptr; // opened by us so only the file protocol is reachable
    AVStream* audioStream = nullptr;
    AVCodecContext* audioCodecContext = nullptr;
    int audioStreamIndex = -1;
    SwrContext* resampler = nullptr;
    AVStream* videoStream = nullptr;
    AVCodecContext* videoCodecContext = nullptr;
    int videoStreamIndex = -1;
    VideoFrameConverter frameConverter;

    // What the resampler was set up for, so a frame of other parameters re-initialises it.
    AVChannelLayout resamplerInLayout{};
    int resamplerInRate = 0;
    int resamplerInFormat = -1;
    int outputChannels = 0;
    int outputRate = 0;

    AVPacket* videoPacket = nullptr;
    AVFrame* videoFrame = nullptr;
    bool videoTooLarge = false;
    bool inputAtStart = false;    // nothing was read or sought since opening
    bool videoInputEnded = false; // the decoder has been told the input ended
    double lastVideoFrameSeconds = -1.0;
    // The first frame after a seek, decoded to check where the seek landed.
    QImage pendingImage;
    double pendingSeconds = -1.0;
};
