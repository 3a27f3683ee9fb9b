#pragma once
// The multitrack editor: page 2 of the main window's stack. It owns the open
// multitrack project (tracks, markers, undo history), the mixing engine, the
// plug-in bridge, one SoundFont instrument, one sampled piano, MIDI input,
// the live instrument output, the MIDI recorder and the metronome.
//
// Track i is shown by rows[i]: its header in the left column, its clip lane
// in the right one. Rows hold plain pointers into `tracks`; whenever the
// vector may have moved every row is re-pointed (TrackRowHost). The undo
// commands reach the page through the TrackRowHost interface.
//
// One project sample rate: sampleRate() is the rate of the mixing engine,
// of every render and of recordings; it changes only through setSampleRate,
// which replaces the engine, and only to a rate the plug-ins run at too
// (ProjectSampleRate). Clips of other rates are resampled when tracks are
// flattened for playback. A rate the user chose (a new project's, an opened
// file's) stays; an import takes the material's rate only into a project
// whose rate nobody chose, without audio clips and plug-ins, as part of its
// undo step; material at a rate no project runs at is resampled to the
// project's.
//
// The mixing engine reads the cached track renders by pointer while it
// plays: the caches are rebuilt only while it is stopped or paused, and
// anything that removes tracks stops playback first.
//
// The member definitions are split by concern: MultiTrackEditorPage.cpp
// (members, construction, rate, tools, row host), MultiTrackEditorPageLayout.cpp
// (widget tree and the page's own controls), MultiTrackEditorPageTracks.cpp
// (track list, rows, ruler, playhead and zoom push), MultiTrackEditorPageTimeline.cpp
// (zoom, time read-out, snapping, markers), MultiTrackEditorPagePlayback.cpp
// (transport and track rendering), MultiTrackEditorPageClipEditing.cpp (splits
// and the Move tool's drags), MultiTrackEditorPageKeys.cpp (keys, zoom input,
// undo and redo), MultiTrackEditorPageCallbacks.cpp with
// MultiTrackEditorPageClipDialog.cpp and MultiTrackEditorPagePluginEditors.cpp
// (the handlers of the rows and the ruler), MultiTrackEditorPageRecording.cpp
// (audio and MIDI takes), MultiTrackEditorPageMixdown.cpp (offline mix for
// export), MultiTrackEditorPageInstruments.cpp (SoundFont folder, live MIDI,
// MIDI device dialog) and MultiTrackEditorPagePianoRolls.cpp (the piano rolls
// the rows open).

#include "engine/devices/MultiTrackAudioEngine.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/TakeAlignmentTrace.h"
#include "multitrack/TrackRenderCache.h"
#include "project/TrackRowHost.h"

#include <QElapsedTimer>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class AudioEngine;
class AudioPluginBridge;
class ClipLaneWidget;
class LiveAudioPlayer;
class Metronome;
class MidiInput;
class MidiRecorder;
class PluginEditorWindows;
class QComboBox;
class QDoubleSpinBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QTimer;
class QToolBar;
class QUndoStack;
class QVBoxLayout;
class RecordTakeQueue;
class TimelineRulerWidget;
class TrackRowWidget;
class VideoPlayerDialog;

class MultiTrackEditorPage : public QWidget, public TrackRowHost {
    Q_OBJECT
public:
    enum ToolMode { Normal = 0, Scissors = 1, Move = 2 };

    static constexpr int EngineBufferFrames = 512;
    static constexpr double MaxZoom = 512.0;
    // The ruler spans at least this much without clips.
    static constexpr double MinRulerSeconds = 300.0;

    explicit MultiTrackEditorPage(QWidget* parent = nullptr);
    ~MultiTrackEditorPage() override;

    // ---- the project, read and written by the main window, mixer and piano roll ----
    std::vector<TrackData> tracks;
    std::vector<TimelineMarker> markers;
    QUndoStack* undoStack = nullptr;
    int bitDepth = 16;
    bool mono = false;
    double bpm = 120.0;
    double midiSourceBpm = 120.0;
    QDoubleSpinBox* bpmSpinBox = nullptr;
    TimelineRulerWidget* ruler = nullptr;
    std::vector<TrackRowWidget*> rows;
    // The same rows under the name the track commands know them by.
    std::vector<TrackRowWidget*>& trackRows = rows;
    AudioPluginBridge* pluginBridge = nullptr;

