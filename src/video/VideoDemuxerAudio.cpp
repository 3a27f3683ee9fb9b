// Taking the whole audio track out of the file as 32-bit float, within the
// sample bound.

#include "video/VideoDemuxer.h"

#include "audio/codecs/GrowingSampleBuffer.h"
#include "common/SampleMemory.h"

#include <QDebug>

#include <algorithm>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace {

// A stream's announced length reserves room only up to this many values per
// byte of file, so a forged duration cannot reserve gigabytes up front.
constexpr qint64 HintValuesPerFileByte = 16;

// A layout without channel order (only a count) means the usual layout for that count.
AVChannelLayout usableLayout(const AVChannelLayout& layout)
{
    AVChannelLayout out{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) != 1)
        av_channel_layout_default(&out, layout.nb_channels);
    else if (av_channel_layout_copy(&out, &layout) < 0)
        av_channel_layout_default(&out, layout.nb_channels);
    return out;
}

} // namespace

bool VideoDemuxer::openResampler()
{
    const int channels = audioCodecContext->ch_layout.nb_channels;
    outputChannels = channels == 1 ? 1 : 2;
    outputRate = audioCodecContext->sample_rate;
    return setUpResampler(audioCodecContext->ch_layout, audioCodecContext->sample_rate,
                          audioCodecContext->sample_fmt);
}

bool VideoDemuxer::setUpResampler(const AVChannelLayout& inLayout, int inRate, int inFormat)
{
    swr_free(&resampler);
    av_channel_layout_uninit(&resamplerInLayout);
    resamplerInLayout = usableLayout(inLayout);
    resamplerInRate = inRate;
    resamplerInFormat = inFormat;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, outputChannels);
    // The output rate stays the one the import reports; only a stream that
    // changes its rate midway is resampled back to it.
    if (inRate <= 0 || outputRate <= 0
        || swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_FLT, outputRate,
                               &resamplerInLayout, AVSampleFormat(inFormat), inRate, 0, nullptr)
               < 0
        || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return false;
    }
    return true;
}

bool VideoDemuxer::resamplerMatches(const AVFrame* frame) const
{
    if (!resampler || frame->format != resamplerInFormat || frame->sample_rate != resamplerInRate)
        return false;
    AVChannelLayout layout = usableLayout(frame->ch_layout);
    const bool same = av_channel_layout_compare(&layout, &resamplerInLayout) == 0;
    av_channel_layout_uninit(&layout);
    return same;
}

bool VideoDemuxer::convertAudioFrame(const AVFrame* frame, GrowingSampleBuffer& out)
{
    if (frame->nb_samples <= 0)
        return false;
    if (!resamplerMatches(frame)) {
        // Whatever the old set-up still holds belongs before this frame.
        if (resampler)
            flushResampler(out);
        qDebug() << "[VideoDemuxer] audio format changes: rate" << frame->sample_rate
                 << "channels" << frame->ch_layout.nb_channels << "format" << frame->format;
        if (!setUpResampler(frame->ch_layout, frame->sample_rate, frame->format)) {
            qWarning() << "[VideoDemuxer] skipping audio the resampler cannot take";
            return false;
        }
    }
    const int capacity = swr_get_out_samples(resampler, frame->nb_samples);
    if (capacity <= 0)
        return false;
    float* at = out.append(qsizetype(capacity) * outputChannels);
    auto* destination = reinterpret_cast<uint8_t*>(at);
    const int written = swr_convert(resampler, &destination, capacity,
                                    const_cast<const uint8_t**>(frame->extended_data),
                                    frame->nb_samples);
    out.shrinkBy(qsizetype(capacity - std::max(written, 0)) * outputChannels);
    return written > 0;
}

void VideoDemuxer::flushResampler(GrowingSampleBuffer& out)
{
    for (;;) {
        const int capacity = swr_get_out_samples(resampler, 0);
        if (capacity <= 0)
            return;
        float* at = out.append(qsizetype(capacity) * outputChannels);
        auto* destination = reinterpret_cast<uint8_t*>(at);
        const int written = swr_convert(resampler, &destination, capacity, nullptr, 0);
        out.shrinkBy(qsizetype(capacity - std::max(written, 0)) * outputChannels);
        if (written <= 0)
            return;
    }
}

void VideoDemuxer::decodeAudioFrames(AVFrame* frame, GrowingSampleBuffer& out)
{
    while (avcodec_receive_frame(audioCodecContext, frame) >= 0) {
        convertAudioFrame(frame, out);
        av_frame_unref(frame);
    }
}

