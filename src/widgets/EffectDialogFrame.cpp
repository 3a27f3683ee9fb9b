#include "widgets/EffectDialogFrame.h"

#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace EffectDialogFrame {

QDialog* create(QWidget* page, const QString& title, int minimumWidth)
{
    auto* dialog = new QDialog(page);
    deleteWhenFinished(dialog);
    dialog->setWindowTitle(title);
    dialog->setMinimumWidth(minimumWidth);
    new QVBoxLayout(dialog);
    return dialog;
}

void deleteWhenFinished(QDialog* dialog)
{
    QObject::connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
}

QGroupBox* addGroup(QDialog* dialog, const QString& title, QWidget* content)
{
    auto* layout = new QVBoxLayout;
    layout->addWidget(content);
    return addGroup(dialog, title, layout);
}

QGroupBox* addGroup(QDialog* dialog, const QString& title, QLayout* content)
{
    auto* group = new QGroupBox(title, dialog);
    group->setLayout(content);
    dialog->layout()->addWidget(group);
    return group;
}

Buttons addButtons(QDialog* dialog, bool withPreview, const QString& applyText,
                   const QString& cancelText)
{
    Buttons buttons;
    auto* row = new QHBoxLayout;
    if (withPreview) {
        buttons.preview = new QPushButton(QDialog::tr("预览"), dialog);
        row->addWidget(buttons.preview);
    }
    row->addStretch();
    buttons.apply = new QPushButton(applyText, dialog);
    buttons.cancel = new QPushButton(cancelText, dialog);
    row->addWidget(buttons.apply);
    row->addWidget(buttons.cancel);
    QObject::connect(buttons.apply, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(buttons.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    static_cast<QBoxLayout*>(dialog->layout())->addLayout(row);
    return buttons;
}

QDoubleSpinBox* spinBox(double minimum, double maximum, double step, int decimals, double value,
                        const QString& suffix)
{
    auto* box = new QDoubleSpinBox;
    box->setDecimals(decimals);
    box->setRange(minimum, maximum);
    box->setSingleStep(step);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

} // namespace EffectDialogFrame
