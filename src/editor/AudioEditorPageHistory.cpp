// The page's undo history within a memory budget: each whole-list step keeps
// a full copy of the lists, so on long material a few edits would exhaust
// memory. The oldest steps are dropped first, and the status line says so
// once per history.

#include "editor/AudioEditorPage.h"

#include "project/SampleListCommands.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr qint64 FallbackBudgetBytes = qint64(2) << 30;

} // namespace

qint64 AudioEditorPage::defaultHistoryBudget()
{
#ifdef Q_OS_UNIX
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) * pageSize / 4; // a quarter of physical memory
#endif
    return FallbackBudgetBytes;
}

void AudioEditorPage::setHistoryBudget(qint64 bytes)
{
    historyBudgetBytes = std::max<qint64>(bytes, 0);
    trimHistory(historyBudgetBytes);
}

qint64 AudioEditorPage::currentListBytes() const
{
    return (samples.size() + stereoSamples.size()) * qint64(sizeof(float));
}

void AudioEditorPage::pushStep(QUndoCommand* command)
{
    undoStack->push(command);
    trimHistory(historyBudgetBytes);
}

void AudioEditorPage::makeHistoryRoom()
{
    // The step about to be made keeps a copy of the lists as they are now.
    trimHistory(historyBudgetBytes - currentListBytes());
}

bool AudioEditorPage::hasUnsavedEdits() const
{
    return !undoStack->isClean();
}

void AudioEditorPage::markSaved()
{
    undoStack->setClean();
}

void AudioEditorPage::trimHistory(qint64 budget)
{
    const bool saved = undoStack->isClean();
    const int dropped = SampleListHistory::trimToBudget(*undoStack, std::max<qint64>(budget, 0),
                                                        {samples, stereoSamples});
    if (dropped < 1)
        return;
    // The trimmed stack is rebuilt with its clean state at its start. A saved
    // state among the kept steps cannot be marked again: unless it is the
    // state now, the material counts as changed from here on.
    if (saved)
        undoStack->setClean();
    else
        undoStack->resetClean();
    qDebug() << "AudioEditorPage: dropped" << dropped << "oldest undo steps to stay within"
             << historyBudgetBytes / (1 << 20) << "MB";
    if (historyTrimReported)
        return;
    historyTrimReported = true;
    // After the message of the edit that is being made.
    QTimer::singleShot(0, this, [this] {
        setStatus(tr("撤销历史超出内存上限，最早的撤销步骤已被丢弃"));
    });
}

void AudioEditorPage::reportOutOfMemory()
{
    const QString text = tr("内存不足，无法应用效果，音频未更改");
    qWarning() << "AudioEditorPage: out of memory for an edit and its undo step";
    setStatus(text);
    auto* box = new QMessageBox(QMessageBox::Warning, tr("内存不足"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
