#include "editor/SpectrumAnalyzerWidget.h"

#include "audio/dsp/VectorState.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QGestureEvent>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr double MinZoom = 1.0;
constexpr double MaxZoom = 512.0;
constexpr double ZoomStep = 1.15;
constexpr int BrushRadius = 8;
constexpr int ScrollBarHeight = 12;

double clampZoom(double value)
{
    if (std::isnan(value))
        return MinZoom;
    return std::clamp(value, MinZoom, MaxZoom);
}

inline float finiteOrZero(float x)
{
    return (x - x == 0.0f) ? x : 0.0f;
}

void widenRange(qsizetype& first, qsizetype& last, qsizetype from, qsizetype to)
{
    if (first < 0) {
        first = from;
        last = to;
    } else {
        first = std::min(first, from);
        last = std::max(last, to);
    }
}

} // namespace

SpectrumAnalyzerWidget::SpectrumAnalyzerWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(300, 150);
    setAttribute(Qt::WA_MouseTracking);
    setAttribute(Qt::WA_AcceptTouchEvents);
    grabGesture(Qt::PinchGesture);
    buildColorLUT();
    setFFTSize(2048);
    scrollBar = new QScrollBar(Qt::Horizontal, this);
    scrollBar->hide();
    connect(scrollBar, &QScrollBar::valueChanged, this,
            &SpectrumAnalyzerWidget::onScrollBarValueChanged);
    placeScrollBar();
}

SpectrumAnalyzerWidget::~SpectrumAnalyzerWidget() = default;

// ---- data ----

void SpectrumAnalyzerWidget::setAudioData(const QList<float>& left, int sampleRate,
                                          const QList<float>& right)
{
    {
        QMutexLocker lock(&dataLock);
        // An own, unshared list: an erase then edits it in place.
        samples = QList<float>(left.cbegin(), left.cend());
        rate = sampleRate;
        leftFrames.clear();
        leftImageStale = true;
        computed = false;
        columnsFollowSamples = false;
        resetDimmedRanges();
        hasRight = !right.isEmpty();
        if (hasRight) {
            const qsizetype frames = right.size() / 2;
            rightSamples.resize(frames);
            for (qsizetype i = 0; i < frames; ++i)
                rightSamples[i] = right[2 * i + 1];
        } else {
            rightSamples.clear();
        }
        rightFrames.clear();
        rightImageStale = true;

        if (left.isEmpty()) {
            samples.clear();
            rightSamples.clear();
            levels.clear();
            hasRight = false;
            leftImage = QImage();
            rightImage = QImage();
            leftImageStale = false;
            rightImageStale = false;
        } else {
            levels.reset(computer.fftSize(), rate, dbFloor);
            viewStart = 0.0;
        }
    }
    updateScrollBar();
    update();
}

void SpectrumAnalyzerWidget::clearAudioData()
{
    {
        QMutexLocker lock(&dataLock);
        samples.clear();
        rightSamples.clear();
        levels.clear();
        hasRight = false;
        leftFrames.clear();
        rightFrames.clear();
        leftImage = QImage();
        rightImage = QImage();
        leftImageStale = true;
        rightImageStale = true;
        computed = false;
        columnsFollowSamples = false;
        resetDimmedRanges();
        zoom = 1.0;
        viewStart = 0.0;
    }
    updateScrollBar();
    update();
}

void SpectrumAnalyzerWidget::setFFTSize(int size)
{
    computer.setFftSize(size);
    liveBuffer.assign(computer.fftSize(), 0.0f);
    liveFill = 0;
}

void SpectrumAnalyzerWidget::setWindowType(int type)
{
    computer.setWindowType(type);
}

void SpectrumAnalyzerWidget::setDecibelRange(float minDb, float maxDb)
{
    dbFloor = minDb;
    dbCeiling = maxDb;
    update();
}

void SpectrumAnalyzerWidget::setFrequencyRange(float minFreq, float maxFreq)
{
    lowestFrequency = minFreq;
    highestFrequency = maxFreq;
    update();
}

void SpectrumAnalyzerWidget::resetDimmedRanges()
{
    dimmedLeftFirst = dimmedLeftLast = -1;
    dimmedRightFirst = dimmedRightLast = -1;
}

