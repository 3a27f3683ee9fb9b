#include "dialogs/FrequencyAnalyzerWidget.h"

#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int RefreshIntervalMs = 33;
// Enough windows for a steady picture of a whole list, few enough to be quick.
constexpr int OverviewWindows = 32;

} // namespace

FrequencyAnalyzerWidget::FrequencyAnalyzerWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(300, 150);
    setMouseTracking(true);
    refreshTimer = new QTimer(this);
    refreshTimer->setInterval(RefreshIntervalMs);
    connect(refreshTimer, &QTimer::timeout, this, &FrequencyAnalyzerWidget::onRefreshTimer);
    feedTimer = new QTimer(this);
    feedTimer->setInterval(analysis.feedIntervalMs());
    connect(feedTimer, &QTimer::timeout, this, &FrequencyAnalyzerWidget::onPlaybackFeedTimer);
}

QRect FrequencyAnalyzerWidget::plotRect(const QSize& size)
{
    return QRect(QPoint(0, 0), size).adjusted(MarginLeft, MarginTop, -MarginRight, -MarginBottom);
}

bool FrequencyAnalyzerWidget::mayRun() const
{
    return !runCondition || runCondition();
}

void FrequencyAnalyzerWidget::setRunCondition(std::function<bool()> condition)
{
    runCondition = std::move(condition);
}

bool FrequencyAnalyzerWidget::isRunning() const
{
    return refreshTimer->isActive();
}

void FrequencyAnalyzerWidget::resume()
{
    if (analysis.isFeeding() && !isRunning() && mayRun())
        startTimers();
}

void FrequencyAnalyzerWidget::startTimers()
{
    if (!mayRun()) {
        analysis.showOverview(OverviewWindows);
        update();
        return;
    }
    feedTimer->setInterval(analysis.feedIntervalMs());
    feedTimer->start();
    refreshTimer->start();
    update();
}

void FrequencyAnalyzerWidget::setAudioData(const QList<float>& samples, int sampleRate)
{
    analysis.setAudioData(samples, sampleRate);
    startTimers();
}

void FrequencyAnalyzerWidget::setAudioDataStereo(const QList<float>& left,
                                                 const QList<float>& right, int sampleRate)
{
    analysis.setAudioDataStereo(left, right, sampleRate);
    startTimers();
}

void FrequencyAnalyzerWidget::clearAudioData()
{
    analysis.clearAudioData();
    feedTimer->stop();
    refreshTimer->stop();
    update();
}

void FrequencyAnalyzerWidget::processAudioFrame(const float* samples, int count)
{
    analysis.processAudioFrame(samples, count);
    if (!refreshTimer->isActive())
        refreshTimer->start();
}

void FrequencyAnalyzerWidget::processAudioFrameStereo(const float* left, const float* right,
                                                      int count)
{
    analysis.processAudioFrameStereo(left, right, count);
    if (!refreshTimer->isActive())
        refreshTimer->start();
}

void FrequencyAnalyzerWidget::onPlaybackFeedTimer()
{
    analysis.feedStep();
}

void FrequencyAnalyzerWidget::onRefreshTimer()
{
    if (!mayRun()) {
        feedTimer->stop();
        refreshTimer->stop();
        return;
    }
    if (analysis.updateSpectrum()) {
        update();
        emit spectrumUpdated();
    }
}

void FrequencyAnalyzerWidget::setFFTSize(int size)
{
    analysis.setFftSize(size);
}

void FrequencyAnalyzerWidget::setWindowType(WindowType type)
{
    analysis.setWindowType(type);
}

void FrequencyAnalyzerWidget::setAveragingCount(int count)
{
    analysis.setAveragingCount(count);
}

void FrequencyAnalyzerWidget::setSmoothing(float smoothing)
{
    analysis.setSmoothing(smoothing);
}

void FrequencyAnalyzerWidget::setOverlapRatio(float ratio)
{
    analysis.setOverlapRatio(ratio);
}

void FrequencyAnalyzerWidget::setPeakHoldEnabled(bool enabled)
{
    peakHoldEnabled = enabled;
    analysis.setPeakHoldEnabled(enabled);
}

void FrequencyAnalyzerWidget::setPeakHoldDecay(float dbPerSecond)
{
    analysis.setPeakHoldDecay(dbPerSecond);
}

void FrequencyAnalyzerWidget::setRmsEnabled(bool enabled)
{
    rmsEnabled = enabled;
}

void FrequencyAnalyzerWidget::setSpectrumColorL(const QColor& color)
{
    colorLeft = color;
}

void FrequencyAnalyzerWidget::setSpectrumColorR(const QColor& color)
{
    colorRight = color;
}

void FrequencyAnalyzerWidget::setPeakColor(const QColor& color)
{
    colorPeak = color;
}

void FrequencyAnalyzerWidget::setBackgroundColor(const QColor& color)
{
    colorBackground = color;
}

void FrequencyAnalyzerWidget::setGridColor(const QColor& color)
{
    colorGrid = color;
}

void FrequencyAnalyzerWidget::setTextColor(const QColor& color)
{
    colorText = color;
}

void FrequencyAnalyzerWidget::setDecibelRange(float minDb, float maxDb)
{
    axisRange.minDb = minDb;
    axisRange.maxDb = maxDb;
    update();
}

void FrequencyAnalyzerWidget::setFrequencyRange(float minFreq, float maxFreq)
{
    axisRange.minFreq = std::max(minFreq, 1.0f);
    axisRange.maxFreq = std::min(maxFreq, float(analysis.sampleRate() / 2));
    update();
}

void FrequencyAnalyzerWidget::setChannelMode(ChannelMode mode)
{
    channelMode = mode;
    update();
}

void FrequencyAnalyzerWidget::mouseMoveEvent(QMouseEvent* event)
{
    mousePos = event->position().toPoint();
    hovering = true;
    const QRect plot = plotRect(size());
    if (plot.contains(mousePos))
        emit frequencySelected(float(axisRange.xToFreq(mousePos.x(), plot)),
                               float(axisRange.yToDb(mousePos.y(), plot)));
    update();
    QWidget::mouseMoveEvent(event);
}

void FrequencyAnalyzerWidget::leaveEvent(QEvent* event)
{
    hovering = false;
    update();
    QWidget::leaveEvent(event);
}

void FrequencyAnalyzerWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}
