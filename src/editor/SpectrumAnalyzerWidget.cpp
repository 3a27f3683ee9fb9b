#include "editor/SpectrumAnalyzerWidget.h"

#include "audio/dsp/VectorState.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QGestureEvent>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr double MinZoom = 1.0;
constexpr double MaxZoom = 512.0;
constexpr double ZoomStep = 1.15;
constexpr int BrushRadius = 8;
constexpr int ScrollBarHeight = 12;

// With the waveform strip, the spectrogram takes 60 % and the strip 40 % of
// the height above the 30 px of labels and scroll bar.
int spectrumStripHeight(int widgetHeight)
{
    return (widgetHeight - 30) * 60 / 100;
}

int waveStripHeight(int widgetHeight)
{
    return (widgetHeight - 30) * 40 / 100;
}

double clampZoom(double value)
{
    if (std::isnan(value))
        return MinZoom;
    return std::clamp(value, MinZoom, MaxZoom);
}

// The level of a cell in dB: cells run from -100 dB (0) to -30 dB (255).
constexpr float CellFloorDb = -100.0f;
constexpr float CellRangeDb = 70.0f;

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

SpectrumAnalyzerWidget::~SpectrumAnalyzerWidget()
{
    // The job reads its own copies, but reports to this view.
    if (backgroundJob) {
        backgroundJob->disconnect(this);
        backgroundJob->waitForFinished();
    }
}

// ---- data ----

void SpectrumAnalyzerWidget::setAudioData(const QList<float>& left, int sampleRate,
                                          const QList<float>& right)
{
    {
        QMutexLocker lock(&dataLock);
        // Shared copies: nothing is copied until an erase writes the lists.
        samples = left;
        rate = sampleRate;
        leftCells.clear();
        rightCells.clear();
        computed = false;
        ++dataGeneration;
        columnsFollowSamples = false;
        resetDimmedRanges();
        hasRight = !right.isEmpty() && !left.isEmpty();
        stereoSamples = hasRight ? right : QList<float>();
        if (left.isEmpty()) {
            samples.clear();
            levels.clear();
        } else {
            levels.reset(computer.fftSize(), rate, dbFloor);
            viewStart = 0.0;
        }
    }
    updateScrollBar();
    notifyVisibleRange();
    update();
}

void SpectrumAnalyzerWidget::clearAudioData()
{
    {
        QMutexLocker lock(&dataLock);
        samples.clear();
        stereoSamples.clear();
        levels.clear();
        hasRight = false;
        leftCells.clear();
        rightCells.clear();
        computed = false;
        ++dataGeneration;
        columnsFollowSamples = false;
        resetDimmedRanges();
        zoom = 1.0;
        viewStart = 0.0;
    }
    updateScrollBar();
    notifyVisibleRange();
    update();
}

void SpectrumAnalyzerWidget::setFFTSize(int size)
{
    ++dataGeneration;
    computer.setFftSize(size);
    liveBuffer.assign(computer.fftSize(), 0.0f);
    liveFill = 0;
}

void SpectrumAnalyzerWidget::setWindowType(int type)
{
    ++dataGeneration;
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
    dimmedFirst[0] = dimmedLast[0] = -1;
    dimmedFirst[1] = dimmedLast[1] = -1;
}

SampleChannel SpectrumAnalyzerWidget::bandChannel(int band) const
{
    if (!hasRight)
        return band == 0 ? SampleChannel::mono(samples) : SampleChannel();
    return SampleChannel::ofInterleaved(stereoSamples, band);
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
    // The grids are rebuilt from the lists as they are now; live columns
    // appended meanwhile would otherwise stand before them twice.
    magnitudeSums.assign(computer.fftSize() / 2 + 1, 0.0);
    const SampleChannel upper = bandChannel(0);
    listFrames = computer.frameCount(upper.count);
    computer.computeListCells(upper, leftCells, &magnitudeSums);
    if (hasRight)
        computer.computeListCells(bandChannel(1), rightCells, &magnitudeSums);
    else
        rightCells.clear();
    adoptListSpectrum();
    qDebug() << "[Spectrum] total:" << timer.elapsed() << "ms, frames:" << listFrames;
}

