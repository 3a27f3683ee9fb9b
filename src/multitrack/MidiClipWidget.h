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
// Definitions: MidiClipWidget.cpp (state, geometry, painting) and
// MidiClipWidgetEditing.cpp (mouse, keys, context menu).

#include "multitrack/ClipLaneEnvelope.h"
#include "multitrack/TimelineMapping.h"
#include "project/ProjectTypes.h"

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <vector>

class MidiClipWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int LaneHeight = 120;
    // Shortest clip an Alt-drag creates, and shortest clip after a trim.
    static constexpr double MinCreatedSeconds = 0.5;
    static constexpr double MinTrimmedSeconds = 0.1;

    explicit MidiClipWidget(QWidget* parent = nullptr);

    void setTrackData(TrackData* track);
    void setViewStartSec(double seconds);
    void setZoomLevel(double zoom);
    void setPlayheadPosition(double seconds);
    void setWaveColor(const QColor& color);
    void setToolMode(int mode);
    void setShowEnvelope(bool show);
    void setSnapEnabled(bool enabled);
    void setSnapBpm(double bpm);

    TrackData* trackData() const { return track; }
    double viewStartSec() const { return mapping.viewStartSec(); }
    double zoomLevel() const { return mapping.zoom(); }
    double playheadPosition() const { return playhead; }
    int toolMode() const { return tool; }
    bool showsEnvelope() const { return envelopeShown; }
    bool snapEnabled() const { return snap; }
    double snapBpm() const { return snapTempo; }
    QColor waveColor() const { return wave; }
    int selectedClip() const { return selected; }
    bool isCreating() const { return creating; }

    int secondsToX(double seconds) const;
    double xToSeconds(int x) const;
    double snapToGrid(double seconds) const;
    double valueToY(float value) const;
    float yToValue(int y) const;
    int hitTestClip(const QPoint& pos) const;
    // 2i for clip i's head edge, 2i + 1 for its tail edge, -1 for none.
    int hitTestClipEdge(const QPoint& pos) const;
    int hitTestEnvelopePoint(const QPoint& pos) const;

signals:
    void clipCreated(double startSec, double durationSec);
    void clipDoubleClicked(int clipIndex);
    void playheadMoved(double sec);
    void clicked();
    void clipTrimmed();
    void scissorClicked(int clipIndex);
    void clipDragStarted(int clipIndex, QPoint globalPos);
    void clipDragMoved(QPoint globalPos);
    void clipDragFinished(QPoint globalPos);
    void deleteClipRequested(int clipIndex);
    void envelopeChanged();
    void envelopeEditCommitted(std::vector<EnvelopePoint> oldPoints,
                               std::vector<EnvelopePoint> newPoints);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    void drawBackground(QPainter& painter);
    void drawEmptyState(QPainter& painter);
    void drawClips(QPainter& painter);
    void drawClipThumbnail(QPainter& painter, const QRectF& clipRect, const MidiClip& clip);
    void drawEnvelope(QPainter& painter);
    void drawPlayhead(QPainter& painter);
    void drawDragPreview(QPainter& painter);

private:
    enum ToolMode { NormalTool = 0, ScissorsTool = 1, MoveTool = 2 };

    // Clip `index` of the bound track, or null when it no longer exists.
    MidiClip* clipAt(int index) const;
    void movePlayheadTo(int x);
    void endGestures();
    void emitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit);
    // The body drag, trim and creation steps of a Normal-tool move.
    bool dragBody(int x);
    bool dragTrim(int x);
    void hover(const QPoint& pos);
    void finishCreation();

    TrackData* track = nullptr;
    QColor wave{0x3A, 0x86, 0xFF};
    TimelineMapping mapping;
    double playhead = 0.0;
    int tool = NormalTool;
    bool envelopeShown = false;
    bool snap = false;
    double snapTempo = 120.0;

    bool creating = false;
    double creationStart = 0.0;
    double creationEnd = 0.0;
    int trimClip = -1;
    bool trimLeftEdge = false;
    double trimAnchorStart = 0.0;
    double trimAnchorDuration = 0.0;
    bool moveDragging = false;
    int moveDragClip = -1;
    bool bodyMoved = false;
    int bodyDragClip = -1;
    double bodyDragAnchor = 0.0;
    int pressX = 0;
    int selected = -1;
    ClipLaneEnvelopeEditor envelope;
};