    // ---- construction and layout ----
    int sampleRate() const { return projectSampleRate; }
    // Replaces the mixing engine (stopping playback) and sets the loaded
    // plug-ins up again when the rate changes; the tracks keep their
    // plug-ins. Rates outside ProjectSampleRate's range are ignored.
    void setSampleRate(int rate);
    // The rate the user chose for the project, as setSampleRate: imports keep
    // it from now on, whatever their material's rate.
    void chooseSampleRate(int rate);
    // Opens the mixing engine's output, stopped, and keeps it open from now
    // on, across rate changes too (see MultiTrackAudioEngine): a sound server
    // that holds a stream starts every stream, this page's or another
    // page's, at the press. Quietly nothing without a server.
    void prepareOutput();
    // Whether the project's rate was chosen, or it holds audio clips or
    // loaded plug-ins, or a take runs: imports then keep its rate.
    bool rateSettled() const;
    void setupUi();
    void setupToolBar();
    void setupTransportBar();
    void onToolChanged(ToolMode mode);
    void onTogglePcmCast();

    // ---- track list and rows ----
    // Material at a rate the project cannot run at comes at the project's
    // rate. False, adding nothing, when bringing it there would take more
    // memory than the machine has available (rateConversionBytes).
    bool addTrack(TrackType type, const QList<float>& samples, int sampleRate,
                  const QString& name = QString(), const QList<float>& stereoSamples = {});
    // Bytes addTrack takes to bring material at `rate` to the project's
    // rate; 0 when it takes the material as it is.
    qint64 rateConversionBytes(const QList<float>& samples, const QList<float>& stereoSamples,
                               int rate) const;
    void addMidiTrack(const QString& name, std::vector<MidiNote> notes, double clipLength);
    void removeTrack(int index);
    void clearTracks();
    int countTracksOfType(TrackType type) const;
    void createTrackRow(int index) override;
    void destroyTrackRow(int index) override;
    void updateRuler() override;
    void syncPlayheadAll(double sec);
    void syncZoomAll();
    void syncVerticalScroll();
    void setVideoPlayerDialog(VideoPlayerDialog* dialog);
    void showVideoButtonOnTrack(int index);
    // The latest clip end over all tracks as they play (MIDI clips
    // tempo-scaled), 0 without clips.
    double projectLength() const;

    // ---- piano rolls (MultiTrackEditorPagePianoRolls.cpp) ----
    // Closes and deletes the piano rolls open on track `index`'s MIDI clips
    // (an index out of range does nothing). Call it before anything adds,
    // removes, moves or replaces that track's MIDI clips: the rolls edit
    // the clips through their addresses.
    void closePianoRollsForTrack(int index);
    // The undo commands announce their MIDI clip changes here.
    void midiClipsAboutToChange(int index) override;

    // ---- zoom, time display, snapping and markers ----
    void applyZoom(double zoom, int anchorX);
    void updateTimeLabel(double sec);
    // Seconds as the time read-out shows them: "00:01:02.345".
    static QString clockText(double sec);
    double snapToGrid(double sec) const;
    void setMarkers(const std::vector<TimelineMarker>& list);
    void syncMarkersToRuler();
    void addMarkerAtPlayhead();
    void removeMarker(int index);

    // ---- playback ----
    void onPlayPause();
    void onStop();
    // The output went away with its device or server: playback ends where
    // its sound stopped, so that the next play goes on from there.
    void endLostPlayback();
    void onRewind();
    void onPlaybackTimer();
    TrackData tempoScaledTrack(const TrackData& track) const;
    // Timeline seconds per held MIDI second (midiSourceBpm / bpm), the
    // factor playback scales MIDI times by; 1 when the tempi agree.
    double midiTimeScale() const;
    // Sets the tempo the MIDI times are held at and resyncs the lanes.
    void setMidiSourceBpm(double sourceBpm);
    // Hands every MIDI lane the current factor and re-spans the ruler;
    // after any change of bpm or midiSourceBpm.
    void syncMidiTimeScale();
    void updateEngineTrackSlot(int index);

