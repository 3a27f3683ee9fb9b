#include "dialogs/CompressorDialog.h"

#include "audio/AudioProcessor.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CompressorDialog::CompressorDialog(AudioProcessor* processor, QWidget* parent)
    : QDialog(parent)
    , processor(processor)
{
    setWindowTitle(tr("动态压缩器"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(tr("压缩参数"), this);
    auto* grid = new QGridLayout(group);

    const auto addRow = [&](int row, const QString& name, const QString& suffix, double minimum,
                            double maximum, double value, double step) {
        auto* spin = new QDoubleSpinBox(group);
        spin->setDecimals(1);
        spin->setRange(minimum, maximum);
        spin->setSingleStep(step);
        spin->setValue(value);
        spin->setSuffix(suffix);
        grid->addWidget(new QLabel(name, group), row, 0);
        grid->addWidget(spin, row, 1);
        return spin;
    };
    thresholdSpin = addRow(0, tr("阈值 (Threshold)"), QStringLiteral(" dB"), -60, 0, -20, 0.5);
    ratioSpin = addRow(1, tr("压缩比 (Ratio)"), QStringLiteral(":1"), 1, 20, 4, 0.5);
    attackSpin = addRow(2, tr("启动 (Attack)"), QStringLiteral(" ms"), 0.1, 100, 10, 0.5);
    releaseSpin = addRow(3, tr("释放 (Release)"), QStringLiteral(" ms"), 1, 1000, 100, 5);
    makeupSpin = addRow(4, tr("补偿增益 (Makeup)"), QStringLiteral(" dB"), 0, 24, 0, 0.5);
    kneeSpin = addRow(5, tr("拐点 (Knee)"), QStringLiteral(" dB"), 0, 30, 6, 1);
    layout->addWidget(group);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton(tr("应用"), this);
    auto* cancel = new QPushButton(tr("取消"), this);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(apply, &QPushButton::clicked, this, &CompressorDialog::onApply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (processor)
        sourceSamples = processor->samples;
}

void CompressorDialog::applyParameters()
{
    if (!processor)
        return;
    processor->applyCompression(float(thresholdSpin->value()), float(ratioSpin->value()),
                                float(attackSpin->value()), float(releaseSpin->value()),
                                float(makeupSpin->value()), float(kneeSpin->value()));
}

void CompressorDialog::onApply()
{
    if (!processor || sourceSamples.isEmpty()) {
        reject();
        return;
    }
    processor->samples = sourceSamples;
    processor->channels = 1;
    applyParameters();
    accept();
}
