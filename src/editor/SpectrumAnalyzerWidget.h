#pragma once
// Spectrogram view of the single-track editor: the mono working list, or for
// stereo material the left channel over the right one, as time-frequency
// pictures with frequency and time labels, playhead, zoom and scrolling, a
// read-out of the cell under the pointer, and an erase tool that attenuates
// a painted region of the audio of the band it is painted on.
//
// The columns are computed at the first paint after the data changed and
// kept as one byte per cell (SpectrogramGrid); the pictures are coloured
// from the cells when they are drawn. A spectral erase recomputes only the
// columns over the samples it changed. The live path adds one column per hop
// of recorded input. Everything runs on the GUI thread, except that the
// whole-list columns may be computed on a worker thread on request.
//
// The time axis runs from the view start over the content duration divided
// by the zoom across the plot, for the pictures, the labels, the playhead,
// the pointer and the brush alike, so a waveform view with the same plot
// columns, zoom and view start shows the same time at the same x.

#include "common/SampleChannel.h"
#include "editor/SpectralEraser.h"
#include "editor/SpectrogramComputer.h"
#include "editor/SpectrogramGrid.h"
#include "editor/SpectrogramImageBuilder.h"

#include "widgets/VisibleRangeTracker.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMargins>
#include <QMutex>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <complex>
#include <vector>

struct BackgroundSpectrogram;
template <typename T>
class QFutureWatcher;
class QPainter;
class QScrollBar;

class SpectrumAnalyzerWidget : public QWidget {
    Q_OBJECT
public:
    enum DisplayMode { Spectrogram = 0, SpectrogramWithWaveform = 1 };
    enum ToolMode { Normal = 0, Erase = 1 };
    enum WindowType { Rectangular = 0, Hann = 1, Hamming = 2 };

    // Which audio an erase changes: the mono list of mono material, or one
    // or both channels of stereo material (the mono list follows as their mix).
    enum EraseChannel { BothChannels = -1, LeftChannel = 0, RightChannel = 1 };

    // One brush dab: a time range (dab centre +- 8 column durations), a
    // frequency range and the band it was painted on (0 upper, 1 lower).
    struct EraseStroke {
        double start = 0.0;
        double end = 0.0;
        float low = 0.0f;
        float high = 0.0f;
        int channel = LeftChannel;
    };

    // What the last erase changed, for the owner's status line.
    struct EraseSummary {
        bool left = false;    // the left channel, or the mono list of mono material
        bool right = false;
        double start = 0.0;
        double end = 0.0;
        float low = 0.0f;
        float high = 0.0f;
    };

    // The cell under a point of the spectrogram.
    struct CellReading {
        bool valid = false;
        int channel = 0;          // 0 upper band, 1 lower band
        qsizetype column = 0;
        int bin = 0;
        double seconds = 0.0;     // time under the pointer
        float frequency = 0.0f;   // the bin's frequency
        float level = 0.0f;       // the cell's level in dB
    };

    // Margins of the plot inside the widget: room for the frequency labels
    // on the left and the time labels at the bottom.
    static QMargins plotMargins() { return QMargins(55, 5, 5, 25); }

    explicit SpectrumAnalyzerWidget(QWidget* parent = nullptr);
    ~SpectrumAnalyzerWidget() override;

    // ---- data and computation ----
    void setAudioData(const QList<float>& left, int sampleRate,
                      const QList<float>& right = QList<float>());
    void clearAudioData();
    void setFFTSize(int size);
    void setWindowType(int type);
    void setDecibelRange(float minDb, float maxDb);
    void setFrequencyRange(float minFreq, float maxFreq);
    void processAudioFrame(const float* data, int count);
    void ensureSpectrumComputed();
    // Computes the whole-list columns on a worker thread; until they are in
    // place the paint shows the view without computing them itself. Emits
    // backgroundComputationFinished() on the GUI thread when the job ends,
    // its result in place, or dropped when the lists changed meanwhile.
    // False when nothing is to be computed or a job already runs.
    bool computeSpectrumInBackground();
    bool isComputingInBackground() const { return backgroundJob != nullptr; }
    void computeFFT(const float* input, std::vector<std::complex<float>>& output) const;
    QList<float> computeSpectrumFrame(const float* data, int count) const;
    void applyWindow(float* data, int count) const;
    void computeSpectrum(const std::vector<std::complex<float>>& fft);
    void buildColorLUT();
    QRgb spectrogramColor(float value) const;

