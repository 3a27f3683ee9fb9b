// Reading of WAV, MP3, FLAC and Ogg Vorbis files into the processor's lists.
// Every reader reads through QFile, so files inside the program's resources
// (":/...") load like files on disk.

#include "AudioProcessor.h"

#include "codecs/FlacDecoder.h"
#include "codecs/Mp3Decoder.h"
#include "codecs/OggDecoder.h"
#include "codecs/OggPageParser.h"
#include "codecs/WavReader.h"

#include "common/DiagnosticLog.h"
#include "common/ParallelRanges.h"
#include "common/SampleMemory.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <new>

namespace {

// Below this many frames a second thread costs more than it saves.
constexpr qint64 kFramesPerThread = 1 << 18;

// Writes the per-frame mean of all channels to `mono` and, when `joined` is
// given, the parts one after another to `joined`. The sums are taken in
// double, so loud float files whose values are finite stay finite.
void joinAndMix(const DecodedAudio& audio, float* mono, float* joined)
{
    struct Slice {
        const float* data;
        qint64 frames;
        qint64 firstFrame;
    };
    const int n = audio.channels;
    std::vector<Slice> slices;
    qint64 total = 0;
    for (const QList<float>& part : audio.parts) {
        slices.push_back({part.constData(), part.size() / n, total});
        total += part.size() / n;
    }
    ParallelRanges::run(total, ParallelRanges::partsFor(total, kFramesPerThread),
                        [&](int, qint64 begin, qint64 end) {
        for (const Slice& slice : slices) {
            const qint64 from = std::max(begin, slice.firstFrame);
            const qint64 to = std::min(end, slice.firstFrame + slice.frames);
            if (from >= to)
                continue;
            const float* src = slice.data + (from - slice.firstFrame) * n;
            if (joined)
                std::memcpy(joined + from * n, src, size_t((to - from) * n) * sizeof(float));
            float* dst = mono + from;
            const qint64 count = to - from;
            if (n == 1) {
                std::memcpy(dst, src, size_t(count) * sizeof(float));
            } else if (n == 2) {
                for (qint64 i = 0; i < count; ++i)
                    dst[i] = float((double(src[2 * i]) + double(src[2 * i + 1])) * 0.5);
            } else {
                for (qint64 i = 0; i < count; ++i, src += n) {
                    double sum = 0.0;
                    for (int c = 0; c < n; ++c)
                        sum += src[c];
                    dst[i] = float(sum / n);
                }
            }
        }
    });
}

bool readWholeFile(const QString& filePath, QByteArray& bytes)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    // A read error leaves readAll short; report it rather than decode a torso.
    return file.error() == QFileDevice::NoError;
}

} // namespace

bool AudioProcessor::loadAudioFile(const QString& filePath)
{
    clear();
    const QString suffix = QFileInfo(filePath).suffix().toLower();
    // Memory running out anywhere in reading or decoding fails the load
    // alone, like any other failure: the caller's work goes on.
    try {
        if (suffix == QLatin1String("wav"))
            return loadWavFile(filePath);
        if (suffix == QLatin1String("mp3"))
            return loadMp3File(filePath);
        if (suffix == QLatin1String("flac"))
            return loadFlacFile(filePath);
        if (suffix == QLatin1String("ogg"))
            return loadOggFile(filePath);
    } catch (const std::bad_alloc&) {
        clear();
        qWarning() << "AudioProcessor: out of memory reading" << filePath;
        emit errorOccurred(tr("内存不足，无法读取音频文件: %1").arg(filePath));
        return false;
    }
    emit errorOccurred(tr("不支持的音频格式: %1").arg(suffix));
    return false;
}

