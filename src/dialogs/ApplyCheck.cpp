#include "dialogs/ApplyCheck.h"

#include <QMessageBox>

bool applyAllowed(QWidget* dialog, const ApplyCheck& check)
{
    const QString refusal = check ? check() : QString();
    if (refusal.isEmpty())
        return true;
    // Window-modal and not waiting: the dialog stays as it is under it.
    auto* box = new QMessageBox(QMessageBox::Warning, dialog->windowTitle(), refusal,
                                QMessageBox::Ok, dialog);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}
