#include "SampleListCommands.h"

#include <QSet>
#include <QUndoStack>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// A stereo list that the frame edits may follow: present, not empty (mono
// material) and exactly two values per mono frame.
bool stereoInStep(const QList<float>* stereo, qsizetype monoFrames)
{
    return stereo && !stereo->isEmpty() && stereo->size() == 2 * monoFrames;
}

// Inserts `values` at `at` with one shift of the tail (linear time).
void insertRange(QList<float>& list, qsizetype at, const QList<float>& values)
{
    if (values.isEmpty())
        return;
    list.insert(at, values.size(), 0.0f);
    std::copy(values.cbegin(), values.cend(), list.begin() + at);
}

// Interleaved stereo frames with both channels equal to the mono values.
QList<float> bothChannels(const QList<float>& mono)
{
    QList<float> stereo;
    stereo.reserve(2 * mono.size());
    for (float value : mono) {
        stereo.append(value);
        stereo.append(value);
    }
    return stereo;
}

bool sameBits(float a, float b)
{
    std::uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// The frame at which `after` is `before` with frames inserted at one place,
// or -1 when it is not. Compares bit patterns, so NaN values count as equal
// to themselves.
qsizetype insertionFrame(const QList<float>& before, const QList<float>& after)
{
    const qsizetype added = after.size() - before.size();
    if (added <= 0)
        return -1;
    const float* a = before.constData();
    const float* b = after.constData();
    const qsizetype n = before.size();
    qsizetype at = 0;
    while (at < n && sameBits(a[at], b[at]))
        ++at;
    const size_t tailBytes = size_t(n - at) * sizeof(float);
    if (tailBytes && std::memcmp(a + at, b + at + added, tailBytes) != 0)
        return -1;
    return at;
}

// At undo and redo time: the lists are still in step (both may be empty
// after a whole-list deletion).
bool stillInStep(const QList<float>* stereo, qsizetype monoFrames)
{
    return stereo && stereo->size() == 2 * monoFrames;
}

} // namespace

DeleteSelectionCommand::DeleteSelectionCommand(QList<float>* samples, int start, int end,
                                               const QString& text, QList<float>* stereoSamples)
    : QUndoCommand(text), list(samples)
{
    if (!samples || start < 0 || start >= end || end > samples->size())
        return;
    this->start = start;
    deletedSamples = samples->mid(start, end - start);
    if (stereoInStep(stereoSamples, samples->size())) {
        stereoList = stereoSamples;
        deletedStereo = stereoSamples->mid(2 * qsizetype(start), 2 * qsizetype(end - start));
    }
}

void DeleteSelectionCommand::redo()
{
    if (takeApplied())
        return;
    if (!list || deletedSamples.isEmpty())
        return;
    const qsizetype count = deletedSamples.size();
    if (list->size() < start + count)
        return;
    const bool withStereo = stillInStep(stereoList, list->size());
    list->remove(start, count);
    if (withStereo)
        stereoList->remove(2 * qsizetype(start), deletedStereo.size());
}

void DeleteSelectionCommand::undo()
{
    if (!list || deletedSamples.isEmpty() || list->size() < start)
        return;
    const bool withStereo = stillInStep(stereoList, list->size());
    insertRange(*list, start, deletedSamples);
    if (withStereo)
        insertRange(*stereoList, 2 * qsizetype(start), deletedStereo);
}

RecordCommand::RecordCommand(QList<float>* samples, int startIndex, const QString& text,
                             QList<float>* stereoSamples)
    : QUndoCommand(text), list(samples)
{
    if (!samples || startIndex < 0 || samples->size() <= startIndex)
        return;
    this->startIndex = startIndex;
    recordedTail = samples->mid(startIndex);
    if (!stereoSamples || stereoSamples->isEmpty())
        return;
    if (stereoSamples->size() == 2 * samples->size()) {
        stereoList = stereoSamples;
        recordedStereoTail = stereoSamples->mid(2 * qsizetype(startIndex));
    } else if (stereoSamples->size() == 2 * qsizetype(startIndex)) {
        stereoList = stereoSamples;
        recordedStereoTail = bothChannels(recordedTail);
    }
}

