// The hand-over of recorded blocks from an audio thread to the GUI thread:
// everything pushed arrives on the GUI thread in order across the ring's
// wrap, a block that does not fit is dropped whole, and finish delivers what
// is left.

#include "engine/devices/RecordTakeQueue.h"

#include <QtTest/QtTest>

#include <atomic>
#include <thread>
#include <vector>

class RecordTakeQueueTest : public QObject {
    Q_OBJECT
private slots:
    void blocksFromAnotherThreadArriveInOrderOnTheGuiThread()
    {
        RecordTakeQueue queue;
        std::vector<float> received;
        bool offGuiThread = false;
        // A ring of 3.5 blocks: the producer laps it many times and waits
        // (as a real device would not) only so that nothing is dropped here.
        queue.start(1792, [&](const float* s, qsizetype n) {
            offGuiThread |= QThread::currentThread() != qApp->thread();
            received.insert(received.end(), s, s + n);
        }, 1);
        constexpr int kBlocks = 400;
        constexpr int kFrames = 512;
        std::atomic<bool> done{false};
        std::thread producer([&] {
            std::vector<float> block(kFrames);
            for (int b = 0; b < kBlocks; ++b) {
                for (int i = 0; i < kFrames; ++i)
                    block[size_t(i)] = float(b * kFrames + i);
                while (!queue.push(block.data(), kFrames))
                    std::this_thread::yield();
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
        producer.join();
        QVERIFY(queue.droppedSamples() > 0); // the full ring refused, the retry got in
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^RecordTakeQueue: dropped"));
        queue.finish();
        QVERIFY(!queue.isActive());
        QVERIFY(!offGuiThread);
        QCOMPARE(received.size(), size_t(kBlocks * kFrames));
        for (size_t i = 0; i < received.size(); ++i) {
            if (received[i] != float(i))
                QFAIL(qPrintable(QStringLiteral("sample %1 holds %2").arg(i).arg(received[i])));
        }
    }

    void aBlockThatDoesNotFitIsDroppedWholeAndTheRestIsDeliveredByFinish()
    {
        RecordTakeQueue queue;
        std::vector<float> received;
        const float block[4] = {1, 2, 3, 4};
        QVERIFY(!queue.push(block, 4)); // not started
        queue.start(10, [&](const float* s, qsizetype n) { received.insert(received.end(), s, s + n); },
                    60000);
        QVERIFY(queue.push(block, 4));
        QVERIFY(queue.push(block, 4));
        QVERIFY(!queue.push(block, 4)); // 8 of 10 used
        QVERIFY(!queue.push(nullptr, 2));
        QCOMPARE(queue.droppedSamples(), qint64(4));
        queue.drain();
        QCOMPARE(received, (std::vector<float>{1, 2, 3, 4, 1, 2, 3, 4}));
        QVERIFY(queue.push(block, 4)); // wraps round the end of the ring
        QVERIFY(queue.push(block, 2));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^RecordTakeQueue: dropped 4 samples"));
        queue.finish();
        QCOMPARE(received.size(), size_t(14));
        QCOMPARE(std::vector<float>(received.begin() + 8, received.end()),
                 (std::vector<float>{1, 2, 3, 4, 1, 2}));
        QVERIFY(!queue.push(block, 1)); // finished
    }
};

QTEST_MAIN(RecordTakeQueueTest)
#include "tst_RecordTakeQueue.moc"
