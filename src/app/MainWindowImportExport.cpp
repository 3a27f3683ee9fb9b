// File menu imports and exports: audio (and video) files, Standard MIDI
// Files, and WAV, MP3 and FLAC exports of the page that shows.

#include "app/MainWindow.h"

#include "app/ImportedAudioPlacement.h"
#include "app/MidiImport.h"
#include "app/ShellPrompts.h"
#include "app/VideoFiles.h"
#include "audio/AudioProcessor.h"
#include "editor/AudioEditorPage.h"
#include "engine/midi/MidiFileReader.h"
#include "multitrack/MultiTrackEditorPage.h"

#include "widgets/WorkerWait.h"

#include <QDoubleSpinBox>
#include <QFileInfo>

namespace {

const char* const AudioImportFilter =
    "音视频文件 (*.wav *.mp3 *.flac *.ogg *.mp4 *.mkv *.avi *.mov *.flv *.ts);;"
    "音频文件 (*.wav *.mp3 *.flac *.ogg);;"
    "视频文件 (*.mp4 *.mkv *.avi *.mov *.flv *.ts);;所有文件 (*)";
const char* const MidiImportFilter = "MIDI 文件 (*.mid *.midi);;所有文件 (*)";

// The first error a processor reports, shown once the overlay is gone.
class ProcessorErrors {
public:
    explicit ProcessorErrors(AudioProcessor& processor)
    {
        QObject::connect(&processor, &AudioProcessor::errorOccurred, &processor,
                         [this](const QString& message) {
                             if (first.isEmpty())
                                 first = message;
                         });
    }
    QString first;
};

} // namespace

bool MainWindow::importRefusedDuringTake()
{
    if (fileCommandsOnMultiTrack() || !audioEditorPage->recording())
        return false;
    hideLoading();
    prompts().information(this, tr("导入"), tr("录音中无法导入音频，请先停止录音"));
    return true;
}

void MainWindow::importAudio()
{
    if (importRefusedDuringTake())
        return;
    const QString path = prompts().openFileName(this, tr("导入音频/视频"), tr(AudioImportFilter));
    if (path.isEmpty())
        return;
    if (VideoFiles::isVideoFile(path)) {
        importVideoFile(path);
        return;
    }
    // The page's material and history make way only as the user says.
    if (!settleEditedMaterial())
        return;

    showLoading(tr("导入音频..."));
    AudioProcessor processor;
    ProcessorErrors errors(processor);
    if (!processor.loadAudioFile(path)) {
        hideLoading();
        prompts().warning(this, tr("导入失败"), errors.first);
        return;
    }
    // The overlay let events run: a take may have started meanwhile.
    if (importRefusedDuringTake())
        return;
    const auto pageRate = [this] {
        return fileCommandsOnMultiTrack() ? multiTrackPage->sampleRate() : audioEditorPage->sampleRate;
    };
    const int rateBefore = pageRate();
    const QString refused = ImportedAudioPlacement::place(
        audioEditorPage, multiTrackPage, fileCommandsOnMultiTrack(), processor.samples,
        processor.stereoSamples, processor.sampleRate, QFileInfo(path).baseName());
    if (!refused.isEmpty()) {
        hideLoading();
        prompts().warning(this, tr("导入失败"), refused);
        return;
    }
    refreshMixerIfShowing();
    hideLoading();
    const QString name = QFileInfo(path).fileName();
    const QString damage = processor.damageNote();
    // A project that took the material's rate says so, not silently: on the
    // multitrack page one whose rate nobody chose, on the single-track page
    // any (it keeps the file's own samples).
    const int rate = pageRate();
    const QString rateNote = rate == rateBefore ? QString() : tr("，项目采样率已设为 %1 Hz").arg(rate);
    if (damage.isEmpty()) {
        showStatus(tr("已导入: %1").arg(name) + rateNote);
        return;
    }
    // A damaged file still imports what could be read, but not silently.
    showStatus(tr("已导入: %1（%2）").arg(name, damage) + rateNote, 5000);
    prompts().information(this, tr("导入"), tr("已导入: %1\n%2").arg(name, damage));
}