void RecordCommand::undo()
{
    if (!list || recordedTail.isEmpty() || list->size() < startIndex)
        return;
    list->resize(startIndex);
    if (stereoList && stereoList->size() >= 2 * qsizetype(startIndex))
        stereoList->resize(2 * qsizetype(startIndex));
}

void RecordCommand::redo()
{
    if (takeApplied())
        return;
    if (!list || recordedTail.isEmpty() || list->size() < startIndex)
        return;
    list->resize(startIndex);
    list->append(recordedTail);
    if (stereoList && stereoList->size() >= 2 * qsizetype(startIndex)) {
        stereoList->resize(2 * qsizetype(startIndex));
        stereoList->append(recordedStereoTail);
    }
}

InsertRecordCommand::InsertRecordCommand(QList<float>* samples, QList<float> before,
                                         const QString& text, QList<float>* stereoSamples)
    : QUndoCommand(text), list(samples), before(std::move(before))
{
    if (!samples)
        return;
    after = *samples;
    if (!stereoSamples || stereoSamples->isEmpty())
        return;
    const qsizetype at = insertionFrame(this->before, after);
    if (at < 0)
        return;
    const qsizetype added = after.size() - this->before.size();
    if (stereoSamples->size() == 2 * this->before.size()) {
        stereoBefore = *stereoSamples;
        stereoAfter = stereoBefore;
        insertRange(stereoAfter, 2 * at, bothChannels(after.mid(at, added)));
        stereoList = stereoSamples;
    } else if (stereoSamples->size() == 2 * after.size()) {
        stereoAfter = *stereoSamples;
        stereoBefore = stereoAfter;
        stereoBefore.remove(2 * at, 2 * added);
        stereoList = stereoSamples;
    }
}

void InsertRecordCommand::undo()
{
    if (!list)
        return;
    *list = before;
    if (stereoList)
        *stereoList = stereoBefore;
}

void InsertRecordCommand::redo()
{
    if (takeApplied())
        return;
    if (!list)
        return;
    *list = after;
    if (stereoList)
        *stereoList = stereoAfter;
}

SamplesReplaceCommand::SamplesReplaceCommand(QList<float>* first, QList<float>* second,
                                             QList<float> oldFirst, QList<float> oldSecond,
                                             QList<float> newFirst, QList<float> newSecond,
                                             const QString& text)
    : QUndoCommand(text),
      first(first),
      second(second),
      oldFirst(std::move(oldFirst)),
      oldSecond(std::move(oldSecond)),
      newFirst(std::move(newFirst)),
      newSecond(std::move(newSecond))
{
}

void SamplesReplaceCommand::undo()
{
    if (first)
        *first = oldFirst;
    if (second)
        *second = oldSecond;
}

void SamplesReplaceCommand::redo()
{
    if (takeApplied())
        return;
    if (first)
        *first = newFirst;
    if (second)
        *second = newSecond;
}

ChannelConversionCommand::ChannelConversionCommand(QList<float>* mono, QList<float>* stereo,
                                                   QList<float> oldMono, QList<float> oldStereo,
                                                   int* forceMono, int oldForceMono,
                                                   const QString& text)
    : SamplesReplaceCommand(mono, stereo, std::move(oldMono), std::move(oldStereo),
                            mono ? *mono : QList<float>(), stereo ? *stereo : QList<float>(), text),
      flag(forceMono),
      oldFlag(oldForceMono),
      newFlag(forceMono ? *forceMono : 0)
{
}

void ChannelConversionCommand::undo()
{
    SamplesReplaceCommand::undo();
    if (flag)
        *flag = oldFlag;
}

void ChannelConversionCommand::redo()
{
    if (takeApplied())
        return;
    SamplesReplaceCommand::redo();
    if (flag)
        *flag = newFlag;
}

QList<QList<float>> DeleteSelectionCommand::heldLists() const
{
    return {deletedSamples, deletedStereo};
}

