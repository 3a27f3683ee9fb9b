// Recording on the multitrack page: an audio take from the default input
// into the first armed audio track and a MIDI take from the keyboard into
// the first armed MIDI track, both in one press of the record button, while
// the other tracks play. Each take that recorded something is one undo step.
//
// The audio input reaches the take only through a RecordTakeQueue: the
// record engine's callback copies each block into its ring, and the GUI
// thread drains it into the take clip, the only thread that touches tracks.

#include "multitrack/MultiTrackEditorPage.h"

#include "engine/devices/AudioEngine.h"
#include "engine/devices/Metronome.h"
#include "engine/devices/PermissionManager.h"
#include "engine/devices/RecordTakeQueue.h"
#include "engine/midi/MidiRecorder.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "project/TrackCommands.h"

#include <QDebug>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr int RecordBufferFrames = 512;
// The blocks' arrivals tell when input began to within about a block, and
// the heard playback is known to within about a block: input that began
// later or earlier than the playback was heard by more than this is padded
// or trimmed.
constexpr double TakeLateToleranceSec = 0.01;
// The most input from before the playback was heard that a take drops.
constexpr double TakeEarlyInputLimitSec = 0.5;
// How long input can wait for the take queue's spill thread (off the CPU
// on a busy machine) before a block is lost; a busy GUI thread loses none.
constexpr double TakeQueueSeconds = 60.0;
// The dropouts a take's notice lists one by one.
constexpr std::size_t TakeGapsListed = 10;
constexpr int MetronomeBeatsPerBar = 4;
constexpr float MetronomeVolume = 0.5f;
// A new MIDI take clip's length, and how far it runs ahead of the playhead.
constexpr double MidiTakeLead = 0.5;

const char* const RecordButtonRecording = "background-color: #ff2222; color: white; font-weight: bold;";
const char* const RecordButtonStarted = "background-color: #ff0055; color: white;";

const QString TakeCommandText = QStringLiteral("录音");

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void MultiTrackEditorPage::connectRecordingControls()
{
    takeQueue = new RecordTakeQueue(this);
    connect(recordButton, &QPushButton::clicked, this, &MultiTrackEditorPage::onRecord);
}

void MultiTrackEditorPage::setRecordDeviceFactory(AudioDeviceFactory factory)
{
    recordDeviceFactory = std::move(factory);
}

double MultiTrackEditorPage::toMidiSourceTime() const
{
    // The inverse of what the lanes and playback apply, so a take shows and
    // plays where it was played.
    return 1.0 / midiTimeScale();
}

void MultiTrackEditorPage::onRecord()
{
    if (isRecording) {
        stopTake();
        return;
    }
    if (tracks.empty()) {
        QMessageBox::information(this, TakeCommandText, QStringLiteral("请先添加轨道。"));
        return;
    }
    int audioTarget = -1;
    int midiTarget = -1;
    for (size_t i = 0; i < rows.size() && i < tracks.size(); ++i) {
        if (!rows[i]->header() || !rows[i]->header()->isArmed())
            continue;
        if (!tracks[i].isMidi() && audioTarget < 0)
            audioTarget = int(i);
        if (tracks[i].isMidi() && midiTarget < 0)
            midiTarget = int(i);
    }
    if (audioTarget < 0 && midiTarget < 0) {
        QMessageBox::information(this, TakeCommandText,
                                 QStringLiteral("没有预位的轨道，请先点击 R 按钮预位一条轨道。"));
        return;
    }

    followSoundServer();
    isRecording = true;
    if (audioTarget >= 0) {
        tracks[size_t(audioTarget)].armed = true;
        PermissionManager& permission = PermissionManager::getInstance();
        if (permission.checkMicrophonePermission()) {
            startRecordingOnTrack(audioTarget);
        } else {
            QPointer<MultiTrackEditorPage> page(this);
            permission.requestMicrophonePermission([page, audioTarget](bool granted) {
                if (!page)
                    return;
                // Never inside the permission call itself: queued to the page.
                QMetaObject::invokeMethod(page, [page, audioTarget, granted] {
                    if (!page || !page->isRecording || page->recordEngine)
                        return;
                    if (granted)
                        page->startRecordingOnTrack(audioTarget);
                    else
                        page->failRecordingStart(QStringLiteral("麦克风权限被拒绝，无法录音。"));
                }, Qt::QueuedConnection);
            });
        }
        if (!isRecording)
            return; // the audio take could not start: idle again
    }
    if (midiTarget >= 0) {
        midiRecordTrack = midiTarget;
        startMidiRecording();
    }
    recordButton->setText(QStringLiteral("停止"));
    recordButton->setStyleSheet(QLatin1String(RecordButtonRecording));
}

