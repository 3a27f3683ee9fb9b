#include "dialogs/CompressorDialog.h"

#include "audio/AudioProcessor.h"
#include "audio/MonoListProcessing.h"
#include "audio/CompressorCurve.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double SilenceDb = -96.0;
constexpr double WarnBelowDb = -1.0;

const char* DialogStyle =
    "QDialog { background-color: #1e1e2e; }QGroupBox { color: #ccc; border: 1px solid #444; "
    "border-radius: 6px; margin-top: 8px; padding-top: 14px; font-size: 12px; font-weight: bold; "
    "}QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 6px; }";
const char* SliderStyle =
    "QSlider::groove:horizontal { background: #444; height: 6px; border-radius: 3px; "
    "}QSlider::handle:horizontal { background: #4fc3f7; width: 16px; height: 16px; margin: -5px 0; "
    "border-radius: 8px; }QSlider::sub-page:horizontal { background: #1565c0; border-radius: 3px; }";
const char* SpinStyle =
    "QDoubleSpinBox { background: #3a3a3a; color: #fff; border: 1px solid #555; border-radius: "
    "4px; padding: 4px; font-size: 12px; }";
const char* ReadoutStyle =
    "QLabel { background: #1a1a2e; color: %1; font-size: 18px; font-weight: bold; border: 1px "
    "solid #333; border-radius: 6px; padding: 8px 16px; min-width: 80px; }";
const char* ReadoutColour = "#4fc3f7";
const char* WarningColour = "#ff7043";
const char* PreviewStyle =
    "QPushButton { background: #1565c0; color: white; border: none; border-radius: 6px; "
    "font-size: 13px; font-weight: bold; padding: 8px 20px; }QPushButton:hover { background: "
    "#1976d2; }QPushButton:pressed { background: #0d47a1; }";
const char* ApplyStyle =
    "QPushButton { background: #2e7d32; color: white; border: none; border-radius: 6px; "
    "font-size: 13px; font-weight: bold; padding: 8px 20px; }QPushButton:hover { background: "
    "#388e3c; }QPushButton:pressed { background: #1b5e20; }";
const char* PlainButtonStyle =
    "QPushButton { background: #424242; color: white; border: none; border-radius: 6px; "
    "font-size: 13px; padding: 8px 20px; }QPushButton:hover { background: #616161; }";

QString readoutStyle(const char* colour)
{
    return QString::fromLatin1(ReadoutStyle).arg(QLatin1String(colour));
}

// The slider works in tenths of the spin box's unit. The spin box holds one
// decimal, so ten times its value is a whole number up to rounding error,
// which must not truncate 2.3 to 22 and pull the value down.
int sliderValue(double spinValue)
{
    return int(std::lround(spinValue * 10.0));
}

} // namespace

CompressorDialog::CompressorDialog(AudioProcessor* processor, QWidget* parent)
    : QDialog(parent)
    , processor(processor)
{
    setWindowTitle(tr("动态压缩器"));
    setMinimumSize(520, 580);
    setMaximumSize(600, 680);
    resize(600, 580);
    setupUI();
    connectSignals();
    if (processor) {
        sourceSamples = processor->samples;
        sourcePeakDb = peakDb(sourceSamples);
    }
    updateGainReductionDisplay();
}

CompressorDialog::~CompressorDialog()
{
    // An abandoned preview leaves the processor as it was given.
    if (previewing)
        restoreSource();
}

double CompressorDialog::peakDb(const QList<float>& samples)
{
    float peak = 0.0f;
    for (float v : samples)
        peak = std::max(peak, std::fabs(v));
    return peak > 0.0f ? 20.0 * std::log10(double(peak)) : SilenceDb;
}

