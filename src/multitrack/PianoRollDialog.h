#pragma once
// The piano roll: a non-modal dialog that edits the notes of one MIDI clip
// in place (no undo entry). One painted surface: a key column, a bar ruler,
// the note grid and a velocity panel. Clicked keys and new notes are
// auditioned through the page's shared instruments, heard through the
// dialog's own pulled audio output.
//
// Beat axis: the clip's own time from its start at a fixed 120 BPM (one
// beat = 0.5 s); notes stay stored in seconds. 24 px a beat and 24 px a row
// at zoom 1; rows run from pitch 119 at the top down to 12.
//
// The dialog keeps a plain pointer to the clip. The track row that opens it
// closes it (detachClip, then deletion) before anything adds, removes or
// replaces that track's MIDI clips; every operation checks the pointer.
//
// Definitions: PianoRollDialog.cpp (state, mapping, auditions, preview
// output), PianoRollDialogEditing.cpp (mouse, wheel, keys) and
// PianoRollDialogPainting.cpp.

#include "engine/devices/PulseOutputStream.h"
#include "multitrack/AuditionInstrument.h"
#include "project/ProjectTypes.h"

#include <QColor>
#include <QDialog>
#include <QRect>
#include <QSet>
#include <map>
#include <vector>

class PianoSampler;
class PreviewPlaybackDevice;
class SF2Sampler;

class PianoRollDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int KeyColumnWidth = 48;
    static constexpr int RulerHeight = 32;
    static constexpr int VelocityPanelHeight = 128;
    static constexpr int BottomStripHeight = 24;
    static constexpr int TopPitch = 119;
    static constexpr int BottomPitch = 12;
    static constexpr int RowCount = TopPitch - BottomPitch + 1;
    static constexpr double PixelsPerBeat = 24.0;
    static constexpr int PixelsPerRow = 24;
    // The shortest note a resize leaves, and the length of a clicked note.
    static constexpr double MinNoteBeats = 0.25;
    static constexpr double MinZoom = 0.1;
    static constexpr double MaxZoom = 5.0;
    static constexpr int EdgeGrabPixels = 6;
    static constexpr int MiddleC = 60;

    enum DragMode { NoDrag = 0, CreatingNote = 1, MovingNote = 2, ResizingNote = 3, RubberBand = 4 };

    // The instruments belong to the page and outlive the dialog; either may be null.
    PianoRollDialog(MidiClip* clip, const QColor& clipColor, SF2Sampler* sf2, PianoSampler* piano,
                    QWidget* parent = nullptr);
    ~PianoRollDialog() override;

    // The multitrack playhead in timeline seconds; drawn relative to the clip's start.
    void setPlayheadPosition(double seconds);
    // Forgets the clip and stops the output and every auditioned note: from
    // here on the dialog edits and sounds nothing.
    void detachClip();
    MidiClip* editedClip() const { return clip; }
    // The clip's track instrument: its SoundFont channel and preset (the
    // preset is made ready on that channel before each audition), or the
    // piano while no SoundFont is loaded.
    void setTrackInstrument(int channel, int preset);

    // ---- geometry ----
    QRect rulerArea() const;
    QRect gridArea() const;
    QRect pianoKeyArea() const;
    QRect velocityArea() const;
    int beatToX(double beat) const;
    double xToBeat(int x) const;
    // The top edge of the row of `pitch`.
    int pitchToY(int pitch) const;
    int yToPitch(int y) const;
    int rowHeight() const;
    // To the nearest quarter beat.
    static void snapToGrid(double& beat);
    void clampScroll();
    // Brings the clip's notes into view (middle C for an empty clip).
    void scrollToNotes();
    // The topmost (last drawn) note under pos, -1 for none.
    int hitTestNote(const QPoint& pos) const;
    // 2i + 1 for note i's right edge, 2i for its left edge, -1 for none.
    int hitTestNoteEdge(const QPoint& pos) const;

    // ---- view and editing state ----
    const QSet<int>& selectedNoteIndices() const { return selectedNotes; }
    int dragState() const { return dragMode; }
    double horizontalZoom() const { return zoomX; }
    double verticalZoom() const { return zoomY; }
    double scrollBeatPosition() const { return scrollBeat; }
    int verticalScroll() const { return scrollY; }
    double playheadPosition() const { return playheadSeconds; }

    // ---- preview output ----
    // Opens the default output in pull mode over a PreviewPlaybackDevice,
    // or, when Qt's sink does not start, a PulseAudio stream of its own
    // that pulls the same way; without a device nothing runs.
    void startPreviewRenderer();
    void stopPreviewRenderer();
    // False also once the output went with its sound server; the next
    // audition opens it again.
    bool isPreviewRunning() const;
    // The rate of the running output (and of the instruments it renders), 0 when none runs.
    int previewSampleRate() const;
    // Whether this roll's output renders the instruments' voices: only the
    // roll that auditioned last does, so open rolls never share them out.
    bool previewDrawsVoices() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double secondsToBeats(double seconds) const { return seconds * bpm / 60.0; }
    double beatsToSeconds(double beats) const { return beats * 60.0 / bpm; }
    // A note's horizontal span in pixels.
    int noteLeft(const MidiNote& note) const;
    int noteRight(const MidiNote& note) const;
    bool validNote(int index) const;
    // The notes whose row holds y, the topmost (last drawn) first.
    std::vector<int> notesInRowAt(int y) const;
    // Velocity from a y inside the velocity panel, 1..127.
    int velocityAt(int y) const;
    AuditionInstrument heardInstrument() const;
    void auditionOn(int pitch, int velocity);
    void auditionOff(int pitch);
    // Moves the sounding instrument to the output's rate (a device that
    // refused the instrument's own rate).
    void keepInstrumentAtOutputRate();
    bool startOwnOutput(int rate);
    // Reopens the output when the instrument was moved to another rate, or
    // when the output was lost with its sound server.
    void followInstrumentRate();
    // This roll's output becomes the one that renders the voices.
    void takeVoices();

    bool pressVelocity(const QPoint& pos);
    bool pressKey(const QPoint& pos);
    void pressGrid(const QPoint& pos, bool alt);
    void finishCreation();
    void finishRubberBand();
    void dragMove(const QPoint& pos);
    void dragResize(const QPoint& pos);
    bool handleEditKey(QKeyEvent* event);

    void paintGrid(QPainter& painter);
    void paintKeys(QPainter& painter);
    void paintNotes(QPainter& painter);
    void paintVelocityPanel(QPainter& painter);
    void paintRuler(QPainter& painter);
    void paintPlayhead(QPainter& painter);
    void paintCreatePreview(QPainter& painter);
    void paintRubberBand(QPainter& painter);
    // Beats visible across the grid.
    double visibleBeats() const;

    MidiClip* clip;
    QColor clipColor;
    double scrollBeat = 0.0;
    double zoomX = 1.0;
    double zoomY = 1.0;
    int scrollY = 0;
    const double bpm = 120.0;
    int dragMode = NoDrag;
    double createStartBeat = 0.0;
    double createEndBeat = 0.0;
    int createPitch = 60;
    int moveNoteIndex = -1;
    double moveBeatOffset = 0.0;
    int movePitchOffset = 0;
    int resizeNoteIndex = -1;
    bool resizeLeftEdge = false;
    double resizeOrigStart = 0.0;
    double resizeOrigDuration = 0.0;
    double rubberStartBeat = 0.0;
    double rubberEndBeat = 0.0;
    int rubberStartY = 0;
    int rubberEndY = 0;
    QSet<int> selectedNotes;
    int newNoteVelocity = 127;
    bool velocityDragging = false;
    // The key a press in the key column sounds, released on the release
    // wherever the pointer went meanwhile; -1 for none.
    int soundingKey = -1;
    SF2Sampler* sampler;
    PianoSampler* pianoSampler;
    int auditionChannel = 0;
    int auditionPreset = -1; // -1: whatever the channel has
    // The instrument each sounding audition started on, by pitch: its note-off
    // goes there even when a SoundFont loaded meanwhile.
    std::map<int, AuditionInstrument> soundingOn;
    double playheadSeconds = 0.0;
    PreviewPlaybackDevice* previewDevice = nullptr;
    // Connects afresh at every start, also after a server that was away long.
    PulseOutputStream ownOutput;
    int outputRate = 0;
};
