// Clip edits of the multitrack page that are undo steps of their own: the
// scissors tool's split at the playhead and the Move tool's drag of a clip
// to a new time on its track or onto another track of the same kind.

#include "multitrack/MultiTrackEditorPage.h"

#include "multitrack/ClipSplitting.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineMapping.h"
#include "project/TrackCommands.h"

#include <QDebug>
#include <QPainter>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {

const QString SplitText = QStringLiteral("拆分片段");
const QString MoveText = QStringLiteral("移动片段");
constexpr int GhostWidth = 140;
constexpr int GhostHeight = 100;
const QPoint GhostOffset(GhostWidth / 2, GhostHeight / 2);

// The floating picture of a dragged clip, centred on the pointer.
class ClipDragGhost : public QWidget {
public:
    ClipDragGhost(const QColor& color, QWidget* parent)
        : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), color(color)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFixedSize(GhostWidth, GhostHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = color;
        fill.setAlpha(110);
        painter.setPen(QPen(color.lighter(130), 2));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 6, 6);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, MoveText);
    }

private:
    QColor color;
};

// Splits clips[index] at `at` into itself and a new clip right after it;
// `before` gets the clip as it was. False, with nothing changed, when the
// index or the time does not allow a split.
template <class Clip, class Split>
bool splitInPlace(std::vector<Clip>& clips, int index, double at, Split split, std::vector<Clip>& before)
{
    if (index < 0 || index >= int(clips.size()))
        return false;
    Clip first;
    Clip second;
    if (!split(clips[size_t(index)], at, first, second))
        return false;
    before = {clips[size_t(index)]};
    clips[size_t(index)] = std::move(first);
    clips.insert(clips.begin() + index + 1, std::move(second));
    return true;
}

} // namespace

void MultiTrackEditorPage::splitClipAtPlayhead(int trackIndex, int clipIndex)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()) || clipIndex < 0)
        return;
    if (refusedWhileRecording(trackIndex, "split"))
        return;
    TrackData& track = tracks[size_t(trackIndex)];
    TrackRowWidget* row = trackIndex < int(rows.size()) ? rows[size_t(trackIndex)] : nullptr;
    const auto* lane = row ? row->lane() : nullptr;
    const double at = lane ? lane->playheadPosition() : 0.0;

    if (track.isMidi()) {
        closePianoRollsForTrack(trackIndex);
        std::vector<MidiClip> before;
        // The playhead is timeline time; MIDI clips hold source-tempo times.
        const double heldAt = at / midiTimeScale();
        if (!splitInPlace(track.midiClips, clipIndex, heldAt, ClipSplitting::splitMidiClip, before))
            return;
        undoStack->push(TrackClipsSnapshotCommand::createForMidi(this, trackIndex, clipIndex,
                                                                 std::move(before), 2, SplitText));
    } else {
        std::vector<AudioClip> before;
        if (!splitInPlace(track.audioClips, clipIndex, at, ClipSplitting::splitAudioClip, before))
            return;
        undoStack->push(new TrackClipsSnapshotCommand(this, trackIndex, clipIndex, std::move(before),
                                                      2, SplitText));
    }
    repaintLane(trackIndex);
    updateRuler();
    updateEngineTrackSlot(trackIndex);
}

void MultiTrackEditorPage::onSplitClip()
{
    if (selectedTrack < 0 || selectedTrack >= int(tracks.size()))
        return;
    const TrackData& track = tracks[size_t(selectedTrack)];
    const TrackRowWidget* row = selectedTrack < int(rows.size()) ? rows[size_t(selectedTrack)] : nullptr;
    const auto* lane = row ? row->lane() : nullptr;
    const double at = lane ? lane->playheadPosition() : 0.0;
    // Where clips overlap, the later one is drawn on top: that one is cut.
    int hit = -1;
    if (track.isMidi()) {
        const double heldAt = at / midiTimeScale();
        for (int i = int(track.midiClips.size()) - 1; i >= 0 && hit < 0; --i) {
            const MidiClip& clip = track.midiClips[size_t(i)];
            if (clip.start < heldAt && heldAt < clip.end())
                hit = i;
        }
    } else {
        for (int i = int(track.audioClips.size()) - 1; i >= 0 && hit < 0; --i) {
            const AudioClip& clip = track.audioClips[size_t(i)];
            if (clip.start < at && at < clip.end())
                hit = i;
        }
    }
    if (hit >= 0)
        splitClipAtPlayhead(selectedTrack, hit);
}