void SpectrumAnalyzerWidget::adoptListSpectrum()
{
    if (levels.levels.size() != computer.fftSize() / 2 + 1)
        levels.reset(computer.fftSize(), rate, dbFloor);
    // Stereo: the average over both channels' columns.
    levels.setAverages(magnitudeSums, listFrames * (hasRight ? 2 : 1), dbFloor, dbCeiling);
    columnsFollowSamples = true;
    resetDimmedRanges();
}

// What a background job reads and makes: its own shared copies of the lists
// and of the computer, so the view may change meanwhile.
struct BackgroundSpectrogram {
    quint64 generation = 0;
    QList<float> samples;
    QList<float> stereo;
    bool hasRight = false;
    SpectrogramComputer computer;
    SpectrogramGrid left;
    SpectrogramGrid right;
    std::vector<double> sums;
    qsizetype frames = 0;
};

bool SpectrumAnalyzerWidget::computeSpectrumInBackground()
{
    if (backgroundJob || computed || samples.isEmpty())
        return false;
    auto job = std::make_shared<BackgroundSpectrogram>();
    job->generation = dataGeneration;
    job->samples = samples;
    job->stereo = stereoSamples;
    job->hasRight = hasRight;
    job->computer = computer;
    backgroundJob = new QFutureWatcher<void>(this);
    connect(backgroundJob, &QFutureWatcherBase::finished, this,
            [this, job] { finishBackgroundComputation(*job); });
    backgroundJob->setFuture(QtConcurrent::run([job] {
        QElapsedTimer timer;
        timer.start();
        BackgroundSpectrogram& j = *job;
        j.sums.assign(j.computer.fftSize() / 2 + 1, 0.0);
        const SampleChannel upper = j.hasRight ? SampleChannel::ofInterleaved(j.stereo, 0)
                                               : SampleChannel::mono(j.samples);
        j.frames = j.computer.frameCount(upper.count);
        j.computer.computeListCells(upper, j.left, &j.sums);
        if (j.hasRight)
            j.computer.computeListCells(SampleChannel::ofInterleaved(j.stereo, 1), j.right, &j.sums);
        qDebug() << "[Spectrum] background total:" << timer.elapsed() << "ms, frames:" << j.frames;
    }));
    return true;
}

void SpectrumAnalyzerWidget::finishBackgroundComputation(BackgroundSpectrogram& job)
{
    backgroundJob->deleteLater();
    backgroundJob = nullptr;
    if (!computed && job.generation == dataGeneration && !samples.isEmpty()) {
        clearUpperVectorState();
        QMutexLocker lock(&dataLock);
        computed = true;
        leftCells = std::move(job.left);
        rightCells = hasRight ? std::move(job.right) : SpectrogramGrid();
        magnitudeSums = std::move(job.sums);
        listFrames = job.frames;
        adoptListSpectrum();
    }
    update();
    emit backgroundComputationFinished();
}

qsizetype SpectrumAnalyzerWidget::spectrogramColumnCount(bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    return (rightChannel ? rightCells : leftCells).columnCount();
}

QList<float> SpectrumAnalyzerWidget::spectrogramColumn(qsizetype index, bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    return (rightChannel ? rightCells : leftCells).columnValues(index);
}

QImage SpectrumAnalyzerWidget::spectrogramImage(bool rightChannel) const
{
    QMutexLocker lock(&dataLock);
    return SpectrogramImageBuilder::build(rightChannel ? rightCells : leftCells);
}

qsizetype SpectrumAnalyzerWidget::spectrogramByteSize() const
{
    QMutexLocker lock(&dataLock);
    return leftCells.byteSize() + rightCells.byteSize();
}

