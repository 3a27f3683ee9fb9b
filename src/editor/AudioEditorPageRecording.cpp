// Recording into the single-track page. The input comes from a stream of its
// own (record-only: a duplex stream reads input only at its output's pace,
// and input a stalled server holds back would stay behind it), through a
// RecordTakeQueue; the GUI thread drains it into the take, feeds the live
// spectrograms and meters, and refreshes the waveforms on a throttle whose
// interval grows with the cost of a refresh, so a long take never stalls the
// GUI. The take is inserted into the mono list once, at stop, as one
// undoable step (the command inserts it into the stereo list as well).

#include "editor/AudioEditorPage.h"

#include "widgets/MeterLevel.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"
#include "engine/devices/AudioEngine.h"
#include "engine/devices/PermissionManager.h"
#include "engine/devices/RecordTakeQueue.h"
#include "project/SampleListCommands.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

constexpr int EngineBufferFrames = 512;
constexpr int RecordTickMs = 1000;
// How long input can wait for the take queue's spill thread.
constexpr double TakeQueueSeconds = 60.0;
// The views refresh at most ten times a second, and never spend more than a
// tenth of the GUI's time on it.
constexpr qint64 MinTakeRefreshMs = 100;
constexpr qint64 TakeRefreshCostFactor = 10;

QList<float> withTake(const QList<float>& list, qsizetype position, const QList<float>& take)
{
    QList<float> result(list.size() + take.size());
    float* out = std::copy(list.cbegin(), list.cbegin() + position, result.data());
    out = std::copy(take.cbegin(), take.cend(), out);
    std::copy(list.cbegin() + position, list.cend(), out);
    return result;
}

