#include "project/SampleListCommands.h"

#include <QUndoStack>
#include <QtTest/QtTest>

namespace {

// Mono frames 0, 1, 2...; stereo frames (1000 + i, 2000 + i), so every value
// says which frame and channel it came from.
QList<float> monoFrames(int frames, float first = 0.0f)
{
    QList<float> list;
    for (int i = 0; i < frames; ++i)
        list.append(first + float(i));
    return list;
}

QList<float> stereoFrames(int frames)
{
    QList<float> list;
    for (int i = 0; i < frames; ++i)
        list << 1000.0f + float(i) << 2000.0f + float(i);
    return list;
}

// The list without frames [start, end), `width` values a frame.
QList<float> withoutFrames(const QList<float>& list, int start, int end, int width)
{
    QList<float> kept;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const qsizetype frame = i / width;
        if (frame < start || frame >= end)
            kept.append(list[i]);
    }
    return kept;
}

// `list` with `take` inserted at frame `at`, each take value repeated `width` times.
QList<float> withTake(const QList<float>& list, int at, const QList<float>& take, int width)
{
    QList<float> result = list.mid(0, qsizetype(at) * width);
    for (float value : take)
        for (int c = 0; c < width; ++c)
            result.append(value);
    result.append(list.mid(qsizetype(at) * width));
    return result;
}

} // namespace

class SampleListCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void deleteSelection_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("stereoFrameCount"); // -1: no stereo list given
        QTest::addColumn<bool>("deletes");
        QTest::addColumn<bool>("stereoFollows");
        QTest::newRow("mono [2,5) of 10") << 10 << 2 << 5 << -1 << true << false;
        QTest::newRow("mono whole list") << 10 << 0 << 10 << -1 << true << false;
        QTest::newRow("stereo middle") << 10 << 2 << 5 << 10 << true << true;
        QTest::newRow("stereo head") << 10 << 0 << 3 << 10 << true << true;
        QTest::newRow("stereo tail") << 10 << 7 << 10 << 10 << true << true;
        QTest::newRow("stereo whole list") << 10 << 0 << 10 << 10 << true << true;
        QTest::newRow("stereo out of step") << 10 << 2 << 5 << 9 << true << false;
        QTest::newRow("mono material, empty stereo") << 10 << 2 << 5 << 0 << true << false;
        QTest::newRow("end beyond size") << 10 << 5 << 11 << 10 << false << false;
        QTest::newRow("empty range") << 10 << 4 << 4 << 10 << false << false;
        QTest::newRow("reversed range") << 10 << 6 << 3 << 10 << false << false;
        QTest::newRow("negative start") << 10 << -1 << 3 << 10 << false << false;
        QTest::newRow("empty list") << 0 << 0 << 1 << -1 << false << false;
    }

    void deleteSelection()
    {
        QFETCH(int, frames);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, stereoFrameCount);
        QFETCH(bool, deletes);
        QFETCH(bool, stereoFollows);
        const QList<float> mono = monoFrames(frames);
        const QList<float> stereo = stereoFrameCount < 0 ? QList<float>() : stereoFrames(stereoFrameCount);
        QList<float> samples = mono;
        QList<float> stereoSamples = stereo;
        const QList<float> monoAfter = deletes ? withoutFrames(mono, start, end, 1) : mono;
        const QList<float> stereoAfter = stereoFollows ? withoutFrames(stereo, start, end, 2) : stereo;

        QUndoStack stack;
        stack.push(new DeleteSelectionCommand(&samples, start, end, QStringLiteral("删除选区"),
                                              stereoFrameCount < 0 ? nullptr : &stereoSamples));
        QCOMPARE(stack.undoText(), QStringLiteral("删除选区"));
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(samples, monoAfter);
            QCOMPARE(stereoSamples, stereoAfter);
            stack.undo();
            QCOMPARE(samples, mono);
            QCOMPARE(stereoSamples, stereo);
            stack.redo();
        }
    }

    void deleteWithNullListDoesNothing()
    {
        QList<float> stereo = stereoFrames(4);
        QUndoStack stack;
        stack.push(new DeleteSelectionCommand(nullptr, 0, 2, QStringLiteral("删除选区"), &stereo));
        stack.undo();
        stack.redo();
        QCOMPARE(stereo, stereoFrames(4));
    }

    // A value-by-value re-insertion would take hours here.
    void deleteUndoOnTenMinutesIsLinear()
    {
        const int rate = 44100;
        QList<float> samples(qsizetype(600) * rate);
        for (qsizetype i = 0; i < samples.size(); ++i)
            samples[i] = float(i % 65521) / 65521.0f;
        const QList<float> original = samples;
        QUndoStack stack;
        stack.push(new DeleteSelectionCommand(&samples, 0, rate, QStringLiteral("删除选区")));
        QCOMPARE(samples.size(), original.size() - rate);
        QVERIFY(std::equal(samples.cbegin(), samples.cend(), original.cbegin() + rate));
        stack.undo();
        QVERIFY(samples == original);
        stack.redo();
        QCOMPARE(samples.size(), original.size() - rate);
    }

    void recordCommand_data()
    {
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<QString>("stereoMode"); // none, holds take, before take, out of step
        QTest::addColumn<bool>("saves");
        QTest::newRow("mono") << 6 << "none" << true;
        QTest::newRow("whole list") << 0 << "none" << true;
        QTest::newRow("stereo holds take") << 6 << "holds take" << true;
        QTest::newRow("stereo before take") << 6 << "before take" << true;
        QTest::newRow("stereo out of step") << 6 << "out of step" << true;
        QTest::newRow("start at size") << 10 << "holds take" << false;
        QTest::newRow("negative start") << -2 << "holds take" << false;
    }

    void recordCommand()
    {
        QFETCH(int, startIndex);
        QFETCH(QString, stereoMode);
        QFETCH(bool, saves);
        const QList<float> recorded = monoFrames(10); // the take is [startIndex, 10)
        QList<float> samples = recorded;
        QList<float> stereo;
        if (stereoMode == "holds take")
            stereo = stereoFrames(10);
        else if (stereoMode == "before take")
            stereo = stereoFrames(startIndex);
        else if (stereoMode == "out of step")
            stereo = stereoFrames(3);
        const QList<float> stereoGiven = stereo;
        QList<float> stereoRecorded = stereoGiven;
        if (stereoMode == "before take")
            stereoRecorded = withTake(stereoGiven, startIndex, recorded.mid(startIndex), 2);
        const bool stereoFollows = saves && (stereoMode == "holds take" || stereoMode == "before take");

        QUndoStack stack;
        stack.push(new RecordCommand(&samples, startIndex, QStringLiteral("录音"),
                                     stereoMode == "none" ? nullptr : &stereo));
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(samples, recorded);
            QCOMPARE(stereo, stereoRecorded);
            stack.undo();
            QCOMPARE(samples, saves ? recorded.mid(0, startIndex) : recorded);
            QCOMPARE(stereo, stereoFollows ? stereoGiven.mid(0, 2 * startIndex) : stereoRecorded);
            stack.redo();
        }
    }

    void insertRecord_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("stereoMode"); // none, before take, holds take, out of step, empty, not an insertion
        QTest::newRow("mono, middle") << 4 << "none";
        QTest::newRow("stereo before take, middle") << 4 << "before take";
        QTest::newRow("stereo before take, head") << 0 << "before take";
        QTest::newRow("stereo before take, end") << 8 << "before take";
        QTest::newRow("stereo holds take") << 4 << "holds take";
        QTest::newRow("stereo out of step") << 4 << "out of step";
        QTest::newRow("mono material, empty stereo") << 4 << "empty";
        QTest::newRow("list not a pure insertion") << 4 << "not an insertion";
    }

    void insertRecord()
    {
        QFETCH(int, at);
        QFETCH(QString, stereoMode);
        const QList<float> before = monoFrames(8);
        const QList<float> take = monoFrames(3, -50.0f);
        QList<float> samples = withTake(before, at, take, 1);
        if (stereoMode == "not an insertion")
            samples[0] = 77.0f;
        const QList<float> after = samples;
        QList<float> stereo;
        if (stereoMode == "before take" || stereoMode == "not an insertion")
            stereo = stereoFrames(8);
        else if (stereoMode == "holds take")
            stereo = withTake(stereoFrames(8), at, take, 2);
        else if (stereoMode == "out of step")
            stereo = stereoFrames(5);
        const QList<float> stereoGiven = stereo;
        const bool derives = stereoMode == "before take";
        const bool follows = derives || stereoMode == "holds take";
        const QList<float> stereoAfter = derives ? withTake(stereoGiven, at, take, 2) : stereoGiven;
        const QList<float> stereoBefore = follows ? stereoFrames(8) : stereoGiven;

        QUndoStack stack;
        stack.push(new InsertRecordCommand(&samples, before, QStringLiteral("插入录音"),
                                           stereoMode == "none" ? nullptr : &stereo));
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(samples, after);
            QCOMPARE(stereo, stereoAfter);
            stack.undo();
            QCOMPARE(samples, before);
            QCOMPARE(stereo, stereoBefore);
            stack.redo();
        }
    }

    // Silence recorded into silence has no single insertion frame; whichever
    // the command picks, every stereo frame must still sit over its mono frame.
    void ambiguousTakeKeepsStereoOverMono()
    {
        const QList<float> before{1, 2, 0, 0, 0, 3};
        QList<float> stereo{1.5f, 0.5f, 2, 2, 0.25f, -0.25f, -1, 1, 0, 0, 3, 3};
        QList<float> samples = withTake(before, 2, QList<float>{0, 0}, 1);
        QUndoStack stack;
        stack.push(new InsertRecordCommand(&samples, before, QStringLiteral("插入录音"), &stereo));
        QCOMPARE(stereo.size(), 2 * samples.size());
        for (qsizetype i = 0; i < samples.size(); ++i)
            QCOMPARE((stereo[2 * i] + stereo[2 * i + 1]) * 0.5f, samples[i]);
        stack.undo();
        QCOMPARE(stereo, (QList<float>{1.5f, 0.5f, 2, 2, 0.25f, -0.25f, -1, 1, 0, 0, 3, 3}));
    }

    void samplesReplace_data()
    {
        QTest::addColumn<bool>("withFirst");
        QTest::addColumn<bool>("withSecond");
        QTest::newRow("both") << true << true;
        QTest::newRow("null second") << true << false;
        QTest::newRow("null first") << false << true;
    }

    void samplesReplace()
    {
        QFETCH(bool, withFirst);
        QFETCH(bool, withSecond);
        const QList<float> oldMono = monoFrames(4), newMono = monoFrames(3, 9.0f);
        const QList<float> oldStereo = stereoFrames(4), newStereo = stereoFrames(2);
        QList<float> mono = newMono, stereo = newStereo;
        QUndoStack stack;
        stack.push(new SamplesReplaceCommand(withFirst ? &mono : nullptr, withSecond ? &stereo : nullptr,
                                             oldMono, oldStereo, newMono, newStereo,
                                             QStringLiteral("增益")));
        QCOMPARE(mono, newMono);
        QCOMPARE(stereo, newStereo);
        stack.undo();
        QCOMPARE(mono, withFirst ? oldMono : newMono);
        QCOMPARE(stereo, withSecond ? oldStereo : newStereo);
        stack.redo();
        QCOMPARE(mono, newMono);
        QCOMPARE(stereo, newStereo);
    }

    // Over budget the oldest steps go; those kept undo and redo exactly.
    void historyKeepsWithinBudget()
    {
        QList<float> mono = monoFrames(1000);
        QList<float> stereo = stereoFrames(1000);
        int forceMono = 0;
        QUndoStack stack;
        QList<QList<float>> monoStates{mono};
        const auto replaceAll = [&](float offset) {
            const QList<float> oldMono = mono;
            const QList<float> oldStereo = stereo;
            mono = monoFrames(1000, offset);
            stereo = stereoFrames(1000);
            stack.push(new SamplesReplaceCommand(&mono, &stereo, oldMono, oldStereo, mono,
                                                 stereo, QStringLiteral("gain")));
            monoStates << mono;
        };
        for (int step = 1; step <= 4; ++step)
            replaceAll(float(step * 10000));
        stack.push(new DeleteSelectionCommand(&mono, 100, 200, QStringLiteral("delete"), &stereo));
        monoStates << mono;
        const QList<float> oldMono = mono;
        const QList<float> oldStereo = stereo;
        stereo.clear();
        forceMono = 1;
        stack.push(new ChannelConversionCommand(&mono, &stereo, oldMono, oldStereo, &forceMono, 0,
                                                QStringLiteral("mono")));
        monoStates << mono;
        const QList<QList<float>> current{mono, stereo};

        const qint64 step = 3000 * qint64(sizeof(float));
        const qint64 held = SampleListHistory::heldBytes(stack, current);
        QCOMPARE(SampleListHistory::trimToBudget(stack, held, current), 0);
        const int dropped = SampleListHistory::trimToBudget(stack, 2 * step, current);
        QVERIFY(dropped >= 3);
        QCOMPARE(stack.count(), 6 - dropped);
        QVERIFY(SampleListHistory::heldBytes(stack, current) <= 2 * step);
        QCOMPARE(mono, monoStates.last()); // trimming changes nothing now
        QCOMPARE(forceMono, 1);

        while (stack.canUndo())
            stack.undo();
        QCOMPARE(mono, monoStates[dropped]);
        QCOMPARE(forceMono, 0);
        while (stack.canRedo())
            stack.redo();
        QCOMPARE(mono, monoStates.last());
        QCOMPARE(stereo, QList<float>());
        QCOMPARE(forceMono, 1);
    }
};

QTEST_GUILESS_MAIN(SampleListCommandsTest)
#include "tst_SampleListCommands.moc"
