// Writing of WAV, MP3 and FLAC files. Each writer validates its arguments
// before touching the disk, writes to a temporary file in the target folder
// and renames it over the target only when every write succeeded and the
// data is on the disk, so a failed export never damages an existing file.

#include "AudioProcessor.h"

#include "codecs/FlacEncoder.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/SampleConversion.h"
#include "codecs/WavWriter.h"
#include "common/SaveFileCommit.h"
#include "common/WriteErrorMessages.h"

#include <QDebug>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// Frames converted for the MP3 encoder at a time: whole encoder chunks, so
// the encoder is called as for one list and the file is the same.
constexpr qint64 kMp3BlockFrames = qint64(Mp3Encoder::ChunkSamples) * 256;

// Mean over the channels of each of `frames` frames from `src`, as 16-bit values.
void monoPcm16(const float* src, qint64 frames, int channels, std::vector<qint16>& pcm)
{
    pcm.assign(size_t(frames), 0);
    if (channels == 1) {
        for (qint64 i = 0; i < frames; ++i)
            pcm[size_t(i)] = qint16(SampleConversion::toPcm16(src[i]));
    } else if (channels == 2) {
        for (qint64 i = 0; i < frames; ++i)
            pcm[size_t(i)] = qint16(SampleConversion::toPcm16((src[2 * i] + src[2 * i + 1]) * 0.5f));
    } else {
        for (qint64 i = 0; i < frames; ++i, src += channels) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += src[c];
            pcm[size_t(i)] = qint16(SampleConversion::toPcm16(sum / float(channels)));
        }
    }
}

} // namespace

bool AudioProcessor::saveAudioFile(const QString& filePath, const QList<float>& data, int sampleRate,
                                   int channels, int bitsPerSample)
{
    const QString suffix = QFileInfo(filePath).suffix().toLower();
    if (suffix == QLatin1String("wav"))
        return saveWavFile(filePath, data, sampleRate, channels, bitsPerSample);
    if (suffix == QLatin1String("mp3"))
        return saveMp3File(filePath, data, sampleRate, channels);
    if (suffix == QLatin1String("flac"))
        return saveFlacFile(filePath, data, sampleRate, channels, bitsPerSample);
    emit errorOccurred(tr("不支持保存的音频格式: %1").arg(suffix));
    return false;
}

bool AudioProcessor::checkWriteParameters(int sampleRate, int channels)
{
    if (channels < 1) {
        emit errorOccurred(tr("不支持的声道数: %1").arg(channels));
        return false;
    }
    if (sampleRate < 1) {
        emit errorOccurred(tr("不支持的采样率: %1").arg(sampleRate));
        return false;
    }
    return true;
}

bool AudioProcessor::openSaveFile(QSaveFile& file, const QString& filePath)
{
    file.setFileName(filePath);
    errno = 0;
    if (file.open(QIODevice::WriteOnly)) {
        // A failed write leaves its own errno for commitSaveFile to tell.
        errno = 0;
        return true;
    }
    const int error = errno;
    qWarning() << "AudioProcessor: cannot create" << filePath << file.errorString();
    emit errorOccurred(WriteErrorMessages::withReason(tr("无法创建文件: %1").arg(filePath), error));
    return false;
}

bool AudioProcessor::commitSaveFile(QSaveFile& file, const QString& filePath, bool written)
{
    int error = errno; // a failed write's
    if (written && SaveFileCommit::commit(file, &error))
        return true;
    // After a failed commit the file's own text no longer names the cause.
    qWarning() << "AudioProcessor: writing" << filePath << "failed:"
               << (error ? qt_error_string(error) : file.errorString());
    file.cancelWriting();
    emit errorOccurred(WriteErrorMessages::withReason(tr("无法写入文件: %1").arg(filePath), error));
    return false;
}

bool AudioProcessor::saveWavFile(const QString& filePath, const QList<float>& data, int sampleRate,
                                 int channels, int bitsPerSample)
{
    if (!checkWriteParameters(sampleRate, channels))
        return false;
    if (!WavWriter::supportsBits(bitsPerSample)) {
        emit errorOccurred(tr("不支持的位深: %1").arg(bitsPerSample));
        return false;
    }
    if (!WavWriter::fits(data.size(), sampleRate, channels, bitsPerSample)) {
        emit errorOccurred(tr("音频过长，无法写入WAV文件: %1").arg(filePath));
        return false;
    }
    QSaveFile file;
    if (!openSaveFile(file, filePath))
        return false;
    const bool written = WavWriter::write(file, data, sampleRate, channels, bitsPerSample);
    return commitSaveFile(file, filePath, written);
}

bool AudioProcessor::saveMp3File(const QString& filePath, const QList<float>& data, int sampleRate,
                                 int channels)
{
    if (!checkWriteParameters(sampleRate, channels))
        return false;
    Mp3Encoder encoder;
    switch (encoder.open(sampleRate)) {
    case Mp3Encoder::Status::Ok:
        break;
    case Mp3Encoder::Status::InitFailed:
        emit errorOccurred(tr("MP3编码器初始化失败"));
        return false;
    case Mp3Encoder::Status::ParamsFailed:
        emit errorOccurred(tr("MP3编码器参数设置失败"));
        return false;
    }
    QSaveFile file;
    if (!openSaveFile(file, filePath))
        return false;

    // The encoder is mono: several channels are mixed down first, so a
    // stereo list never becomes a file twice as long. A block at a time: a
    // long list is not held a second time as 16-bit values.
    const qint64 frames = data.size() / channels;
    QByteArray encoded;
    encoded.reserve(qsizetype(frames / 5 + 16384));
    std::vector<qint16> pcm;
    bool encodedAll = true;
    for (qint64 first = 0; first < frames && encodedAll; first += kMp3BlockFrames) {
        const qint64 count = std::min(kMp3BlockFrames, frames - first);
        monoPcm16(data.constData() + first * channels, count, channels, pcm);
        encodedAll = encoder.encode(pcm.data(), count, encoded);
    }
    if (!encodedAll || !encoder.finish(encoded)) {
        file.cancelWriting();
        emit errorOccurred(tr("MP3编码失败"));
        return false;
    }
    const bool written = file.write(encoded) == encoded.size();
    return commitSaveFile(file, filePath, written);
}

bool AudioProcessor::saveFlacFile(const QString& filePath, const QList<float>& data, int sampleRate,
                                  int channels, int bitsPerSample)
{
    if (!FlacEncoder::supportsChannels(channels)) {
        emit errorOccurred(tr("FLAC编码仅支持1或2声道"));
        return false;
    }
    if (!FlacEncoder::supportsSampleRate(sampleRate)) {
        emit errorOccurred(tr("不支持的采样率: %1").arg(sampleRate));
        return false;
    }
    if (!FlacEncoder::supportsBits(bitsPerSample)) {
        emit errorOccurred(tr("不支持的位深: %1").arg(bitsPerSample));
        return false;
    }
    QSaveFile file;
    if (!openSaveFile(file, filePath))
        return false;
    const bool written = FlacEncoder::encode(file, data.constData(), data.size() / channels, channels,
                                             sampleRate, bitsPerSample);
    return commitSaveFile(file, filePath, written);
}
