#include "editor/WaveformWidget.h"

#include "audio/dsp/VectorState.h"
#include "widgets/TimeAxisScale.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QGestureEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPinchGesture>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <thread>
#include <vector>
#include <cmath>

namespace {

constexpr int ScrollBarHeight = 18;
constexpr int PlayheadGrabPixels = 8;
constexpr double MinZoom = 1.0;
constexpr double MaxZoom = 512.0;
constexpr double WheelZoomFactor = 1.15;
// Below this many samples per pixel the columns are read from the data.
constexpr double DirectSamplesPerPixel = 64.0;

const QColor LaneLineColor(0x3c, 0x3c, 0x50);
const QColor LaneLabelColor(0x78, 0x78, 0x8c);
const QColor EmptyTextColor(0x64, 0x64, 0x78);

double clampZoom(double zoom)
{
    if (std::isnan(zoom))
        return MinZoom;
    return std::clamp(zoom, MinZoom, MaxZoom);
}

int valueToRow(float value, int centre, int half, int rowTop, int rowBottom)
{
    if (std::isnan(value))
        value = 1.0f;
    value = std::clamp(value, -1.0f, 1.0f);
    return std::clamp(centre - static_cast<int>(value * half), rowTop, rowBottom);
}

} // namespace

WaveformWidget::WaveformWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(120);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setStyleSheet(QStringLiteral("background-color: #14141e;"));
    setAttribute(Qt::WA_AcceptTouchEvents);
    grabGesture(Qt::PinchGesture);

    scrollBar = new QScrollBar(Qt::Horizontal, this);
    scrollBar->hide();
    connect(scrollBar, &QScrollBar::valueChanged, this, &WaveformWidget::onScrollBarValueChanged);
    placeScrollBar();
}

WaveformWidget::~WaveformWidget() = default;

// ---- data ----

void WaveformWidget::setAudioData(const QList<float>& list, int rate,
                                  const QList<float>& stereoInterleaved)
{
    QElapsedTimer timer;
    timer.start();
    clearUpperVectorState();
    samples = list;
    sampleRate = rate;
    duration = (rate >= 1 && !samples.isEmpty()) ? double(samples.size()) / rate : 0.0;
    playheadPos = std::min(duration, playheadPos) > 0.0 ? std::min(duration, playheadPos) : 0.0;
    selectionShown = false;
    // Zoom and view start are kept; a shorter clip only pulls the start in.
    clampViewStart();
    notifyVisibleRange();

    // The summaries of the lanes are built side by side; each channel of a
    // stereo list is read in place from the interleaved list (shared, not copied).
    stereo = !stereoInterleaved.isEmpty();
    stereoSamples = stereo ? stereoInterleaved : QList<float>();
    std::vector<std::thread> builders;
    if (stereo) {
        const qsizetype frames = stereoSamples.size() / 2;
        const float* in = stereoSamples.constData();
        builders.emplace_back([this, in, frames] { leftIndex.build(in, frames, 2); });
        builders.emplace_back([this, in, frames] { rightIndex.build(in + 1, frames, 2); });
    } else {
        leftIndex.clear();
        rightIndex.clear();
    }
    monoIndex.build(samples.constData(), samples.size());
    for (std::thread& builder : builders)
        builder.join();
    qDebug() << "[WF] setAudioData prep:" << timer.elapsed() << "ms";

    timer.restart();
    buildPeaks();
    qDebug() << "[WF] buildPeaks:" << timer.elapsed() << "ms, width:" << width();
    updateScrollBar();
    update();
}

void WaveformWidget::appendAudioData(const QList<float>& list, int rate)
{
    if (list.isEmpty())
        return;
    sampleRate = rate;
    samples.append(list);
    duration = rate >= 1 ? double(samples.size()) / rate : 0.0;
    monoIndex.extend(samples.constData(), samples.size());
    if (autoScroll && zoomLevel > 1.0)
        viewStartSec = maxViewStart();
    viewChanged();
}

