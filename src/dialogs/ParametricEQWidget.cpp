#include "dialogs/ParametricEQWidget.h"

#include "dialogs/EqualizerCurve.h"
#include "dialogs/FrequencyAnalyzerWidget.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr float MinQ = 0.1f;
constexpr float MaxQ = 30.0f;
constexpr float WheelQStep = 1.15f;
constexpr float HitSlackPx = 6.0f;

bool validIndex(int index)
{
    return index >= 0 && index < ParametricEQWidget::BandCount;
}

} // namespace

ParametricEQWidget::ParametricEQWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(500, 300);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    analyzer = new FrequencyAnalyzerWidget(this);
    analyzer->hide();
    // The hidden analyser repaints nothing itself: its spectrum is this
    // widget's backdrop, which would otherwise keep its empty state
    // ("暂无音频数据") over loaded audio until the next band edit.
    connect(analyzer, &FrequencyAnalyzerWidget::spectrumUpdated, this,
            qOverload<>(&QWidget::update));

    bandColors = {QColor(255, 100, 100), QColor(255, 200, 50), QColor(100, 255, 100),
                  QColor(100, 200, 255), QColor(200, 100, 255)};
    const float frequencies[BandCount] = {80.0f, 250.0f, 1000.0f, 4000.0f, 12000.0f};
    const FilterType types[BandCount] = {LowShelf, Bell, Bell, Bell, HighShelf};
    for (int i = 0; i < BandCount; ++i) {
        bands[size_t(i)].frequency = frequencies[i];
        bands[size_t(i)].type = types[i];
        bands[size_t(i)].color = bandColors[size_t(i)];
    }
}

QRect ParametricEQWidget::graphRectFor(const QSize& size)
{
    return FrequencyAnalyzerWidget::plotRect(size);
}

QString ParametricEQWidget::typeLabel(FilterType type)
{
    switch (type) {
    case Bell: return QStringLiteral("Bell");
    case LowShelf: return QStringLiteral("LS");
    case HighShelf: return QStringLiteral("HS");
    case LowPass: return QStringLiteral("LP");
    case HighPass: return QStringLiteral("HP");
    case Notch: return QStringLiteral("Notch");
    case BandPass: return QStringLiteral("BP");
    }
    return QString();
}

QString ParametricEQWidget::typeMenuText(FilterType type)
{
    switch (type) {
    case Bell: return tr("Bell (Peak/Dip)");
    case LowShelf: return tr("Low Shelf");
    case HighShelf: return tr("High Shelf");
    case LowPass: return tr("Low Pass");
    case HighPass: return tr("High Pass");
    case Notch: return tr("Notch");
    case BandPass: return tr("Band Pass");
    }
    return QString();
}

// ---- bands ----

void ParametricEQWidget::changed(int index)
{
    emit bandChanged(index);
    update();
}

void ParametricEQWidget::setBand(int index, const EQBand& band)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)] = band;
    changed(index);
}

ParametricEQWidget::EQBand ParametricEQWidget::band(int index) const
{
    return validIndex(index) ? bands[size_t(index)] : EQBand();
}

void ParametricEQWidget::setBandEnabled(int index, bool enabled)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].enabled = enabled;
    changed(index);
}

void ParametricEQWidget::setBandFrequency(int index, float frequency)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].frequency =
        std::clamp(frequency, EqualizerCurve::MinFrequency, EqualizerCurve::MaxFrequency);
    changed(index);
}

void ParametricEQWidget::setBandGain(int index, float gainDb)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].gain =
        std::clamp(gainDb, -EqualizerCurve::MaxGainDb, EqualizerCurve::MaxGainDb);
    changed(index);
}

void ParametricEQWidget::setBandQ(int index, float q)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].q = std::clamp(q, MinQ, MaxQ);
    changed(index);
}

void ParametricEQWidget::setBandType(int index, FilterType type)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].type = type;
    changed(index);
}

void ParametricEQWidget::setMasterGain(float db)
{
    masterGain = std::clamp(db, -EqualizerCurve::MaxGainDb, EqualizerCurve::MaxGainDb);
    emit masterGainChanged(masterGain);
    update();
}

