#include "editor/AudioEditorPage.h"

#include "widgets/LoadingOverlay.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/StereoLists.h"
#include "editor/WaveformWidget.h"
#include "engine/devices/AudioEngine.h"
#include "video/VideoPlayerDialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>

namespace {

constexpr int PlaybackTimerIntervalMs = 50;
constexpr int MeterIntervalMs = 50;
// Below this many frames a spectrogram is computed at its first paint, in
// well under a second; longer material is computed in the background.
constexpr qsizetype BackgroundSpectrogramFrames = qsizetype(1) << 21;

} // namespace

AudioEditorPage::AudioEditorPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("AudioEditorPage"));
    setFocusPolicy(Qt::StrongFocus);

    undoStack = new QUndoStack(this);

    playbackTimer = new QTimer(this);
    playbackTimer->setInterval(PlaybackTimerIntervalMs);
    connect(playbackTimer, &QTimer::timeout, this, &AudioEditorPage::onPlaybackTimer);

    meterTimer = new QTimer(this);
    meterTimer->setInterval(MeterIntervalMs);
    connect(meterTimer, &QTimer::timeout, this, &AudioEditorPage::onMeterTimer);

    setupUi();

    loadingOverlay = new LoadingOverlay(this);
}

AudioEditorPage::~AudioEditorPage()
{
    if (engine) {
        engine->stopPlayback();
        engine->stopRecording();
        engine->shutdown();
    }
    deleteEngine();
}

void AudioEditorPage::deleteEngine()
{
    if (!engine)
        return;
    // Replacing the callbacks waits for a block that runs, so none of them
    // can reach the page once the engine is gone.
    engine->setRecordCallback({});
    engine->setPlaybackProcessCallback({});
    delete engine;
    engine = nullptr;
    meterTimer->stop();
}

void AudioEditorPage::loadAudioSamples(const QList<float>& list, int rate)
{
    QElapsedTimer timer;
    timer.start();
    samples = list;
    sampleRate = rate;
    stereoSamples.clear();
    forceMono = 0; // new material is exported as it is
    qDebug() << "[Import] copy samples:" << timer.elapsed() << "ms, count:" << list.size();

    timer.restart();
    syncWaveforms();
    qDebug() << "[Import] syncWaveforms:" << timer.elapsed() << "ms";
    // New material is played from its start, never from the old one's position.
    stopPlayback();
}

void AudioEditorPage::loadStereoAudioSamples(const QList<float>& interleaved, int rate)
{
    QElapsedTimer timer;
    timer.start();
    const qsizetype frames = interleaved.size() / 2;
    // An odd trailing value is half a frame: it is dropped so that the stereo
    // list stays exactly two values per mono sample, which every edit relies on.
    stereoSamples = interleaved.size() == 2 * frames ? interleaved : interleaved.first(2 * frames);
    sampleRate = rate;
    forceMono = 0;

    samples = StereoLists::mixToMono(stereoSamples);
    qDebug() << "[Import] stereo samples:" << timer.elapsed() << "ms, frames:" << frames;

    timer.restart();
    syncWaveforms();
    qDebug() << "[Import] syncWaveforms:" << timer.elapsed() << "ms";
    // New material is played from its start, never from the old one's position.
    stopPlayback();
}

void AudioEditorPage::syncWaveforms()
{
    // The waveform of view 0 is always current: its playhead and selection
    // drive the transport and the edits. The other views are given the lists
    // when they are shown, so a load pays only for what is on screen.
    const double playhead = waveformView->getPlayheadPosition();
    refreshView(waveformView, "waveform1 setAudioData:");
    refreshView(waveformView2, "waveform2 setAudioData:");
    refreshView(spectrumView, "spectrum1 setAudioData:");
    refreshView(spectrumView2, "spectrum2 setAudioData:");
    computeShownSpectrograms();
    // A shorter list pulls the playhead in: the other views, the video and
    // the time follow, so none shows a time past the end.
    if (waveformView->getPlayheadPosition() != playhead)
        movePlayheads(waveformView->getPlayheadPosition());
}

void AudioEditorPage::computeShownSpectrograms()
{
    for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2}) {
        if (!isShown(view) || view->isSpectrumComputed() || view->isComputingInBackground()
            || view->sampleList().size() < BackgroundSpectrogramFrames)
            continue;
        if (!view->computeSpectrumInBackground())
            continue;
        // The rest of the program stays usable while the job runs, and the
        // event loop paints the overlay: no events run here, in the middle
        // of whatever refreshes the views. A wait that holds the window
        // keeps its overlay; hideLoading() shows this one when it ends.
        if (++spectrogramJobs == 1 && !waitHoldsWindow && loadingOverlay)
            loadingOverlay->show(tr("生成频谱图..."), false);
    }
}

