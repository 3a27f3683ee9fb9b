#include "TrackCommands.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Takes source[index] off and appends it to the destination; returns where it
// landed, -1 when there was no such clip.
template <class Clip>
int takeAndAppend(std::vector<Clip>& source, std::vector<Clip>& destination, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= source.size())
        return -1;
    Clip clip = std::move(source[static_cast<size_t>(index)]);
    source.erase(source.begin() + index);
    destination.push_back(std::move(clip));
    return static_cast<int>(destination.size()) - 1;
}

// Takes destination[landed] off and puts it back at `index` of the source.
template <class Clip>
void putBack(std::vector<Clip>& source, std::vector<Clip>& destination, int index, int landed)
{
    if (landed < 0 || static_cast<size_t>(landed) >= destination.size() || index < 0)
        return;
    Clip clip = std::move(destination[static_cast<size_t>(landed)]);
    destination.erase(destination.begin() + landed);
    const size_t at = std::min(static_cast<size_t>(index), source.size());
    source.insert(source.begin() + static_cast<std::ptrdiff_t>(at), std::move(clip));
}

// Puts `run` at `first` of the clips in place of the `count` clips there,
// and hands those back in `run`. False, with nothing changed, when the
// clips hold no such run.
template <class Clip>
bool exchangeRun(std::vector<Clip>& clips, int first, int count, std::vector<Clip>& run)
{
    if (first < 0 || count < 0 || size_t(first) + size_t(count) > clips.size())
        return false;
    const auto from = clips.begin() + first;
    std::vector<Clip> taken(std::make_move_iterator(from), std::make_move_iterator(from + count));
    clips.erase(from, from + count);
    clips.insert(clips.begin() + first, std::make_move_iterator(run.begin()),
                 std::make_move_iterator(run.end()));
    run = std::move(taken);
    return true;
}

// The start of clip `clipIndex` of track `trackIndex`, null when there is none.
double* clipStart(TrackRowHost* page, int trackIndex, int clipIndex, bool isMidi)
{
    TrackData* track = page ? page->trackAt(trackIndex) : nullptr;
    if (!track || clipIndex < 0)
        return nullptr;
    const size_t at = size_t(clipIndex);
    if (isMidi)
        return at < track->midiClips.size() ? &track->midiClips[at].start : nullptr;
    return at < track->audioClips.size() ? &track->audioClips[at].start : nullptr;
}

} // namespace

// ---- TrackClipsSnapshotCommand

TrackClipsSnapshotCommand::TrackClipsSnapshotCommand(TrackRowHost* page, int trackIndex, int first,
                                                     int count, const QString& text)
    : QUndoCommand(text), page(page), trackIndex(trackIndex), first(first), onTrack(count)
{
}

TrackClipsSnapshotCommand::TrackClipsSnapshotCommand(TrackRowHost* page, int trackIndex, int first,
                                                     std::vector<AudioClip> before, int count,
                                                     const QString& text)
    : TrackClipsSnapshotCommand(page, trackIndex, first, count, text)
{
    audioKept = std::move(before);
}

TrackClipsSnapshotCommand* TrackClipsSnapshotCommand::createForMidi(TrackRowHost* page,
                                                                    int trackIndex, int first,
                                                                    std::vector<MidiClip> before,
                                                                    int count, const QString& text)
{
    auto* command = new TrackClipsSnapshotCommand(page, trackIndex, first, count, text);
    command->isMidi = true;
    command->midiKept = std::move(before);
    return command;
}

void TrackClipsSnapshotCommand::swapRun(bool toAfter)
{
    if (applied == toAfter)
        return; // the push's redo: the page made the edit
    TrackData* track = page ? page->trackAt(trackIndex) : nullptr;
    if (!track)
        return;
    const int kept = int(isMidi ? midiKept.size() : audioKept.size());
    if (isMidi)
        page->midiClipsAboutToChange(trackIndex);
    if (!(isMidi ? exchangeRun(track->midiClips, first, onTrack, midiKept)
                 : exchangeRun(track->audioClips, first, onTrack, audioKept)))
        return;
    onTrack = kept;
    applied = toAfter;
}

void TrackClipsSnapshotCommand::undo() { swapRun(false); }
void TrackClipsSnapshotCommand::redo() { swapRun(true); }

// ---- MoveClipInTrackCommand

