#include "app/NewProjectDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>

NewProjectDialog::NewProjectDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("新建项目设置"));
    setMinimumWidth(360);

    auto* form = new QFormLayout(this);
    form->setSpacing(12);
    form->setContentsMargins(24, 20, 24, 20);
    form->setLabelAlignment(Qt::AlignRight);

    rateBox = new QComboBox(this);
    rateBox->addItems({QStringLiteral("22050"), QStringLiteral("44100"), QStringLiteral("48000"),
                       QStringLiteral("96000")});
    rateBox->setCurrentText(QStringLiteral("44100"));
    form->addRow(tr("采样率:"), rateBox);

    depthBox = new QComboBox(this);
    depthBox->addItems({QStringLiteral("16-bit"), QStringLiteral("24-bit"), tr("32-bit float")});
    form->addRow(tr("位深:"), depthBox);

    channelsBox = new QComboBox(this);
    channelsBox->addItems({tr("立体声"), tr("单声道")});
    form->addRow(tr("声道:"), channelsBox);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(tr("确定"), this);
    auto* cancel = new QPushButton(tr("取消"), this);
    for (QPushButton* button : {ok, cancel}) {
        button->setFixedSize(80, 32);
        buttons->addWidget(button);
    }
    ok->setDefault(true);
    form->addRow(QString(), buttons);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int NewProjectDialog::sampleRate() const
{
    return rateBox->currentText().toInt();
}

int NewProjectDialog::bitDepth() const
{
    const QString text = depthBox->currentText();
    if (text.startsWith(QLatin1String("24")))
        return 24;
    if (text.startsWith(QLatin1String("32")))
        return 32;
    return 16;
}

bool NewProjectDialog::mono() const
{
    return channelsBox->currentIndex() == 1;
}
