// What the editing of the multitrack page leaves alone while a take runs.
// A take finds its clip as the last clip of its track, and its undo step
// restores that track by index: an edit that moved, split or removed clips
// of that track, or an undo that reshaped the track list, would send the
// input or the stop snapshot to the wrong clip or track. Such edits are
// refused. (Removing or clearing tracks ends the take first.)

#include "multitrack/MultiTrackEditorPage.h"

#include <QDebug>

bool MultiTrackEditorPage::takeWritesTo(int index) const
{
    return index >= 0
        && ((isRecording && index == recordTrack) || (isMidiRecording && index == midiRecordTrack));
}

bool MultiTrackEditorPage::refusedWhileRecording(int trackIndex, const char* action) const
{
    if (!takeWritesTo(trackIndex))
        return false;
    qDebug() << "MultiTrackEditorPage:" << action << "refused: track" << trackIndex << "is recording";
    return true;
}