// ---- computation ----

void SpectrumAnalyzerWidget::computeFFT(const float* input,
                                        std::vector<std::complex<float>>& output) const
{
    computer.computeFft(input, output);
}

QList<float> SpectrumAnalyzerWidget::computeSpectrumFrame(const float* data, int count) const
{
    return computer.computeColumn(data, count);
}

void SpectrumAnalyzerWidget::applyWindow(float* data, int count) const
{
    const std::vector<float>& window = computer.window();
    const int used = std::min<int>(count, int(window.size()));
    for (int i = 0; i < used; ++i)
        data[i] *= window[i];
}

void SpectrumAnalyzerWidget::computeSpectrum(const std::vector<std::complex<float>>& fft)
{
    levels.update(fft, computer.fftSize(), rate, dbFloor, dbCeiling);
}

void SpectrumAnalyzerWidget::buildColorLUT()
{
    colorTable = SpectrogramImageBuilder::buildColorTable();
    colorTableBuilt = true;
}

QRgb SpectrumAnalyzerWidget::spectrogramColor(float value) const
{
    const SpectrogramImageBuilder::ColorEntry& e =
        colorTable[SpectrogramImageBuilder::colorIndex(value)];
    return qRgb(e.red, e.green, e.blue);
}

void SpectrumAnalyzerWidget::ensureSpectrumComputed()
{
    if (computed || samples.isEmpty())
        return;
    computed = true;
    QElapsedTimer timer;
    timer.start();
    clearUpperVectorState();
    // The sequences are rebuilt from the lists as they are now; live columns
    // appended meanwhile would otherwise stand before them twice.
    leftFrames.clear();
    rightFrames.clear();
    const int bins = computer.fftSize() / 2 + 1;
    magnitudeSums.assign(bins, 0.0);
    listFrames = computer.frameCount(samples.size());
    computer.appendListColumns(samples.constData(), samples.size(), leftFrames, &magnitudeSums);
    if (levels.levels.size() != bins)
        levels.reset(computer.fftSize(), rate, dbFloor);
    levels.setAverages(magnitudeSums, listFrames, dbFloor, dbCeiling);
    if (hasRight && !rightSamples.isEmpty())
        computer.appendListColumns(rightSamples.constData(), rightSamples.size(), rightFrames,
                                   nullptr);
    columnsFollowSamples = true;
    resetDimmedRanges();
    leftImageStale = true;
    rightImageStale = true;
    qDebug() << "[Spectrum] total:" << timer.elapsed() << "ms, frames:" << listFrames;
}

void SpectrumAnalyzerWidget::rebuildSpectrogramImage()
{
    clearUpperVectorState();
    if (!colorTableBuilt)
        buildColorLUT();
    if (leftFrames.empty()) {
        leftImage = QImage();
        leftImageStale = false;
        return;
    }
    leftImage = SpectrogramImageBuilder::build(leftFrames);
    leftImageStale = false;
    if (hasRight && !rightFrames.empty())
        rightImage = SpectrogramImageBuilder::build(rightFrames);
    else
        rightImage = QImage();
    rightImageStale = false;
}

qsizetype SpectrumAnalyzerWidget::spectrogramColumnCount(bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    return qsizetype(rightChannel ? rightFrames.size() : leftFrames.size());
}

QList<float> SpectrumAnalyzerWidget::spectrogramColumn(qsizetype index, bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    const SpectrogramColumns& frames = rightChannel ? rightFrames : leftFrames;
    if (index < 0 || index >= qsizetype(frames.size()))
        return {};
    return frames[index];
}

QImage SpectrumAnalyzerWidget::spectrogramImage(bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    return rightChannel ? rightImage : leftImage;
}

// ---- live path ----