void WaveformWidget::clearAudioData()
{
    samples.clear();
    stereoSamples.clear();
    monoIndex.clear();
    leftIndex.clear();
    rightIndex.clear();
    peakMin.clear();
    peakMax.clear();
    leftPeakMin.clear();
    leftPeakMax.clear();
    rightPeakMin.clear();
    rightPeakMax.clear();
    stereo = false;
    duration = 0.0;
    playheadPos = 0.0;
    selectionShown = false;
    zoomLevel = 1.0;
    viewStartSec = 0.0;
    autoScroll = true;
    updateScrollBar();
    notifyVisibleRange();
    update();
}

// ---- playhead, selection, colours ----

void WaveformWidget::setPlayheadPosition(double seconds)
{
    playheadPos = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, std::max(duration, 0.0));
    if (zoomLevel > 1.0 && duration > 0.0) {
        const double visible = visibleSeconds();
        bool paged = false;
        if (playheadPos < viewStartSec) {
            viewStartSec = clampedViewStart(playheadPos);
            paged = true;
        } else if (playheadPos > viewStartSec + visible) {
            viewStartSec = clampedViewStart(playheadPos - visible);
            paged = true;
        }
        if (paged) {
            buildPeaks();
            updateScrollBar();
            notifyVisibleRange();
        }
    }
    update();
}

void WaveformWidget::clearSelection()
{
    selectionShown = false;
    update();
}

void WaveformWidget::setWaveColor(const QColor& color)
{
    waveColor = color;
    update();
}

void WaveformWidget::setProgressColor(const QColor& color)
{
    progressColor = color;
    update();
}

void WaveformWidget::setBackgroundColor(const QColor& color)
{
    backgroundColor = color;
    update();
}

void WaveformWidget::setPlayheadColor(const QColor& color)
{
    playheadColor = color;
    update();
}

// ---- zoom and scrolling ----

double WaveformWidget::visibleSeconds() const
{
    return duration / zoomLevel;
}

double WaveformWidget::maxViewStart() const
{
    return std::max(duration - visibleSeconds(), 0.0);
}

double WaveformWidget::clampedViewStart(double seconds) const
{
    if (duration <= 0.0 || std::isnan(seconds))
        return 0.0;
    return std::clamp(seconds, 0.0, maxViewStart());
}

void WaveformWidget::clampViewStart()
{
    viewStartSec = clampedViewStart(viewStartSec);
}

void WaveformWidget::setZoomLevel(double zoom)
{
    zoomLevel = clampZoom(zoom);
    clampViewStart();
    viewChanged();
}

void WaveformWidget::setViewStartSec(double seconds)
{
    viewStartSec = clampedViewStart(seconds);
    viewChanged();
}

void WaveformWidget::viewChanged()
{
    buildPeaks();
    updateScrollBar();
    notifyVisibleRange();
    update();
}

void WaveformWidget::notifyVisibleRange()
{
    if (reportedRange.changed(zoomLevel, viewStartSec))
        emit visibleRangeChanged(zoomLevel, viewStartSec);
}

void WaveformWidget::zoomAbout(double newZoom, int anchorX)
{
    const bool anchored = traceWidth() > 0 && duration > 0.0;
    const double before = anchored ? xToSeconds(anchorX) : 0.0;
    zoomLevel = clampZoom(newZoom);
    clampViewStart();
    if (anchored) {
        const double after = xToSeconds(anchorX);
        viewStartSec = clampedViewStart(viewStartSec + before - after);
    }
    viewChanged();
}

void WaveformWidget::onScrollBarValueChanged(int value)
{
    viewStartSec = clampedViewStart(value / 1000.0);
    autoScroll = false;
    buildPeaks();
    notifyVisibleRange();
    update();
}

