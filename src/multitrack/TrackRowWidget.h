#pragma once
// Binds one track of the multitrack page's track vector to the widgets that
// show it: a TrackHeaderWidget and one clip lane (an AudioClipWidget for an
// audio track, a MidiClipWidget for a MIDI track). Header edits are written
// into the track; a MIDI track's header gets its instrument list; lane
// events go on to the page as the row's signals, stamped with its index.
//
// The row owns its header and lane through Qt parenthood, unless they are
// made in the page's columns at once (the page deletes them). It holds a plain pointer into the page's
// track vector, re-pointed by rebindTrackData whenever the vector moves.
//
// A double-clicked MIDI clip opens in a piano roll, a child dialog of the
// row that edits the clip through its address. Moving the track vector
// keeps that address (the clip vector's storage moves with it); anything
// that adds, removes or replaces the track's MIDI clips must first close
// the row's rolls (closePianoRolls, or the page's closePianoRollsForTrack).

#include "multitrack/TrackInstrumentList.h"
#include "project/TrackRowHost.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

class AudioClipWidget;
class AudioPluginBridge;
class ClipLaneWidget;
class MidiClipWidget;
class PianoRollDialog;
class PianoSampler;
class SF2Sampler;
class TrackHeaderWidget;

class TrackRowWidget : public QWidget, public TrackRowBinding {
    Q_OBJECT
public:
    explicit TrackRowWidget(QWidget* parent = nullptr);
    // Makes the header, and the lane once bound, children of the columns
    // that show them: moved there later, every child of the header would
    // take its styles a second time.
    TrackRowWidget(QWidget* parent, QWidget* headerColumn, QWidget* laneColumn);
    ~TrackRowWidget() override;

    // Binds the row once, right after construction. The instruments and the
    // bridge belong to the page and outlive the row; any may be null.
    void setTrackData(TrackData* track, int index, SF2Sampler* sf2, PianoSampler* piano,
                      AudioPluginBridge* bridge);
    void updateIndex(int index) override;
    // Re-points the row and its lane; the header is not refreshed. A row
    // left without a track closes its piano rolls.
    void rebindTrackData(TrackData* track) override;
    // A selected row takes the keyboard focus through its lane, so the keys
    // reach the clip clicked there.
    void setSelected(bool selected);

    TrackHeaderWidget* header() const { return trackHeader; }
    MidiClipWidget* midiLane() const { return midiClipLane; }
    AudioClipWidget* audioLane() const { return audioClipLane; }
    // The lane of either kind, null before setTrackData.
    ClipLaneWidget* lane() const;
    TrackData* trackData() const { return track; }
    int index() const { return trackIndex; }
    bool isSelected() const { return selected; }

    // The piano rolls open on this row's clips, oldest first.
    std::vector<PianoRollDialog*> pianoRolls() const;
    // Closes and deletes every open piano roll at once, without reporting
    // the track as changed: the caller is about to change its MIDI clips.
    void closePianoRolls();
    // Fills a MIDI row's instrument list again from what is loaded now (a
    // SoundFont or plug-in loaded since), keeping the track's instrument.
    void refreshInstrumentList();
    // Hands the timeline playhead to the open piano rolls, which show the
    // clip's held MIDI times (the lane's time scale undone).
    void setPianoRollPlayhead(double sec);

signals:
    void playheadMoved(double sec);
    void removeRequested(int index);
    void trackChanged();
    void clipDoubleClicked(int clipIndex);
    void trackSelected(int index);
    void scissorClicked(int clipIndex);
    void clipDragStarted(int clipIndex, QPoint globalPos);
    void clipDragMoved(QPoint globalPos);
    void clipDragFinished(QPoint globalPos);
    void deleteMidiClip(int clipIndex);
    void deleteAudioClip(int clipIndex);
    void renderMidiInPlace(int clipIndex); // reserved; nothing emits it yet
    void vst3EditorToggled(int trackIndex, bool open);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void connectHeader();
    void bindAudioLane();
    void bindMidiLane();
    void fillInstrumentList();
    void onInstrumentChanged(int entry);
    void onMidiClipCreated(double startSec, double durationSec);
    void onMidiClipDoubleClicked(int clipIndex);
    void forgetPianoRoll(PianoRollDialog* roll);
    // Forwards the signals both lane kinds share.
    void connectLane(ClipLaneWidget* lane);

    QWidget* laneParent = nullptr; // where the lane is made
    TrackHeaderWidget* trackHeader = nullptr;
    MidiClipWidget* midiClipLane = nullptr;
    AudioClipWidget* audioClipLane = nullptr;
    TrackData* track = nullptr;
    int trackIndex = -1;
    bool selected = false;
    SF2Sampler* sf2Sampler = nullptr;
    PianoSampler* pianoSampler = nullptr;
    AudioPluginBridge* pluginBridge = nullptr;
    std::unique_ptr<TrackInstrumentList> instruments;
    std::vector<QPointer<PianoRollDialog>> openRolls;
};