void MultiTrackEditorPage::startRecordingOnTrack(int index)
{
    if (index < 0 || index >= int(tracks.size()) || tracks[size_t(index)].isMidi() || recordEngine)
        return;
    if (isPlaying)
        pauseTakePlayback();

    recordEngine = recordDeviceFactory ? new AudioEngine(recordDeviceFactory()) : new AudioEngine();
    recordEngine->setRecordOnly(true); // the page's mixing engine plays
    if (!recordEngine->initialize(projectSampleRate, RecordBufferFrames)) {
        qWarning() << "MultiTrack: failed to init record engine";
        delete recordEngine;
        recordEngine = nullptr;
        failRecordingStart(QStringLiteral("无法初始化录音引擎。"));
        return;
    }

    const TrackRowWidget* row = index < int(rows.size()) ? rows[size_t(index)] : nullptr;
    const double start = row && row->audioLane() ? row->audioLane()->playheadPosition() : 0.0;
    recordTrack = index;
    TrackData& track = tracks[size_t(index)];
    AudioClip take;
    take.sampleRate = projectSampleRate;
    take.start = start;
    track.audioClips.push_back(take);
    takeFrames = 0;

    takeQueue->start(TakeQueueSeconds, projectSampleRate, 1,
                     [this](const float* samples, qsizetype count) { appendTakeSamples(samples, count); });
    RecordTakeQueue* queue = takeQueue;
    recordEngine->setRecordCallback([queue](const float* input, int frames) { queue->push(input, frames); });

    // The other tracks are rendered before the input opens, so that the take
    // and their playback start together.
    buildPlaybackSlotsForRecording(index);

    takeInputOpenedNs = steadyNowNs();
    if (!recordEngine->startRecording()) {
        qWarning() << "MultiTrack: failed to start recording";
        recordEngine->shutdown();
        delete recordEngine;
        recordEngine = nullptr;
        takeQueue->finish();
        if (audioTakeClip())
            track.audioClips.pop_back();
        recordTrack = -1;
        if (row && row->lane())
            row->lane()->update();
        failRecordingStart(QStringLiteral("无法打开音频输入设备，录音未开始。"));
        return;
    }
    isRecording = true;
    recordButton->setText(QStringLiteral("停止"));
    recordButton->setStyleSheet(QLatin1String(RecordButtonStarted));

    playStartSec = start;
    takeStartNs = steadyNowNs();
    takeHeardLag = -1.0;
    takeAlignment.clear();
    playbackTimer->start(); // also watches the input
    if (recordEngine->isStarting()) {
        // The playhead stands at the start meanwhile.
        takePlaybackWaits = true;
        playClock.invalidate();
        connect(recordEngine, &AudioEngine::streamStarted, this, &MultiTrackEditorPage::startTakePlayback);
    } else {
        startTakePlayback();
    }
    if (row && row->lane())
        row->lane()->update();
    qDebug() << "MultiTrack: recording started on track" << index << "at" << start << "s";
}

void MultiTrackEditorPage::startTakePlayback()
{
    if (!isRecording || !recordEngine)
        return;
    takePlaybackWaits = false;
    playClock.start();
    isPlaying = engine->startPlayback(playStartSec);
    if (isPlaying)
        playButton->setText(QStringLiteral("||"));
    takeStartNs = steadyNowNs();
    if (metronomeEnabled && !metronome->isRunning()) {
        metronome->start(projectSampleRate, bpm, MetronomeBeatsPerBar);
        metronome->setVolume(MetronomeVolume);
    }
}

void MultiTrackEditorPage::appendTakeSamples(const float* samples, qsizetype count)
{
    AudioClip* take = audioTakeClip();
    if (!take || count < 1)
        return;
    QList<float>& list = take->samples;
    const qsizetype old = list.size();
    if (list.capacity() < old + count)
        list.reserve(std::max(old + count, 2 * list.capacity()));
    list.resize(old + count);
    std::copy(samples, samples + count, list.data() + old);
    takeFrames = list.size();
    if (recordTrack < int(rows.size()) && rows[size_t(recordTrack)]->audioLane())
        rows[size_t(recordTrack)]->audioLane()->update();
}

