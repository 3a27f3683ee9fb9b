#pragma once
// The 24-pixel strip under the track lanes of the multitrack page: a time or
// bars-and-beats scale, the project's markers as coloured flags and the
// playhead, on the timeline mapping the clip lanes use. A double-click on a
// marker reports its index. It holds copies of what the page pushes in.

#include "project/ProjectTypes.h"

#include <QColor>
#include <QWidget>
#include <vector>

class TimelineRulerWidget : public QWidget {
    Q_OBJECT
public:
    enum RulerMode { Time = 0, Beats = 1 };

    static constexpr double MinZoom = 0.001;
    static constexpr double MaxZoom = 512.0;

    explicit TimelineRulerWidget(QWidget* parent = nullptr);

    void setViewStartSec(double seconds);
    void setZoomLevel(double zoom);           // clamped to 0.001 .. 512
    void setDuration(double seconds);         // stored only; drawing ignores it
    void setPlayheadPosition(double seconds);
    void setRulerMode(RulerMode mode);
    void setBpm(double bpm);                  // values of 0 or less keep the old tempo
    void setMarkers(const std::vector<TimelineMarker>& markers);

    int secondsToX(double seconds) const;

    double viewStartSec() const { return viewStart; }
    double zoomLevel() const { return zoom; }
    double duration() const { return durationSec; }
    double playheadPosition() const { return playhead; }
    RulerMode rulerMode() const { return mode; }
    double bpm() const { return tempo; }
    const std::vector<TimelineMarker>& markerList() const { return markers; }

signals:
    void markerClicked(int index); // reserved; nothing emits it yet
    void markerDoubleClicked(int index);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void drawMarkers(QPainter& painter);

    double viewStart = 0.0;
    double zoom = 1.0;
    double durationSec = 300.0;
    double playhead = 0.0;
    RulerMode mode = Time;
    double tempo = 120.0;
    std::vector<TimelineMarker> markers;
    QColor backgroundColor{30, 30, 40};
    QColor tickColor{80, 80, 80};
    QColor playheadColor{255, 0, 85};
};
