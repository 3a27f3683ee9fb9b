#pragma once
// The common frame of the page's built-in effect dialogs: a modeless
// QDialog, deleted once closed, with a vertical layout of group boxes and a button
// row ("预览", stretch, "应用", "取消", or without the preview button).

#include <QString>

class QDialog;
class QDoubleSpinBox;
class QGroupBox;
class QLayout;
class QPushButton;
class QWidget;

namespace EffectDialogFrame {

struct Buttons {
    QPushButton* preview = nullptr; // null without preview
    QPushButton* apply = nullptr;
    QPushButton* cancel = nullptr;
};

QDialog* create(QWidget* page, const QString& title, int minimumWidth);
// Deletes the dialog once it has finished, rather than on close: a handler of
// accepted() that lets events run (the busy overlay does) then still has a
// live dialog under it, and QDialog emits finished() on it afterwards.
void deleteWhenFinished(QDialog* dialog);
// A group box with its own layout around the given widget, appended to the dialog.
QGroupBox* addGroup(QDialog* dialog, const QString& title, QWidget* content);
QGroupBox* addGroup(QDialog* dialog, const QString& title, QLayout* content);
// "应用" accepts, "取消" rejects; the other texts are the caller's.
Buttons addButtons(QDialog* dialog, bool withPreview, const QString& applyText,
                   const QString& cancelText);
QDoubleSpinBox* spinBox(double minimum, double maximum, double step, int decimals, double value,
                        const QString& suffix = QString());

} // namespace EffectDialogFrame
