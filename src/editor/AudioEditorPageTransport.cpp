// Playback of the single-track page: the engine plays a shared copy of the
// mono list, a 50 ms timer moves the playheads from the engine's position,
// and the output level reaches the meters through an atomic read by a GUI timer.

#include "editor/AudioEditorPage.h"

#include "dialogs/EqualizerDialog.h"
#include "widgets/MeterLevel.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"
#include "engine/devices/AudioEngine.h"
#include "video/VideoPlayerDialog.h"

#include <QDebug>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int EngineBufferFrames = 512;

// (int)(seconds * rate), saturating, then clamped to [0, size].
int sampleIndexAt(double seconds, int rate, qsizetype size)
{
    const double raw = seconds * rate;
    qsizetype index = 0;
    if (raw >= double(size))
        index = size;
    else if (raw > 0.0)
        index = qsizetype(raw);
    return int(std::clamp<qsizetype>(index, 0, size));
}

} // namespace

bool AudioEditorPage::ensurePlaybackEngine()
{
    if (engine)
        return true;
    engine = new AudioEngine();
    if (!engine->initialize(sampleRate, EngineBufferFrames)) {
        setStatus(tr("错误：无法初始化音频引擎"));
        deleteEngine();
        return false;
    }
    // The audio thread only stores the level; meterTimer shows it.
    engine->setPlaybackProcessCallback([this](float* buffer, int frames) {
        if (buffer && frames > 0)
            playbackLevel.store(MeterLevel::rms(buffer, frames));
    });
    connect(engine, &AudioEngine::streamLost, this, &AudioEditorPage::onEngineStreamLost);
    meterTimer->start();
    return true;
}

void AudioEditorPage::onEngineStreamLost()
{
    if (isRecording)
        endLostTake();
    else if (isPlaying)
        endLostPlayback();
}

void AudioEditorPage::endLostPlayback()
{
    playbackTimer->stop();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
    setMeterLevel(0);
    // The engine's position stands where the sound stopped: the next play goes on from there.
    const bool ownPlayback = engine && engine->playbackData();
    const int stoppedAt = engine ? engine->getPosition() : 0;
    // A start the device answered only after the press had returned may have failed:
    // then nothing was played and no device went away.
    const bool neverStarted = engine && engine->startFailedInBackground();
    if (engine) {
        engine->pausePlayback();
        engine->stop(); // its stream is of no further use
    }
    if (ownPlayback && sampleRate > 0)
        movePlayheads(double(stoppedAt) / sampleRate);
    if (videoPlayerDialog)
        videoPlayerDialog->syncPause();
    setStatus(neverStarted ? tr("无法开始播放：音频设备不可用")
                           : tr("播放中断：音频设备或声音服务器已断开"));
}

void AudioEditorPage::onMeterTimer()
{
    if (isRecording)
        return; // the take's blocks drive the meters
    setMeterLevel(engine && engine->isPlaying() ? playbackLevel.load() : 0);
}

void AudioEditorPage::onPlayPauseClicked()
{
    if (isRecording)
        return;
    // Nothing to play: the transport keeps its idle look.
    if (samples.isEmpty()) {
        setStatus(tr("没有音频数据"));
        return;
    }
    if (!ensurePlaybackEngine())
        return;
    // An equaliser preview gives the engine back first: the page's own
    // material never plays through the preview's filter.
    EqualizerDialog::endPreviewOn(engine);

    if (engine->isPlaying()) {
        engine->pausePlayback();
        playbackTimer->stop();
        isPlaying = false;
        setMeterLevel(0);
        playButton->setText(QStringLiteral(">"));
        setStatus(tr("已暂停"));
        if (videoPlayerDialog)
            videoPlayerDialog->syncPause();
        return;
    }
    if (!startPlayback()) {
        // Refused at once: the transport never left its idle look.
        setStatus(tr("无法开始播放：音频设备不可用"));
        return;
    }
    isPlaying = true;
    playButton->setText(QStringLiteral("||"));
    setStatus(tr("播放中..."));
    if (videoPlayerDialog)
        videoPlayerDialog->syncPlay();
}

bool AudioEditorPage::startPlayback()
{
    if (samples.isEmpty() || !engine)
        return false;
    int start = sampleIndexAt(waveformView->getPlayheadPosition(), sampleRate, samples.size());
    if (start >= samples.size()) {
        // At the end (after a play-through): play from the beginning.
        start = 0;
        movePlayheads(0.0);
    }
    qDebug() << "[Playback] sampleRate:" << sampleRate << "totalSamples:" << samples.size()
             << "startSample:" << start
             << "duration(s):" << (sampleRate > 0 ? double(samples.size()) / sampleRate : 0.0);
    // The engine reads this copy until it stops; constData() does not detach
    // it, so later edits write the page's own list and leave it in place.
    // The engine lets go of the previous copy (a paused source) before it is replaced.
    engine->stopPlayback();
    playbackSamples = samples;
    if (!engine->startPlayback(playbackSamples.constData(), int(playbackSamples.size()), sampleRate, start)) {
        playbackSamples.clear();
        return false;
    }
    playbackTimer->start();
    return true;
}