bool SpectrumAnalyzerWidget::takeSpectrogramFrom(SpectrumAnalyzerWidget& other)
{
    if (&other == this)
        return false;
    {
        QMutexLocker lock(&dataLock);
        QMutexLocker otherLock(&other.dataLock);
        const bool sameLists = samples.constData() == other.samples.constData()
                               && samples.size() == other.samples.size()
                               && stereoSamples.constData() == other.stereoSamples.constData()
                               && stereoSamples.size() == other.stereoSamples.size()
                               && hasRight == other.hasRight && rate == other.rate
                               && computer.fftSize() == other.computer.fftSize()
                               && computer.windowType() == other.computer.windowType();
        if (!sameLists || computed || !other.computed || !other.columnsFollowSamples
            || samples.isEmpty())
            return false;
        leftCells = std::move(other.leftCells);
        rightCells = std::move(other.rightCells);
        magnitudeSums = std::move(other.magnitudeSums);
        listFrames = other.listFrames;
        levels = other.levels;
        computed = true;
        columnsFollowSamples = true;
        resetDimmedRanges();
        other.leftCells.clear();
        other.rightCells.clear();
        other.magnitudeSums.clear();
        other.computed = false;
        other.columnsFollowSamples = false;
        other.resetDimmedRanges();
    }
    update();
    other.update();
    return true;
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
            if (leftCells.height() != n / 2)
                leftCells.reset(n / 2);
            // The oldest column goes first when the new one would pass the
            // limit: the same sequence, without growing the storage.
            if (leftCells.columnCount() >= liveHistoryLimit)
                leftCells.dropFrontColumn();
            SpectrogramGrid::Cell* cells = leftCells.appendColumn();
            for (int k = 0; k < n / 2 && k < column.size(); ++k)
                cells[k] = SpectrogramGrid::cellFor(column[k]);
            computeSpectrum(fft);
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
    // The brush works on the cells the paint shows; they are computed there.
    ensureSpectrumComputed();
    {
        QMutexLocker lock(&dataLock);
        if (!rect.contains(point) || rate < 1)
            return;
        const CellReading cell = cellAtLocked(point);
        if (!cell.valid)
            return;
        const int band = cell.channel;
        SpectrogramGrid& grid = bandCells(band);
        const int height = grid.height();
        const qsizetype count = grid.columnCount();
        const qsizetype c = cell.column;
        const int b = cell.bin;
        const float keep = 1.0f - eraseStrength;
        for (int dx = -BrushRadius; dx <= BrushRadius; ++dx) {
            const qsizetype column = c + dx;
            if (column < 0 || column >= count)
                continue;
            SpectrogramGrid::Cell* cells = grid.column(column);
            for (int dy = -BrushRadius; dy <= BrushRadius; ++dy) {
                const int bin = b + dy;
                if (dx * dx + dy * dy > BrushRadius * BrushRadius || bin < 0 || bin >= height)
                    continue;
                cells[bin] = SpectrogramGrid::cellFor(SpectrogramGrid::cellValue(cells[bin]) * keep);
            }
        }
        widenRange(dimmedFirst[band], dimmedLast[band], std::max<qsizetype>(c - BrushRadius, 0),
                   std::min(c + BrushRadius, count - 1));

        // The frequencies of the dab's 16 rows on the band's linear axis (the
        // labels' axis), so that the dab erases what it covers.
        const QRect bandRect = bandRects().value(band);
        const double columnSeconds = double(computer.hop()) / rate;
        const double bandHeight = bandRect.height();
        const double top = spectrogramTopFrequency();
        const float fa = static_cast<float>(
            (1.0 - (point.y() - bandRect.top() + BrushRadius) / bandHeight) * top);
        const float fb = static_cast<float>(
            (1.0 - (point.y() - bandRect.top() - BrushRadius) / bandHeight) * top);
        EraseStroke stroke;
        stroke.start = cell.seconds - BrushRadius * columnSeconds;
        stroke.end = cell.seconds + BrushRadius * columnSeconds;
        stroke.low = std::min(fa, fb);
        stroke.high = std::max(fa, fb);
        stroke.channel = band;
        strokes.append(stroke);
    }
    update();
}

