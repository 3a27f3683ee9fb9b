#include "engine/devices/StereoPcmConverter.h"

#include <cstring>

StereoPcmConverter::StereoPcmConverter(const QAudioFormat& format)
    : sampleFormat_(format.sampleFormat()), channels_(format.channelCount())
{
    switch (sampleFormat_) {
    case QAudioFormat::UInt8: bytesPerSample_ = 1; break;
    case QAudioFormat::Int16: bytesPerSample_ = 2; break;
    case QAudioFormat::Int32:
    case QAudioFormat::Float: bytesPerSample_ = 4; break;
    default: bytesPerSample_ = 0; break;
    }
    if (channels_ >= 1)
        bytesPerFrame_ = bytesPerSample_ * channels_;
}

bool StereoPcmConverter::isPassThrough() const
{
    return sampleFormat_ == QAudioFormat::Int16 && channels_ == 2;
}

void StereoPcmConverter::convert(const short* stereo, int frames, char* out) const
{
    if (!isValid() || frames < 1)
        return;
    if (isPassThrough()) {
        std::memcpy(out, stereo, size_t(frames) * 4);
        return;
    }
    std::memset(out, 0, size_t(frames) * size_t(bytesPerFrame_));
    const int written = channels_ == 1 ? 1 : 2;
    for (int f = 0; f < frames; ++f) {
        const int left = stereo[2 * f];
        const int right = stereo[2 * f + 1];
        char* frame = out + size_t(f) * size_t(bytesPerFrame_);
        for (int c = 0; c < written; ++c) {
            const int value = channels_ == 1 ? (left + right) / 2 : (c == 0 ? left : right);
            char* sample = frame + c * bytesPerSample_;
            switch (sampleFormat_) {
            case QAudioFormat::UInt8: {
                const quint8 v = quint8((value >> 8) + 128);
                std::memcpy(sample, &v, 1);
                break;
            }
            case QAudioFormat::Int16: {
                const qint16 v = qint16(value);
                std::memcpy(sample, &v, 2);
                break;
            }
            case QAudioFormat::Int32: {
                const qint32 v = qint32(value) * 65536;
                std::memcpy(sample, &v, 4);
                break;
            }
            case QAudioFormat::Float: {
                const float v = float(value) / 32768.0f;
                std::memcpy(sample, &v, 4);
                break;
            }
            default: break;
            }
        }
    }
}