void MultiTrackEditorPage::onClipDragStarted(int trackIndex, int clipIndex, QPoint globalPos)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()))
        return;
    if (refusedWhileRecording(trackIndex, "clip drag"))
        return;
    endClipDrag(); // a drag whose release never came
    const TrackData& track = tracks[size_t(trackIndex)];
    isDraggingClip = true;
    dragSourceTrack = trackIndex;
    dragClipIndex = clipIndex;
    dragStartPos = globalPos;
    dragIsMidi = track.isMidi();
    dragClipStart = 0.0;
    // On the timeline, where the pointer moves it.
    if (dragIsMidi && clipIndex >= 0 && clipIndex < int(track.midiClips.size()))
        dragClipStart = track.midiClips[size_t(clipIndex)].start * midiTimeScale();
    else if (!dragIsMidi && clipIndex >= 0 && clipIndex < int(track.audioClips.size()))
        dragClipStart = track.audioClips[size_t(clipIndex)].start;
    const QColor color = track.color.isValid() ? track.color : QColor(0x3a, 0x86, 0xff);
    dragGhost = new ClipDragGhost(color, this);
    dragGhost->move(globalPos - GhostOffset);
    dragGhost->show();
}

void MultiTrackEditorPage::onClipDragMoved(QPoint globalPos)
{
    if (isDraggingClip && dragGhost)
        dragGhost->move(globalPos - GhostOffset);
}

void MultiTrackEditorPage::endClipDrag()
{
    if (dragGhost) {
        dragGhost->close();
        dragGhost->deleteLater();
        dragGhost = nullptr;
    }
    isDraggingClip = false;
}

int MultiTrackEditorPage::findTrackIndexAtGlobalY(int globalY) const
{
    for (size_t i = 0; i < rows.size(); ++i) {
        const QWidget* lane = rows[i]->lane();
        if (!lane)
            continue;
        const int top = lane->mapToGlobal(QPoint(0, 0)).y();
        if (globalY >= top && globalY < top + lane->height())
            return int(i);
    }
    return -1;
}

void MultiTrackEditorPage::onClipDragFinished(int trackIndex, QPoint globalPos)
{
    Q_UNUSED(trackIndex); // the drag's own source is what counts
    if (!isDraggingClip)
        return;
    endClipDrag();
    const int source = dragSourceTrack;
    const int clipIndex = dragClipIndex;
    dragSourceTrack = -1;
    dragClipIndex = -1;
    const int target = findTrackIndexAtGlobalY(globalPos.y());
    const int count = int(tracks.size());
    if (target < 0 || target >= count || source < 0 || source >= count)
        return;
    if (refusedWhileRecording(source, "clip drag") || refusedWhileRecording(target, "clip drag"))
        return;
    TrackData& from = tracks[size_t(source)];
    const int clips = dragIsMidi ? int(from.midiClips.size()) : int(from.audioClips.size());
    const bool validClip = clipIndex >= 0 && clipIndex < clips && from.isMidi() == dragIsMidi;

    if (target == source) {
        double start = std::max(0.0, dragClipStart + (globalPos.x() - dragStartPos.x()) / (zoomLevel * 100.0));
        if (snapEnabled)
            start = TimelineMapping::snapToBeat(start, bpm);
        if (!validClip || !std::isfinite(start))
            return;
        if (dragIsMidi)
            start /= midiTimeScale();
        const double now = dragIsMidi ? from.midiClips[size_t(clipIndex)].start
                                      : from.audioClips[size_t(clipIndex)].start;
        if (now == start)
            return; // a press without a move is no edit
        undoStack->push(new MoveClipInTrackCommand(this, source, clipIndex, dragIsMidi, start, MoveText));
        repaintLane(source);
    } else {
        // Clips only move between tracks of their own kind.
        if (tracks[size_t(target)].isMidi() != dragIsMidi || !validClip)
            return;
        undoStack->push(new MoveClipCommand(this, source, target, clipIndex, dragIsMidi, MoveText));
        repaintLane(source);
        repaintLane(target);
        updateEngineTrackSlot(target);
    }
    updateRuler();
    updateEngineTrackSlot(source);
}

void MultiTrackEditorPage::repaintLane(int trackIndex)
{
    if (trackIndex < 0 || trackIndex >= int(rows.size()))
        return;
    if (QWidget* lane = rows[size_t(trackIndex)]->lane())
        lane->update();
}