    // The mono working list and the interleaved stereo list (empty for mono
    // material); after audioDataChanged() they hold the erased audio.
    const QList<float>& sampleList() const { return samples; }
    const QList<float>& stereoList() const { return stereoSamples; }
    bool hasRightChannel() const { return hasRight; }
    int getSampleRate() const { return rate; }
    int fftSize() const { return computer.fftSize(); }
    int hopSize() const { return computer.hop(); }
    bool isSpectrumComputed() const { return computed; }
    qsizetype spectrogramColumnCount(bool rightChannel = false) const;
    QList<float> spectrogramColumn(qsizetype index, bool rightChannel = false) const;
    // The whole picture of a band, one pixel per column and bin (built on
    // request; the view itself colours only what it shows).
    QImage spectrogramImage(bool rightChannel = false) const;
    // Bytes held by the cells of both bands.
    qsizetype spectrogramByteSize() const;
    // Takes over the computed spectrogram of another view that shows the
    // same lists (the same shared data), so that two views of one page hold
    // and compute it once; the other view computes it again if shown.
    // False (nothing moves) when the lists differ or it is not computed.
    bool takeSpectrogramFrom(SpectrumAnalyzerWidget& other);
    const QList<float>& levelList() const { return levels.levels; }
    const QList<float>& binFrequencyList() const { return levels.frequencies; }
    const QList<float>& peakLevelList() const { return levels.peaks; }
    const QList<int>& peakHoldCounterList() const { return levels.holdCounters; }

    // ---- drawing and interaction ----
    void setDisplayMode(DisplayMode mode);
    DisplayMode getDisplayMode() const { return displayMode; }
    void setPlayheadPosition(double seconds);
    double getPlayheadPosition() const { return playhead; }
    void setZoomLevel(double zoom);
    double getZoomLevel() const { return zoom; }
    void setViewStartSec(double seconds);
    double getViewStartSec() const { return viewStart; }
    void clampViewStart();
    void updateScrollBar();
    QScrollBar* horizontalScrollBar() const { return scrollBar; }
    void setSpectrumColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setGridColor(const QColor& color);
    void setTextColor(const QColor& color);

    QRect plotRect() const;
    // The spectrogram's part of the plot (all of it in Spectrogram mode) and
    // its bands: one, or the upper (left) and lower (right) for stereo.
    QRect spectrogramRect() const;
    QList<QRect> bandRects() const;
    // The waveform strip under the spectrogram (SpectrogramWithWaveform).
    QRect waveformStripRect() const;
    // r split into an upper and a lower half (the lower takes an odd row).
    static QList<QRect> stackedHalves(const QRect& r);
    double contentDuration() const;       // D: the time axis, zoom and scrolling
    double spectrogramDuration() const;   // Ds: the time the columns cover
    double sampleDuration() const;        // Dn: the playhead's range

    // Frequency labels of a band: value, row from the band's top and text;
    // spaced so that they do not overlap, and inside the band.
    struct FrequencyMark {
        float frequency = 0.0f;
        int y = 0;
        QString text;
    };
    QList<FrequencyMark> frequencyMarks(int bandHeight) const;

    CellReading cellAt(const QPoint& point) const;
    // The pointer read-out: its text and where its box is drawn (empty when
    // the pointer is not over a cell).
    QString pointerReadoutText() const;
    QRect pointerReadoutRect() const;

    // Frequency of the picture's top row, (N/2 - 1) * rate / N: the vertical
    // axis of the spectrogram runs linearly from 0 Hz to it, for the labels
    // and for the erase brush alike.
    float spectrogramTopFrequency() const;

    double pixelToTime(int x, const QRect& r) const;
    // The column of time t in r (visibleSeconds() must be positive).
    int timeToPixel(double t, const QRect& r) const;
    float pixelToFreq(int y, const QRect& r) const;
    float xToFrequency(int x, const QRect& r) const;
    float yToMagnitude(int y, const QRect& r) const;
    float frequencyToX(float frequency, const QRect& r) const;
    float magnitudeToY(float dB, const QRect& r) const;

    // Analyser drawing over a rect (logarithmic frequency across, dB up);
    // available, the spectrogram paint does not use it.
    void drawBackground(QPainter& painter);
    void drawGrid(QPainter& painter, const QRect& rect);
    void drawSpectrum(QPainter& painter, const QRect& rect);
    void drawPeakHold(QPainter& painter, const QRect& rect);
    void drawFrequencyLabels(QPainter& painter, const QRect& rect);
    void drawMagnitudeLabels(QPainter& painter, const QRect& rect);

