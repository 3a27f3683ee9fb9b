#include "dialogs/EqualizerDialog.h"

#include "audio/AudioProcessor.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int BandCount = 5;
const float BandFrequencies[BandCount] = {80.0f, 250.0f, 1000.0f, 4000.0f, 12000.0f};
constexpr float BandQ = 1.0f;
constexpr int BellType = 0;

} // namespace

EqualizerDialog::EqualizerDialog(AudioProcessor* processor, AudioEngine* engine, QWidget* parent)
    : QDialog(parent)
    , processor(processor)
    , engine(engine)
{
    setWindowTitle(tr("参数均衡器 (Parametric EQ)"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    for (int band = 0; band < BandCount; ++band) {
        auto* gain = new QDoubleSpinBox(this);
        gain->setDecimals(1);
        gain->setRange(-24, 24);
        gain->setSingleStep(0.5);
        gain->setSuffix(QStringLiteral(" dB"));
        grid->addWidget(new QLabel(QStringLiteral("%1 Hz").arg(BandFrequencies[band]), this), 0, band);
        grid->addWidget(gain, 1, band);
        gainSpins.append(gain);
    }
    layout->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton(tr("应用"), this);
    auto* cancel = new QPushButton(tr("取消"), this);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(apply, &QPushButton::clicked, this, &EqualizerDialog::onApply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (processor)
        sourceSamples = processor->samples;
}

void EqualizerDialog::applyEQ()
{
    if (!processor)
        return;
    processor->samples = sourceSamples;
    processor->channels = 1;
    float gains[BandCount];
    float qs[BandCount];
    int types[BandCount];
    bool enabled[BandCount];
    for (int band = 0; band < BandCount; ++band) {
        gains[band] = float(gainSpins[band]->value());
        qs[band] = BandQ;
        types[band] = BellType;
        enabled[band] = true;
    }
    processor->applyParametricEQ(BandFrequencies, gains, qs, types, enabled, BandCount);
}

void EqualizerDialog::onApply()
{
    applyEQ();
    accept();
}