void SpectrumAnalyzerWidget::applySpectralErase(double startSec, double endSec, float lowHz,
                                                float highHz, float strength, EraseChannel channel)
{
    emit eraseStarting();
    EraseRegion regions[2];
    EraseStroke box;
    box.start = startSec;
    box.end = endSec;
    box.low = lowHz;
    box.high = highHz;
    for (int band = 0; band < 2; ++band) {
        regions[band].box = box;
        regions[band].box.channel = band;
    }
    // Mono material has one list, which every erase changes.
    {
        QMutexLocker lock(&dataLock);
        regions[0].used = !hasRight || channel != RightChannel;
        regions[1].used = hasRight && channel != LeftChannel;
    }
    if (eraseRegions(regions, strength)) {
        // Emitted unlocked: a receiver may read the lists or reload this view.
        emit audioDataChanged();
    }
    update();
}

bool SpectrumAnalyzerWidget::eraseRegions(const EraseRegion (&regions)[2], float strength)
{
    clearUpperVectorState();
    QMutexLocker lock(&dataLock);
    EraseSummary summary;
    bool changed = false;
    for (int band = 0; band < 2; ++band) {
        if (!regions[band].used || !eraseBand(band, regions[band].box, strength))
            continue;
        const EraseStroke& box = regions[band].box;
        (band == 0 ? summary.left : summary.right) = true;
        summary.start = changed ? std::min(summary.start, box.start) : box.start;
        summary.end = changed ? std::max(summary.end, box.end) : box.end;
        summary.low = changed ? std::min(summary.low, box.low) : box.low;
        summary.high = changed ? std::max(summary.high, box.high) : box.high;
        changed = true;
    }
    // Cells the brush dimmed where nothing was erased show the audio again.
    if (computed && columnsFollowSamples) {
        for (int band = 0; band < 2; ++band) {
            if (dimmedFirst[band] >= 0)
                computer.recomputeListCells(bandChannel(band), dimmedFirst[band], dimmedLast[band],
                                            bandCells(band), nullptr);
        }
        if (changed)
            levels.setAverages(magnitudeSums, listFrames * (hasRight ? 2 : 1), dbFloor, dbCeiling);
    }
    resetDimmedRanges();
    if (changed) {
        summary.start = std::max(summary.start, 0.0);
        summary.end = std::min(summary.end, sampleDuration());
        summary.low = std::max(summary.low, 0.0f);
        summary.high = std::min(summary.high, float(rate / 2));
        lastEraseSummary = summary;
    }
    return changed;
}

bool SpectrumAnalyzerWidget::eraseBand(int band, const EraseStroke& box, float strength)
{
    const SampleChannel channel = bandChannel(band);
    SpectralEraser::Result result;
    if (!eraser.erase(channel, rate, box.start, box.end, box.low, box.high, strength, result))
        return false;
    const qsizetype r0 = result.first;
    const qsizetype r1 = r0 + qsizetype(result.samples.size());
    const int n = computer.fftSize();
    const int hop = computer.hop();
    SpectrogramGrid& grid = bandCells(band);
    const bool partial = computed && columnsFollowSamples && !grid.isEmpty();
    // Columns whose blocks reach into [r0, r1), plus any the brush dimmed.
    qsizetype first = r0 >= n ? (r0 - n) / hop + 1 : 0;
    qsizetype last = std::min<qsizetype>(grid.columnCount() - 1, (r1 - 1) / hop);
    if (dimmedFirst[band] >= 0) {
        first = std::min(first, dimmedFirst[band]);
        last = std::max(last, dimmedLast[band]);
        dimmedFirst[band] = dimmedLast[band] = -1;
    }
    if (partial)
        computer.subtractListMagnitudes(channel, first, last, magnitudeSums);

    if (!hasRight) {
        std::copy(result.samples.begin(), result.samples.end(), samples.data() + r0);
    } else {
        // The channel's values, then the mono list as the loaders make it.
        float* stereo = stereoSamples.data();
        float* mono = samples.data();
        const qsizetype monoCount = samples.size();
        for (qsizetype j = r0; j < r1; ++j) {
            stereo[2 * j + band] = result.samples[size_t(j - r0)];
            if (j < monoCount)
                mono[j] = (stereo[2 * j] + stereo[2 * j + 1]) * 0.5f;
        }
    }

    ++dataGeneration;
    if (partial) {
        computer.recomputeListCells(bandChannel(band), first, last, grid, &magnitudeSums);
    } else {
        leftCells.clear();
        rightCells.clear();
        computed = false;
        columnsFollowSamples = false;
        resetDimmedRanges();
    }
    return true;
}