AudioClip* MultiTrackEditorPage::audioTakeClip()
{
    if (recordTrack < 0 || recordTrack >= int(tracks.size()))
        return nullptr;
    TrackData& track = tracks[size_t(recordTrack)];
    if (track.isMidi() || track.audioClips.empty())
        return nullptr;
    AudioClip& take = track.audioClips.back();
    // Moves, trims and fades leave the take recording; a clip list that an
    // undo or an edit replaced does not hold exactly what was appended.
    if (take.samples.size() != takeFrames)
        return nullptr;
    return &take;
}

MidiClip* MultiTrackEditorPage::midiTakeClip()
{
    if (!isMidiRecording || midiRecordTrack < 0 || midiRecordTrack >= int(tracks.size()))
        return nullptr;
    std::vector<MidiClip>& clips = tracks[size_t(midiRecordTrack)].midiClips;
    if (recordingMidiClip < 0 || recordingMidiClip >= int(clips.size()))
        return nullptr;
    MidiClip& take = clips[size_t(recordingMidiClip)];
    return take.id == midiTakeId ? &take : nullptr;
}

void MultiTrackEditorPage::pauseTakePlayback()
{
    engine->pausePlayback();
    playbackTimer->stop();
    metronome->stop();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
}

void MultiTrackEditorPage::setRecordButtonIdle()
{
    isRecording = false;
    recordButton->setText(QStringLiteral("录制"));
    recordButton->setStyleSheet(QString());
}

void MultiTrackEditorPage::failRecordingStart(const QString& reason)
{
    // Nothing of the take stays: a MIDI take that started with it goes too.
    if (isMidiRecording) {
        endMidiNotes(recordingClockSec());
        if (MidiClip* take = midiTakeClip()) {
            std::vector<MidiClip>& clips = tracks[size_t(midiRecordTrack)].midiClips;
            clips.erase(clips.begin() + (take - clips.data()));
        }
        isMidiRecording = false;
        recordingMidiClip = -1;
        midiRecordTrack = -1;
    }
    if (isPlaying)
        pauseTakePlayback();
    setRecordButtonIdle();
    forEachLane([](ClipLaneWidget* lane) { lane->update(); });
    updateRuler();
    QMessageBox::warning(this, QStringLiteral("录音失败"), reason);
}

bool MultiTrackEditorPage::commitAudioTake()
{
    if (recordTrack < 0)
        return false;
    bool pushed = false;
    if (AudioClip* take = audioTakeClip()) {
        if (take->samples.isEmpty()) {
            tracks[size_t(recordTrack)].audioClips.pop_back(); // nothing was recorded
        } else {
            // Its undo takes out the take alone, whatever was edited meanwhile.
            const int at = int(tracks[size_t(recordTrack)].audioClips.size()) - 1;
            undoStack->push(new TrackClipsSnapshotCommand(this, recordTrack, at, {}, 1, TakeCommandText));
            pushed = true;
        }
    } else {
        qWarning() << "MultiTrack: the take clip was replaced during recording; no take kept";
    }
    if (recordTrack < int(rows.size()) && rows[size_t(recordTrack)]->lane())
        rows[size_t(recordTrack)]->lane()->update();
    recordTrack = -1;
    return pushed;
}

void MultiTrackEditorPage::noteTakeHeardLag()
{
    const AudioClip* take = audioTakeClip();
    if (!take || !isPlaying || !engine->isPlaying())
        return;
    const double heard = engine->heardPosition();
    const double clock = take->start + double(steadyNowNs() - takeStartNs) / 1e9;
    const double lag = std::max(clock - heard, 0.0);
    takeHeardLag = takeHeardLag < 0.0 ? lag : std::min(takeHeardLag, lag);
    takeAlignment.note(heard, double(takeQueue->offeredSamples()) / std::max(projectSampleRate, 1));
}

qint64 MultiTrackEditorPage::takeInputBeganNs() const
{
    // No input was taken before its stream opened, however fast its first
    // blocks came.
    const qint64 began = takeQueue->inputBeganNs(projectSampleRate);
    return began == 0 ? 0 : std::max(began, takeInputOpenedNs);
}

