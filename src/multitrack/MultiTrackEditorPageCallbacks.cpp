// The handlers the multitrack page attaches to each track row, its lane and
// header, and to the ruler: exclusive record arm, selection, splits and
// drags, clip deletion and envelope edits as undo steps, marker renaming,
// the video preview and rendering a MIDI clip into an audio track.
//
// A row reports its index as it is when the signal arrives; every handler
// checks it (and any clip index) against the vectors before use.

#include "multitrack/MultiTrackEditorPage.h"

#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "project/TrackCommands.h"
#include "video/VideoPlayerDialog.h"

#include <QDebug>
#include <QInputDialog>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QUndoStack>

#include <utility>

namespace {

const QString RenderInPlaceText = QStringLiteral("就地渲染MIDI");
const QString CreateMidiClipText = QStringLiteral("创建MIDI片段");

bool samePoints(const std::vector<EnvelopePoint>& a, const std::vector<EnvelopePoint>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const EnvelopePoint& p, const EnvelopePoint& q) {
                          return p.time == q.time && p.value == q.value;
                      });
}

// Puts a new track at `index` with its row; undo takes it out again. It is
// a track removal run backwards, so the rows are rebuilt the same way.
class InsertTrackCommand : public QUndoCommand {
public:
    InsertTrackCommand(TrackRowHost* page, int index, TrackData track, const QString& text)
        : QUndoCommand(text), removal(page, index, std::move(track), text)
    {
        removal.redo(); // a removal's first redo is the no-op of its push
    }
    void redo() override { removal.undo(); }
    void undo() override { removal.redo(); }

private:
    RemoveTrackCommand removal;
};

} // namespace

void MultiTrackEditorPage::connectEditingControls()
{
    connect(ruler, &TimelineRulerWidget::markerDoubleClicked, this, &MultiTrackEditorPage::renameMarker);
}

void MultiTrackEditorPage::connectRowActions(TrackRowWidget* row)
{
    connect(row, &TrackRowWidget::trackChanged, this, [this, row] { onRowTrackChanged(row->index()); });
    connect(row, &TrackRowWidget::scissorClicked, this,
            [this, row](int clip) { splitClipAtPlayhead(row->index(), clip); });
    connect(row, &TrackRowWidget::clipDragStarted, this,
            [this, row](int clip, QPoint at) { onClipDragStarted(row->index(), clip, at); });
    connect(row, &TrackRowWidget::clipDragMoved, this, &MultiTrackEditorPage::onClipDragMoved);
    connect(row, &TrackRowWidget::clipDragFinished, this,
            [this, row](QPoint at) { onClipDragFinished(row->index(), at); });
    connect(row, &TrackRowWidget::deleteAudioClip, this,
            [this, row](int clip) { deleteClip(row->index(), clip, false); });
    connect(row, &TrackRowWidget::deleteMidiClip, this,
            [this, row](int clip) { deleteClip(row->index(), clip, true); });
    connect(row, &TrackRowWidget::clipDoubleClicked, this,
            [this, row](int clip) { editAudioClip(row->index(), clip); });
    connect(row, &TrackRowWidget::renderMidiInPlace, this,
            [this, row](int clip) { renderMidiClipInPlace(row->index(), clip); });
    connect(row, &TrackRowWidget::vst3EditorToggled, this, &MultiTrackEditorPage::toggleVst3Editor);

    if (auto* lane = row->lane()) {
        connect(lane, &ClipLaneWidget::envelopeChanged, this,
                [this, row] { updateEngineTrackSlot(row->index()); });
        connect(lane, &ClipLaneWidget::envelopeEditCommitted, this,
                [this, row](const std::vector<EnvelopePoint>& before,
                            const std::vector<EnvelopePoint>& after) {
                    commitEnvelopeEdit(row->index(), before, after);
                });
    }
    // The row appends the clip first (it was connected before): the page
    // makes the append an undo step of its own.
    if (MidiClipWidget* midiLane = row->midiLane())
        connect(midiLane, &MidiClipWidget::clipCreated, this,
                [this, row] { commitMidiClipCreation(row->index()); });
    connect(row->header(), &TrackHeaderWidget::videoButtonClicked, this, [this] {
        if (!videoDialog)
            return;
        videoDialog->show();
        videoDialog->raise();
    });
}

