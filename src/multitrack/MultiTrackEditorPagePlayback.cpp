// Playback of the multitrack page: every track rendered into one buffer
// (audio tracks flattened, MIDI tracks rendered by the SoundFont or the
// piano), handed to the mixing engine as slots, and a wall-clock playhead.
// A buffer starts at its track's first clip or note, and its slot's start
// time places it: the silence before is not held. A render the machine
// cannot hold is refused (the track stays silent, with a log line).

#include "multitrack/MultiTrackEditorPage.h"

#include "common/ParallelRanges.h"
#include "engine/devices/Metronome.h"
#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TrackFlattening.h"
#include "video/VideoPlayerDialog.h"

#include "engine/devices/AudioEngine.h"
#include "engine/devices/RecordTakeQueue.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace {

constexpr int MetronomeBeatsPerBar = 4;
constexpr float MetronomeVolume = 0.5f;

} // namespace

TrackData MultiTrackEditorPage::tempoScaledTrack(const TrackData& track) const
{
    return ::tempoScaledTrack(track, midiSourceBpm, bpm);
}

double MultiTrackEditorPage::midiTimeScale() const
{
    return midiTempoFactor(midiSourceBpm, bpm);
}

void MultiTrackEditorPage::setMidiSourceBpm(double sourceBpm)
{
    midiSourceBpm = sourceBpm;
    syncMidiTimeScale();
}

void MultiTrackEditorPage::syncMidiTimeScale()
{
    const double factor = midiTimeScale();
    for (TrackRowWidget* row : rows) {
        if (MidiClipWidget* lane = row->midiLane())
            lane->setTimeScale(factor);
    }
    updateRuler();
}

std::vector<MultiTrackAudioEngine::TrackSlot> MultiTrackEditorPage::buildTrackSlots()
{
    // Only while the engine reads no slot: it is paused or stopped here.
    const size_t count = tracks.size();
    audioRenderCache.resize(count);
    audioRenderStarts.resize(count);
    midiRenderStarts.resize(count);
    midiRenderCache.resize(count);
    renderSources.resize(count);
    std::vector<size_t> toFlatten;
    for (size_t i = 0; i < count; ++i) {
        TrackData withoutTake;
        const TrackData& track = playbackView(i, withoutTake);
        QList<float>& audio = audioRenderCache[i];
        QList<float>& midi = midiRenderCache[i];
        TrackRenderSource& rendered = renderSources[i];
        if (!track.isMidi()) {
            midi = QList<float>();
            if (track.audioClips.empty()) {
                audio = QList<float>();
                rendered = TrackRenderSource();
                continue;
            }
            TrackRenderSource source = TrackRenderSource::forAudio(track, projectSampleRate);
            if (source != rendered) {
                audio = QList<float>(); // the old buffer goes before the new one is made
                rendered = std::move(source);
                toFlatten.push_back(i);
            }
            continue;
        }
        audio = QList<float>();
        const bool soundFont = sf2Sampler.isLoaded();
        const bool piano = pianoSampler.sampleCount() > 0;
        if (!soundFont && !piano) {
            midi = QList<float>();
            rendered = TrackRenderSource();
            continue;
        }
        const TrackData scaled = tempoScaledTrack(track);
        const QString instrument = soundFont
            ? QStringLiteral("sf2:%1:").arg(soundFontLoads) + sf2Sampler.soundFontPath()
            : QStringLiteral("piano:%1").arg(pianoSampler.sampleCount());
        TrackRenderSource source = TrackRenderSource::forMidi(scaled, projectSampleRate, instrument);
        if (source == rendered)
            continue;
        midi = QList<float>();
        const qint64 bytes = midiRenderBytes(scaled, projectSampleRate);
        if (!OfflineRender::fitsInMemory(bytes)) {
            qWarning() << "MultiTrackEditorPage: MIDI track" << i << "needs" << bytes
                       << "bytes to render, more than available; it stays silent";
            rendered = TrackRenderSource();
            continue;
        }
        qint64& first = midiRenderStarts[i];
        midi = soundFont ? sf2Sampler.renderTrack(scaled, projectSampleRate, &first)
                         : pianoSampler.renderTrack(scaled, projectSampleRate, &first);
        if (source.appliesEnvelope())
            applyEnvelopeFrom(midi.data(), first, midi.size(), projectSampleRate, track.volumeEnvelope);
        rendered = std::move(source);
    }

    // Audio tracks do not depend on each other: flatten them side by side.
    const qint64 flattenCount = qint64(toFlatten.size());
    ParallelRanges::run(flattenCount, ParallelRanges::partsFor(flattenCount, 1),
                        [&](int, qint64 begin, qint64 end) {
                            for (qint64 k = begin; k < end; ++k) {
                                const size_t i = toFlatten[size_t(k)];
                                TrackData withoutTake;
                                audioRenderCache[i] = flattenAudioTrackFrom(
                                    playbackView(i, withoutTake), projectSampleRate,
                                    audioRenderStarts[i]);
                            }
                        });

    std::vector<MultiTrackAudioEngine::TrackSlot> trackSlots;
    trackSlots.reserve(count);
    for (size_t i = 0; i < count; ++i)
        trackSlots.push_back(slotFor(int(i)));
    return trackSlots;
}