void SpectrumAnalyzerWidget::processAudioFrame(const float* data, int count)
{
    if (!data || count < 1)
        return;
    const int n = computer.fftSize();
    const int hop = computer.hop();
    if (int(liveBuffer.size()) != n) {
        liveBuffer.assign(n, 0.0f);
        liveFill = 0;
    }
    bool made = false;
    std::vector<float> windowed(n);
    std::vector<std::complex<float>> fft;
    const std::vector<float>& window = computer.window();
    for (int i = 0; i < count; ++i) {
        liveBuffer[liveFill++] = data[i];
        if (liveFill < n)
            continue;
        QList<float> column = computer.computeColumn(liveBuffer.data(), n);
        for (int j = 0; j < n; ++j)
            windowed[j] = finiteOrZero(liveBuffer[j]) * window[j];
        computer.computeFft(windowed.data(), fft);
        {
            QMutexLocker lock(&dataLock);
            samples.append(QList<float>(liveBuffer.cbegin(), liveBuffer.cbegin() + hop));
            playhead = rate >= 1 ? double(samples.size()) / rate : 0.0;
            leftFrames.push_back(std::move(column));
            if (qsizetype(leftFrames.size()) > liveHistoryLimit)
                leftFrames.pop_front();
            computeSpectrum(fft);
            leftImageStale = true;
            columnsFollowSamples = false;
        }
        std::copy(liveBuffer.begin() + hop, liveBuffer.end(), liveBuffer.begin());
        liveFill = n - hop;
        made = true;
    }
    if (made)
        update();
}

// ---- erase ----

void SpectrumAnalyzerWidget::setToolMode(ToolMode mode)
{
    toolMode = mode;
    setCursor(mode == Erase ? Qt::CrossCursor : Qt::ArrowCursor);
}

void SpectrumAnalyzerWidget::setEraseStrength(float strength)
{
    eraseStrength = std::isnan(strength) ? 0.1f : std::clamp(strength, 0.1f, 1.0f);
}

void SpectrumAnalyzerWidget::inverseFFT(float* data, int n)
{
    SpectralEraser::inverseFft(data, n);
}

void SpectrumAnalyzerWidget::performVisualErase(const QPoint& point, const QRect& rect)
{
    {
        QMutexLocker lock(&dataLock);
        bool leftTarget = true;
        QRect band = rect;
        if (hasRight && !rightImage.isNull()) {
            const QRect upper(rect.left(), rect.top(), rect.width(), rect.height() / 2);
            const QRect lower(rect.left(), rect.top() + rect.height() / 2, rect.width(),
                              rect.height() - rect.height() / 2);
            leftTarget = point.y() < lower.top();
            band = leftTarget ? upper : lower;
        }
        QImage& image = leftTarget ? leftImage : rightImage;
        SpectrogramColumns& frames = leftTarget ? leftFrames : rightFrames;
        if (image.isNull() || frames.empty() || rect.width() <= 0 || band.height() <= 0
            || rate < 1)
            return;

        const int height = int(frames.front().size());
        const qsizetype count = qsizetype(frames.size());
        const double columnSeconds = double(computer.hop()) / rate;
        const double t = viewStart
                         + (columnSeconds * double(count) / zoom) * double(point.x() - rect.left())
                               / double(rect.width());
        const qsizetype c = std::clamp<qsizetype>(static_cast<qsizetype>(t / columnSeconds), 0,
                                                  count - 1);
        const int b = std::clamp(
            static_cast<int>((1.0 - double(point.y() - band.top()) / band.height()) * height), 0,
            height - 1);
        const float keep = 1.0f - eraseStrength;
        for (int dx = -BrushRadius; dx <= BrushRadius; ++dx) {
            const qsizetype column = c + dx;
            if (column < 0 || column >= count)
                continue;
            QList<float>& values = frames[column];
            for (int dy = -BrushRadius; dy <= BrushRadius; ++dy) {
                const int bin = b + dy;
                if (dx * dx + dy * dy > BrushRadius * BrushRadius || bin < 0 || bin >= height
                    || bin >= values.size())
                    continue;
                values[bin] *= keep;
            }
        }
        bool& stale = leftTarget ? leftImageStale : rightImageStale;
        // A stale picture is rebuilt from the dimmed columns at the next paint.
        if (!stale)
            SpectrogramImageBuilder::updateCells(image, frames, c - BrushRadius, c + BrushRadius,
                                                 b - BrushRadius, b + BrushRadius);
        if (leftTarget)
            widenRange(dimmedLeftFirst, dimmedLeftLast, std::max<qsizetype>(c - BrushRadius, 0),
                       std::min(c + BrushRadius, count - 1));
        else
            widenRange(dimmedRightFirst, dimmedRightLast, std::max<qsizetype>(c - BrushRadius, 0),
                       std::min(c + BrushRadius, count - 1));

        if (leftTarget) {
            // The same axis as the picture, so the dab erases what it covers.
            const double bandHeight = band.height();
            const double top = spectrogramTopFrequency();
            const float fa = static_cast<float>(
                (1.0 - (point.y() - band.top() + BrushRadius) / bandHeight) * top);
            const float fb = static_cast<float>(
                (1.0 - (point.y() - band.top() - BrushRadius) / bandHeight) * top);
            EraseStroke stroke;
            stroke.start = t - BrushRadius * columnSeconds;
            stroke.end = t + BrushRadius * columnSeconds;
            stroke.low = std::min(fa, fb);
            stroke.high = std::max(fa, fb);
            strokes.append(stroke);
        }
    }
    update();
}

