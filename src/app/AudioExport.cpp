#include "app/AudioExport.h"

#include "audio/AudioProcessor.h"
#include "editor/StereoLists.h"

#include <QCoreApplication>

#include <utility>

namespace AudioExport {

Request fromSingleTrack(Format format, const QList<float>& mono, const QList<float>& stereo,
                        int bitDepth, bool forceMono)
{
    if (format == Format::Mp3)
        return {mono, 1, 16};
    if (!stereo.isEmpty() && !forceMono)
        return {stereo, 2, bitDepth};
    return {mono, 1, bitDepth};
}

Request fromMixdown(Format format, QList<float> interleaved, int bitDepth, bool mono)
{
    if (format == Format::Mp3 || mono) {
        StereoLists::mixToMonoInPlace(interleaved);
        return {std::move(interleaved), 1, format == Format::Mp3 ? 16 : bitDepth};
    }
    return {std::move(interleaved), 2, bitDepth};
}

Outcome write(const QString& path, const Request& request, int sampleRate)
{
    AudioProcessor processor;
    Outcome outcome;
    // Direct: the message is taken on the thread that writes.
    QObject::connect(&processor, &AudioProcessor::errorOccurred, [&outcome](const QString& message) {
        if (outcome.error.isEmpty())
            outcome.error = message;
    });
    outcome.saved = processor.saveAudioFile(path, request.data, sampleRate, request.channels, request.bits);
    return outcome;
}

QString dialogTitle(Format format)
{
    switch (format) {
    case Format::Wav:
        return QCoreApplication::translate("MainWindow", "导出WAV");
    case Format::Mp3:
        return QCoreApplication::translate("MainWindow", "导出MP3");
    case Format::Flac:
        break;
    }
    return QCoreApplication::translate("MainWindow", "导出FLAC");
}

QString dialogFilter(Format format)
{
    switch (format) {
    case Format::Wav:
        return QCoreApplication::translate("MainWindow", "WAV文件 (*.wav)");
    case Format::Mp3:
        return QCoreApplication::translate("MainWindow", "MP3文件 (*.mp3)");
    case Format::Flac:
        break;
    }
    return QCoreApplication::translate("MainWindow", "FLAC文件 (*.flac)");
}

} // namespace AudioExport
