#pragma once
// The clip lane of one audio track row: draws the track's audio clips on the
// multitrack timeline (waveform, fades, trims, selection), the track's volume
// envelope when the page shows envelopes, and the playhead; edits the bound
// TrackData in place by mouse, keys and context menu, and reports through
// its signals (ClipLaneWidget holds the view fields, the signals and the
// gestures both clip lanes share).
//
// Waveform columns come from per-list peak indexes kept across paints, and
// the lane's picture is kept between paints, so drawing costs the same for
// a minute as for an hour of audio and a playhead step is a copy.
//
// Definitions: AudioClipWidget.cpp (binding, geometry, hit tests),
// AudioClipWidgetPainting.cpp and AudioClipWidgetWaveform.cpp (drawing),
// AudioClipWidgetEditing.cpp (mouse) and AudioClipWidgetMenu.cpp (keys,
// context menus).

#include "multitrack/ClipLaneWidget.h"
#include "multitrack/ClipPeakCache.h"

#include <QImage>
#include <utility>
#include <vector>

class QPainter;
class QRectF;

class AudioClipWidget : public ClipLaneWidget {
    Q_OBJECT
public:
    explicit AudioClipWidget(QWidget* parent = nullptr);
    ~AudioClipWidget() override;

    void setTrackData(TrackData* track);

    // 0 none, 1 fade-in handle, 2 fade-out handle of the clip drawn at
    // pos; clipIndex gets the clip.
    int hitTestFadeHandle(const QPoint& pos, int& clipIndex) const;

    // Seconds a clip occupies on the timeline: 0 without material, with a
    // rate below 1 or with trims that are not finite numbers.
    static double visibleLength(const AudioClip& clip);
    // Whether the clip has material to draw and edges to drag.
    static bool hasMaterial(const AudioClip& clip);

    // The peak indexes the lane would build when it first draws the track's
    // clips, built ahead on any thread (the track must not change meanwhile),
    // and their handing over to the lane once it shows the track.
    static std::vector<ClipPeakCache::Prepared> preparePeaks(const TrackData& track);
    void adoptPeaks(std::vector<ClipPeakCache::Prepared>&& prepared);

signals:
    void deleteAudioClip(int clipIndex);

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
    bool clipHasEdges(int index) const override;
    void endLaneGestures(bool staleOnly) override;

private:
    // Drawing. Everything but the playhead goes into a kept picture,
    // redrawn only when something it shows changes (the key lists all of
    // that), so a repaint that only moves the playhead is a copy.
    std::vector<double> pictureKey() const;
    void drawPicture();
    void drawBackground(QPainter& painter);
    void drawEmptyState(QPainter& painter);
    void drawClips(QPainter& painter);
    void drawClipFades(QPainter& painter, const QRectF& clipRect, const AudioClip& clip);
    void drawClipWaveform(QPainter& painter, const QRectF& clipRect, const AudioClip& clip);
    void drawEnvelope(QPainter& painter);
    void drawPlayhead(QPainter& painter);
    void dropUnusedPeaks();

    // Normal-tool gestures of audio clips.
    bool dragTrim(const QPoint& pos);
    bool dragFade(const QPoint& pos);
    bool hoverNormalTool(const QPoint& pos);
    AudioClip* clipAt(int index) const;
    // x of the clip's head and tail.
    std::pair<int, int> clipEdgesX(const AudioClip& clip) const;

    bool showFadeCurveMenu(const QPoint& pos, const QPoint& globalPos);

    int trimClip = -1;
    bool trimLeftEdge = false;
    double trimAnchorStart = 0.0;
    double trimAnchorAudioStart = 0.0;
    double trimAnchorAudioEnd = 0.0;
    int fadeDragKind = 0; // 0 none, 1 fade-in, 2 fade-out
    int fadeDragClip = -1;

    ClipPeakCache peaks;
    QImage picture;
    std::vector<double> pictureKeyValues;
    int hoverAtPaint = -1; // the clip under the mouse when the picture was drawn
};
