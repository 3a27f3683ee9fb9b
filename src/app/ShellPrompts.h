#pragma once
// Everything the main window asks of the user: file choosers, message boxes
// and modal dialogs. The window asks through one shared object, so tests (and
// further windows the window opens) can answer in place of a person.

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

class ShellPrompts {
public:
    virtual ~ShellPrompts() = default;

    // An existing file to open; empty when the user cancelled.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& filter);
    // A file name to write; empty when the user cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filter);
    // An existing folder; empty when the user cancelled.
    virtual QString existingDirectory(QWidget* parent, const QString& title);
    // A VST3 bundle folder (or the library inside one); empty when cancelled.
    virtual QString pluginBundle(QWidget* parent, const QString& title);

    virtual void warning(QWidget* parent, const QString& title, const QString& text);
    virtual void information(QWidget* parent, const QString& title, const QString& text);
    virtual QMessageBox::StandardButton question(QWidget* parent, const QString& title,
                                                 const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);

    // Runs a dialog modally and returns its result code (QDialog::Accepted or Rejected).
    virtual int exec(QDialog* dialog);
};