// ---- view ----

void SpectrumAnalyzerWidget::setDisplayMode(DisplayMode mode)
{
    displayMode = mode;
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
    return double(computer.hop()) / rate * double(leftCells.columnCount());
}

double SpectrumAnalyzerWidget::contentDuration() const
{
    return std::max(spectrogramDuration(), sampleDuration());
}

QRect SpectrumAnalyzerWidget::plotRect() const
{
    return rect().marginsRemoved(plotMargins());
}

QRect SpectrumAnalyzerWidget::spectrogramRect() const
{
    const QRect plot = plotRect();
    if (displayMode != SpectrogramWithWaveform)
        return plot;
    return QRect(QPoint(plot.left(), plot.top()), QPoint(plot.right(), spectrumStripHeight(height()) + 4));
}

QRect SpectrumAnalyzerWidget::waveformStripRect() const
{
    const QRect plot = plotRect();
    const int top = spectrumStripHeight(height()) + 8;
    return QRect(QPoint(plot.left(), top), QPoint(plot.right(), top - 1 + waveStripHeight(height())));
}

QList<QRect> SpectrumAnalyzerWidget::stackedHalves(const QRect& r)
{
    return {QRect(r.left(), r.top(), r.width(), r.height() / 2),
            QRect(r.left(), r.top() + r.height() / 2, r.width(), r.height() - r.height() / 2)};
}

QList<QRect> SpectrumAnalyzerWidget::bandRects() const
{
    const QRect r = spectrogramRect();
    if (!twoBands())
        return {r};
    return stackedHalves(r);
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
    notifyVisibleRange();
    update();
}

void SpectrumAnalyzerWidget::setViewStartSec(double seconds)
{
    viewStart = clampedViewStart(seconds);
    updateScrollBar();
    notifyVisibleRange();
    update();
}

void SpectrumAnalyzerWidget::notifyVisibleRange()
{
    if (reportedRange.changed(zoom, viewStart))
        emit visibleRangeChanged(zoom, viewStart);
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
    notifyVisibleRange();
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
    return viewStart + double(x - r.left()) / r.width() * visibleSeconds();
}

