#include "video/VideoDemuxer.h"

#include <QDebug>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

namespace {

// Decoding threads of the video decoder: enough for 1080p in real time
// without taking every core from the audio and the interface.
constexpr int MaxVideoDecodeThreads = 4;

QString errorText(int code)
{
    char buffer[256] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// Demuxers ask through this to open further resources (playlist entries,
// external references). A file chosen for import is read on its own.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char* url, int, AVDictionary**)
{
    qWarning() << "[VideoDemuxer] refused to open a resource named in the file:" << url;
    return AVERROR(EPERM);
}

bool opensOtherFiles(const AVInputFormat* format)
{
    for (const char* name : {"concat", "hls", "dash", "imf"})
        if (av_match_name(name, format->name))
            return true;
    return false;
}

} // namespace

VideoDemuxer::VideoDemuxer(QObject* parent)
    : QObject(parent)
{
}

VideoDemuxer::~VideoDemuxer()
{
    close();
}

bool VideoDemuxer::open(const QString& path)
{
    close();
    if (!openInput(path))
        return false;
    if (avformat_find_stream_info(formatContext, nullptr) < 0) {
        emit errorOccurred(tr("无法读取流信息"));
        close();
        return false;
    }
    for (unsigned i = 0; i < formatContext->nb_streams; ++i) {
        AVStream* stream = formatContext->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO && !audioStream) {
            audioStream = stream;
            audioStreamIndex = int(i);
        } else if (type == AVMEDIA_TYPE_VIDEO && !videoStream) {
            videoStream = stream;
            videoStreamIndex = int(i);
        }
    }
    if (audioStream
        && (!openDecoder(audioStream, audioCodecContext, "[VideoDemuxer] 找不到音频解码器:")
            || !openResampler())) {
        emit errorOccurred(tr("无法打开音频解码器"));
        close();
        return false;
    }
    // A picture over the size limit is not decoded, but its sound is still wanted.
    if (videoStream
        && qint64(videoStream->codecpar->width) * videoStream->codecpar->height
               > VideoFrameConverter::MaxPixels) {
        qWarning() << "[VideoDemuxer] picture too large for the preview:"
                   << videoStream->codecpar->width << "x" << videoStream->codecpar->height;
        videoTooLarge = true;
        videoStream = nullptr;
        videoStreamIndex = -1;
    }
    if (videoStream
        && !openDecoder(videoStream, videoCodecContext, "[VideoDemuxer] 找不到视频解码器:")) {
        emit errorOccurred(tr("无法打开视频解码器"));
        close();
        return false;
    }
    inputAtStart = true;
    return true;
}

bool VideoDemuxer::openInput(const QString& path)
{
    // The input is opened here with the file protocol alone, and demuxers may
    // open nothing further: a playlist or concat list under a video suffix
    // can reach neither the network nor other files.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int result = avio_open2(&input, url.constData(), AVIO_FLAG_READ, nullptr, &options);
    av_dict_free(&options);
    if (result >= 0) {
        formatContext = avformat_alloc_context();
        if (!formatContext)
            result = AVERROR(ENOMEM);
    }
    // Playlist and list formats open their entries through contexts of
    // their own, so they are refused by name before they start.
    const AVInputFormat* format = nullptr;
    if (result >= 0)
        result = av_probe_input_buffer2(input, &format, url.constData(), nullptr, 0, 0);
    if (result >= 0 && format && opensOtherFiles(format)) {
        qWarning() << "[VideoDemuxer] refused a" << format->name << "file";
        result = AVERROR(EPERM);
    }
    if (result >= 0) {
        formatContext->pb = input;
        formatContext->io_open = refuseNestedOpen;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        // On failure this frees the context and nulls the pointer.
        result = avformat_open_input(&formatContext, url.constData(), format, &options);
        av_dict_free(&options);
    }
    if (result < 0) {
        close();
        emit errorOccurred(tr("无法打开文件: %1").arg(errorText(result)));
        return false;
    }
    return true;
}

bool VideoDemuxer::openDecoder(AVStream* stream, AVCodecContext*& context, const char* missingLog)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        qWarning() << missingLog << int(stream->codecpar->codec_id);
        return false;
    }
    context = avcodec_alloc_context3(codec);
    if (!context || avcodec_parameters_to_context(context, stream->codecpar) < 0)
        return false;
    context->pkt_timebase = stream->time_base;
    if (codec->type == AVMEDIA_TYPE_VIDEO) {
        // A forged size fails here instead of allocating gigabytes per frame.
        context->max_pixels = VideoFrameConverter::MaxPixels;
        context->thread_count = videoDecodeThreads();
    }
    return avcodec_open2(context, codec, nullptr) >= 0;
}

int VideoDemuxer::videoDecodeThreads()
{
    return std::clamp(QThread::idealThreadCount(), 1, MaxVideoDecodeThreads);
}

void VideoDemuxer::close()
{
    swr_free(&resampler);
    frameConverter.reset();
    avcodec_free_context(&audioCodecContext);
    avcodec_free_context(&videoCodecContext);
    avformat_close_input(&formatContext);
    avio_closep(&input);
    av_packet_free(&videoPacket);
    av_frame_free(&videoFrame);
    av_channel_layout_uninit(&resamplerInLayout);
    resamplerInRate = 0;
    resamplerInFormat = -1;
    outputChannels = 0;
    outputRate = 0;
    audioStream = nullptr;
    videoStream = nullptr;
    audioStreamIndex = -1;
    videoStreamIndex = -1;
    videoTooLarge = false;
    inputAtStart = false;
    videoInputEnded = false;
    lastVideoFrameSeconds = -1.0;
    pendingImage = QImage();
    pendingSeconds = -1.0;
}

bool VideoDemuxer::hasVideo() const
{
    return videoCodecContext != nullptr;
}

bool VideoDemuxer::pictureTooLarge() const
{
    return videoTooLarge;
}

bool VideoDemuxer::hasAudio() const
{
    return audioCodecContext != nullptr;
}

int VideoDemuxer::getAudioSampleRate() const
{
    return audioCodecContext ? audioCodecContext->sample_rate : 0;
}

int VideoDemuxer::getAudioChannels() const
{
    return audioCodecContext ? audioCodecContext->ch_layout.nb_channels : 0;
}

int VideoDemuxer::getVideoWidth() const
{
    return videoCodecContext ? videoCodecContext->width : 0;
}

int VideoDemuxer::getVideoHeight() const
{
    return videoCodecContext ? videoCodecContext->height : 0;
}

double VideoDemuxer::getDuration() const
{
    if (!formatContext || formatContext->duration == AV_NOPTS_VALUE || formatContext->duration < 0)
        return 0.0;
    return double(formatContext->duration) / AV_TIME_BASE;
}