void MultiTrackEditorPage::onRowTrackChanged(int index)
{
    if (index < 0 || index >= int(tracks.size()))
        return;
    // Record arm is exclusive; the other headers turn grey without a signal.
    if (tracks[size_t(index)].armed) {
        for (size_t j = 0; j < tracks.size(); ++j) {
            if (int(j) == index)
                continue;
            tracks[j].armed = false;
            if (j < rows.size() && rows[j]->header()->isArmed()) {
                const QSignalBlocker blocker(rows[j]->header());
                rows[j]->header()->setArmed(false);
            }
        }
    }
    updateRuler();
    updateEngineTrackSlot(index);
}

void MultiTrackEditorPage::commitMidiClipCreation(int trackIndex)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()))
        return;
    TrackData& track = tracks[size_t(trackIndex)];
    if (!track.isMidi() || track.midiClips.empty())
        return;
    // A take on this track finds its clip and its undo step by clip index:
    // a clip drawn in between is refused.
    if (refusedWhileRecording(trackIndex, "clip creation")) {
        track.midiClips.pop_back();
        repaintLane(trackIndex);
        return;
    }
    // Its undo takes out the new clip and nothing else.
    const int created = int(track.midiClips.size()) - 1;
    undoStack->push(TrackClipsSnapshotCommand::createForMidi(this, trackIndex, created, {}, 1,
                                                             CreateMidiClipText));
}

void MultiTrackEditorPage::deleteClip(int trackIndex, int clipIndex, bool midi)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()) || clipIndex < 0)
        return;
    TrackData& track = tracks[size_t(trackIndex)];
    if (track.isMidi() != midi)
        return;
    if (midi ? clipIndex >= int(track.midiClips.size()) : clipIndex >= int(track.audioClips.size()))
        return;
    if (refusedWhileRecording(trackIndex, "clip deletion"))
        return;
    if (midi) {
        closePianoRollsForTrack(trackIndex);
        std::vector<MidiClip> before{track.midiClips[size_t(clipIndex)]};
        track.midiClips.erase(track.midiClips.begin() + clipIndex);
        undoStack->push(TrackClipsSnapshotCommand::createForMidi(this, trackIndex, clipIndex,
                                                                 std::move(before), 0,
                                                                 QStringLiteral("删除MIDI块")));
    } else {
        std::vector<AudioClip> before{track.audioClips[size_t(clipIndex)]};
        track.audioClips.erase(track.audioClips.begin() + clipIndex);
        undoStack->push(new TrackClipsSnapshotCommand(this, trackIndex, clipIndex, std::move(before), 0,
                                                      QStringLiteral("删除音频块")));
    }
    repaintLane(trackIndex);
    updateRuler();
    updateEngineTrackSlot(trackIndex);
}

void MultiTrackEditorPage::commitEnvelopeEdit(int trackIndex, const std::vector<EnvelopePoint>& before,
                                              const std::vector<EnvelopePoint>& after)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()) || samePoints(before, after))
        return;
    // The lane has put the points in place; the flag is not the lane's to change.
    const bool enabled = tracks[size_t(trackIndex)].envelopeEnabled;
    undoStack->push(new EnvelopeSnapshotCommand(this, trackIndex, before, after, enabled, enabled,
                                                QStringLiteral("编辑包络")));
}

