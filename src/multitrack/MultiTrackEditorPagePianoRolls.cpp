// The piano rolls that the track rows open on MIDI clips. A roll edits its
// clip through the clip's address, so the page closes a track's rolls
// before that track's MIDI clips are added, removed, moved or replaced.
// Moving the track vector itself keeps those addresses: each track's clip
// storage moves along with it, as long as tracks move without copying.

#include "multitrack/MultiTrackEditorPage.h"

#include "multitrack/TrackRowWidget.h"

#include <type_traits>

static_assert(std::is_nothrow_move_constructible_v<TrackData> && std::is_nothrow_move_assignable_v<TrackData>,
              "open piano rolls rely on tracks moving their clip storage instead of copying it");

void MultiTrackEditorPage::closePianoRollsForTrack(int index)
{
    if (index < 0 || index >= int(rows.size()))
        return;
    rows[size_t(index)]->closePianoRolls();
}

void MultiTrackEditorPage::midiClipsAboutToChange(int index)
{
    closePianoRollsForTrack(index);
}