void SpectrumAnalyzerWidget::applySpectralErase(double startSec, double endSec, float lowHz,
                                                float highHz, float strength)
{
    clearUpperVectorState();
    {
        QMutexLocker lock(&dataLock);
        SpectralEraser::Result result;
        if (!eraser.erase(samples.constData(), samples.size(), rate, startSec, endSec, lowHz,
                          highHz, strength, result))
            return;
        const qsizetype r0 = result.first;
        const qsizetype r1 = r0 + qsizetype(result.samples.size());
        const int n = computer.fftSize();
        const int hop = computer.hop();
        if (computed && columnsFollowSamples && !leftFrames.empty()) {
            // Columns whose blocks reach into [r0, r1), plus any the brush dimmed.
            qsizetype first = r0 >= n ? (r0 - n) / hop + 1 : 0;
            qsizetype last = std::min<qsizetype>(qsizetype(leftFrames.size()) - 1, (r1 - 1) / hop);
            if (dimmedLeftFirst >= 0) {
                first = std::min(first, dimmedLeftFirst);
                last = std::max(last, dimmedLeftLast);
            }
            computer.subtractListMagnitudes(samples.constData(), first, last, magnitudeSums);
            std::copy(result.samples.begin(), result.samples.end(), samples.data() + r0);
            computer.recomputeListColumns(samples.constData(), first, last, leftFrames,
                                          &magnitudeSums);
            levels.setAverages(magnitudeSums, listFrames, dbFloor, dbCeiling);
            if (!leftImageStale)
                SpectrogramImageBuilder::updateColumns(leftImage, leftFrames, first, last);
            if (dimmedRightFirst >= 0 && !rightSamples.isEmpty()) {
                computer.recomputeListColumns(rightSamples.constData(), dimmedRightFirst,
                                              dimmedRightLast, rightFrames, nullptr);
                if (!rightImageStale)
                    SpectrogramImageBuilder::updateColumns(rightImage, rightFrames,
                                                           dimmedRightFirst, dimmedRightLast);
            }
            resetDimmedRanges();
        } else {
            std::copy(result.samples.begin(), result.samples.end(), samples.data() + r0);
            leftFrames.clear();
            rightFrames.clear();
            computed = false;
            columnsFollowSamples = false;
            resetDimmedRanges();
            leftImageStale = true;
            rightImageStale = true;
        }
    }
    // Emitted unlocked: a receiver may read the list or reload this view.
    emit audioDataChanged();
    update();
}

// ---- view ----

void SpectrumAnalyzerWidget::setDisplayMode(DisplayMode mode)
{
    displayMode = mode;
    leftImageStale = true;
    update();
}

double SpectrumAnalyzerWidget::sampleDuration() const
{
    if (rate < 1 || samples.isEmpty())
        return 0.0;
    return double(samples.size()) / rate;
}

double SpectrumAnalyzerWidget::spectrogramDuration() const
{
    if (rate < 1)
        return 0.0;
    return double(computer.hop()) / rate * double(leftFrames.size());
}

double SpectrumAnalyzerWidget::contentDuration() const
{
    return std::max(spectrogramDuration(), sampleDuration());
}

QRect SpectrumAnalyzerWidget::plotRect() const
{
    return QRect(QPoint(55, 5), QPoint(width() - 6, height() - 26));
}

void SpectrumAnalyzerWidget::setPlayheadPosition(double seconds)
{
    playhead = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, sampleDuration());
    update();
}