void WaveformWidget::updateScrollBar()
{
    // Programmatic changes are not user scrolling: they must neither clear
    // auto-scroll nor round the view start.
    const QSignalBlocker blocker(scrollBar);
    if (zoomLevel > 1.0 && duration > 0.0) {
        const int page = std::max(static_cast<int>(visibleSeconds() * 1000.0), 1);
        scrollBar->setRange(0, std::max(static_cast<int>(duration * 1000.0) - page, 0));
        scrollBar->setPageStep(page);
        scrollBar->setSingleStep(page / 10);
        scrollBar->setValue(static_cast<int>(viewStartSec * 1000.0));
        placeScrollBar();
        if (!scrollBar->isVisible())
            scrollBar->show();
    } else if (!scrollBar->isHidden()) {
        scrollBar->hide();
    }
}

void WaveformWidget::placeScrollBar()
{
    scrollBar->setGeometry(leftMargin, std::max(height() - ScrollBarHeight, 0), traceWidth(),
                           ScrollBarHeight);
}

void WaveformWidget::setHorizontalMargins(int left, int right)
{
    leftMargin = std::max(left, 0);
    rightMargin = std::max(right, 0);
    placeScrollBar();
    buildPeaks();
    update();
}

int WaveformWidget::traceWidth() const
{
    return std::max(width() - leftMargin - rightMargin, 0);
}

// ---- conversions ----

double WaveformWidget::xToSeconds(int x) const
{
    const int w = traceWidth();
    if (w <= 0 || duration <= 0.0)
        return 0.0;
    return std::clamp(viewStartSec + (double(x - leftMargin) / w) * visibleSeconds(), 0.0, duration);
}

int WaveformWidget::secondsToX(double seconds) const
{
    const double visible = visibleSeconds();
    if (!(visible > 0.0))
        return leftMargin;
    const double x = (seconds - viewStartSec) / visible * traceWidth();
    return leftMargin + static_cast<int>(std::clamp(x, -1.0e9, 1.0e9));
}

QRect WaveformWidget::waveformArea() const
{
    QRect area = rect().adjusted(leftMargin, 0, -rightMargin, 0);
    if (!scrollBar->isHidden())
        area.setBottom(area.bottom() - ScrollBarHeight);
    return area;
}

// ---- peak cache ----

const QList<float>& WaveformWidget::peakMinima(Lane lane) const
{
    return lane == Lane::Left ? leftPeakMin : lane == Lane::Right ? rightPeakMin : peakMin;
}

const QList<float>& WaveformWidget::peakMaxima(Lane lane) const
{
    return lane == Lane::Left ? leftPeakMax : lane == Lane::Right ? rightPeakMax : peakMax;
}

void WaveformWidget::buildPeaks()
{
    clearUpperVectorState();
    buildPeaksForChannel(monoChannel(), monoIndex, peakMin, peakMax);
    if (stereo) {
        buildPeaksForChannel(stereoChannel(0), leftIndex, leftPeakMin, leftPeakMax);
        buildPeaksForChannel(stereoChannel(1), rightIndex, rightPeakMin, rightPeakMax);
    } else {
        leftPeakMin.clear();
        leftPeakMax.clear();
        rightPeakMin.clear();
        rightPeakMax.clear();
    }
}

WaveformWidget::ChannelData WaveformWidget::monoChannel() const
{
    return {samples.constData(), samples.size(), 1};
}

WaveformWidget::ChannelData WaveformWidget::stereoChannel(int channel) const
{
    return {stereoSamples.constData() + channel, stereoSamples.size() / 2, 2};
}

void WaveformWidget::buildPeaksForChannel(const ChannelData& data, const WaveformPeakIndex& index,
                                          QList<float>& mins, QList<float>& maxs)
{
    const int w = traceWidth();
    if (w <= 0 || data.count == 0) {
        mins.clear();
        maxs.clear();
        return;
    }
    mins.resize(w);
    maxs.resize(w);
    const qsizetype n = data.count;
    const qsizetype start = std::clamp<qsizetype>(static_cast<qsizetype>(viewStartSec * sampleRate),
                                                  0, n - 1);
    const qsizetype span =
        std::clamp<qsizetype>(start + static_cast<qsizetype>(visibleSeconds() * sampleRate),
                              start + 1, n) - start;
    const float* values = data.values;
    const bool indexed = index.indexedCount() == n;
    for (int c = 0; c < w; ++c) {
        const double a = double(c) / w * double(span);
        const double b = double(c + 1) / w * double(span);
        const qsizetype first = std::clamp<qsizetype>(start + static_cast<qsizetype>(a), start, n - 1);
        const qsizetype end = std::max(std::min(n, start + static_cast<qsizetype>(b)), first + 1);
        float mn = 1.0f, mx = -1.0f;
        if (indexed)
            index.rangeMinMax(values, first, end, mn, mx);
        else
            WaveformPeakIndex::scan(values, first, end, mn, mx, data.stride);
        mins[c] = mn;
        maxs[c] = mx;
    }
}