void AudioEditorPage::onPlaybackTimer()
{
    // Lost rather than played out (the engine's own signal may come after this tick).
    if (engine && !engine->isPlaying() && engine->isStreamLost()) {
        endLostPlayback();
        return;
    }
    if (engine && engine->isPlaying()) {
        const double t = sampleRate > 0 ? double(engine->getPosition()) / sampleRate : 0.0;
        for (WaveformWidget* view : {waveformView, waveformView2})
            view->setPlayheadPosition(t);
        for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2})
            view->setPlayheadPosition(t);
        if (videoPlayerDialog)
            videoPlayerDialog->syncPosition(t);
        updateTimeLabel();
        return;
    }
    playbackTimer->stop();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
    setMeterLevel(0);
    // The playhead rests where the engine stopped (the end after a
    // play-through), not at the last tick before it.
    if (engine && sampleRate > 0)
        movePlayheads(double(engine->getPosition()) / sampleRate);
    setStatus(tr("播放完成"));
}

void AudioEditorPage::onStopClicked()
{
    stopPlayback();
    // Stop leaves a take running: the status goes on saying so.
    if (!isRecording)
        setStatus(tr("已停止"));
}

void AudioEditorPage::stopPlayback()
{
    if (engine)
        engine->stopPlayback();
    playbackTimer->stop();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
    for (WaveformWidget* view : {waveformView, waveformView2})
        view->setPlayheadPosition(0.0);
    for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2})
        view->setPlayheadPosition(0.0);
    if (videoPlayerDialog)
        videoPlayerDialog->syncPosition(0.0);
    updateTimeLabel();
    setMeterLevel(0);
    if (videoPlayerDialog) {
        videoPlayerDialog->syncPause();
        videoPlayerDialog->syncPosition(0.0);
    }
}

void AudioEditorPage::onRewindClicked()
{
    const double t = waveformView->hasSelection() ? waveformView->getSelectionStart() : 0.0;
    movePlayheads(t);
    setStatus(tr("快退"));
}

void AudioEditorPage::onFastForwardClicked()
{
    double t = waveformView->getPlayheadPosition();
    if (waveformView->hasSelection())
        t = waveformView->getSelectionEnd();
    else if (sampleRate >= 1 && !samples.isEmpty())
        t = double(samples.size()) / sampleRate;
    movePlayheads(t);
    setStatus(tr("快进"));
}

void AudioEditorPage::movePlayheads(double seconds)
{
    setPlayheadAll(seconds);
    updateTimeLabel();
}

void AudioEditorPage::setPlayheadAll(double seconds)
{
    for (WaveformWidget* view : {waveformView, waveformView2})
        if (view)
            view->setPlayheadPosition(seconds);
    for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2})
        if (view)
            view->setPlayheadPosition(seconds);
    if (videoPlayerDialog)
        videoPlayerDialog->syncPosition(seconds);
}

void AudioEditorPage::updateTimeLabel()
{
    if (!timeLabel)
        return;
    double t = waveformView->getPlayheadPosition();
    if (engine && engine->isPlaying() && sampleRate > 0)
        t = double(engine->getPosition()) / sampleRate;
    else if (isRecording)
        t = recordSeconds;
    const int ms = int(t * 1000.0);
    const int hours = ms / 3600000;
    const int minutes = (ms - hours * 3600000) / 60000;
    const int seconds = (ms - (ms / 60000) * 60000) / 1000;
    const int millis = ms - (ms / 1000) * 1000;
    timeLabel->setText(QStringLiteral("%1:%2:%3.%4")
                           .arg(hours, 2, 10, QLatin1Char('0'))
                           .arg(minutes, 2, 10, QLatin1Char('0'))
                           .arg(seconds, 2, 10, QLatin1Char('0'))
                           .arg(millis, 3, 10, QLatin1Char('0')));
}

void AudioEditorPage::setMeterLevel(int level)
{
    meterLeft->setValue(level);
    meterRight->setValue(level);
}

void AudioEditorPage::updateMeters(const float* data, int count, bool stereo)
{
    if (!data || count < 1)
        return;
    if (stereo && count >= 2) {
        const int paired = count / 2 * 2; // whole L, R pairs only
        meterLeft->setValue(MeterLevel::finiteRms(data, paired, 0, 2));
        meterRight->setValue(MeterLevel::finiteRms(data, paired, 1, 2));
        return;
    }
    setMeterLevel(MeterLevel::finiteRms(data, count, 0, 1));
}
