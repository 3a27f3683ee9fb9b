#pragma once
// Answers the main window's file choosers, message boxes and dialogs in place
// of a person, and records what the window asked and showed.
//   auto prompts = std::make_shared<ScriptedPrompts>();
//   window.setPrompts(prompts);
//   prompts->files << "/tmp/a.cdw";            // the next chooser picks this
//   prompts->answers << QMessageBox::Discard;  // the next question's answer

#include "app/ShellPrompts.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <functional>

class ScriptedPrompts : public ShellPrompts {
public:
    struct Shown {
        QString kind; // "warning", "information", "question", "open", "save", "folder", "bundle", "dialog"
        QString title;
        QString text; // the message, the chooser's filter, or the dialog's class name
    };

    // Chooser answers, taken in order; none left means cancelled.
    QStringList files;
    // Question answers, taken in order; none left means the default button.
    QList<QMessageBox::StandardButton> answers;
    // Runs each modal dialog in place of exec(); rejects when unset.
    std::function<int(QDialog*)> onDialog;

    QList<Shown> shown;

    QList<Shown> boxes(const QString& kind) const;
    // The single box of that kind; a test failure when there is not exactly one.
    Shown only(const QString& kind) const;

    QString openFileName(QWidget*, const QString& title, const QString& filter) override;
    QString saveFileName(QWidget*, const QString& title, const QString& filter) override;
    QString existingDirectory(QWidget*, const QString& title) override;
    QString pluginBundle(QWidget*, const QString& title) override;
    void warning(QWidget*, const QString& title, const QString& text) override;
    void information(QWidget*, const QString& title, const QString& text) override;
    QMessageBox::StandardButton question(QWidget*, const QString& title, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override;
    int exec(QDialog* dialog) override;

private:
    QString nextFile(const QString& kind, const QString& title, const QString& filter);
};
