#include "dialogs/PitchCorrectionDialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

PitchCorrectionDialog::PitchCorrectionDialog(const QList<float>& samples, int sampleRate,
                                             QWidget* parent)
    : QDialog(parent)
    , samples(samples)
    , sampleRate(sampleRate)
{
    setWindowTitle(tr("音高修正"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton(tr("应用"), this);
    auto* cancel = new QPushButton(tr("取消"), this);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(apply, &QPushButton::clicked, this, [this] {
        runCorrection();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void PitchCorrectionDialog::runCorrection()
{
    // No note segment is corrected yet: the result is the input.
    correctedSamples = samples;
}