    // ---- clip splitting, dragging and page keys ----
    // Splits a clip at the playhead its row shows, as one undo step.
    void splitClipAtPlayhead(int trackIndex, int clipIndex);
    // The same for the clip of the selected track under the playhead (the
    // one drawn on top where clips overlap).
    void onSplitClip();
    void onClipDragStarted(int trackIndex, int clipIndex, QPoint globalPos);
    void onClipDragMoved(QPoint globalPos);
    void onClipDragFinished(int trackIndex, QPoint globalPos);
    // The first row whose lane covers globalY, -1 for none.
    int findTrackIndexAtGlobalY(int globalY) const;
    // The multitrack history, for the keys and the main window's menu: the
    // lanes and the ruler follow. Refused while a take records.
    void undo();
    void redo();
    bool clipDragActive() const { return isDraggingClip; }
    QWidget* clipDragGhost() const { return dragGhost; }
    // The plug-in editor windows the tracks' VST3 buttons opened; null before the first.
    PluginEditorWindows* pluginEditors() const { return vst3Editors; }
    // Closes every open plug-in editor window (they are windows of their own
    // and would outlive the main window).
    void closePluginEditors();
    // The MIDI rows list the SoundFont's presets and the loaded plug-ins again.
    void refreshInstrumentLists();

    // ---- the running take, which edits must not redirect ----
    bool takeRunning() const { return isRecording || isMidiRecording; }
    // Whether a running take writes into track `index`.
    bool takeWritesTo(int index) const;

    // ---- recording and live MIDI ----
    // The record button: starts a take on the first armed audio track and
    // the first armed MIDI track, or ends the running take.
    void onRecord();
    void startRecordingOnTrack(int index);
    void startMidiRecording();
    void stopMidiRecording();
    // Hands the engine every track for playback during a take, the take
    // clips left out: the last clip of this track's kind and those of the
    // takes that run.
    void buildPlaybackSlotsForRecording(int recordTrackIndex);
    void onRecordedNoteCompleted(const MidiNote& note);
    void onMidiNoteOn(int channel, int pitch, int velocity);
    void onMidiNoteOff(int channel, int pitch);
    // Where each take's duplex engine finds its device; empty: the real
    // devices. Tests script one.
    using AudioDeviceFactory = std::function<std::unique_ptr<AudioDeviceBackend>()>;
    void setRecordDeviceFactory(AudioDeviceFactory factory);
    // The same for the mixing engine, which is made anew on it (a take and
    // playback stop first).
    void setOutputDeviceFactory(AudioDeviceFactory factory);
    bool recording() const { return isRecording; }
    bool midiRecording() const { return isMidiRecording; }
    RecordTakeQueue* recordQueue() const { return takeQueue; }

    // ---- mixdown, SoundFonts and MIDI devices ----
    // The whole project as interleaved stereo at the project rate, for
    // export; false when there is nothing to render or the machine cannot
    // hold the render. `note`, when given, receives what the user must be
    // told: that material past the longest render was cut, or why nothing
    // was rendered; empty otherwise.
    bool renderMixdown(QList<float>& out, int& sampleRate, QString* note = nullptr);
    // Copies a SoundFont into the SoundFont folder and loads it; a file that
    // does not load is not copied and leaves the loaded font in place.
    // `note`, when given, receives why the folder could not keep the font
    // (it is then loaded from where it lies, for this run only); empty
    // otherwise.
    bool copyAndLoadSoundFont(const QString& path, QString* note = nullptr);
    // Loads the newest SoundFont of the folder that loads.
    void scanAndLoadExistingSf2();
    bool loadSoundFont(const QString& path);
    // "soundfonts" beside the program, unless setSoundFontFolder chose another.
    QString sf2Directory() const;
    void setSoundFontFolder(const QString& folder);
    void showMidiDeviceDialog();
    bool midiDeviceConnected() const { return midiConnected; }
    LiveAudioPlayer* livePlayer() const { return liveAudioPlayer; }
    // The MIDI track whose instrument the keyboard plays: the first armed
    // MIDI track, else the selected one if MIDI, else -1 (the piano).
    int liveKeysTrack() const;
    // The SoundFont channel the keyboard's next note sounds on (that track's,
    // with its preset made ready), -1 for the piano; whatever channel the
    // keyboard itself sends on.
    int liveKeysChannel();