bool AudioProcessor::loadWavFile(const QString& filePath)
{
    QByteArray bytes;
    if (!readWholeFile(filePath, bytes)) {
        emit errorOccurred(tr("无法打开文件: %1").arg(filePath));
        return false;
    }
    DecodedAudio audio;
    switch (WavReader::read(bytes, audio)) {
    case WavReader::Status::Ok:
        break;
    case WavReader::Status::HeaderDamaged:
        emit errorOccurred(tr("WAV文件头损坏: %1").arg(filePath));
        return false;
    case WavReader::Status::NotWav:
        emit errorOccurred(tr("不是有效的WAV文件: %1").arg(filePath));
        return false;
    case WavReader::Status::Rf64:
        emit errorOccurred(tr("不支持的WAV文件格式 (RF64): %1").arg(filePath));
        return false;
    case WavReader::Status::FormatDamaged:
        emit errorOccurred(tr("WAV fmt chunk损坏: %1").arg(filePath));
        return false;
    case WavReader::Status::NoAudioData:
        emit errorOccurred(tr("WAV文件中没有找到音频数据: %1").arg(filePath));
        return false;
    case WavReader::Status::ZeroChannels:
        emit errorOccurred(tr("WAV文件声道数为0: %1").arg(filePath));
        return false;
    case WavReader::Status::UnsupportedFormat:
        emit errorOccurred(tr("不支持的WAV编码格式: %1").arg(filePath));
        return false;
    }
    bytes.clear();
    takeDecodedAudio(filePath, audio);
    return true;
}

bool AudioProcessor::loadMp3File(const QString& filePath)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray bytes;
    if (!readWholeFile(filePath, bytes)) {
        emit errorOccurred(tr("无法打开文件: %1").arg(filePath));
        return false;
    }
    qCDebug(lcDiagnostics) << "[MP3] readAll:" << timer.restart() << "ms, size:" << bytes.size();

    DecodedAudio audio;
    const bool decoded = Mp3Decoder::decode(bytes, audio);
    qCDebug(lcDiagnostics) << "[MP3] decode:" << timer.restart() << "ms, frames:" << audio.frames()
             << "rate:" << audio.sampleRate << "ch:" << audio.channels;
    if (!decoded || audio.frames() == 0) {
        emit errorOccurred(tr("MP3解码失败: %1").arg(filePath));
        return false;
    }
    bytes.clear();
    takeDecodedAudio(filePath, audio);
    qCDebug(lcDiagnostics) << "[MP3] mono convert:" << timer.restart() << "ms, samples:" << samples.size();
    return true;
}

bool AudioProcessor::loadFlacFile(const QString& filePath)
{
    QElapsedTimer timer;
    timer.start();
    // A file that cannot be read is reported as a failed decode.
    QByteArray bytes;
    DecodedAudio audio;
    const bool decoded = readWholeFile(filePath, bytes) && FlacDecoder::decode(bytes, audio);
    qCDebug(lcDiagnostics) << "[FLAC] decode:" << timer.elapsed() << "ms, frames:" << audio.frames()
             << "rate:" << audio.sampleRate << "ch:" << audio.channels;
    if (!decoded || audio.frames() == 0) {
        emit errorOccurred(tr("FLAC解码失败: %1").arg(filePath));
        return false;
    }
    bytes.clear();
    takeDecodedAudio(filePath, audio);
    qCDebug(lcDiagnostics) << "[FLAC] mono convert:" << timer.elapsed() << "ms, samples:" << samples.size();
    return true;
}

bool AudioProcessor::loadOggFile(const QString& filePath)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray bytes;
    if (!readWholeFile(filePath, bytes)) {
        emit errorOccurred(tr("无法打开文件: %1").arg(filePath));
        return false;
    }
    qCDebug(lcDiagnostics) << "[OGG] readAll:" << timer.restart() << "ms, size:" << bytes.size();

    DecodedAudio audio;
    int errorCode = 0;
    const bool decoded = OggDecoder::decode(bytes, audio, errorCode);
    qCDebug(lcDiagnostics) << "[OGG] info:" << timer.restart() << "ms, frames:" << audio.frames()
             << "rate:" << audio.sampleRate << "ch:" << audio.channels;
    if (!decoded || audio.frames() == 0) {
        const QString codec = OggPageParser::otherCodec(bytes);
        if (!codec.isEmpty())
            emit errorOccurred(tr("不支持的OGG编码格式 (%1): %2").arg(codec, filePath));
        else
            emit errorOccurred(tr("OGG解码失败 (错误码 %1): %2").arg(errorCode).arg(filePath));
        return false;
    }
    bytes.clear();
    takeDecodedAudio(filePath, audio);
    qCDebug(lcDiagnostics) << "[OGG] decode done:" << timer.restart() << "ms, samples:" << samples.size();
    return true;
}

