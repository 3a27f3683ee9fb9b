#pragma once
// What the audio and MIDI clip lanes of the multitrack timeline share: the
// view fields the page sets (track, colour, view start, zoom, playhead,
// tool, envelope, snapping), the timeline mapping and envelope scale, the
// signals both report, and the gestures that work alike on either kind of
// clip: envelope points, the Move and Scissors tools, a Normal-tool body
// press that drags the clip or moves the playhead, and the double-click.
//
// A lane holds a plain pointer to a TrackData in the page's track vector and
// clip / point indices, never addresses: setTrackData re-points it when the
// vector moves, even in mid-gesture, and a gesture whose clip or point has
// gone ends without a signal.

#include "multitrack/ClipLaneEnvelope.h"
#include "multitrack/TimelineMapping.h"
#include "project/ProjectTypes.h"

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <utility>
#include <vector>

class ClipLaneWidget : public QWidget {
    Q_OBJECT
public:
    // The page's MultiTrackEditorPage::ToolMode values.
    enum Tool { NormalTool = 0, ScissorsTool = 1, MoveTool = 2 };
    static constexpr int LaneHeight = 120;

    // View fields, set by the page and the track row.
    void setViewStartSec(double sec);
    void setZoomLevel(double zoom);
    void setPlayheadPosition(double sec);
    void setWaveColor(const QColor& color);
    // Ends a Move drag, an envelope drag and the lane's own edge gestures.
    void setToolMode(int mode);
    void setShowEnvelope(bool show);
    void setSnapEnabled(bool enabled);
    void setSnapBpm(double bpm);

    TrackData* trackData() const { return track; }
    double viewStartSec() const { return mapping.viewStartSec(); }
    double zoomLevel() const { return mapping.zoom(); }
    double playheadPosition() const { return playhead; }
    QColor waveColor() const { return wave; }
    int toolMode() const { return tool; }
    bool isEnvelopeShown() const { return envelopeShown; }
    bool isSnapEnabled() const { return snap; }
    double snapBpm() const { return snapTempo; }
    // The clip that Delete removes, -1 for none.
    int selectedClip() const { return selected; }

    // Timeline mapping and the envelope's gain scale.
    int secondsToX(double sec) const;
    double xToSeconds(int x) const;
    double snapToGrid(double sec) const;
    double valueToY(float value) const;
    float yToValue(int y) const;
    int hitTestEnvelopePoint(const QPoint& pos) const;
    // Clips are drawn in the track's order, a later one over an earlier
    // one, and the pointer finds the one it sees: the last clip whose body
    // spans pos, -1 for none.
    int hitTestClip(const QPoint& pos) const;
    // 2i for clip i's head edge, 2i + 1 for its tail edge, -1 for none. Over
    // a clip only that clip's own edges answer (an edge hidden under a later
    // clip cannot be grabbed); over empty lane the latest clip within reach.
    int hitTestClipEdge(const QPoint& pos) const;

signals:
    void playheadMoved(double sec);
    void clipDoubleClicked(int clipIndex);
    void clicked();
    void clipTrimmed();
    void scissorClicked(int clipIndex);
    void clipDragStarted(int clipIndex, QPoint globalPos);
    void clipDragMoved(QPoint globalPos);
    void clipDragFinished(QPoint globalPos);
    void envelopeChanged();
    void envelopeEditCommitted(std::vector<EnvelopePoint> oldPoints,
                               std::vector<EnvelopePoint> newPoints);

protected:
    explicit ClipLaneWidget(QWidget* parent);

    // Stores the track and takes its colour (a track without a valid one
    // keeps the lane's); ends the gestures whose clip or point is gone.
    void bindTrack(TrackData* newTrack);

    // The bound track's clips of the lane's kind, for the shared gestures.
    virtual int clipCount() const = 0;
    virtual double clipStart(int index) const = 0;
    virtual void setClipStart(int index, double start) = 0;
    // x of clip `index`'s head and tail on the lane.
    virtual std::pair<int, int> clipSpanX(int index) const = 0;
    // Whether the clip's edges can be grabbed.
    virtual bool clipHasEdges(int) const { return true; }
    // Ends the lane's own gestures (trims, fades, creation); `stale` only
    // those whose clip index is no longer valid.
    virtual void endLaneGestures(bool staleOnly) = 0;
    void dropStaleGestures();

    // The mouse handlers run the gestures both lanes share (envelope
    // points first, then the Move and Scissors tools) and hand the Normal
    // tool's to the lane; a press that nothing takes moves the playhead.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // The clip under the mouse loses its trim bars once the mouse is gone.
    void leaveEvent(QEvent* event) override;
    // A left press in the Normal tool that no envelope point took; true
    // when the lane handled it.
    virtual bool pressNormalTool(QMouseEvent* event, const QPoint& pos) = 0;
    // A move in the Normal tool, with a track bound; true accepts the event.
    virtual bool moveNormalTool(const QPoint& pos) = 0;
    // The release of a Normal-tool gesture; true when one was running.
    virtual bool releaseNormalTool(const QPoint& pos) = 0;

    // Normal tool, a clip body pressed: select it and wait for a drag.
    void pressBody(int clip, const QPoint& pos);
    // playhead = max(0, time at x); playheadMoved; repaint.
    void movePlayheadTo(int x);
    // Normal-tool body drag past the 5 px threshold, snapped when asked.
    bool dragBody(const QPoint& pos);
    bool releaseBody(const QPoint& pos);
    // The envelope-point menu at pos; false when no point is there.
    bool showEnvelopePointMenu(const QPoint& pos, const QPoint& globalPos);
    void commitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit);
    bool validClip(int index) const { return index >= 0 && index < clipCount(); }
    // Whether y lies in the clip band (8 to H - 8), where clips answer.
    bool inClipBand(int y) const;

    TrackData* track = nullptr;
    QColor wave = QColor(0x3a, 0x86, 0xff);
    TimelineMapping mapping;
    double playhead = 0.0;
    int tool = NormalTool;
    bool envelopeShown = false;
    bool snap = false;
    double snapTempo = 120.0;

    // Interaction state; every gesture returns it to idle at its release.
    bool moveDragging = false;
    int moveDragClip = -1;
    bool bodyMoved = false;
    int bodyDragClip = -1;
    double bodyDragAnchor = 0.0;
    int pressX = 0;
    int selected = -1;
    int hoveredClip = -1;
    ClipLaneEnvelopeEditor envelope;

private:
    bool pressEnvelope(QMouseEvent* event, const QPoint& pos);
    bool pressMoveOrScissors(QMouseEvent* event, const QPoint& pos);
    bool moveShared(QMouseEvent* event, const QPoint& pos);
    bool releaseShared(QMouseEvent* event);
    // Repaints when the clip under the mouse changes (it shows trim bars).
    void updateHoveredClip(const QPoint& pos);
};