void MainWindow::importMidi()
{
    const QString path = prompts().openFileName(this, tr("导入MIDI"), tr(MidiImportFilter));
    if (path.isEmpty())
        return;

    showLoading(tr("导入MIDI..."));
    QList<ImportedMidiTrack> tracks;
    double durationSeconds = 0.0;
    double bpm = 120.0;
    if (!parseMidiFile(path, tracks, durationSeconds, bpm)) {
        hideLoading();
        prompts().warning(this, tr("导入失败"),
                          tr("无法解析MIDI文件: %1").arg(QFileInfo(path).fileName()));
        return;
    }
    hideLoading();
    if (!fileCommandsOnMultiTrack()) {
        prompts().information(this, tr("导入MIDI"), tr("请先创建多轨项目再导入MIDI文件"));
        return;
    }

    MultiTrackEditorPage* page = multiTrackPage;
    // A file tempo beyond what the tempo box holds is offered as the tempo
    // the project would take, and once the project has that tempo the
    // notes are converted for it, so the file plays at its own speed.
    const double settable = page->bpmSpinBox ? MidiImport::settableTempo(bpm, page->bpmSpinBox->minimum(),
                                                                          page->bpmSpinBox->maximum())
                                             : bpm;
    double notesBpm = settable;
    if (MidiImport::tempoDiffers(settable, page->bpm)) {
        // What the box will hold, to its last decimal.
        const double offered = page->bpmSpinBox ? MidiImport::boxTempo(settable, page->bpmSpinBox->decimals())
                                                : settable;
        const QString question =
            tr("MIDI文件的 tempo 为 %1 BPM，当前项目 tempo 为 %2 BPM。\n是否将项目 tempo 设为 %3 BPM？")
                .arg(QString::number(bpm, 'f', 1), QString::number(page->bpm, 'f', 1),
                     QString::number(offered, 'f', 1));
        if (prompts().question(this, tr("导入MIDI"), question, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes)
            == QMessageBox::Yes) {
            setMultiTrackTempo(offered);
            notesBpm = page->bpm;
        } else {
            notesBpm = bpm; // the file's beats on the project's beats
        }
    }
    const qsizetype fileTracks = tracks.size();
    if (fileTracks > MidiImport::MaximumTracksPerFile)
        tracks.resize(MidiImport::MaximumTracksPerFile);
    // The notes keep the file's timing on the page's MIDI axis, whatever
    // tempo earlier imports had.
    std::vector<MidiImport::Track> imported = MidiImport::toSourceAxis(tracks, notesBpm, page->midiSourceBpm);
    for (MidiImport::Track& track : imported)
        page->addMidiTrack(track.name, std::move(track.notes), track.clipLength);
    refreshMixerIfShowing();
    showStatus(tr("已导入MIDI: %1 (%2条轨道)").arg(QFileInfo(path).fileName()).arg(imported.size()));
    if (fileTracks > MidiImport::MaximumTracksPerFile)
        prompts().information(this, tr("导入MIDI"),
                              tr("MIDI文件有 %1 条轨道，一个文件最多导入 %2 条；只导入了前 %2 条。")
                                  .arg(fileTracks)
                                  .arg(MidiImport::MaximumTracksPerFile));
}

void MainWindow::exportAudio(AudioExport::Format format)
{
    if (fileCommandsOnMultiTrack()) {
        exportMixdown(format);
        return;
    }
    AudioEditorPage* page = audioEditorPage;
    // The file holds the material, never an effect's preview shown on it.
    page->endPreview();
    const AudioExport::Request request = AudioExport::fromSingleTrack(
        format, page->samples, page->stereoSamples, page->bitDepth, page->forceMono != 0);
    if (request.data.isEmpty()) {
        prompts().information(this, tr("导出"), tr("没有可导出的音频数据"));
        return;
    }
    const QString path = prompts().saveFileName(this, AudioExport::dialogTitle(format),
                                                AudioExport::dialogFilter(format));
    if (!path.isEmpty())
        writeExport(path, request, page->sampleRate);
}

void MainWindow::exportMixdown(AudioExport::Format format)
{
    showLoading(tr("导出中..."));
    QList<float> mixdown;
    int sampleRate = 0;
    QString note;
    const bool rendered = multiTrackPage->renderMixdown(mixdown, sampleRate, &note);
    hideLoading();
    if (!rendered || mixdown.isEmpty()) {
        prompts().information(this, tr("导出"), note.isEmpty() ? tr("没有可导出的音频数据") : note);
        return;
    }
    const QString path = prompts().saveFileName(this, AudioExport::dialogTitle(format),
                                                AudioExport::dialogFilter(format));
    if (path.isEmpty())
        return;
    writeExport(path,
                AudioExport::fromMixdown(format, std::move(mixdown), multiTrackPage->bitDepth,
                                         multiTrackPage->mono),
                sampleRate, note);
}

void MainWindow::writeExport(const QString& path, const AudioExport::Request& request, int sampleRate,
                             const QString& note)
{
    showLoading(tr("导出中..."));
    // Encoding an hour takes many seconds: a worker writes while the
    // overlay turns.
    AudioExport::Outcome written;
    WorkerWait::run([&] { written = AudioExport::write(path, request, sampleRate); });
    hideLoading();
    if (!written.saved) {
        prompts().warning(this, tr("导出失败"), written.error);
        return;
    }
    showStatus(tr("已导出: %1").arg(QFileInfo(path).fileName()));
    if (!note.isEmpty())
        prompts().information(this, tr("导出"), tr("已导出: %1\n%2").arg(QFileInfo(path).fileName(), note));
}
