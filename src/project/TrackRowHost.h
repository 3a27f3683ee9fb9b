#pragma once
// What the track and timeline undo commands need of the multitrack page:
// its track storage, its row widgets and the operations that create, remove
// and re-point rows. MultiTrackEditorPage implements it; tests use a double.

#include "ProjectTypes.h"

#include <vector>

// One track row as the commands see it (TrackRowWidget implements it).
class TrackRowBinding {
public:
    virtual ~TrackRowBinding() = default;
    // Stores the track index that the row reports in its signals.
    virtual void updateIndex(int index) = 0;
    // Re-points the row (and its clip views) to the track's current address.
    virtual void rebindTrackData(TrackData* track) = 0;
};

class TrackRowHost {
public:
    virtual ~TrackRowHost() = default;

    // The project's tracks in display order; row i is bound to track i.
    virtual std::vector<TrackData>& trackList() = 0;
    virtual int trackRowCount() const = 0;
    virtual TrackRowBinding* trackRowAt(int index) const = 0;
    // The page's marker vector; its address stays fixed for the page's life.
    virtual std::vector<TimelineMarker>& markerList() = 0;

    // Creates a row bound to track `index` and inserts it at row position
    // `index`; changes neither the tracks nor the ruler.
    virtual void createTrackRow(int index) = 0;
    // Removes and deletes row `index`; ignores an index out of range.
    virtual void destroyTrackRow(int index) = 0;
    // Recomputes the project length and the ruler's range.
    virtual void updateRuler() = 0;
    // Called right before a command adds, removes or replaces MIDI clips of
    // track `index` (or their notes): whatever edits those clips through
    // their addresses must let go of them now.
    virtual void midiClipsAboutToChange(int index) { (void)index; }
    // Puts the project at another sample rate (an undo of the step that
    // changed it); the loaded plug-ins stay.
    virtual void changeProjectSampleRate(int rate) { (void)rate; }

    // Track `index`, or null when the index is out of range. The address is
    // good only until the track list next changes size.
    TrackData* trackAt(int index);
    // Gives every row i index i and the current address of track i. Call it
    // after anything that inserts into, erases from or reallocates the
    // track list; the undo commands do so after each of their changes.
    void rebindTrackRows();
};