MoveClipInTrackCommand::MoveClipInTrackCommand(TrackRowHost* page, int trackIndex, int clipIndex,
                                               bool isMidi, double start, const QString& text)
    : QUndoCommand(text),
      page(page),
      trackIndex(trackIndex),
      clipIndex(clipIndex),
      isMidi(isMidi),
      startAfter(start)
{
    if (double* at = clipStart(page, trackIndex, clipIndex, isMidi))
        startBefore = *at;
}

void MoveClipInTrackCommand::shift(double from, double to)
{
    // Relative to where the clip is now: a head trim since moved it too.
    // What the timeline's start cut off one way is given back the other.
    if (double* at = clipStart(page, trackIndex, clipIndex, isMidi)) {
        const double wanted = to + (*at - from) - cutAtZero;
        *at = std::max(0.0, wanted);
        cutAtZero = *at - wanted;
    }
}

void MoveClipInTrackCommand::undo() { shift(startAfter, startBefore); }
void MoveClipInTrackCommand::redo() { shift(startBefore, startAfter); }

// ---- MoveClipCommand

MoveClipCommand::MoveClipCommand(TrackRowHost* page, int fromIndex, int toIndex, int clipIndex,
                                 bool isMidi, const QString& text)
    : QUndoCommand(text),
      page(page),
      fromIndex(fromIndex),
      toIndex(toIndex),
      clipIndex(clipIndex),
      isMidi(isMidi)
{
}

void MoveClipCommand::redo()
{
    landed = -1;
    TrackData* from = page ? page->trackAt(fromIndex) : nullptr;
    TrackData* to = page ? page->trackAt(toIndex) : nullptr;
    if (!from || !to)
        return;
    if (isMidi)
        announceMidiChange();
    landed = isMidi ? takeAndAppend(from->midiClips, to->midiClips, clipIndex)
                    : takeAndAppend(from->audioClips, to->audioClips, clipIndex);
}

void MoveClipCommand::undo()
{
    if (landed < 0)
        return;
    const int at = landed;
    landed = -1;
    TrackData* from = page ? page->trackAt(fromIndex) : nullptr;
    TrackData* to = page ? page->trackAt(toIndex) : nullptr;
    if (!from || !to)
        return;
    if (isMidi) {
        announceMidiChange();
        putBack(from->midiClips, to->midiClips, clipIndex, at);
    } else {
        putBack(from->audioClips, to->audioClips, clipIndex, at);
    }
}

void MoveClipCommand::announceMidiChange()
{
    page->midiClipsAboutToChange(fromIndex);
    if (toIndex != fromIndex)
        page->midiClipsAboutToChange(toIndex);
}

// ---- AddTrackCommand

AddTrackCommand::AddTrackCommand(TrackRowHost* page, const QString& text)
    : QUndoCommand(text), page(page)
{
    if (page && !page->trackList().empty()) {
        snapshot = page->trackList().back();
        hasSnapshot = true;
    }
}

void AddTrackCommand::setRateChange(int before, int after)
{
    rateBefore = before;
    rateAfter = after;
}

void AddTrackCommand::redo()
{
    if (!page)
        return;
    if (firstRedoPending) {
        firstRedoPending = false;
        return;
    }
    if (!hasSnapshot)
        return;
    if (rateAfter > 0)
        page->changeProjectSampleRate(rateAfter);
    std::vector<TrackData>& tracks = page->trackList();
    tracks.push_back(snapshot);
    // The append may have moved every track: re-point the existing rows
    // before the new row is made.
    page->rebindTrackRows();
    page->createTrackRow(static_cast<int>(tracks.size()) - 1);
    page->updateRuler();
}

void AddTrackCommand::undo()
{
    if (!page || !hasSnapshot)
        return;
    std::vector<TrackData>& tracks = page->trackList();
    if (tracks.empty())
        return;
    // Renames, mixer settings, trims and fades are made in place without an
    // undo step of their own: the track comes back as it leaves.
    snapshot = tracks.back();
    page->destroyTrackRow(static_cast<int>(tracks.size()) - 1);
    tracks.pop_back();
    page->rebindTrackRows();
    if (rateBefore > 0)
        page->changeProjectSampleRate(rateBefore);
    page->updateRuler();
}

// ---- RemoveTrackCommand

RemoveTrackCommand::RemoveTrackCommand(TrackRowHost* page, int index, TrackData track,
                                       const QString& text)
    : QUndoCommand(text), page(page), index(index), snapshot(std::move(track))
{
}