void MultiTrackEditorPage::renameMarker(int index)
{
    if (index < 0 || index >= int(markers.size()))
        return;
    bool ok = false;
    const QString label = QInputDialog::getText(this, QStringLiteral("重命名标记"), QStringLiteral("标记名称:"),
                                                QLineEdit::Normal, markers[size_t(index)].label, &ok);
    // The dialog ran the event loop: the markers may have changed under it.
    if (!ok || label.isEmpty() || index >= int(markers.size()))
        return;
    const std::vector<TimelineMarker> before = markers;
    markers[size_t(index)].label = label;
    undoStack->push(new MarkerSnapshotCommand(&markers, before, markers, QStringLiteral("重命名标记")));
    ruler->setMarkers(markers);
}

void MultiTrackEditorPage::renderMidiClipInPlace(int trackIndex, int clipIndex)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()))
        return;
    const TrackData& track = tracks[size_t(trackIndex)];
    if (!track.isMidi() || clipIndex < 0 || clipIndex >= int(track.midiClips.size()))
        return;
    TrackData single = track;
    single.midiClips = {track.midiClips[size_t(clipIndex)]};
    const TrackData scaled = tempoScaledTrack(single);
    // The audio clip starts where the MIDI clip does: silence up to its first
    // note is put back in front of the render (a copy of the render with it).
    const MidiClip& source = scaled.midiClips.front();
    double firstNote = source.duration;
    for (const MidiNote& note : source.notes)
        if (note.velocity > 0)
            firstNote = std::min(firstNote, note.start);
    const qint64 padFrames = qint64(std::max(firstNote, 0.0) * projectSampleRate);
    qint64 bytes = midiRenderBytes(scaled, projectSampleRate);
    if (padFrames > 0)
        bytes += padFrames * qint64(sizeof(float)) + OfflineRender::renderBytesFromFirstNote(scaled, projectSampleRate);
    if (!OfflineRender::fitsInMemory(bytes)) {
        qWarning() << "MultiTrackEditorPage: rendering MIDI clip" << clipIndex << "needs" << bytes
                   << "bytes, more than available";
        QMessageBox::warning(this, RenderInPlaceText, OfflineRender::tooLargeText(bytes));
        return;
    }
    // Rendered from the first note; the clip keeps what plays from its own start on.
    QList<float> rendered;
    qint64 first = 0;
    if (sf2Sampler.isLoaded())
        rendered = sf2Sampler.renderTrack(scaled, projectSampleRate, &first);
    else if (pianoSampler.sampleCount() > 0)
        rendered = pianoSampler.renderTrack(scaled, projectSampleRate, &first);
    const qint64 clipFrame = OfflineRender::framesAt(scaled.midiClips.front().start, projectSampleRate,
                                                     first + rendered.size());
    const qsizetype head = qsizetype(std::max<qint64>(clipFrame - first, 0));
    if (rendered.size() <= head) {
        qDebug() << "MultiTrackEditorPage: nothing to render for MIDI clip" << clipIndex;
        return;
    }
    rendered.remove(0, head);
    qint64 start = first + head;
    if (start > clipFrame) {
        QList<float> padded(qsizetype(start - clipFrame), 0.0f);
        padded.append(rendered);
        rendered = std::move(padded);
        start = clipFrame;
    }
    TrackData audio;
    audio.type = AudioTrack;
    audio.name = QStringLiteral("%1 (渲染)").arg(track.name);
    audio.color = track.color;
    audio.volume = track.volume;
    audio.pan = track.pan;
    AudioClip clip;
    clip.samples = std::move(rendered);
    clip.sampleRate = projectSampleRate;
    clip.start = double(start) / projectSampleRate;
    audio.audioClips.push_back(std::move(clip));
    // The push puts the track right after the MIDI track. A take finds its
    // clip by track index: one on a track further down ends first.
    if ((isRecording && recordTrack > trackIndex) || (isMidiRecording && midiRecordTrack > trackIndex))
        stopTake();
    undoStack->push(new InsertTrackCommand(this, trackIndex + 1, std::move(audio), RenderInPlaceText));
}
