#include "app/ShellPrompts.h"

#include <QDialog>
#include "plugins/ui/VST3BundleDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>

namespace {

// "wav" of "WAV文件 (*.wav);;所有文件 (*)"; empty when the first filter names no suffix.
QString firstFilterSuffix(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("^[^;(]*\\(\\*\\.([A-Za-z0-9]+)[ )]"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Suffixes of the files the program reads or writes. A name typed with one
// keeps it (take.wav typed in the FLAC chooser is still written as WAV);
// any other text after the last dot is part of the name ("my song.v2").
bool isKnownSuffix(const QString& suffix)
{
    static const QStringList known = {QStringLiteral("wav"), QStringLiteral("mp3"), QStringLiteral("flac"),
                                      QStringLiteral("ogg"), QStringLiteral("cdw")};
    return known.contains(suffix, Qt::CaseInsensitive);
}

// The name that is written: "take." and "my song.v2" get the chooser's
// suffix ("take.wav", "my song.v2.flac"), a known suffix stays. The chooser
// itself adds its default only to names without a dot.
QString completedName(const QString& name, const QString& suffix)
{
    const QString fileName = QFileInfo(name).fileName();
    if (suffix.isEmpty() || fileName.isEmpty() || fileName.count(QLatin1Char('.')) == fileName.size())
        return name; // "." and ".." name folders
    QString base = name;
    while (base.endsWith(QLatin1Char('.')))
        base.chop(1);
    const QString typed = QFileInfo(base).suffix();
    if (typed.isEmpty() && base.size() == name.size())
        return name; // no dot at all: the chooser adds its default
    if (!typed.isEmpty() && (isKnownSuffix(typed) || typed.compare(suffix, Qt::CaseInsensitive) == 0))
        return base;
    return base + QLatin1Char('.') + suffix;
}

// Completes such a name in the chooser itself, so that the question whether
// to replace an existing file names the file that is written.
class SaveFileChooser : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override
    {
        if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(completedName(edit->text(), defaultSuffix()));
        QFileDialog::accept();
    }
};

// Messages often carry text from outside (file names, network errors and
// reason phrases): shown as written, never interpreted as rich text.
QMessageBox::StandardButton showBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    if (box.exec() == -1)
        return QMessageBox::Cancel;
    return box.standardButton(box.clickedButton());
}

} // namespace

QString ShellPrompts::openFileName(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QString ShellPrompts::saveFileName(QWidget* parent, const QString& title, const QString& filter)
{
    SaveFileChooser dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without a suffix gets the first filter's, before the
    // dialog asks whether to replace an existing file of that name.
    dialog.setDefaultSuffix(firstFilterSuffix(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    // A platform's own chooser passes such names as typed.
    return completedName(dialog.selectedFiles().constFirst(), dialog.defaultSuffix());
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
    showBox(parent, QMessageBox::Warning, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void ShellPrompts::information(QWidget* parent, const QString& title, const QString& text)
{
    showBox(parent, QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

QMessageBox::StandardButton ShellPrompts::question(QWidget* parent, const QString& title,
                                                   const QString& text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    return showBox(parent, QMessageBox::Question, title, text, buttons, defaultButton);
}

int ShellPrompts::exec(QDialog* dialog)
{
    return dialog->exec();
}