void VideoDemuxer::rewindAudio()
{
    // Right after opening, reading starts with the first packet, as a plain
    // decode of the file does. A seek to the start time would skip packets
    // stamped before it (encoder priming) whose samples the decoder needs
    // and then drops by the count the stream gives.
    if (inputAtStart)
        return;
    int64_t target = audioStream->start_time != AV_NOPTS_VALUE ? audioStream->start_time : 0;
    if (const AVIndexEntry* first = avformat_index_get_entry(audioStream, 0))
        target = std::min(target, first->timestamp);
    av_seek_frame(formatContext, audioStreamIndex, target, AVSEEK_FLAG_BACKWARD);
    // A flushed decoder keeps state that changes its first samples; a new
    // one decodes them as the first extraction did.
    AVCodecContext* fresh = nullptr;
    if (openDecoder(audioStream, fresh, "[VideoDemuxer] 找不到音频解码器:")) {
        avcodec_free_context(&audioCodecContext);
        audioCodecContext = fresh;
    } else {
        avcodec_free_context(&fresh);
        avcodec_flush_buffers(audioCodecContext);
    }
}

bool VideoDemuxer::extractAudio(QList<float>& mono, QList<float>& stereo, int& sampleRate)
{
    if (!hasAudio()) {
        emit errorOccurred(tr("没有音频流"));
        return false;
    }
    mono.clear();
    stereo.clear();
    sampleRate = outputRate;

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (!packet || !frame) {
        av_packet_free(&packet);
        av_frame_free(&frame);
        return false;
    }
    // A fresh decoder and resampler, and only the audio stream is read.
    rewindAudio();
    // When this fails the first frame sets the resampler up from its own parameters.
    setUpResampler(audioCodecContext->ch_layout, audioCodecContext->sample_rate,
                   audioCodecContext->sample_fmt);
    std::vector<AVDiscard> discards;
    for (unsigned i = 0; i < formatContext->nb_streams; ++i) {
        discards.push_back(formatContext->streams[i]->discard);
        if (int(i) != audioStreamIndex)
            formatContext->streams[i]->discard = AVDISCARD_ALL;
    }

    GrowingSampleBuffer samples;
    QList<float> monoRoom;
    std::thread prefaulter;
    // Memory running out on the way leaves by exception: the thread ends and
    // the packet and frame go before the room they fill does.
    struct Release {
        std::thread& prefaulter;
        AVPacket*& packet;
        AVFrame*& frame;
        ~Release()
        {
            if (prefaulter.joinable())
                prefaulter.join();
            av_packet_free(&packet);
            av_frame_free(&frame);
        }
    } releaseOnExit{prefaulter, packet, frame};
    if (audioStream->duration > 0 && audioStream->duration != AV_NOPTS_VALUE) {
        const double seconds = double(audioStream->duration) * av_q2d(audioStream->time_base);
        const qint64 fileBytes = avio_size(input);
        // A little room over the announced length: decoders may give a few
        // frames more, and outgrowing the reservation would copy it all.
        if (seconds > 0 && seconds < 1e7 && fileBytes > 0)
            samples.reserveHint(qint64((seconds * 1.01 + 1.0) * outputRate) * outputChannels,
                                fileBytes * HintValuesPerFileByte);
        // The pages of both lists are set up beside the decoding.
        if (outputChannels == 2)
            monoRoom = SampleMemory::uninitialized(samples.capacity() / 2);
        prefaulter = std::thread([all = samples.data(), allCount = samples.capacity(),
                                  mix = monoRoom.data(), mixCount = monoRoom.size()] {
            SampleMemory::prefault(all, allCount);
            SampleMemory::prefault(mix, mixCount);
        });
    }
    inputAtStart = false;
    while (av_read_frame(formatContext, packet) >= 0) {
        // A packet the decoder refuses is skipped.
        const bool sent = packet->stream_index == audioStreamIndex
                          && avcodec_send_packet(audioCodecContext, packet) >= 0;
        av_packet_unref(packet);
        if (sent)
            decodeAudioFrames(frame, samples);
    }
    avcodec_send_packet(audioCodecContext, nullptr);
    decodeAudioFrames(frame, samples);
    if (resampler)
        flushResampler(samples);
    av_packet_free(&packet);
    av_frame_free(&frame);
    if (prefaulter.joinable())
        prefaulter.join();
    // Reading may have added streams (a damaged or changing transport
    // stream); those keep the setting they were made with.
    for (size_t i = 0; i < discards.size(); ++i)
        formatContext->streams[i]->discard = discards[i];
    // The reads above moved the input; the next frame decode seeks first.
    videoInputEnded = false;

    if (samples.size() == 0) {
        emit errorOccurred(tr("未能解码到音频数据"));
        return false;
    }
    QList<float> values = samples.take();
    if (outputChannels == 2) {
        const qsizetype frames = values.size() / 2;
        if (monoRoom.size() >= frames) {
            monoRoom.resize(frames);
            mono = std::move(monoRoom);
        } else {
            mono = SampleMemory::uninitialized(frames);
        }
        const float* in = values.constData();
        float* out = mono.data();
        for (qsizetype i = 0; i < frames; ++i)
            out[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
        stereo = std::move(values);
    } else {
        mono = std::move(values);
    }
    qDebug() << "[VideoDemuxer] 音频提取完成: sampleRate=" << sampleRate
             << "channels=" << audioCodecContext->ch_layout.nb_channels << "samples=" << mono.size();
    return true;
}