void RemoveTrackCommand::redo()
{
    if (!page)
        return;
    if (firstRedoPending) {
        firstRedoPending = false;
        return;
    }
    std::vector<TrackData>& tracks = page->trackList();
    if (index < 0 || static_cast<size_t>(index) >= tracks.size())
        return;
    // In-place edits made since the last undo come back with the next one.
    snapshot = tracks[static_cast<size_t>(index)];
    page->destroyTrackRow(index);
    tracks.erase(tracks.begin() + index);
    page->rebindTrackRows();
    page->updateRuler();
}

void RemoveTrackCommand::undo()
{
    if (!page)
        return;
    std::vector<TrackData>& tracks = page->trackList();
    if (index < 0 || static_cast<size_t>(index) > tracks.size())
        return;
    tracks.insert(tracks.begin() + index, snapshot);
    // Re-point the existing rows before the new row is made: those from
    // `index` on now show the track one place further on, and the insertion
    // may have moved every track.
    const int rows = page->trackRowCount();
    for (int r = 0; r < rows; ++r) {
        const int track = r < index ? r : r + 1;
        TrackRowBinding* row = page->trackRowAt(r);
        if (!row || static_cast<size_t>(track) >= tracks.size())
            continue;
        row->updateIndex(track);
        row->rebindTrackData(&tracks[static_cast<size_t>(track)]);
    }
    page->createTrackRow(index);
    page->rebindTrackRows();
    page->updateRuler();
}

// ---- EnvelopeSnapshotCommand

EnvelopeSnapshotCommand::EnvelopeSnapshotCommand(TrackRowHost* page, int trackIndex,
                                                 std::vector<EnvelopePoint> before,
                                                 std::vector<EnvelopePoint> after,
                                                 bool enabledBefore, bool enabledAfter,
                                                 const QString& text)
    : QUndoCommand(text),
      page(page),
      trackIndex(trackIndex),
      before(std::move(before)),
      after(std::move(after)),
      enabledBefore(enabledBefore),
      enabledAfter(enabledAfter)
{
}

void EnvelopeSnapshotCommand::apply(const std::vector<EnvelopePoint>& points, bool enabled)
{
    TrackData* track = page ? page->trackAt(trackIndex) : nullptr;
    if (!track)
        return;
    track->volumeEnvelope = points;
    track->envelopeEnabled = enabled;
}

void EnvelopeSnapshotCommand::undo() { apply(before, enabledBefore); }
void EnvelopeSnapshotCommand::redo() { apply(after, enabledAfter); }

// ---- MarkerSnapshotCommand

MarkerSnapshotCommand::MarkerSnapshotCommand(std::vector<TimelineMarker>* markers,
                                             std::vector<TimelineMarker> before,
                                             std::vector<TimelineMarker> after,
                                             const QString& text)
    : QUndoCommand(text), markers(markers), before(std::move(before)), after(std::move(after))
{
}

void MarkerSnapshotCommand::undo()
{
    if (markers)
        *markers = before;
}

void MarkerSnapshotCommand::redo()
{
    if (markers)
        *markers = after;
}

// ---- MidiNoteSnapshotCommand

MidiNoteSnapshotCommand::MidiNoteSnapshotCommand(TrackRowHost* page, int trackIndex,
                                                 int clipIndex, std::vector<MidiNote> before,
                                                 std::vector<MidiNote> after, const QString& text)
    : QUndoCommand(text),
      page(page),
      trackIndex(trackIndex),
      clipIndex(clipIndex),
      before(std::move(before)),
      after(std::move(after))
{
}

MidiClip* MidiNoteSnapshotCommand::clip() const
{
    TrackData* track = page ? page->trackAt(trackIndex) : nullptr;
    if (!track || clipIndex < 0 || static_cast<size_t>(clipIndex) >= track->midiClips.size())
        return nullptr;
    return &track->midiClips[static_cast<size_t>(clipIndex)];
}

void MidiNoteSnapshotCommand::undo()
{
    if (MidiClip* target = clip()) {
        page->midiClipsAboutToChange(trackIndex);
        target->notes = before;
    }
}

void MidiNoteSnapshotCommand::redo()
{
    if (MidiClip* target = clip()) {
        page->midiClipsAboutToChange(trackIndex);
        target->notes = after;
    }
}
