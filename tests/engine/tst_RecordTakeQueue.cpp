// The hand-over of recorded blocks from an audio thread to the GUI thread:
// everything pushed arrives on the GUI thread in order across the ring's
// wrap, input waits as long as the queue was sized for, a block that does
// not fit is dropped whole, and finish delivers what is left.

#include "engine/devices/RecordTakeQueue.h"
#include "engine/devices/SampleRing.h"

#include <QtTest/QtTest>

#include <atomic>
#include <chrono>
#include <numeric>
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
        queue.start(3.5 * 512 / 44100.0, 44100, 1, [&](const float* s, qsizetype n) {
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

    // The GUI thread drains nothing here (its timer never fires), and the
    // spill thread may not run: input waits in the ring for as long as it
    // was sized for, here a quarter second of 64 kHz stereo.
    void aStalledGuiThreadLosesNothingAndAnOversizedBlockIsDroppedWhole()
    {
        RecordTakeQueue queue;
        std::vector<float> received;
        const float block[4] = {1, 2, 3, 4};
        QVERIFY(!queue.push(block, 4)); // not started
        queue.start(0.25, 64000, 2, [&](const float* s, qsizetype n) { received.insert(received.end(), s, s + n); },
                    600000);
        std::thread producer([&] {
            std::vector<float> chunk(64);
            for (int b = 0; b < 400; ++b) { // 25600 of the 32000 samples the ring holds
                for (int i = 0; i < 64; ++i)
                    chunk[size_t(i)] = float(b * 64 + i);
                queue.push(chunk.data(), 64);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        producer.join();
        QCOMPARE(queue.droppedSamples(), qint64(0));
        QVERIFY(received.empty());

        // Larger than the whole ring: refused whole and counted.
        const std::vector<float> huge(32001, 9.0f);
        QVERIFY(!queue.push(huge.data(), int(huge.size())));
        QVERIFY(!queue.push(nullptr, 2));
        QCOMPARE(queue.droppedSamples(), qint64(32001));
        QVERIFY(queue.push(block, 4));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^RecordTakeQueue: dropped 32001 samples"));
        queue.finish();
        std::vector<float> expected(400 * 64);
        std::iota(expected.begin(), expected.end(), 0.0f);
        expected.insert(expected.end(), block, block + 4);
        QVERIFY(received == expected);
        QVERIFY(!queue.push(block, 1)); // finished
    }

    // The ring alone, with no spill thread to race: a block that does not
    // fit beside what a partly full ring holds is refused whole, one that
    // fills it exactly is taken, and all comes out in order across the end.
    void aBlockThatDoesNotFitAPartlyFullRingIsRefusedWhole()
    {
        SampleRing ring;
        ring.reset(10);
        const auto takeAll = [&ring] {
            std::vector<float> taken;
            qsizetype count = 0;
            while (const float* held = ring.front(count)) {
                taken.insert(taken.end(), held, held + count);
                ring.release(count);
            }
            return taken;
        };
        const float block[4] = {1, 2, 3, 4};
        QVERIFY(ring.push(block, 4));
        QVERIFY(ring.push(block, 4));
        QVERIFY(!ring.push(block, 4)); // 8 of 10 held
        QCOMPARE(takeAll(), (std::vector<float>{1, 2, 3, 4, 1, 2, 3, 4}));
        QVERIFY(ring.push(block, 4)); // wraps round the end of the ring
        QVERIFY(ring.push(block, 4));
        QVERIFY(!ring.push(block, 3)); // 8 of 10 held again, across the end
        QVERIFY(ring.push(block, 2));
        QVERIFY(!ring.push(block, 1));
        QCOMPARE(takeAll(), (std::vector<float>{1, 2, 3, 4, 1, 2, 3, 4, 1, 2}));
    }
};

QTEST_MAIN(RecordTakeQueueTest)
#include "tst_RecordTakeQueue.moc"
