#pragma once
// Undo commands of the multitrack page: clip lists, clip moves between
// tracks, whole tracks, volume envelopes, markers and MIDI notes.
//
// Addressing: a command names its track by index (and a MIDI clip by index
// within the track) and resolves it through the page each time it runs, so
// adding, removing or reallocating tracks in between never leaves a command
// holding a stale address. The undo stack runs a command only in the state
// it left, so the indexes still name the same track and clip then. An index
// that does not resolve makes undo() and redo() do nothing.
//
// Pushing: the page makes the edit itself and then pushes the command; the
// push's redo() assigns the "after" state, which is already in place, or
// does nothing. The two clip moves are the exception: their push performs
// the move. The commands refresh no view; the page repaints after push,
// undo and redo.
//
// Typical calls from the page (`this` is the TrackRowHost):
//   std::vector<AudioClip> before{clips[c]};  /* split clip c of track t in two */
//   undoStack->push(new TrackClipsSnapshotCommand(this, t, c, before, 2, "拆分片段"));
//   undoStack->push(new MoveClipCommand(this, from, to, c, false, "移动片段"));  /* performs the move */
//   tracks.push_back(newTrack); rebindTrackRows(); createTrackRow(last);
//   undoStack->push(new AddTrackCommand(this, "添加轨道"));

#include "TrackRowHost.h"

#include <QString>
#include <QUndoCommand>
#include <vector>

// The run of clips that an edit of one track replaced: `before` were at
// clip `first` and the `count` clips there now took their place (a split
// puts two for one, a deletion none for one, a take one for none). Push it
// right after the edit; the push's redo does nothing. Undo and redo swap
// only that run and leave the track's other clips, with whatever trims,
// fades or notes they got since, as they are. The run taken off is kept as
// it was then for the next swap. The audio variant touches only the
// track's audioClips, the MIDI variant only its midiClips.
class TrackClipsSnapshotCommand : public QUndoCommand {
public:
    // Audio variant: page->trackList()[trackIndex].audioClips.
    TrackClipsSnapshotCommand(TrackRowHost* page, int trackIndex, int first,
                              std::vector<AudioClip> before, int count, const QString& text);
    // MIDI variant (heap-allocated; the caller pushes it).
    static TrackClipsSnapshotCommand* createForMidi(TrackRowHost* page, int trackIndex, int first,
                                                    std::vector<MidiClip> before, int count,
                                                    const QString& text);

    void undo() override;
    void redo() override;

private:
    TrackClipsSnapshotCommand(TrackRowHost* page, int trackIndex, int first, int count,
                              const QString& text);
    void swapRun(bool toAfter);

    TrackRowHost* page;
    int trackIndex;
    int first;
    int onTrack;          // length of the run that is on the track
    bool isMidi = false;
    bool applied = true;  // the edited run is on the track
    std::vector<AudioClip> audioKept; // the run that is off the track
    std::vector<MidiClip> midiKept;
};

// Moves clip `clipIndex` of track `trackIndex` along its track to `start`
// (timeline seconds; held source-tempo seconds for MIDI clips). The push
// performs the move. Undo moves the clip back by the same distance and redo
// forward again, so a trim or fade made on it since stays; no other clip is
// touched.
class MoveClipInTrackCommand : public QUndoCommand {
public:
    MoveClipInTrackCommand(TrackRowHost* page, int trackIndex, int clipIndex, bool isMidi,
                           double start, const QString& text);

    void undo() override;
    void redo() override;

private:
    void shift(double from, double to);

    TrackRowHost* page;
    int trackIndex;
    int clipIndex;
    bool isMidi;
    double startBefore = 0.0;
    double startAfter;
    // How far the last shift stopped short of its place before 0 s.
    double cutAtZero = 0.0;
};