    // ---- erase ----
    void setToolMode(ToolMode mode);
    ToolMode getToolMode() const { return toolMode; }
    void setEraseStrength(float strength);
    float getEraseStrength() const { return eraseStrength; }
    void performVisualErase(const QPoint& point, const QRect& plotRect);
    // Erases the region from the mono list of mono material, or from the
    // given channels of stereo material (the mono list follows as their mix).
    void applySpectralErase(double startSec, double endSec, float lowHz, float highHz,
                            float strength, EraseChannel channel = BothChannels);
    static void inverseFFT(float* data, int n);
    const QList<EraseStroke>& eraseStrokes() const { return strokes; }
    const EraseSummary& lastErase() const { return lastEraseSummary; }

signals:
    void frequencySelected(float frequency);
    void magnitudeSelected(float magnitudeDB);
    void audioDataChanged();
    // An erase is about to change this view's lists: whoever gave them may
    // give others first (setAudioData), and the erase works on those.
    void eraseStarting();
    void backgroundComputationFinished();
    void playheadRequested(double seconds);
    // The zoom or the view start changed (by any means).
    void visibleRangeChanged(double zoom, double viewStartSec);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct EraseRegion {
        bool used = false;
        EraseStroke box;
    };

    void onScrollBarValueChanged(int value);
    void placeScrollBar();
    void zoomBy(double factor);
    double clampedViewStart(double seconds) const;
    void notifyVisibleRange();
    void resetDimmedRanges();
    // With the list's grids, sums and frame count in place: the band levels
    // from them, and the columns follow the samples again.
    void adoptListSpectrum();
    double visibleSeconds() const { return contentDuration() / zoom; }
    // The audio of band 0 (the mono list, or the left channel) or band 1.
    SampleChannel bandChannel(int band) const;
    SpectrogramGrid& bandCells(int band) { return band == 0 ? leftCells : rightCells; }
    const SpectrogramGrid& bandCells(int band) const { return band == 0 ? leftCells : rightCells; }
    bool twoBands() const { return hasRight && !rightCells.isEmpty(); }
    CellReading cellAtLocked(const QPoint& point) const;
    QFont readoutFont() const;
    // Erases each used region from its band's audio; true when any changed.
    bool eraseRegions(const EraseRegion (&regions)[2], float strength);
    bool eraseBand(int band, const EraseStroke& box, float strength);

    // Painting (SpectrumAnalyzerWidgetPainting.cpp).
    void drawEmptyState(QPainter& painter);
    void drawSpectrogramBand(QPainter& painter, const QRect& rect, int band);
    void drawSpectrogramFreqLabels(QPainter& painter, const QRect& rect);
    void drawSpectrogramTimeLabels(QPainter& painter, const QRect& rect);
    void drawPlayhead(QPainter& painter, const QRect& rect);
    void drawWaveform(QPainter& painter, const QRect& rect, const SampleChannel& channel);
    void drawCursorInfo(QPainter& painter);

    DisplayMode displayMode = Spectrogram;
    // Shared with the owner's lists; an erase writes (and so detaches) them.
    QList<float> samples;
    QList<float> stereoSamples;
    bool hasRight = false;
    int rate = 44100;
    double playhead = 0.0;
    SpectrogramComputer computer;
    SpectralEraser eraser;
    SpectrumLevels levels;
    float dbFloor = -100.0f;
    float dbCeiling = -30.0f;
    float lowestFrequency = 20.0f;
    float highestFrequency = 20000.0f;
    std::vector<float> liveBuffer;
    int liveFill = 0;
    SpectrogramGrid leftCells;    // the upper band: the mono list or the left channel
    SpectrogramGrid rightCells;   // the lower band: the right channel
    int liveHistoryLimit = 512;
    bool computed = false;
    // Increases whenever the lists or the analysis settings change, so that
    // a background result for older lists is dropped.
    quint64 dataGeneration = 0;
    QFutureWatcher<void>* backgroundJob = nullptr;
    void finishBackgroundComputation(BackgroundSpectrogram& job);
    // Whole-list state kept so that an erase can update only its columns.
    bool columnsFollowSamples = false;
    std::vector<double> magnitudeSums;   // over both bands' columns
    qsizetype listFrames = 0;            // per band
    qsizetype dimmedFirst[2] = {-1, -1};
    qsizetype dimmedLast[2] = {-1, -1};
    QColor spectrumColor{0, 242, 255};
    QColor backgroundColor{20, 20, 30};
    QColor gridColor{80, 80, 80};
    QColor textColor{200, 200, 200};
    QColor peakColor{255, 200, 0};
    SpectrogramImageBuilder::ColorTable colorTable{};
    bool colorTableBuilt = false;
    QPoint pointerPosition;
    bool pointerInside = false;
    double zoom = 1.0;
    double viewStart = 0.0;
    VisibleRangeTracker reportedRange;
    QScrollBar* scrollBar = nullptr;
    mutable QMutex dataLock;
    ToolMode toolMode = Normal;
    float eraseStrength = 0.8f;
    bool erasing = false;
    QList<EraseStroke> strokes;
    EraseSummary lastEraseSummary;
};