// ---- painting ----

void WaveformWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    drawBackground(painter);
    if (samples.isEmpty()) {
        drawEmptyState(painter);
        return;
    }
    const QRect area = waveformArea();
    drawSelection(painter);
    drawWaveform(painter, area);
    drawPlayhead(painter, area);
}

void WaveformWidget::drawBackground(QPainter& painter)
{
    painter.fillRect(rect(), backgroundColor);
}

void WaveformWidget::drawEmptyState(QPainter& painter)
{
    painter.setPen(EmptyTextColor);
    painter.setFont(QFont(QStringLiteral("Arial"), 13));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("暂无音频数据\n请录制或导入文件"));
}

void WaveformWidget::drawSelection(QPainter& painter)
{
    if (!selectionShown)
        return;
    const QRect area = waveformArea();
    const int x1 = secondsToX(selectionStart);
    const int x2 = secondsToX(selectionEnd);
    const int left = std::min(x1, x2);
    const int right = std::max(x1, x2);
    painter.fillRect(QRect(left, area.top(), right - left, area.height()), selectionColor);
    painter.setPen(QPen(QColor(255, 255, 255, 120), 1));
    painter.drawLine(left, area.top(), left, area.bottom());
    painter.drawLine(right, area.top(), right, area.bottom());
}

void WaveformWidget::drawWaveform(QPainter& painter, const QRect& area)
{
    const int playheadX = secondsToX(playheadPos);
    if (!stereo) {
        const int half = area.height() / 2;
        const int centre = area.top() + half;
        drawLane(painter, area, monoChannel(), peakMin, peakMax, centre, half, area.top(),
                 area.bottom(), playheadX);
        painter.setPen(QPen(LaneLineColor, 1));
        painter.drawLine(area.left(), centre, area.right(), centre);
        return;
    }
    const int h = area.height();
    const int mid = area.top() + h / 2;
    const int quarter = h / 4;
    const int leftCentre = area.top() + quarter;
    drawLane(painter, area, stereoChannel(0), leftPeakMin, leftPeakMax, leftCentre, quarter,
             area.top(), mid - 1, playheadX);
    painter.setPen(QPen(LaneLineColor, 1));
    painter.drawLine(area.left(), leftCentre, area.right(), leftCentre);
    painter.drawLine(area.left(), mid, area.right(), mid);
    const int rightHalf = (area.bottom() + 1 - mid) / 2;
    const int rightCentre = mid + rightHalf;
    drawLane(painter, area, stereoChannel(1), rightPeakMin, rightPeakMax, rightCentre, rightHalf, mid,
             area.bottom(), playheadX);
    painter.setPen(QPen(LaneLineColor, 1));
    painter.drawLine(area.left(), rightCentre, area.right(), rightCentre);
    painter.setPen(LaneLabelColor);
    painter.setFont(QFont(QStringLiteral("Arial"), 8));
    painter.drawText(area.left() + 4, area.top() + 12, QStringLiteral("L"));
    painter.drawText(area.left() + 4, mid + 12, QStringLiteral("R"));
}

