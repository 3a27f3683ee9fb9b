// Project commands: new single-track and multitrack projects, save, save as
// and close.

#include "app/MainWindow.h"

#include "app/NewProjectDialog.h"
#include "app/ProjectDocument.h"
#include "app/ShellPrompts.h"
#include "app/WelcomePage.h"
#include "audio/codecs/WavWriter.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/ProjectSampleRate.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "widgets/LoadingOverlay.h"
#include "widgets/WorkerWait.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUndoStack>

namespace {

const char* const ProjectFilter = "卡德文项目 (*.cdw);;所有文件 (*)";
// A MIDI track saved without clips opens with one empty clip of this length.
constexpr double EmptyMidiClipSeconds = 4.0;
// An opened project's rows are built this many at a time, or for this long,
// between turns of the event loop.
constexpr int RowsPerSlice = 4;
constexpr qint64 SliceMs = 20;

} // namespace

void MainWindow::showStatus(const QString& text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void MainWindow::showNewProjectDialog(const QString& type)
{
    NewProjectDialog dialog(this);
    if (prompts().exec(&dialog) != QDialog::Accepted)
        return;

    if (stackedWidget->currentIndex() == WelcomePageIndex) {
        openNewProject(type, dialog.sampleRate(), dialog.bitDepth(), dialog.mono());
        return;
    }
    // A project page shows: the new project gets a window of its own and
    // this window keeps its project.
    auto* window = new MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setPrompts(shellPrompts);
    window->openNewProject(type, dialog.sampleRate(), dialog.bitDepth(), dialog.mono());
    window->resize(size());
    window->show();
}

void MainWindow::openNewProject(const QString& type, int sampleRate, int bitDepth, bool mono)
{
    // The project that is open is saved or given up first, never dropped unasked.
    if (!settleOpenProject())
        return;
    projectType = type;
    newSampleRate = sampleRate;
    newBitDepth = bitDepth;
    newMono = mono;
    createNewProject();
}

bool MainWindow::settleOpenProject(bool* saved)
{
    if (saved)
        *saved = false;
    if (!projectOpen)
        return true;
    const QMessageBox::StandardButton answer =
        askToSaveProject(tr("关闭项目"), tr("当前有打开的项目，是否在关闭前保存？"));
    if (answer == QMessageBox::Cancel)
        return false;
    // Nothing records or plays on for a project that is saved or given up,
    // and the single-track page's edits are settled.
    stopProjectTransports();
    audioEditorPage->markSaved();
    if (saved)
        *saved = answer == QMessageBox::Save;
    return true;
}

QMessageBox::StandardButton MainWindow::askToSaveProject(const QString& title, const QString& text)
{
    const auto answer = prompts().question(this, title, text,
                                           QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                           QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return QMessageBox::Discard;
    if (answer != QMessageBox::Save)
        return QMessageBox::Cancel;
    // Where it is saved is settled first: a cancelled save-as leaves the
    // project as it was, its take and playback still running.
    const QString target = currentProjectPath.isEmpty() ? chooseProjectPath() : currentProjectPath;
    if (target.isEmpty())
        return QMessageBox::Cancel;
    // A take still running belongs to the project: it ends and lands in its
    // page before the save.
    endRunningTakes();
    return saveProject(target) ? QMessageBox::Save : QMessageBox::Cancel;
}

bool MainWindow::settleEditedMaterial()
{
    if (!projectOpen || fileCommandsOnMultiTrack() || !audioEditorPage->hasUnsavedEdits())
        return true;
    return askToSaveProject(tr("导入"), tr("当前音频有未保存的更改，导入将替换它。是否先保存项目？"))
        != QMessageBox::Cancel;
}

void MainWindow::endRunningTakes()
{
    if (audioEditorPage->recording())
        audioEditorPage->stopRecording();
    if (multiTrackPage->recording())
        multiTrackPage->onRecord(); // ends the audio and MIDI take alike
}

void MainWindow::stopProjectTransports()
{
    endRunningTakes();
    if (audioEditorPage->playing())
        audioEditorPage->stopPlayback();
    if (multiTrackPage->playing())
        multiTrackPage->onStop();
}

void MainWindow::createNewProject()
{
    projectOpen = true;
    projectIdentity = ProjectIdentity();
    if (projectType == QLatin1String("single")) {
        audioEditorPage->sampleRate = newSampleRate;
        audioEditorPage->bitDepth = newBitDepth;
        audioEditorPage->forceMono = newMono ? 1 : 0;
        stackedWidget->setCurrentWidget(audioEditorPage);
        showStatus(tr("已创建新单轨项目 (%1 Hz)").arg(newSampleRate));
    } else {
        multiTrackPage->chooseSampleRate(newSampleRate);
        multiTrackPage->bitDepth = newBitDepth;
        multiTrackPage->mono = newMono;
        stackedWidget->setCurrentWidget(multiTrackPage);
        showStatus(tr("已创建新多轨项目 (%1 Hz)").arg(newSampleRate));
    }
    setProjectActionsEnabled(true);
    updateStatusBar();
}

bool MainWindow::saveProject(const QString& path)
{
    if (!projectOpen)
        return false;
    const QString target = path.isEmpty() ? currentProjectPath : path;
    if (target.isEmpty())
        return saveProjectAs();

    // A take still running ends first and lands in its page: the file holds
    // it, and nothing grows the track lists while they are written.
    endRunningTakes();
    showLoading(tr("保存中..."));
    // The writer works on a copy of the lists that shares their samples, so
    // it copies no audio and nothing done on this thread meanwhile can reach
    // what it writes (the overlay drops the user's input anyway).
    ProjectDocument::Content content;
    if (projectType == QLatin1String("single")) {
        // The file holds the material, never an effect's preview shown on it.
        audioEditorPage->endPreview();
        content = ProjectDocument::fromSingleTrack(
            ProjectDocument::projectName(target), audioEditorPage->samples,
            audioEditorPage->stereoSamples, audioEditorPage->sampleRate,
            audioEditorPage->bitDepth, audioEditorPage->forceMono != 0);
    } else {
        content.tracks = multiTrackPage->tracks;
        content.markers = multiTrackPage->markers;
        content.settings = multiTrackSettings();
    }
    // Writing 64 tracks takes many seconds: a worker writes while the overlay turns.
    QString failure;
    ProjectIdentity identity = projectIdentity;
    WorkerWait::run([&] {
        failure = ProjectDocument::save(target, content.tracks, content.settings, content.markers,
                                        &identity);
    });
    hideLoading();
    if (!failure.isEmpty()) {
        prompts().warning(this, tr("保存失败"), failure);
        return false;
    }
    currentProjectPath = target;
    projectIdentity = identity;
    if (projectType == QLatin1String("single"))
        audioEditorPage->markSaved();
    showStatus(tr("已保存: %1").arg(QFileInfo(target).fileName()));
    updateStatusBar();
    return true;
}

bool MainWindow::saveProjectAs()
{
    const QString path = chooseProjectPath();
    return !path.isEmpty() && saveProject(path);
}

QString MainWindow::chooseProjectPath()
{
    const QString path = prompts().saveFileName(this, tr("保存项目"), tr(ProjectFilter));
    return path.isEmpty() ? QString() : ProjectDocument::withProjectSuffix(path);
}

ProjectSettings MainWindow::multiTrackSettings() const
{
    ProjectSettings settings;
    settings.sampleRate = multiTrackPage->sampleRate();
    settings.bitDepth = multiTrackPage->bitDepth;
    settings.channels = multiTrackPage->mono ? 1 : 2;
    settings.tempo = multiTrackPage->bpm;
    return settings;
}

void MainWindow::importProject()
{
    const QString path = prompts().openFileName(this, tr("打开卡德文项目"), tr(ProjectFilter));
    if (!path.isEmpty())
        loadProject(path);
}

bool MainWindow::readProjectFile(const QString& path, ProjectData& data, TrackPeaks& peaks)
{
    showLoading(tr("加载中..."));
    data = ProjectData();
    peaks.clear();
    // Reading 64 tracks takes many seconds: a worker reads, and summarises
    // the waveforms the rows will draw, while the overlay turns; this thread
    // puts the result into the page afterwards.
    QString failure;
    WorkerWait::run([&] {
        failure = ProjectDocument::load(path, data);
        if (!failure.isEmpty())
            return;
        peaks.reserve(data.tracks.size());
        for (const TrackData& track : data.tracks)
            peaks.push_back(track.isMidi() ? std::vector<ClipPeakCache::Prepared>()
                                           : AudioClipWidget::preparePeaks(track));
    });
    hideLoading();
    if (failure.isEmpty())
        return true;
    prompts().warning(this, tr("打开失败"), failure);
    return false;
}

void MainWindow::loadProject(const QString& path)
{
    ProjectData data;
    TrackPeaks peaks;
    if (!readProjectFile(path, data, peaks))
        return;
    // The file is good: only now may the open project make way for it.
    bool saved = false;
    if (!settleOpenProject(&saved))
        return;
    // Saving the open project may just have rewritten this very file: what
    // opens is what it holds now, not the copy read before the save.
    if (saved && QFileInfo(currentProjectPath) == QFileInfo(path) && !readProjectFile(path, data, peaks))
        return;

    showLoading(tr("加载中..."));
    const int trackCount = int(data.tracks.size());
    // The page shows under the overlay while its rows are built, so each
    // slice of rows is styled and laid out in the turn after it, never all
    // of them at once. The stack raises the page it shows: the overlay goes
    // back on top, and the rows are painted once, when it goes.
    stackedWidget->setCurrentWidget(multiTrackPage);
    loadingOverlay->raise();
    restoreMultiTrackProject(data, peaks);
    projectType = QStringLiteral("multi");
    projectOpen = true;
    currentProjectPath = path;
    projectIdentity = ProjectIdentity{data.id, data.createdAt};
    setProjectActionsEnabled(true);
    hideLoading();
    showStatus(tr("已加载项目: %1 (%2条轨道)").arg(ProjectDocument::projectName(path)).arg(trackCount));
    updateStatusBar();
    // Clips whose rate could not be used play at the default one: said once,
    // with a long list cut short so the box stays on screen.
    const QStringList& defaulted = data.defaultRateClips;
    if (!defaulted.isEmpty()) {
        constexpr int MaxNamed = 8;
        QString names = defaulted.mid(0, MaxNamed).join(tr("、"));
        if (defaulted.size() > MaxNamed)
            names += tr("等共%1个片段").arg(defaulted.size());
        prompts().information(this, tr("打开项目"),
                              tr("以下音频片段的采样率无法使用，已按 %1 Hz 打开: %2")
                                  .arg(AudioClip().sampleRate)
                                  .arg(names));
    }
}

void MainWindow::restoreMultiTrackProject(ProjectData& data, TrackPeaks& peaks)
{
    MultiTrackEditorPage* page = multiTrackPage;
    // Letting go of a large project's audio takes a while: the page drops
    // its share of the lists, and a worker frees them while the overlay turns.
    std::vector<TrackData> released = page->tracks;
    page->clearTracks();
    WorkerWait::run([&released] { released.clear(); });
    // A rate the plug-ins cannot run at opens as the nearest they can; the
    // clips keep their own rates and are resampled when played.
    const int rate = ProjectSampleRate::nearest(data.settings.sampleRate);
    if (rate != data.settings.sampleRate)
        qWarning() << "MainWindow: project rate" << data.settings.sampleRate << "Hz opens as" << rate << "Hz";
    page->chooseSampleRate(rate);
    // A bit depth no export can write (a damaged file) would fail every
    // export; it reads as the format's default.
    page->bitDepth = WavWriter::supportsBits(data.settings.bitDepth) ? data.settings.bitDepth
                                                                    : ProjectSettings().bitDepth;
    page->mono = data.settings.channels == 1;
    setMultiTrackTempo(data.settings.tempo);

    // Each track is restored whole (clips, trims, fades, envelope, MIDI
    // channel, preset) before its row is built, so the row shows it and its
    // instrument takes the track's preset on the track's channel. The rows
    // come in slices with a turn of the event loop between them (the
    // overlay drops the user's input meanwhile): however many tracks there
    // are, the window is never blocked for longer than a slice.
    page->tracks.reserve(data.tracks.size());
    QElapsedTimer slice;
    slice.start();
    int rowsInSlice = 0;
    for (TrackData& track : data.tracks) {
        if (track.isMidi() && track.midiClips.empty()) {
            MidiClip empty;
            empty.duration = EmptyMidiClipSeconds;
            track.midiClips.push_back(empty);
        }
        for (size_t i = 0; i < track.midiClips.size(); ++i)
            track.midiClips[i].id = int(i);
        const size_t index = page->tracks.size();
        const TrackData* oldAddress = page->tracks.data();
        page->tracks.push_back(std::move(track));
        if (page->tracks.data() != oldAddress)
            page->rebindTrackRows();
        page->createTrackRow(int(index));
        // The lists kept their place in the move: the summaries fit them.
        if (index < peaks.size() && index < page->rows.size() && page->rows[index]->audioLane())
            page->rows[index]->audioLane()->adoptPeaks(std::move(peaks[index]));
        if (++rowsInSlice >= RowsPerSlice || slice.elapsed() >= SliceMs) {
            QCoreApplication::processEvents();
            rowsInSlice = 0;
            slice.restart();
        }
    }
    page->updateRuler();
    page->setMarkers(data.markers);
    page->undoStack->clear();
}

void MainWindow::setMultiTrackTempo(double bpm)
{
    MultiTrackEditorPage* page = multiTrackPage;
    page->bpm = bpm;
    if (page->bpmSpinBox) {
        // The box tells the lanes' snapping; a tempo beyond its range is held at its limit.
        page->bpmSpinBox->setValue(bpm);
        page->bpm = page->bpmSpinBox->value();
    }
    page->ruler->setBpm(page->bpm);
}

void MainWindow::closeProject()
{
    if (!projectOpen)
        return;
    const auto answer = prompts().question(
        this, tr("关闭项目"), tr("确定要关闭当前项目吗？未保存的更改将会丢失。"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    projectOpen = false;
    currentProjectPath.clear();
    projectIdentity = ProjectIdentity();
    stackedWidget->setCurrentWidget(welcomePage);
    setProjectActionsEnabled(false);
    showStatus(tr("项目已关闭"));
    updateStatusBar();
}
