#include "audio/dsp/Transport.h"

#include <QtTest/QtTest>
#include <vector>

class TransportTest : public QObject {
    Q_OBJECT
private slots:
    void clockAdvancesOnlyWhileRunning()
    {
        Transport transport;
        QVERIFY(!transport.isRunning());
        transport.process(44100);
        QCOMPARE(transport.getPosition(), 0.0);
        transport.start();
        transport.process(44100);
        QVERIFY(qAbs(transport.getPosition() - 1.0) < 1e-9);
        transport.pause();
        transport.process(44100);
        QVERIFY(qAbs(transport.getPosition() - 1.0) < 1e-9);
        transport.start();
        transport.setSampleRate(48000.0f);
        transport.process(24000);
        QVERIFY(qAbs(transport.getPosition() - 1.5) < 1e-9);
        transport.stop();
        QVERIFY(!transport.isRunning());
        QCOMPARE(transport.getPosition(), 0.0);
        transport.setPosition(-2.0);
        QCOMPARE(transport.getPosition(), 0.0);
        transport.setPosition(3.25);
        QCOMPARE(transport.getPosition(), 3.25);
    }

    void bpmIsClamped()
    {
        Transport transport;
        QCOMPARE(transport.getBPM(), 120.0f);
        transport.setBPM(10.0f);
        QCOMPARE(transport.getBPM(), 20.0f);
        transport.setBPM(500.0f);
        QCOMPARE(transport.getBPM(), 300.0f);
    }

    void idsAreNeverReused()
    {
        Transport transport;
        QCOMPARE(transport.schedule([](double) {}, 1.0), 1);
        QCOMPARE(transport.schedule([](double) {}, 2.0), 2);
        transport.cancel(1);
        transport.cancel(42);  // unknown: nothing happens
        QCOMPARE(transport.eventCount(), std::size_t(1));
        QCOMPARE(transport.scheduleOnce([](double) {}, 3.0), 3);
        transport.cancelAll();
        QCOMPARE(transport.eventCount(), std::size_t(0));
        QCOMPARE(transport.schedule([](double) {}, 1.0), 4);
    }

    void onceEventFiresInTheBlockThatPassesIt()
    {
        Transport transport;
        std::vector<double> calls;
        double blockStart = -1.0, blockEnd = -1.0;
        transport.scheduleOnce([&](double t) { calls.push_back(t); }, 0.5);
        transport.start();
        for (int block = 0; block < 100; ++block) {
            const double before = transport.getPosition();
            const std::size_t count = calls.size();
            transport.process(512);
            if (calls.size() != count) {
                blockStart = before;
                blockEnd = transport.getPosition();
            }
        }
        QCOMPARE(calls, std::vector<double>{0.5});
        QVERIFY(blockStart <= 0.5 && blockEnd > 0.5);
        QCOMPARE(transport.eventCount(), std::size_t(0));
    }

    void recurringEventFiresOncePerPass()
    {
        Transport transport;
        int fired = 0;
        transport.schedule([&](double t) { QCOMPARE(t, 0.25); ++fired; }, 0.25);
        transport.scheduleOnce([&](double) {}, 0.0);  // an event at the very start
        transport.start();
        for (int block = 0; block < 50; ++block)
            transport.process(512);
        QCOMPARE(fired, 1);
        transport.setPosition(0.0);  // rewind: it fires again on the next pass
        transport.process(44100);
        QCOMPARE(fired, 2);
        transport.stop();
        transport.process(44100);
        QCOMPARE(fired, 2);
        QCOMPARE(transport.eventCount(), std::size_t(1));
    }

    void callbacksMayChangeTheSchedule()
    {
        Transport transport;
        std::vector<int> order;
        int selfId = 0, victimId = 0;
        // Cancels itself while it runs, schedules a later event and cancels
        // one that would have fired in the same frame.
        selfId = transport.schedule(
            [&](double) {
                order.push_back(1);
                transport.cancel(selfId);
                transport.cancel(victimId);
                transport.scheduleOnce([&](double) { order.push_back(3); }, 0.2);
                transport.scheduleOnce([&](double) { order.push_back(4); }, 0.0);  // already passed
            },
            0.1);
        victimId = transport.schedule([&](double) { order.push_back(2); }, 0.1);
        transport.scheduleOnce([&](double) { transport.cancelAll(); order.push_back(5); }, 0.3);
        transport.schedule([&](double) { order.push_back(6); }, 0.3);
        transport.start();
        transport.process(44100);
        QCOMPARE(order, (std::vector<int>{1, 3, 5}));
        QCOMPARE(transport.eventCount(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_Transport.moc"