double SpectrumAnalyzerWidget::clampedViewStart(double seconds) const
{
    const double d = contentDuration();
    if (!(d > 0.0) || std::isnan(seconds))
        return 0.0;
    return std::clamp(seconds, 0.0, std::max(d - d / zoom, 0.0));
}

void SpectrumAnalyzerWidget::clampViewStart()
{
    viewStart = clampedViewStart(viewStart);
}

void SpectrumAnalyzerWidget::setZoomLevel(double value)
{
    zoom = clampZoom(value);
    clampViewStart();
    updateScrollBar();
    update();
}

void SpectrumAnalyzerWidget::setViewStartSec(double seconds)
{
    viewStart = clampedViewStart(seconds);
    updateScrollBar();
    update();
}

void SpectrumAnalyzerWidget::updateScrollBar()
{
    // Set without echo, so that the view start keeps its exact value.
    const QSignalBlocker blocker(scrollBar);
    const double d = contentDuration();
    if (zoom > 1.0 && d > 0.0) {
        const int page = std::max(static_cast<int>(d / zoom * 1000.0), 1);
        scrollBar->setRange(0, std::max(static_cast<int>(d * 1000.0) - page, 0));
        scrollBar->setPageStep(page);
        scrollBar->setSingleStep(page / 10);
        scrollBar->setValue(static_cast<int>(viewStart * 1000.0));
        placeScrollBar();
        scrollBar->show();
    } else {
        scrollBar->hide();
    }
}

void SpectrumAnalyzerWidget::onScrollBarValueChanged(int value)
{
    viewStart = clampedViewStart(value / 1000.0);
    update();
}

void SpectrumAnalyzerWidget::placeScrollBar()
{
    const QRect plot = plotRect();
    scrollBar->setGeometry(plot.left(), std::max(height() - ScrollBarHeight, 0),
                           std::max(plot.width(), 0), ScrollBarHeight);
}

void SpectrumAnalyzerWidget::setSpectrumColor(const QColor& color)
{
    spectrumColor = color;
    update();
}

void SpectrumAnalyzerWidget::setBackgroundColor(const QColor& color)
{
    backgroundColor = color;
    update();
}

void SpectrumAnalyzerWidget::setGridColor(const QColor& color)
{
    gridColor = color;
    update();
}

void SpectrumAnalyzerWidget::setTextColor(const QColor& color)
{
    textColor = color;
    update();
}

// ---- mappings ----

double SpectrumAnalyzerWidget::pixelToTime(int x, const QRect& r) const
{
    return viewStart + double(x - r.left()) / r.width() * spectrogramDuration() / zoom;
}

float SpectrumAnalyzerWidget::spectrogramTopFrequency() const
{
    const int n = computer.fftSize();
    const int rows = n / 2;
    if (rows < 2)
        return float(rate) / 2.0f;
    return float(rows - 1) * float(rate) / float(n);
}

float SpectrumAnalyzerWidget::pixelToFreq(int y, const QRect& r) const
{
    return spectrogramTopFrequency() * (1.0f - float(y - r.top()) / float(r.height()));
}

float SpectrumAnalyzerWidget::xToFrequency(int x, const QRect& r) const
{
    const float lo = std::log10(lowestFrequency), hi = std::log10(highestFrequency);
    return std::pow(10.0f, lo + float(x - r.left()) / float(r.width()) * (hi - lo));
}

float SpectrumAnalyzerWidget::yToMagnitude(int y, const QRect& r) const
{
    return dbFloor + (1.0f - float(y - r.top()) / float(r.height())) * (dbCeiling - dbFloor);
}

float SpectrumAnalyzerWidget::frequencyToX(float frequency, const QRect& r) const
{
    const float lo = std::log10(lowestFrequency), hi = std::log10(highestFrequency);
    return (std::log10(std::max(frequency, lowestFrequency)) - lo) / (hi - lo) * float(r.width());
}

float SpectrumAnalyzerWidget::magnitudeToY(float dB, const QRect& r) const
{
    return (1.0f - (dB - dbFloor) / (dbCeiling - dbFloor)) * float(r.height());
}

