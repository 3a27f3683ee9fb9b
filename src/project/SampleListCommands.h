#pragma once
// Undo commands of the single-track editor's sample lists. Each keeps raw
// pointers to lists that the page owns (the list objects must outlive the
// page's undo stack) and copies of what it restores. Copies of QList share
// storage until written, so whole-list snapshots are cheap.
//
// Stereo: the optional `stereoSamples` list is the page's interleaved L/R
// copy of the mono list. Indexes are frames of the mono list; the stereo
// list is edited at 2 x frame, so both lists lose or regain the same frames
// and a stereo export never holds audio the user deleted. A stereo list that
// is empty (mono material) or whose length at construction is not exactly
// 2 x the mono length is left alone by the command, in both directions,
// rather than cut at frames that do not line up.

#include <QList>
#include <QString>
#include <QUndoCommand>

#include <utility>

class QUndoStack;

// What each command below offers the history's memory budget: the sample
// lists it keeps, and a copy of itself that can take its place in a rebuilt
// stack without making its change a second time.
class SampleListStep {
public:
    virtual ~SampleListStep() = default;
    virtual QList<QList<float>> heldLists() const = 0;
    virtual QUndoCommand* appliedCopy() const = 0;

protected:
    // True on a copy until its first redo (the stack's push): the lists
    // already hold its result.
    bool applied = false;
    bool takeApplied() { return std::exchange(applied, false); }
};

// The memory of a stack of SampleListSteps. Lists share storage, so each
// storage is counted once, and what the page holds now (`current`) is not
// counted at all.
namespace SampleListHistory {

qint64 heldBytes(const QUndoStack& stack, const QList<QList<float>>& current);
// Drops the oldest steps (and any that could be redone) until what the rest
// hold fits in budgetBytes; returns how many undoable steps were dropped.
// The stack is rebuilt from copies of the steps kept, so its clean state is
// lost. Does nothing when a command is not a SampleListStep.
int trimToBudget(QUndoStack& stack, qint64 budgetBytes, const QList<QList<float>>& current);

} // namespace SampleListHistory

// Deletes the frames [start, end). The push performs the deletion: the page
// does not remove the samples itself. An empty or out-of-range range
// (negative start, end beyond the list, start >= end) or a null list makes
// the command do nothing at all.
class DeleteSelectionCommand : public QUndoCommand, public SampleListStep {
public:
    DeleteSelectionCommand(QList<float>* samples, int start, int end, const QString& text,
                           QList<float>* stereoSamples = nullptr);

    void undo() override;
    void redo() override;
    QList<QList<float>> heldLists() const override;
    QUndoCommand* appliedCopy() const override;

private:
    QList<float>* list;
    int start = 0;
    QList<float> deletedSamples;
    QList<float>* stereoList = nullptr; // null when the stereo list is left alone
    QList<float> deletedStereo;
};

// A recording appended at `startIndex`: the list (and, when it keeps pace,
// the stereo list) already holds the take. The tail [startIndex, size) is
// saved; undo cuts the lists back to startIndex, redo puts the tail back.
// Stereo: if the stereo list already holds the take (2 x the mono length) its
// tail is saved; if it still ends at 2 x startIndex, the take is added to it
// with both channels equal to the mono take (on the push's redo).
class RecordCommand : public QUndoCommand, public SampleListStep {
public:
    RecordCommand(QList<float>* samples, int startIndex, const QString& text,
                  QList<float>* stereoSamples = nullptr);

    void undo() override;
    void redo() override;
    QList<QList<float>> heldLists() const override;
    QUndoCommand* appliedCopy() const override;

private:
    QList<float>* list;
    int startIndex = 0;
    QList<float> recordedTail;
    QList<float>* stereoList = nullptr;
    QList<float> recordedStereoTail;
};

// A recording inserted into the list. `before` is the list as it was before
// the take; the list already holds the result, so pushing changes nothing in
// it. Undo sets the list to `before`, redo to the result.
// Stereo: the take is found as the frames the mono list gained (it must be
// `before` with frames inserted at one place). If the stereo list still has
// 2 x before's length, the take is inserted into it at the same frame with
// both channels equal to the mono take (on the push's redo); if it already
// has 2 x the new length it is taken as holding the take. Otherwise, or when
// the list changed in another way, the stereo list is left alone.
class InsertRecordCommand : public QUndoCommand, public SampleListStep {
public:
    InsertRecordCommand(QList<float>* samples, QList<float> before, const QString& text,
                        QList<float>* stereoSamples = nullptr);

    void undo() override;
    void redo() override;
    QList<QList<float>> heldLists() const override;
    QUndoCommand* appliedCopy() const override;

private:
    QList<float>* list;
    QList<float> before;
    QList<float> after;
    QList<float>* stereoList = nullptr;
    QList<float> stereoBefore;
    QList<float> stereoAfter;
};

// Replaces whole lists: undo sets `first` to oldFirst and `second` to
// oldSecond, redo sets the new ones. A null pointer skips its list both ways.
// The single-track page passes its mono list as first and its stereo list as
// second.
class SamplesReplaceCommand : public QUndoCommand, public SampleListStep {
public:
    SamplesReplaceCommand(QList<float>* first, QList<float>* second, QList<float> oldFirst,
                          QList<float> oldSecond, QList<float> newFirst, QList<float> newSecond,
                          const QString& text);

    void undo() override;
    void redo() override;
    QList<QList<float>> heldLists() const override;
    QUndoCommand* appliedCopy() const override;

protected:
    QList<float>* first;
    QList<float>* second;
    QList<float> oldFirst;
    QList<float> oldSecond;
    QList<float> newFirst;
    QList<float> newSecond;
};

// A channel conversion: replaces the lists as SamplesReplaceCommand does and
// carries the page's mono-export flag with them, so that after an undo or a
// redo the flag again matches the lists an export reads. The lists and the
// flag already hold the result when the command is made.
class ChannelConversionCommand : public SamplesReplaceCommand {
public:
    ChannelConversionCommand(QList<float>* mono, QList<float>* stereo, QList<float> oldMono,
                             QList<float> oldStereo, int* forceMono, int oldForceMono,
                             const QString& text);

    void undo() override;
    void redo() override;
    QUndoCommand* appliedCopy() const override;

private:
    int* flag;
    int oldFlag;
    int newFlag;
};