// Moves clip `clipIndex` of track `fromIndex` to the end of track `toIndex`
// (audio clips, or MIDI clips when `isMidi`). The push performs the move; do
// not move the clip before pushing. Undo takes back exactly the clip that
// moved (from where it landed, with the edits made to it since) and puts it
// at `clipIndex` again; redo moves it once more; no other clip is touched.
// A redo that finds no such clip moves nothing, and the undo that follows
// it removes nothing.
class MoveClipCommand : public QUndoCommand {
public:
    MoveClipCommand(TrackRowHost* page, int fromIndex, int toIndex, int clipIndex, bool isMidi,
                    const QString& text);

    void undo() override;
    void redo() override;

private:
    void announceMidiChange();

    TrackRowHost* page;
    int fromIndex;
    int toIndex;
    int clipIndex;
    bool isMidi;
    int landed = -1; // where the last redo put the clip in the target, -1 for no move
};

// Push right after the page appended a track and created its row. Keeps a
// copy of the last track; the push's redo does nothing. Undo removes the
// last track and its row, keeping a copy of it as it was then; a later redo
// appends that copy again. Made on a page without tracks, it does nothing.
class AddTrackCommand : public QUndoCommand {
public:
    AddTrackCommand(TrackRowHost* page, const QString& text);
    // The add moved the project from rate `before` to `after`: undo returns
    // to `before`, a later redo goes to `after` again.
    void setRateChange(int before, int after);

    void undo() override;
    void redo() override;

private:
    TrackRowHost* page;
    TrackData snapshot;
    bool hasSnapshot = false;
    bool firstRedoPending = true;
    int rateBefore = 0;
    int rateAfter = 0;
};

// Push right after the page removed track `index` (and its row); `track` is
// a copy of the removed track. The push's redo does nothing. Undo inserts
// the copy at `index` with a row at the same place; a later redo removes it
// again and keeps it as it was then for the next undo.
class RemoveTrackCommand : public QUndoCommand {
public:
    RemoveTrackCommand(TrackRowHost* page, int index, TrackData track, const QString& text);

    void undo() override;
    void redo() override;

private:
    TrackRowHost* page;
    int index;
    TrackData snapshot;
    bool firstRedoPending = true;
};

// The volume envelope of track `trackIndex` with its on/off flag, before
// and after an edit.
class EnvelopeSnapshotCommand : public QUndoCommand {
public:
    EnvelopeSnapshotCommand(TrackRowHost* page, int trackIndex, std::vector<EnvelopePoint> before,
                            std::vector<EnvelopePoint> after, bool enabledBefore,
                            bool enabledAfter, const QString& text);

    void undo() override;
    void redo() override;

private:
    void apply(const std::vector<EnvelopePoint>& points, bool enabled);

    TrackRowHost* page;
    int trackIndex;
    std::vector<EnvelopePoint> before;
    std::vector<EnvelopePoint> after;
    bool enabledBefore;
    bool enabledAfter;
};

// The page's whole marker vector before and after an edit. The vector never
// moves, so its address is kept; the caller hands the markers to the ruler.
class MarkerSnapshotCommand : public QUndoCommand {
public:
    MarkerSnapshotCommand(std::vector<TimelineMarker>* markers, std::vector<TimelineMarker> before,
                          std::vector<TimelineMarker> after, const QString& text);

    void undo() override;
    void redo() override;

private:
    std::vector<TimelineMarker>* markers;
    std::vector<TimelineMarker> before;
    std::vector<TimelineMarker> after;
};

// The notes of MIDI clip `clipIndex` of track `trackIndex`, before and after
// an edit.
class MidiNoteSnapshotCommand : public QUndoCommand {
public:
    MidiNoteSnapshotCommand(TrackRowHost* page, int trackIndex, int clipIndex,
                            std::vector<MidiNote> before, std::vector<MidiNote> after,
                            const QString& text);

    void undo() override;
    void redo() override;

private:
    MidiClip* clip() const;

    TrackRowHost* page;
    int trackIndex;
    int clipIndex;
    std::vector<MidiNote> before;
    std::vector<MidiNote> after;
};