void AudioEditorPage::onSpectrogramComputed()
{
    spectrogramJobs = std::max(0, spectrogramJobs - 1);
    // A result for lists replaced meanwhile was dropped: the current ones go next.
    computeShownSpectrograms();
    // A job may end inside a wait (its overlay lets events run): the wait's
    // overlay stays up, and with it the dropping of input.
    if (spectrogramJobs == 0 && !waitHoldsWindow && loadingOverlay)
        loadingOverlay->hide();
}

bool AudioEditorPage::isShown(const QWidget* view) const
{
    const QWidget* page = viewStack ? viewStack->currentWidget() : nullptr;
    return page && (page == view || page->isAncestorOf(view));
}

bool AudioEditorPage::takesDataNow(QWidget* view)
{
    if (!view)
        return false;
    if (view != waveformView && !isShown(view)) {
        staleViews.insert(view);
        return false;
    }
    staleViews.remove(view);
    return true;
}

void AudioEditorPage::followVisibleRange(WaveformWidget* view, double zoom, double start)
{
    setVisibleRange(view, zoom, start);
}

void AudioEditorPage::followVisibleRange(SpectrumAnalyzerWidget* view, double zoom, double start)
{
    setVisibleRange(view, zoom, start);
}

template <typename View>
void AudioEditorPage::setVisibleRange(View* view, double zoom, double start)
{
    if (followingVisibleRange)
        return;
    followingVisibleRange = true;
    view->setZoomLevel(zoom);
    view->setViewStartSec(start);
    followingVisibleRange = false;
}

void AudioEditorPage::refreshView(WaveformWidget* view, const char* label)
{
    if (takesDataNow(view))
        setViewData(view, label);
}

void AudioEditorPage::refreshView(SpectrumAnalyzerWidget* view, const char* label)
{
    if (!takesDataNow(view))
        return;
    if (view != spectrumView2) {
        setViewData(view, label);
        return;
    }
    // New data starts the spectrogram at time 0; in the combined view it
    // keeps the waveform's time axis instead.
    followingVisibleRange = true;
    setViewData(view, label);
    followingVisibleRange = false;
    followVisibleRange(spectrumView2, waveformView2->getZoomLevel(),
                       waveformView2->getViewStartSec());
}

template <typename View>
void AudioEditorPage::setViewData(View* view, const char* label)
{
    QElapsedTimer timer;
    timer.start();
    view->setAudioData(samples, sampleRate, stereoSamples);
    qDebug() << "[Import]  " << label << timer.elapsed() << "ms";
}

void AudioEditorPage::refreshShownViews()
{
    const double playhead = waveformView->getPlayheadPosition();
    if (staleViews.contains(waveformView2) && isShown(waveformView2)) {
        refreshView(waveformView2, "waveform2 setAudioData:");
        waveformView2->setPlayheadPosition(playhead);
    }
    if (staleViews.contains(spectrumView) && isShown(spectrumView)) {
        refreshView(spectrumView, "spectrum1 setAudioData:");
        spectrumView->setPlayheadPosition(playhead);
    }
    if (staleViews.contains(spectrumView2) && isShown(spectrumView2)) {
        refreshView(spectrumView2, "spectrum2 setAudioData:");
        spectrumView2->setPlayheadPosition(playhead);
    }
}

void AudioEditorPage::setVideoPlayerDialog(VideoPlayerDialog* dialog)
{
    if (videoPlayerDialog)
        disconnect(videoDestroyedConnection);
    videoPlayerDialog = dialog;
    if (dialog)
        videoDestroyedConnection = connect(dialog, &QObject::destroyed, this,
                                           [this] { videoPlayerDialog = nullptr; });
}

void AudioEditorPage::showLoading(const QString& message, bool dropInput)
{
    if (!loadingOverlay)
        return;
    waitHoldsWindow = waitHoldsWindow || dropInput;
    loadingOverlay->setGeometry(0, 0, width(), height());
    loadingOverlay->show(message, dropInput);
    QCoreApplication::processEvents();
}

void AudioEditorPage::hideLoading()
{
    if (!loadingOverlay)
        return;
    waitHoldsWindow = false;
    // Hiding drops the input made while the wait held the window.
    loadingOverlay->hide();
    // Still computing in the background: the overlay stays over the page,
    // and the program takes input meanwhile.
    if (spectrogramJobs > 0)
        loadingOverlay->show(tr("生成频谱图..."), false);
}

void AudioEditorPage::setStatus(const QString& text)
{
    statusBar->showMessage(text, 0);
    if (windowStatusBar)
        windowStatusBar->showMessage(text, 0);
}

void AudioEditorPage::useWindowStatusBar(QStatusBar* windowBar)
{
    windowStatusBar = windowBar;
    statusBar->setVisible(!windowBar);
}

QString AudioEditorPage::statusText() const
{
    return statusBar->currentMessage();
}
