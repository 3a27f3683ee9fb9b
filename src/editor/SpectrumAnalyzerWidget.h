#pragma once
// Spectrogram view of the single-track editor: the mono working list (and,
// for stereo material, the right channel) as a time-frequency picture with
// frequency and time labels, playhead, zoom and scrolling, a pointer
// read-out, and an erase tool that attenuates a painted region of the audio.
//
// The columns are computed at the first paint after the data changed and
// cached as one picture per channel; a spectral erase recomputes only the
// columns over the samples it changed. The live path adds one column per
// hop of recorded input. Everything runs on the GUI thread.

#include "editor/SpectralEraser.h"
#include "editor/SpectrogramComputer.h"
#include "editor/SpectrogramImageBuilder.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <complex>
#include <vector>

class QPainter;
class QScrollBar;

class SpectrumAnalyzerWidget : public QWidget {
    Q_OBJECT
public:
    enum DisplayMode { Spectrogram = 0, SpectrogramWithWaveform = 1 };
    enum ToolMode { Normal = 0, Erase = 1 };
    enum WindowType { Rectangular = 0, Hann = 1, Hamming = 2 };

    // One brush dab: a time range (dab centre +- 8 column durations) and a
    // frequency range.
    struct EraseStroke {
        double start = 0.0;
        double end = 0.0;
        float low = 0.0f;
        float high = 0.0f;
    };

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
    void computeFFT(const float* input, std::vector<std::complex<float>>& output) const;
    QList<float> computeSpectrumFrame(const float* data, int count) const;
    void applyWindow(float* data, int count) const;
    void computeSpectrum(const std::vector<std::complex<float>>& fft);
    void buildColorLUT();
    QRgb spectrogramColor(float value) const;
    void rebuildSpectrogramImage();

    // The mono working list; after audioDataChanged() it holds the erased audio.
    const QList<float>& sampleList() const { return samples; }
    const QList<float>& rightChannelList() const { return rightSamples; }
    bool hasRightChannel() const { return hasRight; }
    int getSampleRate() const { return rate; }
    int fftSize() const { return computer.fftSize(); }
    int hopSize() const { return computer.hop(); }
    bool isSpectrumComputed() const { return computed; }
    qsizetype spectrogramColumnCount(bool rightChannel = false) const;
    QList<float> spectrogramColumn(qsizetype index, bool rightChannel = false) const;
    QImage spectrogramImage(bool rightChannel = false) const;
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
    double contentDuration() const;       // D: bounds zoom and scrolling
    double spectrogramDuration() const;   // Ds: time labels and the picture crop
    double sampleDuration() const;        // Dn: playhead, waveform strip, click

    // Frequency of the picture's top row, (N/2 - 1) * rate / N: the vertical
    // axis of the spectrogram runs linearly from 0 Hz to it, for the labels
    // and for the erase brush alike.
    float spectrogramTopFrequency() const;

    double pixelToTime(int x, const QRect& r) const;
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
    void applySpectralErase(double startSec, double endSec, float lowHz, float highHz,
                            float strength);
    static void inverseFFT(float* data, int n);
    const QList<EraseStroke>& eraseStrokes() const { return strokes; }

signals:
    void frequencySelected(float frequency);
    void magnitudeSelected(float magnitudeDB);
    void audioDataChanged();
    void playheadRequested(double seconds);

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
    void onScrollBarValueChanged(int value);
    void placeScrollBar();
    void zoomBy(double factor);
    double clampedViewStart(double seconds) const;
    float pointerFrequency(const QPointF& position) const;
    float pointerLevel(const QPointF& position) const;
    void resetDimmedRanges();

    // Painting (SpectrumAnalyzerWidgetPainting.cpp).
    void drawEmptyState(QPainter& painter);
    void drawSpectrogram(QPainter& painter, const QRect& rect);
    void drawSpectrogram(QPainter& painter, const QRect& rect, const QImage& image,
                         qsizetype frames);
    void drawSpectrogramImage(QPainter& painter, const QRect& rect, const QImage& image);
    void drawSpectrogramFreqLabels(QPainter& painter, const QRect& rect);
    void drawSpectrogramTimeLabels(QPainter& painter, const QRect& rect);
    void drawPlayhead(QPainter& painter, const QRect& rect);
    void drawWaveform(QPainter& painter, const QRect& rect);
    void drawWaveform(QPainter& painter, const QRect& rect, const QList<float>& list);
    void drawCursorInfo(QPainter& painter);

    DisplayMode displayMode = Spectrogram;
    QList<float> samples;
    QList<float> rightSamples;
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
    SpectrogramColumns leftFrames;
    SpectrogramColumns rightFrames;
    int liveHistoryLimit = 512;
    QImage leftImage;
    QImage rightImage;
    bool leftImageStale = true;
    bool rightImageStale = true;
    bool computed = false;
    // Whole-list state kept so that an erase can update only its columns.
    bool columnsFollowSamples = false;
    std::vector<double> magnitudeSums;
    qsizetype listFrames = 0;
    qsizetype dimmedLeftFirst = -1, dimmedLeftLast = -1;
    qsizetype dimmedRightFirst = -1, dimmedRightLast = -1;
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
    QScrollBar* scrollBar = nullptr;
    mutable QMutex dataLock;
    ToolMode toolMode = Normal;
    float eraseStrength = 0.8f;
    bool erasing = false;
    QList<EraseStroke> strokes;
};