qsizetype MultiTrackEditorPage::takeLeadInFrames()
{
    const qint64 beganNs = takeInputBeganNs();
    if (beganNs == 0 || !audioTakeClip())
        return 0;
    // The take's first sample belongs to the moment the playback was first
    // heard: the start, or later by as much as the heard playback trailed.
    const double heardFromNs = double(takeStartNs) + std::max(takeHeardLag, 0.0) * 1e9;
    const double late = (double(beganNs) - heardFromNs) / 1e9;
    if (late < -TakeLateToleranceSec && takeHeardLag >= 0.0) {
        // Input that began before the playback was heard holds time from
        // before the take's start: it goes (the input opens before the
        // output starts, and a busy machine starts the output later still).
        const double early = std::min(-late, TakeEarlyInputLimitSec);
        return -qsizetype(std::llround(early * projectSampleRate));
    }
    if (late <= TakeLateToleranceSec)
        return 0;
    qDebug() << "MultiTrack: input began" << int(late * 1000.0)
             << "ms after the playback was heard; the take starts with that much silence";
    return qsizetype(std::llround(late * projectSampleRate));
}

void MultiTrackEditorPage::stopTake(bool inputLost)
{
    const double stopSec = recordingClockSec();
    const qint64 stopNs = steadyNowNs();
    noteTakeHeardLag();
    // The playback's dropouts, the latest as far as known now: they are told,
    // and the take keeps all its input.
    TakeTroubles troubles;
    if (isPlaying && (engine->isPlaying() || engine->wasOutputLost())) {
        // Only what left the take late against the other tracks: a gap its
        // input stalled with (one server stalling both) left it in line.
        const std::vector<MultiTrackAudioEngine::PlaybackGap> gaps = engine->playbackGaps();
        troubles.gaps = takeAlignment.lagsLeftBy(gaps);
        troubles.gapCount = engine->playbackGapCount() - int(gaps.size() - troubles.gaps.size());
    }
    takePlaybackWaits = false;
    const bool audioTakeRan = recordEngine != nullptr;
    bool inputWentAway = inputLost;
    if (recordEngine) {
        // A stream whose device went away hands over nothing more.
        inputWentAway = inputWentAway || recordEngine->isStreamLost();
        // Input the device still holds is waited for a moment; what has not
        // come by then is told as missing.
        if (takeQueue->isActive() && !inputWentAway)
            troubles.unreceivedSeconds = takeQueue->inputMissingAtStop(stopNs);
        recordEngine->stopRecording();
        recordEngine->shutdown();
        delete recordEngine;
        recordEngine = nullptr;
    }
    // The input stream is closed: what is still queued goes into the take now.
    if (takeQueue->isActive()) {
        takeQueue->finish();
        troubles.lostSamples = takeQueue->droppedSamples();
    }
    if (AudioClip* take = audioTakeClip(); take && !take->samples.isEmpty()) {
        const qsizetype leadIn = takeLeadInFrames();
        // Input all from before the playback was heard leaves nothing.
        if (leadIn >= 0)
            take->samples.insert(0, leadIn, 0.0f);
        else
            take->samples.remove(0, std::min(-leadIn, take->samples.size()));
        takeFrames = take->samples.size();
    }
    const bool midiTake = isMidiRecording;
    if (midiTake)
        endMidiNotes(stopSec);

    const AudioClip* audioTake = audioTakeClip();
    if (inputLost)
        troubles.inputLostAt = audioTake ? audioTake->start + double(audioTake->samples.size()) / projectSampleRate
                                         : stopSec;
    const MidiClip* midiTakeNow = midiTakeClip();
    const bool bothKept = audioTake && !audioTake->samples.isEmpty() && midiTakeNow
        && !midiTakeNow->notes.empty();
    if (bothKept)
        undoStack->beginMacro(TakeCommandText); // one press, one undo step
    const bool hadTakeClip = audioTake != nullptr;
    const bool audioKept = commitAudioTake();
    troubles.nothingRecorded = audioTakeRan && hadTakeClip && !audioKept && !inputWentAway;
    if (midiTake)
        commitMidiTake();
    if (bothKept)
        undoStack->endMacro();
    updateRuler();

    // After a MIDI take the playback goes on until it is stopped; after a
    // lost input it stands where the sound stopped.
    if (!midiTake || inputLost) {
        if (isPlaying && engine->wasOutputLost()) {
            endLostPlayback();
        } else if (isPlaying) {
            pauseTakePlayback();
        } else {
            playbackTimer->stop();
            metronome->stop();
        }
        // The next take goes on where this one's input ended.
        if (troubles.inputLostAt >= 0.0)
            syncPlayheadAll(troubles.inputLostAt);
    }
    setRecordButtonIdle();
    if (!audioKept) {
        troubles.gaps.clear();
        troubles.gapCount = 0;
        troubles.unreceivedSeconds = 0.0;
    }
    tellTakeTroubles(troubles);
}

