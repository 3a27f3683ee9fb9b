#include "editor/AudioEditorPage.h"

#include "app/shared/LoadingOverlay.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"
#include "engine/AudioEngine.h"
#include "video/VideoPlayerDialog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>

namespace {

constexpr int PlaybackTimerIntervalMs = 50;

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
}

void AudioEditorPage::loadAudioSamples(const QList<float>& list, int rate)
{
    QElapsedTimer timer;
    timer.start();
    samples = list;
    sampleRate = rate;
    stereoSamples.clear();
    qDebug() << "[Import] copy samples:" << timer.elapsed() << "ms, count:" << list.size();

    timer.restart();
    syncWaveforms();
    qDebug() << "[Import] syncWaveforms:" << timer.elapsed() << "ms";
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

    QList<float> mono(frames);
    const float* in = stereoSamples.constData();
    float* out = mono.data();
    for (qsizetype i = 0; i < frames; ++i)
        out[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
    samples = std::move(mono);
    qDebug() << "[Import] stereo samples:" << timer.elapsed() << "ms, frames:" << frames;

    timer.restart();
    syncWaveforms();
    qDebug() << "[Import] syncWaveforms:" << timer.elapsed() << "ms";
}

void AudioEditorPage::syncWaveforms()
{
    QElapsedTimer timer;
    const auto timed = [&](auto* view, const char* label) {
        if (!view)
            return;
        timer.start();
        view->setAudioData(samples, sampleRate, stereoSamples);
        qDebug() << "[Import]  " << label << timer.elapsed() << "ms";
    };
    timed(waveformView, "waveform1 setAudioData:");
    timed(waveformView2, "waveform2 setAudioData:");
    timed(spectrumView, "spectrum1 setAudioData:");
    timed(spectrumView2, "spectrum2 setAudioData:");
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

void AudioEditorPage::showLoading(const QString& message)
{
    if (!loadingOverlay)
        return;
    loadingOverlay->setGeometry(0, 0, width(), height());
    loadingOverlay->show(message);
    QCoreApplication::processEvents();
}

void AudioEditorPage::hideLoading()
{
    if (loadingOverlay)
        loadingOverlay->hide();
}

void AudioEditorPage::setStatus(const QString& text)
{
    statusBar->showMessage(text, 0);
}

QString AudioEditorPage::statusText() const
{
    return statusBar->currentMessage();
}
