#pragma once
// The clip lane of one MIDI track row: the track's MIDI clips as boxes with a
// thumbnail of their notes on the shared timeline, the volume envelope and
// the playhead. Alt-drag creates a clip; clips are selected, moved, trimmed
// and deleted; a double-click asks for the piano roll. Trims and moves are
// written into the bound track in place; everything undoable leaves as a
// signal (the lane pushes no command).
//
// The lane holds a plain pointer to a TrackData in the page's track vector
// and clip / point indices, never clip addresses: setTrackData re-points it
// when the vector moves, even in mid-gesture, and a gesture whose clip or
// point has gone ends without a signal.
//
// MIDI times are held at the page's MIDI source tempo and play scaled by
// the tempo factor (timeline seconds per held second): the lane draws and
// hit-tests held times times the factor and writes timeline times divided
// by it, so a clip shows, and is edited, where it is heard. clipCreated
// reports held times; the playhead, the envelope and the drag preview are
// timeline seconds.
//
// Definitions: MidiClipWidget.cpp (state, geometry, painting) and
// MidiClipWidgetEditing.cpp (mouse, keys, context menu).

#include "multitrack/ClipLaneWidget.h"

class MidiClipWidget : public ClipLaneWidget {
    Q_OBJECT
public:
    // Shortest clip an Alt-drag creates, and shortest clip after a trim.
    static constexpr double MinCreatedSeconds = 0.5;
    static constexpr double MinTrimmedSeconds = 0.1;

    explicit MidiClipWidget(QWidget* parent = nullptr);

    void setTrackData(TrackData* track);
    bool isCreating() const { return creating; }
    // Timeline seconds per held MIDI second; anything but a positive
    // finite number means 1.
    void setTimeScale(double factor);
    double timeScale() const { return scale; }

signals:
    void clipCreated(double startSec, double durationSec);
    void deleteClipRequested(int clipIndex);

protected:
    bool pressNormalTool(QMouseEvent* event, const QPoint& pos) override;
    bool moveNormalTool(const QPoint& pos) override;
    bool releaseNormalTool(const QPoint& pos) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    int clipCount() const override;
    double clipStart(int index) const override;
    void setClipStart(int index, double start) override;
    std::pair<int, int> clipSpanX(int index) const override;
    void endLaneGestures(bool staleOnly) override;

    void drawBackground(QPainter& painter);
    void drawEmptyState(QPainter& painter);
    void drawClips(QPainter& painter);
    void drawClipThumbnail(QPainter& painter, const QRectF& clipRect, const MidiClip& clip);
    void drawEnvelope(QPainter& painter);
    void drawPlayhead(QPainter& painter);
    void drawDragPreview(QPainter& painter);

private:
    // A clip's span on the timeline.
    double timelineStart(const MidiClip& clip) const { return clip.start * scale; }
    double timelineEnd(const MidiClip& clip) const { return clip.end() * scale; }
    // Clip `index` of the bound track, or null when it no longer exists.
    MidiClip* clipAt(int index) const;
    // The trim step of a Normal-tool move.
    bool dragTrim(int x);
    void hover(const QPoint& pos);
    void finishCreation();

    bool creating = false;
    double creationStart = 0.0;
    double creationEnd = 0.0;
    int trimClip = -1;
    bool trimLeftEdge = false;
    double trimAnchorStart = 0.0;
    double trimAnchorDuration = 0.0;
    double scale = 1.0;
};