float SpectrumAnalyzerWidget::pointerFrequency(const QPointF& position) const
{
    const float lo = std::log10(lowestFrequency), hi = std::log10(highestFrequency);
    return std::pow(10.0f, lo + (hi - lo) * float(position.x() - 55.0) / float(width() - 60));
}

float SpectrumAnalyzerWidget::pointerLevel(const QPointF& position) const
{
    return dbFloor
           + (dbCeiling - dbFloor) * (1.0f - float(position.y() - 5.0) / float(height() - 30));
}

// ---- input ----

void SpectrumAnalyzerWidget::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = plotRect();
    const QPointF position = event->position();
    if (toolMode == Erase) {
        if (event->button() == Qt::LeftButton && !samples.isEmpty()) {
            erasing = true;
            if (plot.contains(position.toPoint()))
                performVisualErase(position.toPoint(), plot);
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton && !samples.isEmpty()
        && plot.contains(position.toPoint())) {
        const double dn = sampleDuration();
        const double t = viewStart + dn / zoom * (position.x() - plot.left()) / plot.width();
        emit playheadRequested(std::clamp(t, 0.0, dn));
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void SpectrumAnalyzerWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF position = event->position();
    pointerPosition = position.toPoint();
    pointerInside = true;
    if (toolMode == Erase && erasing && (event->buttons() & Qt::LeftButton)) {
        const QRect plot = plotRect();
        if (plot.contains(pointerPosition))
            performVisualErase(pointerPosition, plot);
        event->accept();
        return;
    }
    emit frequencySelected(pointerFrequency(position));
    emit magnitudeSelected(pointerLevel(position));
    update();
    QWidget::mouseMoveEvent(event);
}

void SpectrumAnalyzerWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && erasing) {
        erasing = false;
        if (!strokes.isEmpty()) {
            EraseStroke region = strokes.first();
            for (const EraseStroke& stroke : std::as_const(strokes)) {
                region.start = std::min(region.start, stroke.start);
                region.end = std::max(region.end, stroke.end);
                region.low = std::min(region.low, stroke.low);
                region.high = std::max(region.high, stroke.high);
            }
            strokes.clear();
            applySpectralErase(region.start, region.end, region.low, region.high, eraseStrength);
        }
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void SpectrumAnalyzerWidget::zoomBy(double factor)
{
    zoom = clampZoom(zoom * factor);
    clampViewStart();
}

void SpectrumAnalyzerWidget::wheelEvent(QWheelEvent* event)
{
    const int pixelY = event->pixelDelta().y();
    const int angleY = event->angleDelta().y();
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        const int dy = pixelY != 0 ? pixelY : angleY;
        zoomBy(dy >= 1 ? ZoomStep : 1.0 / ZoomStep);
    } else if (pixelY != 0 && std::abs(angleY) < 120) {
        zoomBy(pixelY >= 1 ? ZoomStep : 1.0 / ZoomStep);
    } else {
        const double step = contentDuration() / zoom / 10.0;
        viewStart = clampedViewStart(angleY >= 1 ? viewStart - step : viewStart + step);
    }
    updateScrollBar();
    update();
    event->accept();
}

bool SpectrumAnalyzerWidget::event(QEvent* event)
{
    if (event->type() == QEvent::Gesture) {
        auto* gestureEvent = static_cast<QGestureEvent*>(event);
        if (auto* pinch = static_cast<QPinchGesture*>(gestureEvent->gesture(Qt::PinchGesture))) {
            zoomBy(pinch->scaleFactor());
            updateScrollBar();
            update();
            gestureEvent->accept(pinch);
            return true;
        }
    } else if (event->type() == QEvent::NativeGesture) {
        auto* native = static_cast<QNativeGestureEvent*>(event);
        if (native->gestureType() == Qt::ZoomNativeGesture
            || native->gestureType() == Qt::SmartZoomNativeGesture) {
            zoomBy(native->value() + 1.0);
            updateScrollBar();
            update();
            return true;
        }
    }
    return QWidget::event(event);
}

void SpectrumAnalyzerWidget::leaveEvent(QEvent* event)
{
    pointerInside = false;
    update();
    QWidget::leaveEvent(event);
}

void SpectrumAnalyzerWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    leftImageStale = true;
    placeScrollBar();
    update();
}
