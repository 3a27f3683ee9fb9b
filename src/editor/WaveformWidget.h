#pragma once
// Draws one clip as a waveform: a mono trace, or lanes L and R for stereo
// material, coloured differently left and right of the playhead, with a
// selection band and a draggable playhead. Zooms from 1x to 512x with its own
// horizontal scroll bar, by wheel, trackpad and pinch.
//
// Each pixel column shows the minimum and maximum of the samples under it,
// joined to its neighbours so that the trace stays one line at any zoom.
// Those come from a per-column cache of the visible range, rebuilt on data,
// size, zoom and scroll changes; the cache reads a peak index built when the
// data is set, so painting and rebuilding cost the same for a minute as for
// an hour of audio.

#include "common/SampleChannel.h"
#include "widgets/WaveformPeakIndex.h"

#include "widgets/VisibleRangeTracker.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QWidget>

class QPainter;
class QScrollBar;

class WaveformWidget : public QWidget {
    Q_OBJECT
public:
    explicit WaveformWidget(QWidget* parent = nullptr);
    ~WaveformWidget() override;

    void setAudioData(const QList<float>& samples, int sampleRate,
                      const QList<float>& stereoInterleaved = QList<float>());
    void appendAudioData(const QList<float>& samples, int sampleRate);
    void clearAudioData();

    void setPlayheadPosition(double seconds);
    double getPlayheadPosition() const { return playheadPos; }

    bool hasSelection() const { return selectionShown; }
    double getSelectionStart() const { return selectionStart; }
    double getSelectionEnd() const { return selectionEnd; }
    void clearSelection();

    void setWaveColor(const QColor& color);
    void setProgressColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setPlayheadColor(const QColor& color);

    void setZoomLevel(double zoom);
    double getZoomLevel() const { return zoomLevel; }
    void setViewStartSec(double seconds);
    double getViewStartSec() const { return viewStartSec; }
    void clampViewStart();

    void setAutoScroll(bool enabled) { autoScroll = enabled; }
    bool isAutoScroll() const { return autoScroll; }
    void setWheelZoomEnabled(bool enabled) { wheelZoomEnabled = enabled; }
    bool isWheelZoomEnabled() const { return wheelZoomEnabled; }

    double getDuration() const { return duration; }
    int getSampleRate() const { return sampleRate; }
    bool isStereo() const { return stereo; }
    QScrollBar* horizontalScrollBar() const { return scrollBar; }

    // Room left of and right of the trace, so that its time axis can line up
    // with a view beside it whose plot is inset (0, 0 by default: the trace
    // uses the whole width).
    void setHorizontalMargins(int left, int right);

    double xToSeconds(int x) const;
    int secondsToX(double seconds) const;
    QRect waveformArea() const;

    enum class Lane { Mono, Left, Right };
    // The per-column cache of the visible range (one entry per pixel column).
    const QList<float>& peakMinima(Lane lane) const;
    const QList<float>& peakMaxima(Lane lane) const;

    // Available for a layout that shows them; the paint sequence does not.
    void drawTimeRuler(QPainter& painter, const QRect& area);
    void drawAmplitudeAxis(QPainter& painter);

signals:
    void playheadMoved(double seconds);
    void selectionChanged(double startSec, double endSec);
    void clicked(double seconds);
    // The zoom or the view start changed (by any means).
    void visibleRangeChanged(double zoom, double viewStartSec);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    using ChannelData = SampleChannel;
    ChannelData monoChannel() const;
    ChannelData stereoChannel(int channel) const; // 0 left, 1 right

    void onScrollBarValueChanged(int value);
    void buildPeaks();
    void buildPeaksForChannel(const ChannelData& data, const WaveformPeakIndex& index,
                              QList<float>& mins, QList<float>& maxs);
    void updateScrollBar();
    void placeScrollBar();
    double visibleSeconds() const;
    double maxViewStart() const;
    double clampedViewStart(double seconds) const;
    void zoomAbout(double newZoom, int anchorX);
    void viewChanged();
    void notifyVisibleRange();
    int traceWidth() const;

    void drawBackground(QPainter& painter);
    void drawSelection(QPainter& painter);
    void drawWaveform(QPainter& painter, const QRect& area);
    void drawLane(QPainter& painter, const QRect& area, const ChannelData& data,
                  const QList<float>& mins, const QList<float>& maxs, int centre, int half,
                  int rowTop, int rowBottom, int playheadX);
    void drawPlayhead(QPainter& painter, const QRect& area);
    void drawEmptyState(QPainter& painter);

    QList<float> samples;
    int sampleRate = 44100;
    double duration = 0.0;
    QList<float> stereoSamples; // interleaved L/R, read in place
    bool stereo = false;
    WaveformPeakIndex monoIndex;
    WaveformPeakIndex leftIndex;
    WaveformPeakIndex rightIndex;
    QList<float> peakMin, peakMax;
    QList<float> leftPeakMin, leftPeakMax, rightPeakMin, rightPeakMax;
    double playheadPos = 0.0;
    bool selectionShown = false;
    double selectionStart = 0.0;
    double selectionEnd = 0.0;
    bool draggingPlayhead = false;
    bool selecting = false;
    int pressX = -1;
    double zoomLevel = 1.0;
    double viewStartSec = 0.0;
    bool autoScroll = true;
    bool wheelZoomEnabled = true;
    VisibleRangeTracker reportedRange;
    int leftMargin = 0;
    int rightMargin = 0;
    QScrollBar* scrollBar = nullptr;
    QColor waveColor{0x00, 0xf2, 0xff};
    QColor progressColor{0xff, 0x00, 0x55};
    QColor backgroundColor{0x14, 0x14, 0x1e};
    QColor playheadColor{0xff, 0xff, 0xff};
    QColor selectionColor{255, 255, 255, 40};
    QColor axisColor{0x50, 0x50, 0x50};
};
