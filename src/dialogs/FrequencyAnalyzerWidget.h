#pragma once
// A real-time magnitude spectrum on a logarithmic frequency axis: a whole
// list played through at real-time pace in a loop (or pushed frames), a
// windowed FFT several times a second with averaging, smoothing, falling
// peaks and an RMS level. The measuring lives in FrequencyAnalysis; this
// widget runs its timers and paints (FrequencyAnalyzerWidgetPainting.cpp).
// In this program it is the hidden backdrop of the EQ curve editor.

#include "dialogs/FrequencyAnalysis.h"

#include <QColor>
#include <QPoint>
#include <QWidget>

#include <functional>

class QPainter;
class QPainterPath;
class QTimer;

class FrequencyAnalyzerWidget : public QWidget {
    Q_OBJECT
public:
    using WindowType = FrequencyAnalysis::WindowType;
    enum ChannelMode { Mono = 0, StereoOverlay = 1, StereoSplit = 2 };

    // The plot's margins inside the widget; the EQ curve editor uses the same.
    static constexpr int MarginLeft = 55, MarginTop = 20, MarginRight = 10, MarginBottom = 30;

    explicit FrequencyAnalyzerWidget(QWidget* parent = nullptr);

    void setAudioData(const QList<float>& samples, int sampleRate);
    void setAudioDataStereo(const QList<float>& left, const QList<float>& right, int sampleRate);
    void clearAudioData();
    void processAudioFrame(const float* samples, int count);
    void processAudioFrameStereo(const float* left, const float* right, int count);

    // With a condition, the feed and refresh run only while it holds, so an
    // idle analyser costs nothing: audio that is set shows a still overview
    // instead of starting them, resume() starts them when the condition
    // holds, and the first refresh at which it no longer holds stops them,
    // the last spectrum staying on show. Without one they run while a list
    // is set.
    void setRunCondition(std::function<bool()> condition);
    void resume();
    bool isRunning() const;

    void setFFTSize(int size);
    void setWindowType(WindowType type);
    void setAveragingCount(int count);
    void setSmoothing(float smoothing);
    void setOverlapRatio(float ratio);
    void setPeakHoldEnabled(bool enabled);
    void setPeakHoldDecay(float dbPerSecond);
    void setRmsEnabled(bool enabled);
    void setSpectrumColorL(const QColor& color);
    void setSpectrumColorR(const QColor& color);
    void setPeakColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setGridColor(const QColor& color);
    void setTextColor(const QColor& color);
    void setDecibelRange(float minDb, float maxDb);
    void setFrequencyRange(float minFreq, float maxFreq);
    void setChannelMode(ChannelMode mode);

    int sampleRate() const { return analysis.sampleRate(); }
    FrequencyAnalysis& analyser() { return analysis; }
    const FrequencyAxes& axes() const { return axisRange; }
    // The plot rectangle for a widget of this size.
    static QRect plotRect(const QSize& size);

    void updateRms() { analysis.updateRms(); }
    void drawBackground(QPainter& painter);

signals:
    void frequencySelected(float frequency, float magnitudeDB);
    // A refresh computed a new spectrum (also while the widget is hidden, so
    // a widget that draws it as its backdrop can follow).
    void spectrumUpdated();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onRefreshTimer();
    void onPlaybackFeedTimer();
    void startTimers();
    bool mayRun() const;

    // ---- painting ----
    void drawGrid(QPainter& painter, const QRect& plot);
    // One channel's spectrum with, when held, its falling peaks.
    void drawChannel(QPainter& painter, const QRect& plot, const QList<float>& frequencies,
                     const QList<float>& smoothed, const QList<float>& peak, const QColor& color,
                     bool fill);
    void drawCurve(QPainter& painter, const QRect& plot, const QList<float>& frequencies,
                   const QList<float>& levels, const QColor& color, bool fill);
    void drawPeakCurve(QPainter& painter, const QRect& plot, const QList<float>& frequencies,
                       const QList<float>& levels, const QColor& color);
    QPainterPath curvePath(const QRect& plot, const QList<float>& frequencies,
                           const QList<float>& levels) const;
    void drawFrequencyLabels(QPainter& painter, const QRect& plot);
    void drawLevelLabels(QPainter& painter, const QRect& plot);
    void drawRmsBar(QPainter& painter, const QRect& plot, const FrequencyAnalysis::Snapshot& data);
    void drawCursor(QPainter& painter, const QRect& plot);
    void drawTitle(QPainter& painter, const QRect& plot);

    FrequencyAnalysis analysis;
    FrequencyAxes axisRange;
    ChannelMode channelMode = Mono;
    bool rmsEnabled = true;
    bool peakHoldEnabled = true;
    QColor colorLeft{0, 200, 255};
    QColor colorRight{255, 100, 50};
    QColor colorPeak{255, 200, 0};
    QColor colorBackground{18, 18, 28};
    QColor colorGrid{50, 50, 65};
    QColor colorText{160, 160, 180};
    QPoint mousePos;
    bool hovering = false;
    QTimer* refreshTimer = nullptr;
    QTimer* feedTimer = nullptr;
    std::function<bool()> runCondition;
};