void WaveformWidget::drawLane(QPainter& painter, const QRect& area, const ChannelData& data,
                              const QList<float>& mins, const QList<float>& maxs, int centre,
                              int half, int rowTop, int rowBottom, int playheadX)
{
    const int columns = area.width();
    const qsizetype size = data.count;
    if (columns <= 0 || size == 0)
        return;
    const double visible = visibleSeconds();
    const double samplesPerPixel = double(size) / (zoomLevel * columns);
    const bool direct = samplesPerPixel < DirectSamplesPerPixel;
    const float* values = data.values;

    QVector<QLine> played, ahead;
    played.reserve(columns);
    ahead.reserve(columns);
    // Rows of the previous column, so that each column reaches the last:
    // zoomed in far, a column holds one or two samples and would otherwise
    // stand apart from its neighbours as a dash.
    bool joined = false;
    int previousTop = 0, previousBottom = 0;
    for (int c = 0; c < columns; ++c) {
        float mn = 1.0f, mx = -1.0f;
        if (direct) {
            const qsizetype raw =
                static_cast<qsizetype>((viewStartSec + visible * c / columns) * sampleRate);
            const qsizetype first = std::clamp<qsizetype>(raw, 0, size - 1);
            const qsizetype end =
                std::max(std::min(raw + static_cast<qsizetype>(samplesPerPixel) + 1, size), first + 1);
            WaveformPeakIndex::scan(values, first, end, mn, mx, data.stride);
        } else {
            if (c >= mins.size() || c >= maxs.size()) {
                joined = false;
                continue;
            }
            mn = mins[c];
            mx = maxs[c];
        }
        const int x = area.left() + c;
        const int top = valueToRow(mx, centre, half, rowTop, rowBottom);
        const int bottom = valueToRow(mn, centre, half, rowTop, rowBottom);
        const QLine line(x, joined ? std::min(top, previousBottom) : top, x,
                         joined ? std::max(bottom, previousTop) : bottom);
        (x < playheadX ? played : ahead).append(line);
        joined = true;
        previousTop = top;
        previousBottom = bottom;
    }
    painter.setPen(QPen(progressColor, 1));
    painter.drawLines(played);
    painter.setPen(QPen(waveColor, 1));
    painter.drawLines(ahead);
}

void WaveformWidget::drawPlayhead(QPainter& painter, const QRect& area)
{
    const int x = secondsToX(playheadPos);
    if (x < area.left() || x > area.right())
        return;
    painter.setPen(QPen(playheadColor, 2));
    painter.drawLine(x, area.top(), x, area.bottom());
    const QPoint triangle[3] = {QPoint(x - 6, area.top()), QPoint(x + 6, area.top()),
                                QPoint(x, area.top() + 10)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(playheadColor);
    painter.drawPolygon(triangle, 3);
    painter.setBrush(Qt::NoBrush);
}

void WaveformWidget::drawTimeRuler(QPainter& painter, const QRect& area)
{
    if (duration <= 0.0)
        return;
    const int h = height();
    painter.fillRect(QRect(0, h - ScrollBarHeight, width(), ScrollBarHeight), QColor(0x1e, 0x1e, 0x28));
    painter.setPen(axisColor);
    painter.setFont(QFont(QStringLiteral("Courier New"), 8));
    const double visible = visibleSeconds();
    const double step = TimeAxisScale::stepFor(visible, area.width());
    for (double t : TimeAxisScale::tickTimes(viewStartSec, visible, step)) {
        const int x = secondsToX(t);
        if (x < area.left() || x > area.right())
            continue;
        painter.drawLine(x, h - 16, x, h - 10);
        painter.drawText(x + 2, h - 4, TimeAxisScale::rulerLabel(t, step));
    }
}

void WaveformWidget::drawAmplitudeAxis(QPainter& painter)
{
    constexpr int StripWidth = 40;
    const QRect area = waveformArea();
    const int half = area.height() / 2;
    painter.fillRect(QRect(0, area.top(), StripWidth, area.height()), QColor(0x19, 0x19, 0x23));
    painter.setPen(axisColor);
    painter.setFont(QFont(QStringLiteral("Courier New"), 7));
    const int marks[] = {0, -6, -12, -24, -48};
    for (int dB : marks) {
        const int a = static_cast<int>(std::pow(10.0, dB / 20.0) * half);
        const int upper = half - a;
        if (upper >= 0) {
            painter.drawLine(StripWidth - 4, upper, StripWidth - 1, upper);
            const QString label = dB == 0 ? QStringLiteral("0dB") : QStringLiteral("%1dB").arg(dB);
            painter.drawText(QRect(0, upper - 6, StripWidth - 6, 12), Qt::AlignRight | Qt::AlignVCenter,
                             label);
        }
        const int lower = half + a;
        if (lower <= area.bottom())
            painter.drawLine(StripWidth - 4, lower, StripWidth - 1, lower);
    }
    painter.drawText(QRect(0, half - 6, StripWidth - 6, 12), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("-∞"));
}

// ---- input ----

void WaveformWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const double x = event->position().x();
    if (std::abs(x - secondsToX(playheadPos)) < PlayheadGrabPixels) {
        draggingPlayhead = true;
    } else {
        selecting = true;
        pressX = static_cast<int>(x);
        selectionShown = false;
    }
}