int SpectrumAnalyzerWidget::timeToPixel(double t, const QRect& r) const
{
    const double offset = (t - viewStart) / visibleSeconds() * r.width();
    return r.left() + static_cast<int>(std::clamp(offset, -1.0e9, 1.0e9));
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

SpectrumAnalyzerWidget::CellReading SpectrumAnalyzerWidget::cellAt(const QPoint& point) const
{
    QMutexLocker lock(&dataLock);
    return cellAtLocked(point);
}

SpectrumAnalyzerWidget::CellReading SpectrumAnalyzerWidget::cellAtLocked(const QPoint& point) const
{
    CellReading reading;
    const QList<QRect> bands = bandRects();
    for (int band = 0; band < bands.size(); ++band) {
        const QRect& r = bands[band];
        if (!r.contains(point))
            continue;
        const SpectrogramGrid& grid = bandCells(band);
        const double visible = visibleSeconds();
        if (grid.isEmpty() || rate < 1 || !(visible > 0.0))
            return reading;
        // The column and bin drawn at this pixel (as SpectrogramImageBuilder::render).
        const double columnSeconds = double(computer.hop()) / rate;
        const double x = point.x() - r.left() + 0.5;
        const double position = std::floor((viewStart + x / r.width() * visible) / columnSeconds);
        reading.valid = true;
        reading.channel = band;
        reading.column = qsizetype(std::clamp(position, 0.0, double(grid.columnCount() - 1)));
        reading.bin = SpectrogramImageBuilder::bandRowToBin(point.y() - r.top(), r.height(),
                                                            grid.height());
        reading.seconds = pixelToTime(point.x(), r);
        reading.frequency = float(reading.bin) * float(rate) / float(computer.fftSize());
        reading.level = CellFloorDb
                        + CellRangeDb * SpectrogramGrid::cellValue(
                              grid.column(reading.column)[reading.bin]);
        return reading;
    }
    return reading;
}

QFont SpectrumAnalyzerWidget::readoutFont() const
{
    QFont readout = font();
    readout.setPointSize(8);
    return readout;
}

QString SpectrumAnalyzerWidget::pointerReadoutText() const
{
    if (!pointerInside)
        return {};
    const CellReading cell = cellAt(pointerPosition);
    if (!cell.valid)
        return {};
    const int millis = int(std::lround(std::max(cell.seconds, 0.0) * 1000.0));
    const QString time = QStringLiteral("%1:%2.%3")
                             .arg(millis / 60000, 2, 10, QLatin1Char('0'))
                             .arg(millis / 1000 % 60, 2, 10, QLatin1Char('0'))
                             .arg(millis % 1000, 3, 10, QLatin1Char('0'));
    const QString frequency =
        cell.frequency < 1000.0f
            ? QStringLiteral("%1 Hz").arg(QString::number(cell.frequency, 'f', 0))
            : QStringLiteral("%1 kHz").arg(QString::number(cell.frequency / 1000.0f, 'f', 2));
    return QStringLiteral("%1  %2  %3 dB").arg(time, frequency, QString::number(cell.level, 'f', 1));
}

QRect SpectrumAnalyzerWidget::pointerReadoutRect() const
{
    const QString text = pointerReadoutText();
    if (text.isEmpty())
        return {};
    const int boxWidth = QFontMetrics(readoutFont()).horizontalAdvance(text) + 12;
    const int x = pointerPosition.x(), y = pointerPosition.y();
    // To the right of the pointer, or to its left where that would pass the edge.
    if (x + 8 + boxWidth > width() - 5)
        return QRect(x - 8 - boxWidth, y - 22, boxWidth, 22);
    return QRect(x + 8, y - 22, boxWidth, 22);
}

// ---- input ----

void SpectrumAnalyzerWidget::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = plotRect();
    const QPointF position = event->position();
    if (toolMode == Erase) {
        if (event->button() == Qt::LeftButton && !samples.isEmpty()) {
            emit eraseStarting();
            erasing = true;
            const QRect bands = spectrogramRect();
            if (bands.contains(position.toPoint()))
                performVisualErase(position.toPoint(), bands);
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton && !samples.isEmpty()
        && plot.contains(position.toPoint())) {
        const double t = viewStart + visibleSeconds() * (position.x() - plot.left()) / plot.width();
        emit playheadRequested(std::clamp(t, 0.0, sampleDuration()));
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
        const QRect bands = spectrogramRect();
        if (bands.contains(pointerPosition))
            performVisualErase(pointerPosition, bands);
        event->accept();
        return;
    }
    const CellReading cell = cellAt(pointerPosition);
    if (cell.valid) {
        emit frequencySelected(cell.frequency);
        emit magnitudeSelected(cell.level);
    }
    update();
    QWidget::mouseMoveEvent(event);
}

void SpectrumAnalyzerWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && erasing) {
        erasing = false;
        if (!strokes.isEmpty()) {
            // Each band's dabs become one rectangle of that band's audio.
            EraseRegion regions[2];
            for (const EraseStroke& stroke : std::as_const(strokes)) {
                EraseRegion& region = regions[stroke.channel == RightChannel ? 1 : 0];
                if (!region.used) {
                    region.used = true;
                    region.box = stroke;
                    continue;
                }
                region.box.start = std::min(region.box.start, stroke.start);
                region.box.end = std::max(region.box.end, stroke.end);
                region.box.low = std::min(region.box.low, stroke.low);
                region.box.high = std::max(region.box.high, stroke.high);
            }
            strokes.clear();
            if (eraseRegions(regions, eraseStrength))
                emit audioDataChanged();
            update();
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
    notifyVisibleRange();
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
            notifyVisibleRange();
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
            notifyVisibleRange();
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
    placeScrollBar();
    update();
}