QUndoCommand* DeleteSelectionCommand::appliedCopy() const
{
    auto* copy = new DeleteSelectionCommand(nullptr, 0, 0, text());
    copy->list = list;
    copy->start = start;
    copy->deletedSamples = deletedSamples;
    copy->stereoList = stereoList;
    copy->deletedStereo = deletedStereo;
    copy->applied = true;
    return copy;
}

QList<QList<float>> RecordCommand::heldLists() const
{
    return {recordedTail, recordedStereoTail};
}

QUndoCommand* RecordCommand::appliedCopy() const
{
    auto* copy = new RecordCommand(nullptr, 0, text());
    copy->list = list;
    copy->startIndex = startIndex;
    copy->recordedTail = recordedTail;
    copy->stereoList = stereoList;
    copy->recordedStereoTail = recordedStereoTail;
    copy->applied = true;
    return copy;
}

QList<QList<float>> InsertRecordCommand::heldLists() const
{
    return {before, after, stereoBefore, stereoAfter};
}

QUndoCommand* InsertRecordCommand::appliedCopy() const
{
    auto* copy = new InsertRecordCommand(nullptr, before, text());
    copy->list = list;
    copy->after = after;
    copy->stereoList = stereoList;
    copy->stereoBefore = stereoBefore;
    copy->stereoAfter = stereoAfter;
    copy->applied = true;
    return copy;
}

QList<QList<float>> SamplesReplaceCommand::heldLists() const
{
    return {oldFirst, oldSecond, newFirst, newSecond};
}

QUndoCommand* SamplesReplaceCommand::appliedCopy() const
{
    auto* copy = new SamplesReplaceCommand(first, second, oldFirst, oldSecond, newFirst,
                                           newSecond, text());
    copy->applied = true;
    return copy;
}

QUndoCommand* ChannelConversionCommand::appliedCopy() const
{
    auto* copy = new ChannelConversionCommand(nullptr, nullptr, oldFirst, oldSecond, nullptr,
                                              oldFlag, text());
    copy->first = first;
    copy->second = second;
    copy->newFirst = newFirst;
    copy->newSecond = newSecond;
    copy->flag = flag;
    copy->newFlag = newFlag;
    copy->applied = true;
    return copy;
}

namespace {

const SampleListStep* stepAt(const QUndoStack& stack, int index)
{
    return dynamic_cast<const SampleListStep*>(stack.command(index));
}

// The bytes held by the steps [first, end), each storage once, `current` not counted.
qint64 bytesOfSteps(const QUndoStack& stack, int first, int end,
                    const QList<QList<float>>& current)
{
    QSet<const float*> seen;
    for (const QList<float>& list : current)
        seen.insert(list.constData());
    qint64 bytes = 0;
    for (int i = first; i < end; ++i) {
        const SampleListStep* step = stepAt(stack, i);
        if (!step)
            continue;
        for (const QList<float>& list : step->heldLists()) {
            if (list.isEmpty() || seen.contains(list.constData()))
                continue;
            seen.insert(list.constData());
            bytes += list.size() * qint64(sizeof(float));
        }
    }
    return bytes;
}

} // namespace

qint64 SampleListHistory::heldBytes(const QUndoStack& stack, const QList<QList<float>>& current)
{
    return bytesOfSteps(stack, 0, stack.count(), current);
}

int SampleListHistory::trimToBudget(QUndoStack& stack, qint64 budgetBytes,
                                    const QList<QList<float>>& current)
{
    const int count = stack.count();
    for (int i = 0; i < count; ++i)
        if (!stepAt(stack, i))
            return 0;
    if (bytesOfSteps(stack, 0, count, current) <= budgetBytes)
        return 0;
    // Steps that could be redone go first, then the oldest.
    const int index = stack.index();
    int drop = 0;
    while (drop < index && bytesOfSteps(stack, drop, index, current) > budgetBytes)
        ++drop;
    QList<QUndoCommand*> kept;
    for (int i = drop; i < index; ++i)
        kept.append(stepAt(stack, i)->appliedCopy());
    stack.clear();
    for (QUndoCommand* command : kept)
        stack.push(command); // a copy's first redo changes nothing
    return drop;
}