void WaveformWidget::mouseMoveEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(event->position().x());
    if (draggingPlayhead) {
        playheadPos = xToSeconds(x);
        emit playheadMoved(playheadPos);
        update();
    } else if (selecting) {
        selectionStart = xToSeconds(std::min(pressX, x));
        selectionEnd = xToSeconds(std::max(pressX, x));
        const int w = traceWidth();
        const double threshold = w > 0 ? 2.0 * visibleSeconds() / w : 0.001;
        selectionShown = (selectionEnd - selectionStart) > threshold;
        if (selectionShown)
            emit selectionChanged(selectionStart, selectionEnd);
        update();
    }
}

void WaveformWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !selectionShown && !draggingPlayhead) {
        const double t = xToSeconds(static_cast<int>(event->position().x()));
        playheadPos = t;
        emit playheadMoved(t);
        emit clicked(t);
        update();
    }
    draggingPlayhead = false;
    selecting = false;
}

void WaveformWidget::wheelEvent(QWheelEvent* event)
{
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    const int pixelY = event->pixelDelta().y();
    const int angleY = event->angleDelta().y();
    if (!control && (pixelY == 0 || std::abs(angleY) >= 120)) {
        autoScroll = false;
        if (duration > 0.0) {
            const double visible = visibleSeconds();
            viewStartSec = clampedViewStart(viewStartSec - (angleY < 1 ? -visible / 10.0 : visible / 10.0));
        } else {
            viewStartSec = 0.0;
        }
        viewChanged();
        event->accept();
        return;
    }
    if (!wheelZoomEnabled) {
        event->ignore();
        return;
    }
    const int dy = pixelY != 0 ? pixelY : angleY;
    const double factor = dy >= 1 ? WheelZoomFactor : 1.0 / WheelZoomFactor;
    zoomAbout(zoomLevel * factor, static_cast<int>(event->position().x()));
    event->accept();
}

bool WaveformWidget::event(QEvent* event)
{
    if (event->type() == QEvent::Gesture) {
        auto* gestureEvent = static_cast<QGestureEvent*>(event);
        if (auto* pinch = static_cast<QPinchGesture*>(gestureEvent->gesture(Qt::PinchGesture))) {
            const int anchor = static_cast<int>(mapFromGlobal(pinch->centerPoint()).x());
            zoomAbout(zoomLevel * pinch->scaleFactor(), anchor);
            gestureEvent->accept(pinch);
            return true;
        }
    } else if (event->type() == QEvent::NativeGesture) {
        auto* native = static_cast<QNativeGestureEvent*>(event);
        if (native->gestureType() == Qt::ZoomNativeGesture
            || native->gestureType() == Qt::SmartZoomNativeGesture) {
            zoomAbout(zoomLevel * (native->value() + 1.0), qRound(native->position().x()));
            return true;
        }
    }
    return QWidget::event(event);
}

void WaveformWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeScrollBar();
    buildPeaks();
    update();
}
