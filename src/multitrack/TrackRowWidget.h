#pragma once
// Binds one track of the multitrack page's track vector to the widgets that
// show it: a TrackHeaderWidget and one clip lane (an AudioClipWidget for an
// audio track, a MidiClipWidget for a MIDI track). Header edits are written
// into the track; a MIDI track's header gets its instrument list; lane
// events go on to the page as the row's signals, stamped with its index.
//
// The row owns its header and lane through Qt parenthood until the page
// moves them into its columns. It holds a plain pointer into the page's
// track vector, re-pointed by rebindTrackData whenever the vector moves.

#include "multitrack/TrackInstrumentList.h"
#include "project/TrackRowHost.h"

#include <QPoint>
#include <QWidget>
#include <memory>

class AudioClipWidget;
class AudioPluginBridge;
class ClipLaneWidget;
class MidiClipWidget;
class PianoSampler;
class SF2Sampler;
class TrackHeaderWidget;

class TrackRowWidget : public QWidget, public TrackRowBinding {
    Q_OBJECT
public:
    explicit TrackRowWidget(QWidget* parent = nullptr);
    ~TrackRowWidget() override;

    // Binds the row once, right after construction. The instruments and the
    // bridge belong to the page and outlive the row; any may be null.
    void setTrackData(TrackData* track, int index, SF2Sampler* sf2, PianoSampler* piano,
                      AudioPluginBridge* bridge);
    void updateIndex(int index) override;
    // Re-points the row and its lane; the header is not refreshed.
    void rebindTrackData(TrackData* track) override;
    void setSelected(bool selected);

    TrackHeaderWidget* header() const { return trackHeader; }
    MidiClipWidget* midiLane() const { return midiClipLane; }
    AudioClipWidget* audioLane() const { return audioClipLane; }
    // The lane of either kind, null before setTrackData.
    ClipLaneWidget* lane() const;
    TrackData* trackData() const { return track; }
    int index() const { return trackIndex; }
    bool isSelected() const { return selected; }

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
    // Forwards the signals both lane kinds share.
    void connectLane(ClipLaneWidget* lane);

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
};
