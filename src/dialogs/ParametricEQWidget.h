#pragma once
// The interactive graph of a five-band parametric equaliser: the combined
// response of the enabled bands over a log frequency axis, one draggable
// point per band (drag: frequency and gain; wheel: Q; double-click: reset;
// context menu: type, on/off, reset, bypass), drawn over the spectrum of the
// audio being equalised, which a hidden FrequencyAnalyzerWidget provides.
// It edits band settings only; the equaliser dialog reads them back.
// Painting is in ParametricEQWidgetPainting.cpp, the arithmetic in
// EqualizerCurve.

#include "audio/EqualiserBands.h"
#include "dialogs/FrequencyAnalysis.h"

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <array>

class FrequencyAnalyzerWidget;
class QMenu;
class QPainter;

class ParametricEQWidget : public QWidget {
    Q_OBJECT
public:
    // The codes are those AudioProcessor::applyParametricEQ takes.
    enum FilterType { Bell = 0, LowShelf = 1, HighShelf = 2, LowPass = 3, HighPass = 4, Notch = 5,
                      BandPass = 6 };
    Q_ENUM(FilterType)

    struct EQBand {
        bool enabled = true;
        float frequency = 1000.0f;
        float gain = 0.0f;
        float q = 1.0f;
        FilterType type = Bell;
        QColor color = Qt::white;

        // What the equaliser itself takes of the band.
        EqualiserBandSettings settings() const { return {enabled, frequency, gain, q, int(type)}; }
    };

    static constexpr int BandCount = 5;

    explicit ParametricEQWidget(QWidget* parent = nullptr);

    void setBand(int index, const EQBand& band); // stored as given
    EQBand band(int index) const;                // a default band outside 0..4
    void setBandEnabled(int index, bool enabled);
    void setBandFrequency(int index, float frequency); // 20..20000
    void setBandGain(int index, float gainDb);          // -24..24
    void setBandQ(int index, float q);                  // 0.1..30
    void setBandType(int index, FilterType type);
    void setMasterGain(float db); // -24..24
    float getMasterGain() const { return masterGain; }
    void setBypassed(bool bypassed);
    bool isBypassed() const { return bypassed; }
    void setBandColor(int index, const QColor& color);
    void setCurveColor(const QColor& color);
    void setControlPointRadius(float radius); // 4..20
    int getSelectedBand() const { return selectedBand; }

    void setAudioData(const QList<float>& samples, int sampleRate);
    void setAudioDataStereo(const QList<float>& left, const QList<float>& right, int sampleRate);
    void clearAudioData();
    void processAudioFrame(const float* samples, int count);
    void processAudioFrameStereo(const float* left, const float* right, int count);
    FrequencyAnalyzerWidget* analyzerWidget() const { return analyzer; }

    static float computeFilterMagnitude(float freq, float centerFreq, float gainDb, float q,
                                        FilterType type, float sampleRate);
    QList<float> computeEQCurve(int numPoints) const;

    // ---- mapping against a graph rectangle ----
    static float freqToX(float frequency, const QRect& graph);
    static float dbToY(float db, const QRect& graph);
    QPointF bandToPoint(int index, const QRect& graph) const;
    static float pointToFreq(float x, const QRect& graph);
    static float pointToGain(float y, const QRect& graph);
    int pointToBand(const QPointF& point, const QRect& graph) const;
    // The graph of a widget of this size (the analyser's plot area).
    static QRect graphRectFor(const QSize& size);

    // The context menu of a band (title "Band N"), owned by the caller.
    QMenu* createBandMenu(int index);

    static QString typeLabel(FilterType type);     // "Bell", "LS", ...
    static QString typeMenuText(FilterType type);  // "Bell (Peak/Dip)", "Low Shelf", ...

signals:
    void bandChanged(int index);
    void bandSelected(int index);
    void masterGainChanged(float dB);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void onFilterTypeChosen(int index, FilterType type);
    void onBandEnabledToggled(int index, bool enabled);
    void onResetBand(int index);
    void onBypassAllToggled(bool bypassed);
    void changed(int index);
    float sampleRate() const;

    // ---- painting ----
    void drawEQCurve(QPainter& painter);
    void drawControlPoints(QPainter& painter);
    void drawBandLabel(QPainter& painter, int index, const QPointF& point);
    void drawBypassOverlay(QPainter& painter);

    std::array<EQBand, BandCount> bands;
    FrequencyAnalyzerWidget* analyzer = nullptr;
    float masterGain = 0.0f;
    bool bypassed = false;
    int selectedBand = -1;
    int dragBand = -1;
    bool dragging = false;
    QColor curveColor{255, 255, 255, 200};
    float controlPointRadius = 8.0f;
    std::array<QColor, BandCount> bandColors;
    QRect graphRect; // as last painted; pointer events map against the current size
    // The analyser's picture as last rendered, and the spectrum it shows.
    QPixmap backdrop;
    FrequencyAnalysis::Snapshot backdropData;
};