qint64 MultiTrackEditorPage::midiRenderBytes(const TrackData& scaledTrack, int sampleRate) const
{
    if (sf2Sampler.isLoaded())
        return SF2Sampler::renderBytes(scaledTrack, sampleRate);
    if (pianoSampler.sampleCount() > 0)
        return OfflineRender::renderBytesFromFirstNote(scaledTrack, sampleRate);
    return 0;
}

MultiTrackAudioEngine::TrackSlot MultiTrackEditorPage::slotFor(int index) const
{
    MultiTrackAudioEngine::TrackSlot slot;
    if (index < 0 || index >= int(tracks.size()))
        return slot;
    const TrackData& track = tracks[size_t(index)];
    const bool cached = index < int(renderSources.size());
    // A render with the envelope in it plays at unity; an envelope without
    // points leaves the track's volume in force.
    slot.volume = cached && renderSources[size_t(index)].appliesEnvelope() ? 1.0f : track.volume;
    slot.pan = track.pan;
    slot.muted = track.muted;
    slot.solo = track.solo;
    slot.startTime = 0.0;
    const std::vector<QList<float>>& cache = track.isMidi() ? midiRenderCache : audioRenderCache;
    if (index < int(cache.size()) && !cache[size_t(index)].isEmpty()) {
        const QList<float>& samples = cache[size_t(index)];
        slot.samples = samples.constData();
        slot.sampleCount = samples.size();
        const std::vector<qint64>& starts = track.isMidi() ? midiRenderStarts : audioRenderStarts;
        if (index < int(starts.size()))
            slot.startTime = double(starts[size_t(index)]) / projectSampleRate;
    }
    return slot;
}

void MultiTrackEditorPage::onPlayPause()
{
    if (tracks.empty())
        return;
    // A pause would leave the input recording against a frozen transport, and
    // the resumed playback would no longer line up with the take: play/pause
    // ends an audio take instead, as the record button does.
    if (isRecording && recordTrack >= 0) {
        stopTake();
        return;
    }
    if (isPlaying) {
        metronome->stop();
        engine->pausePlayback();
        isPlaying = false;
        playButton->setText(QStringLiteral(">"));
        playbackTimer->stop();
        if (std::exchange(endPassedWhilePlaying, false) && playheadPosition() > projectLength())
            syncPlayheadAll(projectLength());
        if (videoDialog)
            videoDialog->syncPause();
        return;
    }
    endPassedWhilePlaying = false;
    followSoundServer();
    engine->setTracks(buildTrackSlots());
    const double start = playheadPosition();
    playStartSec = start;
    playClock.start();
    if (!engine->startPlayback(start))
        return;
    isPlaying = true;
    playButton->setText(QStringLiteral("||"));
    playbackTimer->start();
    if (metronomeEnabled && !metronome->isRunning()) {
        metronome->start(projectSampleRate, bpm, MetronomeBeatsPerBar);
        metronome->setVolume(MetronomeVolume);
    }
    if (videoDialog)
        videoDialog->syncPlay();
}

void MultiTrackEditorPage::onStop()
{
    // Stopping the transport ends a running take too; the input never goes
    // on recording unseen behind a stopped transport.
    if (isRecording)
        stopTake();
    metronome->stop();
    engine->stopPlayback();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
    playbackTimer->stop();
    syncPlayheadAll(playStartSec);
    if (videoDialog)
        videoDialog->syncPause();
}

void MultiTrackEditorPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    prepareOutput();
}

void MultiTrackEditorPage::onRewind()
{
    syncPlayheadAll(0.0);
}

void MultiTrackEditorPage::endLostPlayback()
{
    metronome->stop();
    isPlaying = false;
    playButton->setText(QStringLiteral(">"));
    playbackTimer->stop();
    const double stoppedAt = engine->heardPosition();
    engine->pausePlayback();
    syncPlayheadAll(stoppedAt);
    if (videoDialog)
        videoDialog->syncPause();
    emit statusMessage(QStringLiteral("播放中断：音频设备或声音服务器已断开"));
}

void MultiTrackEditorPage::onPlaybackTimer()
{
    // A take whose input went away ends there, with what it recorded; one
    // whose input never came could not open it.
    if (isRecording && recordEngine && recordEngine->isStreamLost()) {
        const bool anyInput = takeQueue->offeredSamples() > 0;
        stopTake(anyInput);
        if (!anyInput) {
            auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("录音失败"),
                                        QStringLiteral("无法打开音频输入设备，录音未开始。"), QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        return;
    }
    const double elapsed = playClock.isValid() ? playClock.elapsed() / 1000.0 : 0.0;
    // The playhead shows what is heard; a take without output runs it from
    // the wall clock.
    const bool heard = engine->isPlaying();
    const double playhead = heard ? engine->heardPosition() : playStartSec + elapsed;
    if (isMidiRecording || isRecording) {
        if (isRecording)
            noteTakeHeardLag();
        syncPlayheadAll(playhead);
        growMidiTakeClip(playhead);
        return;
    }
    if (heard) {
        syncPlayheadAll(playhead);
        return;
    }
    if (engine->wasOutputLost()) {
        endLostPlayback();
        return;
    }
    // The engine stopped, was replaced or never started.
    onStop();
}

void MultiTrackEditorPage::updateEngineTrackSlot(int index)
{
    if (index < 0 || index >= int(tracks.size()) || !engine || !isPlaying)
        return;
    engine->updateTrackSlot(index, slotFor(index));
}