    // ---- TrackRowHost ----
    std::vector<TrackData>& trackList() override { return tracks; }
    int trackRowCount() const override { return int(rows.size()); }
    TrackRowBinding* trackRowAt(int index) const override;
    std::vector<TimelineMarker>& markerList() override { return markers; }
    void changeProjectSampleRate(int rate) override;

    // ---- state read by the shell, the other pages and tests ----
    MultiTrackAudioEngine* mixingEngine() const { return engine; }
    bool playing() const { return isPlaying; }
    int tool() const { return toolMode; }
    int selectedTrackIndex() const { return selectedTrack; }
    double zoom() const { return zoomLevel; }
    double viewStart() const { return viewStartSec; }
    // The playhead the first row's lane shows; 0 without rows.
    double playheadPosition() const;
    SF2Sampler& soundFont() { return sf2Sampler; }
    PianoSampler& piano() { return pianoSampler; }
    QLabel* timeReadout() const { return timeLabel; }
    QComboBox* rulerModeSelector() const { return rulerModeCombo; }
    QScrollBar* horizontalScrollBar() const { return hScrollBar; }
    QScrollArea* laneScrollArea() const { return clipScrollArea; }

signals:
    void backToWelcome(); // reserved; nothing emits it yet
    // Something the window's status line tells: the page has none of its own.
    void statusMessage(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The mixing engine's output opens with the page shown, if not before.
    void showEvent(QShowEvent* event) override;

private:
    // Mixes hours of material at a few hertz, a rate no project runs at.
    friend class MultiTrackMixdownTest;

    // The handlers of the rows, lanes, headers and ruler
    // (MultiTrackEditorPageCallbacks.cpp).
    void connectRowActions(TrackRowWidget* row);
    void connectEditingControls();
    void onRowTrackChanged(int index);
    void renameMarker(int index);
    void deleteClip(int trackIndex, int clipIndex, bool midi);
    // The clip an Alt-drag just appended to the track, as one undo step.
    void commitMidiClipCreation(int trackIndex);
    void commitEnvelopeEdit(int trackIndex, const std::vector<EnvelopePoint>& before,
                            const std::vector<EnvelopePoint>& after);
    void editAudioClip(int trackIndex, int clipIndex);
    void renderMidiClipInPlace(int trackIndex, int clipIndex);
    void repaintLane(int trackIndex);
    // The track's instrument plug-in editor window, opened or closed.
    void toggleVst3Editor(int trackIndex, bool open);
    // Logs and answers true when a running take writes into the track
    // (MultiTrackEditorPageTakeGuard.cpp).
    bool refusedWhileRecording(int trackIndex, const char* action) const;
    // Zoom requests of the wheel and gestures over the lanes and the ruler.
    bool zoomFromInput(QObject* watched, QEvent* event);
    void endClipDrag();
    void stepHistory(bool forward);

    void loadPiano();
    // The live player sounds the instrument of liveKeysChannel().
    void useLiveInstrument();
    // The live player sounds the SoundFont (true) or the piano.
    void useLiveSource(bool soundFont);
    void connectPageControls();
    void connectRow(TrackRowWidget* row);
    void onRowSelected(int index);
    // Calls visit with each row's clip lane (audio or MIDI), in row order.
    void forEachLane(const std::function<void(ClipLaneWidget*)>& visit) const;
    // Hands the caches' buffers to the engine; none may change until the next start.
    std::vector<MultiTrackAudioEngine::TrackSlot> buildTrackSlots();
    MultiTrackAudioEngine::TrackSlot slotFor(int index) const;
    // Bytes the instrument in use holds at once to render a (tempo-scaled)
    // MIDI track from its first note; 0 without an instrument.
    qint64 midiRenderBytes(const TrackData& scaledTrack, int sampleRate) const;
    // Recording (MultiTrackEditorPageRecording.cpp).
    void connectRecordingControls();
    // inputLost: the take's input went away with its device or server.
    void stopTake(bool inputLost = false);
    // Ends the take after a failed start: the message, then idle again.
    void failRecordingStart(const QString& reason);
    void appendTakeSamples(const float* samples, qsizetype count);
    AudioClip* audioTakeClip();
    MidiClip* midiTakeClip();
    // Stops the recorder (held notes end at stopSec) and leaves the note handler.
    void endMidiNotes(double stopSec);
    // Keeps a MIDI take that holds notes as one undo step, else removes its clip.
    void commitMidiTake();
    bool commitAudioTake();
    // Silence the take starts with: how much later its input began than the
    // playback was first heard; less than zero, the input from before then
    // that the take drops.
    qsizetype takeLeadInFrames();
    // When the take's input began (steady clock), 0 before any input.
    qint64 takeInputBeganNs() const;
    // Notes how far the heard playback trails the take's clock now.
    void noteTakeHeardLag();
    // After a take: that its input went away at inputLostAt (when not
    // negative), where and how long its playback dropped out leaving the
    // take late (gapCount dropouts, the first of them in gaps), how much
    // input was lost or had not come by the stop, and that an audio take got
    // none at all, when any of it happened.
    struct TakeTroubles {
        std::vector<MultiTrackAudioEngine::PlaybackGap> gaps;
        int gapCount = 0;
        qint64 lostSamples = 0;
        double inputLostAt = -1.0;
        double unreceivedSeconds = 0.0;
        bool nothingRecorded = false;
    };
    void tellTakeTroubles(const TakeTroubles& troubles);
    void pauseTakePlayback();
    // The other tracks of an audio take play from its start once its input
    // is open, so that what they play from the start is recorded.
    void startTakePlayback();
    bool takePlaybackWaits = false; // for an input still opening
    void setRecordButtonIdle();
    // The take's time now: the wall clock while playing, else the MIDI take's lane.
    double recordingClockSec() const;
    // Grows the MIDI take's clip ahead of the playhead (the playback tick).
    void growMidiTakeClip(double playhead);
    // Played seconds to the seconds MIDI clips are held in (bpm / midiSourceBpm).
    double toMidiSourceTime() const;
    // The track as the engine plays it: without a take clip that is recording.
    const TrackData& playbackView(size_t index, TrackData& withoutTake) const;
    double minimumZoom() const;
    // Appends a track with its row, re-pointing the rows only when the
    // track list moved.
    void appendTrack(TrackData track);
    int laneViewportWidth() const;
    void restyleToggle(QPushButton* button, bool checked);

    int projectSampleRate = 44100;
    bool sampleRateChosen = false;
    double zoomLevel = 1.0;
    double viewStartSec = 0.0;
    // The project length the ruler was last set to: a change of it brings
    // the playhead back within the project.
    double rulerProjectLength = 0.0;
    // The project's end moved behind the running playhead: a pause brings
    // the playhead back to it, as a stop does.
    bool endPassedWhilePlaying = false;
    MultiTrackAudioEngine* engine = nullptr;
    AudioDeviceFactory outputDeviceFactory;
    // Makes the mixing engine anew at the project rate (it must not play).
    void replaceEngine();
    // An engine made while no sound server answered keeps to the sound card
    // (or to nothing) for its life: once a server answers, a stopped
    // transport gets one that plays there. A gone server refuses at once.
    void followSoundServer(std::chrono::milliseconds patience = std::chrono::milliseconds(100));
    QTimer* serverFollowTimer = nullptr; // while the output is kept off a server
    QTimer* playbackTimer = nullptr;
    bool isPlaying = false;
    // Whether the mixing engine's output is kept open (prepareOutput).
    bool outputKept = false;
    bool scrollSyncGuard = false;
    bool lanesRepaintQueued = false;
    double playStartSec = 0.0;
    QElapsedTimer playClock;
    SF2Sampler sf2Sampler;
    PianoSampler pianoSampler;
    std::vector<QList<float>> midiRenderCache;
    std::vector<QList<float>> audioRenderCache;
    // The timeline frame of each render's first value: the silence before a
    // track's first clip or note is not held.
    std::vector<qint64> midiRenderStarts;
    std::vector<qint64> audioRenderStarts;
    // What each cached render was made from: a render whose inputs have not
    // changed since is reused.
    std::vector<TrackRenderSource> renderSources;

    // Recording (audio and MIDI takes).
    AudioEngine* recordEngine = nullptr;
    bool isRecording = false;
    int recordTrack = -1;
    // Carries the audio take's input from the record engine's thread.
    RecordTakeQueue* takeQueue = nullptr;
    AudioDeviceFactory recordDeviceFactory;
    // The take clip is the last clip of recordTrack and holds exactly
    // takeFrames samples; anything else means an edit replaced it, and the
    // take stops writing.
    qsizetype takeFrames = 0;
    // When the take's input and playback had both started (steady clock).
    qint64 takeStartNs = 0;
    // When the take's input stream was about to open (steady clock).
    qint64 takeInputOpenedNs = 0;
    // The least the heard playback trailed the take's clock (seconds; -1
    // before it was heard): the delay of its start, which a dropout later in
    // the take does not add to.
    double takeHeardLag = -1.0;
    TakeAlignmentTrace takeAlignment;
    int midiTakeId = 0;
    // The track whose last clip buildPlaybackSlotsForRecording leaves out.
    int takeLeftOut = -1;
    QString soundFontFolder;
    // Counts the fonts loaded: a font reloaded from the same path (a newer
    // copy under the same name) must not reuse renders of the old one.
    quint64 soundFontLoads = 0;

    QToolBar* toolBar = nullptr;
    int toolMode = Normal;
    QPushButton* scissorsButton = nullptr;
    QPushButton* moveButton = nullptr;
    QPushButton* envelopeButton = nullptr;
    QPushButton* snapButton = nullptr;
    bool snapEnabled = false;

    // Clip dragging between tracks.
    bool isDraggingClip = false;
    int dragSourceTrack = -1;
    int dragClipIndex = -1;
    bool dragIsMidi = false;
    QWidget* dragGhost = nullptr;
    double dragClipStart = 0.0;
    QPoint dragStartPos;

    QScrollArea* headerScrollArea = nullptr;
    QWidget* headerContainer = nullptr;
    QVBoxLayout* headerLayout = nullptr;
    QScrollArea* clipScrollArea = nullptr;
    QWidget* clipContainer = nullptr;
    QVBoxLayout* clipLayout = nullptr;
    QPushButton* addTrackButton = nullptr;
    int selectedTrack = -1;
    QScrollBar* hScrollBar = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* rewindButton = nullptr;
    QPushButton* forwardButton = nullptr;
    QPushButton* recordButton = nullptr;
    QPushButton* castButton = nullptr;
    QLabel* timeLabel = nullptr;
    QComboBox* rulerModeCombo = nullptr;
    MidiInput* midiInput = nullptr;
    LiveAudioPlayer* liveAudioPlayer = nullptr;
    MidiRecorder* midiRecorder = nullptr;
    bool midiConnected = false;
    // Set as the page goes: a key queued before then starts no output.
    bool goingAway = false;
    // Where each held key went (SoundFont channel, -1 the piano): its release
    // goes there too, whatever the routing is by then.
    std::array<int, 128> liveKeyChannels;
    QTimer* midiConnectTimer = nullptr;
    bool isMidiRecording = false;
    int midiRecordTrack = -1;
    // The clip receiving a MIDI take, as an index into the take track's MIDI
    // clips (an address would not survive the vector moving).
    int recordingMidiClip = -1;
    double midiRecordStartSec = 0.0;
    Metronome* metronome = nullptr;
    QPushButton* metronomeButton = nullptr;
    bool metronomeEnabled = false;
    QPointer<VideoPlayerDialog> videoDialog;
    // Open plug-in editor windows by plug-in id, made at the first opening.
    PluginEditorWindows* vst3Editors = nullptr;
};