// The stereo list with the take in both channels at `frame`.
QList<float> stereoWithTake(const QList<float>& stereo, qsizetype frame, const QList<float>& take)
{
    QList<float> result(stereo.size() + 2 * take.size());
    float* out = std::copy(stereo.cbegin(), stereo.cbegin() + 2 * frame, result.data());
    for (float value : take) {
        *out++ = value;
        *out++ = value;
    }
    std::copy(stereo.cbegin() + 2 * frame, stereo.cend(), out);
    return result;
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool AudioEditorPage::checkMicrophonePermission()
{
    return PermissionManager::getInstance().checkMicrophonePermission();
}

void AudioEditorPage::requestMicrophonePermission(std::function<void(bool)> callback)
{
    PermissionManager::getInstance().requestMicrophonePermission(std::move(callback));
}

void AudioEditorPage::onRecordClicked()
{
    if (isRecording) {
        stopRecording();
        return;
    }
    if (PermissionManager::getInstance().checkMicrophonePermission()) {
        startRecording();
        return;
    }
    QMessageBox::warning(this, tr("权限申请"),
                         tr("录音需要麦克风权限。\n\n请点击确定后，在系统弹出的权限申请对话框中授予权限。"),
                         QMessageBox::Ok);
    PermissionManager::getInstance().requestMicrophonePermission([this](bool granted) {
        if (granted) {
            startRecording();
            return;
        }
        setStatus(tr("麦克风权限被拒绝，无法录音"));
        QMessageBox::information(
            this, tr("权限被拒绝"),
            tr("麦克风权限被拒绝。\n\n请到系统设置中手动授予权限：\n设置 > 隐私与安全 > 麦克风 > 卡德文Studio"),
            QMessageBox::Ok);
    });
}

void AudioEditorPage::startRecording()
{
    if (isRecording)
        return;
    recordPressNs = steadyNowNs();
    // The take goes into the material, never into a preview shown on it.
    endPreview();
    // A take replaces the playing engine: the playback transport stops first
    // (keeping the playhead, where the take goes).
    if (isPlaying) {
        playbackTimer->stop();
        isPlaying = false;
        playButton->setText(QStringLiteral(">"));
        setMeterLevel(0);
    }
    if (engine) {
        engine->stopPlayback();
        engine->shutdown();
        deleteEngine();
    }

    engine = new AudioEngine();
    engine->setRecordOnly(true); // nothing plays during a take
    if (!engine->initialize(sampleRate, EngineBufferFrames)) {
        failRecordingStart(tr("错误：无法初始化音频引擎"));
        return;
    }
    connect(engine, &AudioEngine::streamLost, this, &AudioEditorPage::onEngineStreamLost);

    const double playhead = waveformView->getPlayheadPosition() * sampleRate;
    recordInsertPos = int(std::clamp<double>(playhead, 0.0, double(samples.size())));
    recordStartCount = int(samples.size());
    samplesBeforeRecording = samples;
    recordSeconds = 0;
    recordTake.clear();
    takeFramesShown = 0;
    lastTakeRefreshMs = 0;
    takeRefreshIntervalMs = MinTakeRefreshMs;
    if (!takeQueue)
        takeQueue = new RecordTakeQueue(this);
    takeQueue->start(TakeQueueSeconds, sampleRate, 1,
                     [this](const float* input, qsizetype count) { appendTakeInput(input, count); });
    RecordTakeQueue* queue = takeQueue;
    engine->setRecordCallback([queue](const float* input, int frames) { queue->push(input, frames); });

    if (!engine->startRecording()) {
        takeQueue->finish();
        recordTake.clear();
        failRecordingStart(tr("错误：无法开始录音"));
        return;
    }

    recordTimer = new QTimer(this);
    connect(recordTimer, &QTimer::timeout, this, &AudioEditorPage::onRecordTick);
    recordTimer->start(RecordTickMs);
    isRecording = true;
    recordButton->setText(tr("停止"));
    recordButton->setStyleSheet(QStringLiteral("background-color: #ff0055; color: white;"));
    setStatus(tr("录音中..."));
    onToolChanged(currentTool); // no spectral erase during the take
    waveformView->setAutoScroll(true);
    waveformView2->setAutoScroll(true);
    // Appending at the end of mono material can grow the views in place;
    // anywhere else they are given the whole list with the take inserted.
    takeAppendsToViews = recordInsertPos == recordStartCount && stereoSamples.isEmpty();
}

void AudioEditorPage::failRecordingStart(const QString& status)
{
    deleteEngine();
    offerEngineToEqualizers();
    samplesBeforeRecording.clear();
    setStatus(status);
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音失败"), status, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void AudioEditorPage::endLostTake()
{
    stopRecording();
    if (lastTakeSeconds <= 0.0) {
        // Nothing ever came: the input could not be opened after all.
        failRecordingStart(tr("错误：无法开始录音"));
        return;
    }
    const QString kept = QString::number(lastTakeSeconds, 'f', 1);
    setStatus(tr("录音中断：音频设备或声音服务器已断开，已保留之前录下的 %1 秒").arg(kept));
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音中断"),
                                tr("录音时音频设备或声音服务器断开了，录音在断开处结束。\n"
                                   "断开之前录下的 %1 秒已插入。")
                                    .arg(kept),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void AudioEditorPage::onRecordTick()
{
    ++recordSeconds;
    updateTimeLabel();
}

void AudioEditorPage::appendTakeInput(const float* input, qsizetype count)
{
    if (!input || count < 1)
        return;
    recordTake.append(QList<float>(input, input + count));
    // The level of the latest block's worth.
    const qsizetype latest = std::min<qsizetype>(count, EngineBufferFrames);
    setMeterLevel(MeterLevel::finiteRms(input + count - latest, int(latest), 0, 1));
    // Hidden spectrograms get the whole list when shown.
    for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2}) {
        if (isShown(view))
            view->processAudioFrame(input, int(count));
        else
            staleViews.insert(view);
    }
    if (isRecording)
        refreshTakeViews(false);
}

void AudioEditorPage::refreshTakeViews(bool force)
{
    if (recordTake.size() == takeFramesShown)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 due = lastTakeRefreshMs + takeRefreshIntervalMs;
    if (!force && now < due) {
        if (!takeRefreshTimer) {
            takeRefreshTimer = new QTimer(this);
            takeRefreshTimer->setSingleShot(true);
            connect(takeRefreshTimer, &QTimer::timeout, this, [this] {
                if (isRecording)
                    refreshTakeViews(false);
            });
        }
        if (!takeRefreshTimer->isActive())
            takeRefreshTimer->start(int(due - now));
        return;
    }

    QElapsedTimer cost;
    cost.start();
    if (takeAppendsToViews) {
        const QList<float> fresh = recordTake.mid(takeFramesShown);
        waveformView->appendAudioData(fresh, sampleRate);
        if (isShown(waveformView2))
            waveformView2->appendAudioData(fresh, sampleRate);
        else
            staleViews.insert(waveformView2);
    } else {
        const qsizetype at = std::clamp<qsizetype>(recordInsertPos, 0, samples.size());
        const QList<float> mono = withTake(samples, at, recordTake);
        const QList<float> stereo = stereoSamples.size() == 2 * samples.size()
                                        ? stereoWithTake(stereoSamples, at, recordTake)
                                        : QList<float>();
        waveformView->setAudioData(mono, sampleRate, stereo);
        if (isShown(waveformView2))
            waveformView2->setAudioData(mono, sampleRate, stereo);
        else
            staleViews.insert(waveformView2);
    }
    takeFramesShown = recordTake.size();
    lastTakeRefreshMs = QDateTime::currentMSecsSinceEpoch();
    takeRefreshIntervalMs = std::max(MinTakeRefreshMs, TakeRefreshCostFactor * cost.elapsed());
}

void AudioEditorPage::startNewHistory()
{
    // Left running, the take would land in the new material at stop and
    // bring back the rate it was recorded at.
    if (isRecording)
        stopRecording();
    undoStack->clear();
    historyTrimReported = false;
}

qsizetype AudioEditorPage::takeLeadInFrames() const
{
    // When the first blocks allow the input to have begun: a stall later in
    // the take (input held back, or never delivered) does not move it.
    const qint64 beganNs = takeQueue ? takeQueue->inputBeganNs(sampleRate) : 0;
    if (beganNs == 0 || sampleRate < 1)
        return 0;
    const double lateSeconds = double(beganNs - recordPressNs) / 1e9;
    if (lateSeconds <= 0.0)
        return 0;
    const auto frames = qsizetype(std::llround(lateSeconds * sampleRate));
    qDebug() << "AudioEditorPage: input began" << int(lateSeconds * 1000.0)
             << "ms after the press; the take starts with that much silence";
    return frames;
}

void AudioEditorPage::stopRecording()
{
    const qint64 stopNs = steadyNowNs();
    double unreceivedSeconds = 0.0;
    if (engine) {
        if (engine->getSampleRate() != sampleRate)
            sampleRate = engine->getSampleRate();
        // Input the device took before the stop is waited for a moment; a
        // stream whose device went away hands over nothing more.
        if (isRecording && takeQueue && takeQueue->isActive() && !engine->isStreamLost())
            unreceivedSeconds = takeQueue->inputMissingAtStop(stopNs);
        engine->stopRecording();
        engine->shutdown();
        deleteEngine();
    }
    offerEngineToEqualizers();
    // The input stream is closed: what is still queued goes into the take now.
    qint64 droppedSamples = 0;
    if (takeQueue && takeQueue->isActive()) {
        takeQueue->finish();
        droppedSamples = takeQueue->droppedSamples();
    }
    if (recordTimer) {
        recordTimer->stop();
        recordTimer->deleteLater();
        recordTimer = nullptr;
    }
    if (takeRefreshTimer)
        takeRefreshTimer->stop();
    const bool wasRecording = isRecording;
    isRecording = false;
    recordButton->setText(tr("录制"));
    recordButton->setStyleSheet(QString());
    setMeterLevel(0); // nothing is heard any more
    onToolChanged(currentTool);
    if (!wasRecording)
        return;

    lastTakeSeconds = 0.0;
    QList<float> take = std::exchange(recordTake, QList<float>());
    // Where the device delivered nothing for a while and never made up for
    // it, silence keeps what came after at its own time.
    if (!take.isEmpty() && takeQueue) {
        const std::vector<RecordTakeQueue::InputStall> stalls = takeQueue->inputStalls();
        for (auto stall = stalls.rbegin(); stall != stalls.rend(); ++stall) {
            qDebug() << "AudioEditorPage: the input stood" << stall->samples * 1000 / std::max(sampleRate, 1)
                     << "ms after sample" << stall->atSample << "; silence keeps the rest in place";
            take.insert(std::min<qsizetype>(stall->atSample, take.size()), stall->samples, 0.0f);
        }
        take.insert(0, takeLeadInFrames(), 0.0f);
    }
    samplesBeforeRecording.clear();
    takeFramesShown = 0;
    if (take.isEmpty()) {
        updateTimeLabel(); // the playhead time again, not the take's count
        setStatus(tr("录音已停止"));
        return;
    }

    // The take goes into the list as it is now, so that whatever changed it
    // meanwhile (an undo, a spectral erase) is kept and one undo removes
    // exactly the take.
    const QList<float> before = samples;
    const qsizetype at = std::clamp<qsizetype>(recordInsertPos, 0, before.size());
    samples = withTake(before, at, take);
    pushStep(new InsertRecordCommand(&samples, before, tr("插入录音"), &stereoSamples));
    syncWaveforms();
    recordInsertPos = int(at + take.size());
    movePlayheads(sampleRate > 0 ? double(recordInsertPos) / sampleRate : 0.0);
    // The length of the take itself, not the count of timer ticks.
    const double seconds = sampleRate > 0 ? double(take.size()) / sampleRate : 0.0;
    lastTakeSeconds = seconds;
    // Input that never reached the take is said, never passed over as a success.
    QStringList missing;
    if (unreceivedSeconds > 0.0)
        missing << tr("录音结束前约 %1 秒的输入未能及时收到，录音在此之前结束。")
                       .arg(QString::number(unreceivedSeconds, 'f', 2));
    if (droppedSamples > 0)
        missing << tr("录音时有 %1 秒的输入未能及时接收而丢失，这段录音不完整。")
                       .arg(QString::number(double(droppedSamples) / std::max(sampleRate, 1), 'f', 2));
    if (missing.isEmpty()) {
        setStatus(tr("录音完成，共 %1 秒，已插入 %2 个样本")
                      .arg(QString::number(seconds, 'f', 1))
                      .arg(take.size()));
        return;
    }
    setStatus(tr("录音已结束，共 %1 秒，部分输入未能录下").arg(QString::number(seconds, 'f', 1)));
    auto* box = new QMessageBox(QMessageBox::Warning, tr("录音"), missing.join(QLatin1Char('\n')),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