void MultiTrackEditorPage::tellTakeTroubles(const TakeTroubles& troubles)
{
    QStringList lines;
    // The user must not go on believing the take still records.
    if (troubles.inputLostAt >= 0.0)
        lines << QStringLiteral("录音设备或声音服务器已断开，录音在 %1 处结束；断开之前录下的内容已保留。")
                     .arg(clockText(troubles.inputLostAt));
    // After a dropout the player heard the rest later, and played it later.
    const std::vector<MultiTrackAudioEngine::PlaybackGap>& gaps = troubles.gaps;
    if (troubles.gapCount > 0) {
        qDebug() << "MultiTrack: the playback dropped out" << troubles.gapCount << "times during the take";
        lines << QStringLiteral("录音时播放中断了 %1 次，每次中断之后录下的内容比其他轨道晚了相应的时长"
                                "（录音本身完整保留，未作改动）：")
                     .arg(troubles.gapCount);
        std::size_t listed = 0;
        for (; listed < gaps.size() && listed < TakeGapsListed; ++listed)
            lines << QStringLiteral("%1 处中断约 %2 毫秒")
                         .arg(clockText(gaps[listed].at))
                         .arg(std::llround(gaps[listed].seconds * 1000.0));
        if (troubles.gapCount > int(listed))
            lines << QStringLiteral("另有 %1 次中断未列出。").arg(troubles.gapCount - int(listed));
    }
    if (troubles.nothingRecorded)
        lines << QStringLiteral("录音没有录下任何内容：停止之前没有收到音频输入。");
    // Input the device still held at the stop did not come in time.
    if (troubles.unreceivedSeconds > 0.0)
        lines << QStringLiteral("录音结束前约 %1 秒的输入未能及时收到，录音在此之前结束。")
                     .arg(troubles.unreceivedSeconds, 0, 'f', 2);
    // Input the hand-off could not take is gone: the take is shorter than
    // what was played.
    if (troubles.lostSamples > 0)
        lines << QStringLiteral("录音时有 %1 秒的输入未能及时接收而丢失，这段录音不完整。")
                     .arg(double(troubles.lostSamples) / std::max(projectSampleRate, 1), 0, 'f', 2);
    if (lines.isEmpty())
        return;
    // Window-modal and not waiting: the take is in place under it.
    auto* box = new QMessageBox(QMessageBox::Warning, TakeCommandText, lines.join(QLatin1Char('\n')),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MultiTrackEditorPage::startMidiRecording()
{
    if (midiRecordTrack < 0 || midiRecordTrack >= int(tracks.size())
        || !tracks[size_t(midiRecordTrack)].isMidi() || isMidiRecording)
        return;
    const TrackRowWidget* row = midiRecordTrack < int(rows.size()) ? rows[size_t(midiRecordTrack)] : nullptr;
    const double start = row && row->midiLane() ? row->midiLane()->playheadPosition() : 0.0;
    isMidiRecording = true;
    midiRecordStartSec = start;

    connect(midiRecorder, &MidiRecorder::noteCompleted, this,
            &MultiTrackEditorPage::onRecordedNoteCompleted, Qt::UniqueConnection);
    midiRecorder->startRecording(start, bpm);

    // MIDI clips are held at the MIDI source tempo: the take is too, so that
    // it plays where it was played at any later tempo.
    closePianoRollsForTrack(midiRecordTrack);
    std::vector<MidiClip>& clips = tracks[size_t(midiRecordTrack)].midiClips;
    MidiClip take;
    take.id = int(clips.size()) + 1;
    take.start = start * toMidiSourceTime();
    take.duration = MidiTakeLead * toMidiSourceTime();
    clips.push_back(take);
    recordingMidiClip = int(clips.size()) - 1;
    midiTakeId = take.id;

    if (metronomeEnabled && !metronome->isRunning()) {
        metronome->start(projectSampleRate, bpm, MetronomeBeatsPerBar);
        metronome->setVolume(MetronomeVolume);
    }
    if (!isPlaying && !takePlaybackWaits) {
        buildPlaybackSlotsForRecording(midiRecordTrack);
        playStartSec = start;
        playClock.start();
        engine->startPlayback(start);
        // The take's clock runs even without an output device.
        isPlaying = true;
        playbackTimer->start();
        playButton->setText(QStringLiteral("暂停"));
    }
    if (row && row->lane())
        row->lane()->update();
    updateRuler();
    qDebug() << "MIDI recording started at" << start << "s";
}

void MultiTrackEditorPage::endMidiNotes(double stopSec)
{
    // Notes still held end at the stop and arrive through noteCompleted.
    midiRecorder->stopRecording(stopSec);
    disconnect(midiRecorder, &MidiRecorder::noteCompleted, this,
               &MultiTrackEditorPage::onRecordedNoteCompleted);
}

void MultiTrackEditorPage::commitMidiTake()
{
    const int index = midiRecordTrack;
    if (MidiClip* take = midiTakeClip()) {
        std::vector<MidiClip>& clips = tracks[size_t(index)].midiClips;
        if (take->notes.empty()) {
            const auto position = clips.begin() + (take - clips.data());
            closePianoRollsForTrack(index);
            clips.erase(position); // no key was pressed
        } else {
            // One undo step like an audio take, taking out the take alone.
            const int at = int(take - clips.data());
            undoStack->push(TrackClipsSnapshotCommand::createForMidi(this, index, at, {}, 1,
                                                                     TakeCommandText));
        }
    }
    isMidiRecording = false;
    recordingMidiClip = -1;
    if (index >= 0 && index < int(rows.size()) && rows[size_t(index)]->lane()) {
        rows[size_t(index)]->lane()->update();
        updateRuler();
    }
    midiRecordTrack = -1;
    qDebug() << "MIDI recording stopped";
}

void MultiTrackEditorPage::stopMidiRecording()
{
    if (!isMidiRecording)
        return;
    endMidiNotes(recordingClockSec());
    commitMidiTake();
}

double MultiTrackEditorPage::recordingClockSec() const
{
    if (isPlaying && playClock.isValid())
        return playStartSec + playClock.elapsed() / 1000.0;
    if (midiRecordTrack >= 0 && midiRecordTrack < int(rows.size()) && rows[size_t(midiRecordTrack)]->midiLane())
        return rows[size_t(midiRecordTrack)]->midiLane()->playheadPosition();
    return playheadPosition();
}

void MultiTrackEditorPage::onRecordedNoteCompleted(const MidiNote& note)
{
    MidiClip* take = midiTakeClip();
    if (!take) {
        qDebug() << "onRecordedNoteCompleted: targetClip is NULL!";
        return;
    }
    const double toSource = toMidiSourceTime();
    MidiNote held = note;
    held.start *= toSource;
    held.duration *= toSource;
    take->notes.push_back(held);
    const double end = held.start + held.duration;
    if (end > take->duration)
        take->duration = end + MidiTakeLead * toSource;
    qDebug() << "Real-time note: pitch=" << held.pitch << "start=" << held.start << "dur=" << held.duration
             << "clipDur=" << take->duration << "notes=" << take->notes.size();
    if (midiRecordTrack < int(rows.size()) && rows[size_t(midiRecordTrack)]->lane())
        rows[size_t(midiRecordTrack)]->lane()->update();
}

void MultiTrackEditorPage::growMidiTakeClip(double playhead)
{
    MidiClip* take = midiTakeClip();
    if (!take)
        return;
    const double played = (playhead - midiRecordStartSec) * toMidiSourceTime();
    if (played > take->duration) {
        take->duration = played + MidiTakeLead * toMidiSourceTime();
        if (midiRecordTrack < int(rows.size()) && rows[size_t(midiRecordTrack)]->lane())
            rows[size_t(midiRecordTrack)]->lane()->update();
    }
}

void MultiTrackEditorPage::buildPlaybackSlotsForRecording(int recordTrackIndex)
{
    takeLeftOut = recordTrackIndex;
    engine->setTracks(buildTrackSlots());
    takeLeftOut = -1;
}

const TrackData& MultiTrackEditorPage::playbackView(size_t index, TrackData& withoutTake) const
{
    const TrackData& track = tracks[index];
    const int i = int(index);
    const bool audioTake = !track.isMidi() && !track.audioClips.empty()
        && (i == takeLeftOut || (i == recordTrack && isRecording));
    const bool midiTake = track.isMidi() && !track.midiClips.empty()
        && (i == takeLeftOut || (i == midiRecordTrack && isMidiRecording));
    if (!audioTake && !midiTake)
        return track;
    withoutTake = track;
    if (audioTake)
        withoutTake.audioClips.pop_back();
    if (midiTake) {
        const bool running = i == midiRecordTrack && isMidiRecording && recordingMidiClip >= 0
            && recordingMidiClip < int(withoutTake.midiClips.size());
        withoutTake.midiClips.erase(withoutTake.midiClips.begin()
                                    + (running ? recordingMidiClip : int(withoutTake.midiClips.size()) - 1));
    }
    return withoutTake;
}
