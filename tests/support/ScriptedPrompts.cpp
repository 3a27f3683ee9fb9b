#include "ScriptedPrompts.h"

#include <QtTest/QtTest>

QList<ScriptedPrompts::Shown> ScriptedPrompts::boxes(const QString& kind) const
{
    QList<Shown> out;
    for (const Shown& item : shown)
        if (item.kind == kind)
            out.append(item);
    return out;
}

ScriptedPrompts::Shown ScriptedPrompts::only(const QString& kind) const
{
    const QList<Shown> found = boxes(kind);
    if (found.size() != 1) {
        QTest::qFail(qPrintable(QStringLiteral("expected one %1, saw %2").arg(kind).arg(found.size())),
                     __FILE__, __LINE__);
        return {};
    }
    return found.first();
}

QString ScriptedPrompts::nextFile(const QString& kind, const QString& title, const QString& filter)
{
    shown.append({kind, title, filter});
    return files.isEmpty() ? QString() : files.takeFirst();
}

QString ScriptedPrompts::openFileName(QWidget*, const QString& title, const QString& filter)
{
    return nextFile(QStringLiteral("open"), title, filter);
}

QString ScriptedPrompts::saveFileName(QWidget*, const QString& title, const QString& filter)
{
    return nextFile(QStringLiteral("save"), title, filter);
}

QString ScriptedPrompts::existingDirectory(QWidget*, const QString& title)
{
    return nextFile(QStringLiteral("folder"), title, QString());
}

QString ScriptedPrompts::pluginBundle(QWidget*, const QString& title)
{
    return nextFile(QStringLiteral("bundle"), title, QString());
}

void ScriptedPrompts::warning(QWidget*, const QString& title, const QString& text)
{
    shown.append({QStringLiteral("warning"), title, text});
}

void ScriptedPrompts::information(QWidget*, const QString& title, const QString& text)
{
    shown.append({QStringLiteral("information"), title, text});
}

QMessageBox::StandardButton ScriptedPrompts::question(QWidget*, const QString& title,
                                                      const QString& text,
                                                      QMessageBox::StandardButtons,
                                                      QMessageBox::StandardButton defaultButton)
{
    shown.append({QStringLiteral("question"), title, text});
    return answers.isEmpty() ? defaultButton : answers.takeFirst();
}

int ScriptedPrompts::exec(QDialog* dialog)
{
    shown.append({QStringLiteral("dialog"), dialog->windowTitle(),
                  QString::fromLatin1(dialog->metaObject()->className())});
    return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
}
