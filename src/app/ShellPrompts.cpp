#include "app/ShellPrompts.h"

#include <QDialog>
#include "plugins/ui/VST3BundleDialog.h"

#include <QFileDialog>

QString ShellPrompts::openFileName(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QString ShellPrompts::saveFileName(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

QString ShellPrompts::existingDirectory(QWidget* parent, const QString& title)
{
    return QFileDialog::getExistingDirectory(parent, title);
}

QString ShellPrompts::pluginBundle(QWidget* parent, const QString& title)
{
    Q_UNUSED(title); // the bundle dialog has its own title
    return VST3BundleDialog::choose(parent);
}

void ShellPrompts::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text);
}

void ShellPrompts::information(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

QMessageBox::StandardButton ShellPrompts::question(QWidget* parent, const QString& title,
                                                   const QString& text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

int ShellPrompts::exec(QDialog* dialog)
{
    return dialog->exec();
}
