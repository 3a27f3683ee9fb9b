// The hand-over of recorded blocks from an audio thread to the GUI thread:
// everything pushed arrives on the GUI thread in order across the ring's
// wrap, input waits as long as the queue was sized for, a block that does
// not fit is dropped whole, and finish delivers what is left.

#include "engine/devices/RecordTakeQueue.h"
#include "engine/devices/SampleRing.h"

#include <QtTest/QtTest>

#include <atomic>
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

    // Input waits in the ring as long as the queue was sized for, at every
    // rate and channel count: here it comes faster than from any device and
    // the GUI thread drains nothing, and it all arrives whole whether the
    // spill thread ran meanwhile or not. A block larger than the ring is
    // dropped whole and counted.
    void inputWaitsAsLongAsTheQueueWasSizedForAndAnOversizedBlockIsDroppedWhole()
    {
        RecordTakeQueue queue;
        const float block[4] = {1, 2, 3, 4};
        QVERIFY(!queue.push(block, 4)); // not started
        for (const auto& [rate, channels] : {std::pair{44100, 1}, {192000, 2}}) {
            std::vector<float> received;
            queue.start(0.25, rate, channels,
                        [&](const float* s, qsizetype n) { received.insert(received.end(), s, s + n); }, 600000);
            std::vector<float> expected(std::size_t(rate * channels / 4));
            std::iota(expected.begin(), expected.end(), 0.0f);
            for (std::size_t at = 0; at < expected.size(); at += 64)
                QVERIFY(queue.push(expected.data() + at, int(std::min<std::size_t>(64, expected.size() - at))));
            QCOMPARE(queue.droppedSamples(), qint64(0));
            QVERIFY(received.empty());
            const std::vector<float> huge(std::size_t(queue.capacity()) + 1, 9.0f);
            QVERIFY(!queue.push(huge.data(), int(huge.size())));
            QVERIFY(!queue.push(nullptr, 2));
            QCOMPARE(queue.droppedSamples(), qint64(huge.size()));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^RecordTakeQueue: dropped"));
            queue.finish();
            QVERIFY(received == expected);
        }
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
