#pragma once
// The clip lane of one audio track row: draws the track's audio clips on the
// multitrack timeline (waveform, fades, trims, selection), the track's volume
// envelope when the page shows envelopes, and the playhead; edits the bound
// TrackData in place by mouse, keys and context menu, and reports through
// its signals. The lane owns no project data: it points into the page's
// track vector and is re-pointed (setTrackData) whenever that vector moves.
//
// Waveform columns come from per-list peak indexes kept across paints, and a
// paint computes only the columns it exposes, so its cost does not grow
// with the length of the clips.

#include "multitrack/ClipLaneEnvelope.h"
#include "multitrack/ClipPeakCache.h"
#include "multitrack/TimelineMapping.h"
#include "project/ProjectTypes.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <vector>

class QPainter;
class QRectF;

class AudioClipWidget : public QWidget {
    Q_OBJECT
public:
    // The page's MultiTrackEditorPage::ToolMode values.
    enum Tool { NormalTool = 0, ScissorsTool = 1, MoveTool = 2 };

    explicit AudioClipWidget(QWidget* parent = nullptr);
    ~AudioClipWidget() override;

    // View fields, set by the page and the track row.
    void setTrackData(TrackData* track);
    void setViewStartSec(double sec);
    void setZoomLevel(double zoom);
    void setPlayheadPosition(double sec);
    void setWaveColor(const QColor& color);
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
    bool isSnapEnabled() const { return snapEnabled; }
    double snapBpm() const { return snapTempo; }
    // The clip that Delete removes, -1 for none.
    int selectedClip() const { return selected; }

    // Timeline mapping and the envelope's gain scale.
    int secondsToX(double sec) const;
    double xToSeconds(int x) const;
    double snapToGrid(double sec) const;
    double valueToY(float value) const;
    float yToValue(int y) const;

    // Hit tests over the bound track's clips, first match in index order.
    int hitTestClip(const QPoint& pos) const;
    // 2 * clip for a head edge, 2 * clip + 1 for a tail edge, -1 for none.
    int hitTestClipEdge(const QPoint& pos) const;
    // 0 none, 1 fade-in handle, 2 fade-out handle; clipIndex gets the clip.
    int hitTestFadeHandle(const QPoint& pos, int& clipIndex) const;
    int hitTestEnvelopePoint(const QPoint& pos) const;

    // Seconds a clip occupies on the timeline: 0 without material, with a
    // rate below 1 or with trims that are not finite numbers.
    static double visibleLength(const AudioClip& clip);
    // Whether the clip has material to draw and edges to drag.
    static bool hasMaterial(const AudioClip& clip);

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
    void deleteAudioClip(int clipIndex);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Drawing (AudioClipWidgetPainting.cpp, AudioClipWidgetWaveform.cpp).
    void drawBackground(QPainter& painter);
    void drawEmptyState(QPainter& painter);
    void drawClips(QPainter& painter);
    void drawClipFades(QPainter& painter, const QRectF& clipRect, const AudioClip& clip);
    void drawClipWaveform(QPainter& painter, const QRectF& clipRect, const AudioClip& clip);
    void drawEnvelope(QPainter& painter);
    void drawPlayhead(QPainter& painter);
    void dropUnusedPeaks();

    // Gestures (AudioClipWidgetEditing.cpp).
    bool pressEnvelope(QMouseEvent* event, const QPoint& pos);
    bool pressNormalTool(const QPoint& pos);
    void movePlayheadTo(int x);
    bool dragBody(const QPoint& pos);
    bool dragTrim(const QPoint& pos);
    bool dragFade(const QPoint& pos);
    bool hoverNormalTool(const QPoint& pos);
    void updateHoveredClip(const QPoint& pos);
    void commitEnvelopeEdit(const ClipLaneEnvelopeEditor::Edit& edit);
    // Ends every gesture whose clip or point index no longer exists.
    void dropStaleGestures();
    void endGestures();
    AudioClip* clipAt(int index) const;

    // Context menus (AudioClipWidgetMenu.cpp).
    bool showEnvelopePointMenu(const QPoint& pos, const QPoint& globalPos);
    bool showFadeCurveMenu(const QPoint& pos, const QPoint& globalPos);

    TrackData* track = nullptr;
    QColor wave = QColor(0x3a, 0x86, 0xff);
    TimelineMapping mapping;
    double playhead = 0.0;
    int tool = NormalTool;
    bool envelopeShown = false;
    bool snapEnabled = false;
    double snapTempo = 120.0;

    // Interaction state; every gesture returns it to idle at its release.
    int trimClip = -1;
    bool trimLeftEdge = false;
    double trimAnchorStart = 0.0;
    double trimAnchorAudioStart = 0.0;
    double trimAnchorAudioEnd = 0.0;
    int fadeDragKind = 0; // 0 none, 1 fade-in, 2 fade-out
    int fadeDragClip = -1;
    bool moveDragging = false;
    int moveDragClip = -1;
    bool bodyMoved = false;
    int bodyDragClip = -1;
    double bodyDragAnchor = 0.0;
    int pressX = 0;
    int selected = -1;
    ClipLaneEnvelopeEditor envelopeEditor;
    int hoveredClip = -1;

    ClipPeakCache peaks;
    QRect exposed;
};