CompressorDialog::Parameter CompressorDialog::addParameter(QGridLayout* grid, int row,
                                                           const QString& name,
                                                           const QString& suffix, double minimum,
                                                           double maximum, double value,
                                                           double step)
{
    auto* label = new QLabel(name);
    label->setMinimumWidth(80);
    label->setStyleSheet(QStringLiteral("color: #ccc; font-size: 12px;"));
    Parameter p;
    p.slider = new QSlider(Qt::Horizontal);
    p.slider->setRange(sliderValue(minimum), sliderValue(maximum));
    p.slider->setValue(sliderValue(value));
    p.slider->setStyleSheet(QLatin1String(SliderStyle));
    p.spin = new QDoubleSpinBox;
    p.spin->setDecimals(1);
    p.spin->setRange(minimum, maximum);
    p.spin->setSingleStep(step);
    p.spin->setValue(value);
    p.spin->setSuffix(suffix);
    p.spin->setFixedWidth(90);
    p.spin->setStyleSheet(QLatin1String(SpinStyle));
    grid->addWidget(label, row, 0);
    grid->addWidget(p.slider, row, 1);
    grid->addWidget(p.spin, row, 2);
    return p;
}

void CompressorDialog::setupUI()
{
    setStyleSheet(QLatin1String(DialogStyle));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(16, 16, 16, 16);

    auto* heading = new QLabel(tr("动态压缩器 (Compressor)"), this);
    heading->setAlignment(Qt::AlignCenter);
    heading->setStyleSheet(QStringLiteral("font-size: 16px; font-weight: bold; color: #e0e0e0;"));
    layout->addWidget(heading);

    auto* parameters = new QGroupBox(tr("压缩参数"), this);
    auto* grid = new QGridLayout(parameters);
    grid->setSpacing(10);
    const QString dB = QStringLiteral(" dB");
    const QString ms = QStringLiteral(" ms");
    Parameter p = addParameter(grid, 0, tr("阈值 (Threshold)"), dB, -60.0, 0.0, -20.0, 0.5);
    thresholdSlider = p.slider, thresholdSpin = p.spin;
    p = addParameter(grid, 1, tr("压缩比 (Ratio)"), QStringLiteral(":1"), 1.0, 20.0, 4.0, 0.5);
    ratioSlider = p.slider, ratioSpin = p.spin;
    p = addParameter(grid, 2, tr("启动 (Attack)"), ms, 0.1, 100.0, 10.0, 0.5);
    attackSlider = p.slider, attackSpin = p.spin;
    p = addParameter(grid, 3, tr("释放 (Release)"), ms, 1.0, 1000.0, 100.0, 5.0);
    releaseSlider = p.slider, releaseSpin = p.spin;
    p = addParameter(grid, 4, tr("补偿增益 (Makeup)"), dB, 0.0, 24.0, 0.0, 0.5);
    makeupSlider = p.slider, makeupSpin = p.spin;
    p = addParameter(grid, 5, tr("拐点 (Knee)"), dB, 0.0, 30.0, 6.0, 1.0);
    kneeSlider = p.slider, kneeSpin = p.spin;

    grid->setColumnStretch(1, 1);
    layout->addWidget(parameters);

    auto* levels = new QGroupBox(tr("电平指示"), this);
    auto* levelRow = new QHBoxLayout(levels);
    levelRow->setSpacing(20);
    const auto addReadout = [&](const QString& caption) {
        auto* column = new QVBoxLayout;
        auto* title = new QLabel(caption);
        title->setAlignment(Qt::AlignCenter);
        title->setStyleSheet(QStringLiteral("color: #aaa; font-size: 11px;"));
        auto* value = new QLabel(tr("-- dB"));
        value->setAlignment(Qt::AlignCenter);
        value->setStyleSheet(readoutStyle(ReadoutColour));
        column->addWidget(title);
        column->addWidget(value);
        levelRow->addLayout(column);
        return value;
    };
    inputLevelLabel = addReadout(tr("输入电平"));
    gainReductionLabel = addReadout(tr("增益衰减"));
    outputLevelLabel = addReadout(tr("输出电平"));
    layout->addWidget(levels);

    auto* hint = new QLabel(
        tr("压缩比 1:1 = 无压缩 | 2:1 = 温和 | 4:1 = 标准 | 8:1 = 强力 | 20:1 = 限制器"), this);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #888; font-size: 11px; padding: 4px;"));
    layout->addWidget(hint);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    const auto addButton = [&](const QString& text, const char* style) {
        auto* button = new QPushButton(text, this);
        button->setMinimumHeight(36);
        button->setStyleSheet(QLatin1String(style));
        return button;
    };
    QPushButton* preview = addButton(tr("预览"), PreviewStyle);
    QPushButton* reset = addButton(tr("重置"), PlainButtonStyle);
    buttons->addWidget(preview);
    buttons->addWidget(reset);
    buttons->addStretch();
    QPushButton* apply = addButton(tr("应用"), ApplyStyle);
    QPushButton* cancel = addButton(tr("取消"), PlainButtonStyle);
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(preview, &QPushButton::clicked, this, &CompressorDialog::onPreview);
    connect(reset, &QPushButton::clicked, this, &CompressorDialog::onReset);
    connect(apply, &QPushButton::clicked, this, &CompressorDialog::onApply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CompressorDialog::connectSignals()
{
    const Parameter parameters[] = {{thresholdSlider, thresholdSpin}, {ratioSlider, ratioSpin},
                                    {attackSlider, attackSpin},       {releaseSlider, releaseSpin},
                                    {makeupSlider, makeupSpin},       {kneeSlider, kneeSpin}};
    for (const Parameter& p : parameters) {
        QDoubleSpinBox* spin = p.spin;
        QSlider* slider = p.slider;
        connect(slider, &QSlider::valueChanged, spin, [spin](int v) { spin->setValue(v / 10.0); });
        connect(spin, &QDoubleSpinBox::valueChanged, slider,
                [slider](double d) { slider->setValue(sliderValue(d)); });
    }
    for (QDoubleSpinBox* spin : {thresholdSpin, ratioSpin, kneeSpin, makeupSpin})
        connect(spin, &QDoubleSpinBox::valueChanged, this,
                &CompressorDialog::updateGainReductionDisplay);
}

void CompressorDialog::setReadout(QLabel* label, double db)
{
    label->setText(QStringLiteral("%1 dB").arg(db, 0, 'f', 1));
}

void CompressorDialog::updateGainReductionDisplay()
{
    if (!processor || sourceSamples.isEmpty())
        return;
    double reduction =
        compressorGainReductionDb(float(sourcePeakDb), float(thresholdSpin->value()),
                                  float(ratioSpin->value()), float(kneeSpin->value()));
    if (reduction == 0.0)
        reduction = 0.0; // never "-0.0"
    setReadout(inputLevelLabel, sourcePeakDb);
    setReadout(gainReductionLabel, reduction);
    gainReductionLabel->setStyleSheet(
        readoutStyle(reduction >= WarnBelowDb ? ReadoutColour : WarningColour));
    setReadout(outputLevelLabel, sourcePeakDb + reduction + makeupSpin->value());
}

void CompressorDialog::restoreSource()
{
    if (!processor || sourceSamples.isEmpty())
        return;
    processor->samples = sourceSamples;
    processor->channels = 1;
}

void CompressorDialog::compress(AudioProcessor& target) const
{
    target.applyCompression(float(thresholdSpin->value()), float(ratioSpin->value()),
                            float(attackSpin->value()), float(releaseSpin->value()),
                            float(makeupSpin->value()), float(kneeSpin->value()));
}

void CompressorDialog::applyParameters()
{
    if (processor)
        compress(*processor);
}

void CompressorDialog::applyTo(QList<float>& list) const
{
    if (processor)
        processMonoList(list, processor->sampleRate,
                        [this](AudioProcessor& channel) { compress(channel); });
}

void CompressorDialog::onPreview()
{
    if (!processor || sourceSamples.isEmpty()) {
        QMessageBox::information(this, tr("提示"), tr("没有音频数据可预览"), QMessageBox::Ok);
        return;
    }
    restoreSource();
    applyParameters();
    previewing = true;
    setReadout(outputLevelLabel, peakDb(processor->samples));
}

void CompressorDialog::onReset()
{
    thresholdSpin->setValue(-20.0);
    ratioSpin->setValue(4.0);
    attackSpin->setValue(10.0);
    releaseSpin->setValue(100.0);
    makeupSpin->setValue(0.0);
    kneeSpin->setValue(6.0);
    if (processor && !sourceSamples.isEmpty()) {
        restoreSource();
        previewing = false;
    }
}

void CompressorDialog::onApply()
{
    if (!processor || sourceSamples.isEmpty()) {
        reject();
        return;
    }
    if (!applyAllowed(this, applyCheck))
        return;
    restoreSource();
    applyParameters();
    previewing = false;
    accept();
}