void AudioProcessor::noteDamage(const QString& filePath, const DecodedAudio& audio)
{
    if (audio.laterStreamsLeft || audio.joinedStreams > 0) {
        // A chained file: the streams joined on after the first are read in
        // order after it, or what follows is not read, and the user is told
        // which. Whether a stream before those left ends early cannot be told.
        const QString length = QString::number(double(samples.size()) / sampleRate, 'f', 1);
        const int read = audio.joinedStreams + 1;
        QString chained;
        if (!audio.laterStreamsLeft) {
            chained = tr("文件由 %1 段音频串联而成，已依次全部导入（%2 秒）").arg(read).arg(length);
            qWarning() << "AudioProcessor:" << filePath << "joins" << read << "streams end to end; all are read in order";
        } else {
            chained = read == 1 ? tr("文件由多段音频串联而成，只导入了第一段（%1 秒）").arg(length)
                                : tr("文件由多段音频串联而成，只导入了前 %1 段（%2 秒）").arg(read).arg(length);
            // Why the part after them was not read, where its layout is known.
            QStringList left, before;
            if (audio.leftSampleRate > 0 && audio.leftSampleRate != sampleRate) {
                left << tr("%1 Hz").arg(audio.leftSampleRate);
                before << tr("%1 Hz").arg(sampleRate);
            }
            if (audio.leftChannels > 0 && audio.leftChannels != audio.channels) {
                left << tr("%1 声道").arg(audio.leftChannels);
                before << tr("%1 声道").arg(audio.channels);
            }
            if (!left.isEmpty())
                chained += tr("，第 %1 段为 %2（前面为 %3）").arg(read + 1).arg(left.join(tr("、")), before.join(tr("、")));
            qWarning() << "AudioProcessor:" << filePath << "chains further streams; only the first" << read << "are read";
        }
        DecodedAudio damage = audio;
        damage.laterStreamsLeft = false;
        damage.joinedStreams = 0;
        damage.cutShort = damage.cutShort && !audio.laterStreamsLeft;
        noteDamage(filePath, damage);
        m_damageNote = m_damageNote.isEmpty() ? chained : m_damageNote + tr("；") + chained;
        return;
    }
    if (!audio.damaged && !audio.cutShort)
        return;
    auto seconds = [this](qint64 frames) { return QString::number(double(frames) / sampleRate, 'f', 1); };
    const qint64 read = samples.size() - audio.filledFrames;
    if (!audio.damaged)
        m_damageNote = tr("文件不完整，已恢复 %1 秒音频").arg(seconds(read));
    else if (audio.filledFrames > 0)
        m_damageNote = tr("文件已损坏，已恢复 %1 秒音频，损坏处以 %2 秒静音代替")
                           .arg(seconds(read), seconds(audio.filledFrames));
    else
        m_damageNote = tr("文件已损坏，已恢复 %1 秒音频").arg(seconds(read));
    qWarning() << "AudioProcessor:" << filePath << (audio.damaged ? "is damaged" : "ends early") << "-"
               << read << "frames read," << audio.filledFrames << "frames of silence for lost audio";
}

void AudioProcessor::takeDecodedAudio(const QString& filePath, DecodedAudio& audio)
{
    const int n = audio.channels;
    const qint64 frames = audio.frames();
    if (n == 1 && audio.parts.size() == 1) {
        samples = std::move(audio.parts.front());
    } else {
        // One parallel pass joins the decoded parts and mixes each frame down.
        samples = SampleMemory::uninitialized(qsizetype(frames));
        const bool keepStereo = n == 2 && audio.parts.size() > 1;
        if (keepStereo)
            stereoSamples = SampleMemory::uninitialized(qsizetype(frames * 2));
        joinAndMix(audio, samples.data(), keepStereo ? stereoSamples.data() : nullptr);
        if (n == 2 && audio.parts.size() == 1)
            stereoSamples = std::move(audio.parts.front());
    }
    audio.parts.clear();
    sampleRate = audio.sampleRate;
    channels = n;
    noteDamage(filePath, audio);
    const qint64 durationMs = (frames > 0 && sampleRate > 0) ? frames * 1000 / sampleRate : 0;
    emit audioLoaded(filePath, sampleRate, channels, durationMs);
}