void ParametricEQWidget::setBypassed(bool value)
{
    bypassed = value;
    update();
}

void ParametricEQWidget::setBandColor(int index, const QColor& color)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].color = color;
    update();
}

void ParametricEQWidget::setCurveColor(const QColor& color)
{
    curveColor = color;
    update();
}

void ParametricEQWidget::setControlPointRadius(float radius)
{
    controlPointRadius = std::clamp(radius, 4.0f, 20.0f);
    update();
}

// ---- audio for the backdrop ----

void ParametricEQWidget::setAudioData(const QList<float>& samples, int sampleRate)
{
    analyzer->setAudioData(samples, sampleRate);
    update();
}

void ParametricEQWidget::setAudioDataStereo(const QList<float>& left, const QList<float>& right,
                                            int sampleRate)
{
    analyzer->setAudioDataStereo(left, right, sampleRate);
    update();
}

void ParametricEQWidget::clearAudioData()
{
    analyzer->clearAudioData();
    update();
}

void ParametricEQWidget::processAudioFrame(const float* samples, int count)
{
    analyzer->processAudioFrame(samples, count);
}

void ParametricEQWidget::processAudioFrameStereo(const float* left, const float* right, int count)
{
    analyzer->processAudioFrameStereo(left, right, count);
}

float ParametricEQWidget::sampleRate() const
{
    return float(analyzer->sampleRate());
}

// ---- response and mapping ----

float ParametricEQWidget::computeFilterMagnitude(float freq, float centerFreq, float gainDb,
                                                 float q, FilterType type, float sampleRate)
{
    return EqualizerCurve::bandMagnitudeDb(freq, centerFreq, gainDb, q, int(type), sampleRate);
}

QList<float> ParametricEQWidget::computeEQCurve(int numPoints) const
{
    std::vector<EqualizerCurve::Band> curveBands;
    for (const EQBand& b : bands)
        curveBands.push_back(b.settings());
    const std::vector<float> values = EqualizerCurve::combinedResponse(
        curveBands, masterGain, EqualizerCurve::logFrequencies(numPoints), sampleRate());
    return QList<float>(values.begin(), values.end());
}

float ParametricEQWidget::freqToX(float frequency, const QRect& graph)
{
    return float(EqualizerCurve::freqToX(frequency, graph));
}

float ParametricEQWidget::dbToY(float db, const QRect& graph)
{
    return float(EqualizerCurve::dbToY(db, graph));
}

float ParametricEQWidget::pointToFreq(float x, const QRect& graph)
{
    return float(EqualizerCurve::xToFreq(x, graph));
}

float ParametricEQWidget::pointToGain(float y, const QRect& graph)
{
    return float(EqualizerCurve::yToGain(y, graph));
}

QPointF ParametricEQWidget::bandToPoint(int index, const QRect& graph) const
{
    if (!validIndex(index))
        return QPointF(0, 0);
    const EQBand& b = bands[size_t(index)];
    // The point stays on the axes whatever setBand stored.
    const float gain = std::clamp(b.gain, -EqualizerCurve::MaxGainDb, EqualizerCurve::MaxGainDb);
    return QPointF(freqToX(b.frequency, graph), dbToY(gain, graph));
}

int ParametricEQWidget::pointToBand(const QPointF& point, const QRect& graph) const
{
    float best = controlPointRadius + HitSlackPx;
    int found = -1;
    for (int i = 0; i < BandCount; ++i) {
        if (!bands[size_t(i)].enabled)
            continue;
        const QPointF d = bandToPoint(i, graph) - point;
        const float distance = float(std::hypot(d.x(), d.y()));
        if (distance < best) {
            best = distance;
            found = i;
        }
    }
    return found;
}

// ---- pointer ----

void ParametricEQWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int hit = pointToBand(event->position(), graphRectFor(size()));
        selectedBand = hit;
        if (hit >= 0) {
            dragBand = hit;
            dragging = true;
        }
        emit bandSelected(hit);
        update();
    }
    QWidget::mousePressEvent(event);
}

void ParametricEQWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging && validIndex(dragBand)) {
        EQBand& b = bands[size_t(dragBand)];
        const QPointF p = event->position();
        b.frequency = std::clamp(pointToFreq(float(p.x()), graphRectFor(size())), EqualizerCurve::MinFrequency,
                                 EqualizerCurve::MaxFrequency);
        b.gain = std::clamp(pointToGain(float(p.y()), graphRectFor(size())), -EqualizerCurve::MaxGainDb,
                            EqualizerCurve::MaxGainDb);
        changed(dragBand);
    }
    QWidget::mouseMoveEvent(event);
}

void ParametricEQWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragging = false;
        dragBand = -1;
    }
    QWidget::mouseReleaseEvent(event);
}

void ParametricEQWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int hit = pointToBand(event->position(), graphRectFor(size()));
        if (hit >= 0)
            onResetBand(hit);
    }
    QWidget::mouseDoubleClickEvent(event);
}

void ParametricEQWidget::wheelEvent(QWheelEvent* event)
{
    const int target = selectedBand >= 0 ? selectedBand : pointToBand(event->position(), graphRectFor(size()));
    if (!validIndex(target)) {
        QWidget::wheelEvent(event);
        return;
    }
    EQBand& b = bands[size_t(target)];
    b.q = std::clamp(b.q * std::pow(WheelQStep, float(event->angleDelta().y()) / 120.0f), MinQ,
                     MaxQ);
    changed(target);
    event->accept();
}

void ParametricEQWidget::leaveEvent(QEvent* event)
{
    update();
    QWidget::leaveEvent(event);
}

void ParametricEQWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    analyzer->setFixedSize(size());
    update();
}

// ---- context menu ----

QMenu* ParametricEQWidget::createBandMenu(int index)
{
    auto* menu = new QMenu(this);
    menu->setTitle(QStringLiteral("Band %1").arg(index + 1));
    menu->addSection(menu->title());
    QMenu* types = menu->addMenu(tr("Filter Type"));
    auto* group = new QActionGroup(types);
    for (int code = Bell; code <= BandPass; ++code) {
        const auto type = FilterType(code);
        QAction* action = types->addAction(typeMenuText(type));
        action->setCheckable(true);
        action->setChecked(bands[size_t(index)].type == type);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, index, type] {
            onFilterTypeChosen(index, type);
        });
    }
    menu->addSeparator();
    QAction* enabled = menu->addAction(tr("Enabled"));
    enabled->setCheckable(true);
    enabled->setChecked(bands[size_t(index)].enabled);
    connect(enabled, &QAction::toggled, this,
            [this, index](bool on) { onBandEnabledToggled(index, on); });
    QAction* reset = menu->addAction(tr("Reset Band"));
    connect(reset, &QAction::triggered, this, [this, index] { onResetBand(index); });
    menu->addSeparator();
    QAction* bypass = menu->addAction(tr("Bypass All"));
    bypass->setCheckable(true);
    bypass->setChecked(bypassed);
    connect(bypass, &QAction::toggled, this, &ParametricEQWidget::onBypassAllToggled);
    return menu;
}

void ParametricEQWidget::contextMenuEvent(QContextMenuEvent* event)
{
    const int hit = pointToBand(event->pos(), graphRectFor(size()));
    if (hit < 0) {
        QWidget::contextMenuEvent(event);
        return;
    }
    selectedBand = hit;
    emit bandSelected(hit);
    QMenu* menu = createBandMenu(hit);
    menu->exec(event->globalPos());
    delete menu;
    update();
}

void ParametricEQWidget::onFilterTypeChosen(int index, FilterType type)
{
    setBandType(index, type);
}

void ParametricEQWidget::onBandEnabledToggled(int index, bool enabled)
{
    setBandEnabled(index, enabled);
}

void ParametricEQWidget::onResetBand(int index)
{
    if (!validIndex(index))
        return;
    bands[size_t(index)].gain = 0.0f;
    bands[size_t(index)].q = 1.0f;
    changed(index);
}

void ParametricEQWidget::onBypassAllToggled(bool value)
{
    setBypassed(value);
}
