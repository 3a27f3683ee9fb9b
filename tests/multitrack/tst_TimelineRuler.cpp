// The timeline ruler: its ticks and labels as plain data, marker double-clicks,
// bounded work on absurd inputs, and a picture.

#include "multitrack/TimelineMapping.h"
#include "multitrack/TimelineRulerScale.h"
#include "multitrack/TimelineRulerWidget.h"
#include "app/StartUp.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <limits>

namespace {

QStringList labels(const std::vector<RulerTick>& ticks, int count)
{
    QStringList out;
    for (const RulerTick& tick : ticks) {
        if (!tick.label.isEmpty())
            out << tick.label;
        if (out.size() == count)
            break;
    }
    return out;
}

TimelineMarker marker(double time, const QString& label)
{
    TimelineMarker m;
    m.time = time;
    m.label = label;
    return m;
}

} // namespace

class TimelineRulerTest : public QObject {
    Q_OBJECT
private slots:
    void timeModeStepsAndLabels_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("viewStart");
        QTest::addColumn<double>("step");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("firstX");
        QTest::newRow("zoom 0.005: 30 px steps draw nothing")
            << 0.005 << 0.0 << 60.0 << QStringList() << 0;
        QTest::newRow("zoom 0.01: a minute a label")
            << 0.01 << 0.0 << 60.0 << QStringList{"00:00", "01:00", "02:00"} << 0;
        QTest::newRow("zoom 1: seconds") << 1.0 << 0.0 << 1.0 << QStringList{"00:00", "00:01", "00:02"} << 0;
        QTest::newRow("zoom 2: hundredths")
            << 2.0 << 0.0 << 0.5 << QStringList{"00.00", "00.50", "01.00"} << 0;
        QTest::newRow("zoom 512: thousandths")
            << 512.0 << 0.0 << 0.005 << QStringList{"00.000", "00.005", "00.010"} << 0;
        QTest::newRow("view start 12.3 s: first tick at 13 s")
            << 1.0 << 12.3 << 1.0 << QStringList{"00:13", "00:14"} << 69; // 69.99.. px, truncated
        // 0.07 / 0.01 is a hair above 7: the tick at the view start stays.
        QTest::newRow("view start on a tick keeps it")
            << 100.0 << 0.07 << 0.01 << QStringList{"00.07", "00.08"} << 0;
    }
    void timeModeStepsAndLabels()
    {
        QFETCH(double, zoom);
        QFETCH(double, viewStart);
        QFETCH(double, step);
        QFETCH(QStringList, expected);
        QFETCH(int, firstX);
        QCOMPARE(TimelineRulerScale::timeStep(zoom * 100.0), step);
        const auto ticks = TimelineRulerScale::timeTicks(viewStart, zoom, 1000);
        QCOMPARE(labels(ticks, expected.size()), expected);
        if (!expected.isEmpty()) {
            QCOMPARE(ticks.front().x, firstX);
            QCOMPARE(ticks.front().lineTop, 4);
            QCOMPARE(ticks.front().lineBottom, 12);
        }
        for (const RulerTick& tick : ticks)
            QVERIFY(tick.x >= 0 && tick.x <= 1000);
    }

    void timeModeBetween40And60PixelsDrawsLinesOnly()
    {
        // zoom 0.009: the 60 s step is 54 px wide.
        const auto ticks = TimelineRulerScale::timeTicks(0.0, 0.009, 1000);
        QVERIFY(!ticks.empty());
        QVERIFY(labels(ticks, 100).isEmpty());
    }

    void beatModeLabels_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("zoom 1: two beats, coarse") << 1.0 << QStringList{"1", "1.3", "2", "2.3", "3"};
        QTest::newRow("zoom 4: half beats, fine")
            << 4.0 << QStringList{"1.1", "1+", "1.2", "2+", "1.3", "3+", "1.4", "4+", "2.1"};
        QTest::newRow("zoom 8: quarter beats")
            << 8.0 << QStringList{"1.1", "1e", "1+", "1a", "1.2", "2e", "2+", "2a", "1.3"};
    }
    void beatModeLabels()
    {
        QFETCH(double, zoom);
        QFETCH(QStringList, expected);
        const auto ticks = TimelineRulerScale::beatTicks(0.0, zoom, 4000, 120.0);
        QCOMPARE(labels(ticks, expected.size()), expected);
        // Bar lines are the long ones.
        QCOMPARE(ticks.front().lineTop, 0);
        QCOMPARE(ticks.front().lineBottom, 16);
    }

    void barLinesCountUpWithoutRepeats()
    {
        // Tick times carry rounding errors: at 20.1 BPM beat 52 lands a hair
        // below it, and must still read as the start of bar 14, not 13.
        for (double bpm : {20.1, 97.3, 120.0}) {
            const auto ticks = TimelineRulerScale::beatTicks(0.0, 1.5, 40000, bpm);
            int bar = 0;
            for (const RulerTick& tick : ticks) {
                if (tick.lineTop != 0)
                    continue;
                QCOMPARE(tick.label.section(QLatin1Char('.'), 0, 0).toInt(), ++bar);
            }
            QVERIFY(bar > 10);
        }
    }

    void absurdInputsFinishWithBoundedTicks()
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QVERIFY(TimelineRulerScale::beatTicks(0.0, 1.0, 800, inf).empty());
        QVERIFY(TimelineRulerScale::beatTicks(0.0, 1.0, 800, nan).empty());
        QVERIFY(TimelineRulerScale::beatTicks(0.0, 1.0, 800, -5.0).empty());
        QVERIFY(TimelineRulerScale::timeTicks(nan, 1.0, 800).empty());
        QVERIFY(TimelineRulerScale::timeTicks(inf, 1.0, 800).empty());
        // A view start where adding a step no longer changes the time.
        QVERIFY(TimelineRulerScale::timeTicks(1e300, 1.0, 800).size() <= 1);
        QVERIFY(TimelineRulerScale::beatTicks(1e300, 0.001, 800, 300.0).size() <= 1);
        // The slowest ruler at the fastest tempo: many ticks, never more than 4 x width + 16.
        QVERIFY(TimelineRulerScale::beatTicks(0.0, 0.001, 800, 1e6).size() <= 4 * 800 + 16);

        TimelineRulerWidget ruler;
        ruler.resize(800, 24);
        ruler.setRulerMode(TimelineRulerWidget::Beats);
        ruler.setBpm(inf);
        ruler.setViewStartSec(-1e308);
        ruler.setPlayheadPosition(nan);
        ruler.setMarkers({marker(nan, QStringLiteral("bad")), marker(1e300, QStringLiteral("far"))});
        QVERIFY(!ruler.grab().isNull());
    }

    void timeToPixelClampsBeforeConverting()
    {
        // Zoom 512 at 12 hours is beyond int; NaN goes off screen.
        const TimelineMapping deep(0.0, 512.0);
        QCOMPARE(deep.secondsToX(12 * 3600.0), TimelineMapping::PixelLimit);
        QCOMPARE(deep.secondsToX(-1e300), -TimelineMapping::PixelLimit);
        QCOMPARE(deep.secondsToX(std::nan("")), -TimelineMapping::PixelLimit);
        const TimelineMapping oneSecondIn(1.0, 1.0);
        QCOMPARE(oneSecondIn.secondsToX(2.999), 199); // truncation toward zero
        QCOMPARE(oneSecondIn.secondsToX(0.5), -50);
    }

    void settersKeepTheirRules()
    {
        TimelineRulerWidget ruler;
        ruler.setBpm(90.0);
        ruler.setBpm(0.0);
        QCOMPARE(ruler.bpm(), 90.0);
        ruler.setZoomLevel(1000.0);
        QCOMPARE(ruler.zoomLevel(), 512.0);
        ruler.setZoomLevel(0.0);
        QCOMPARE(ruler.zoomLevel(), 0.001);
        QCOMPARE(ruler.height(), 24);
    }

    void markerDoubleClickPicksTheFirstWithin8Pixels()
    {
        TimelineRulerWidget ruler;
        ruler.resize(800, 24);
        // At zoom 1 markers at 1.00 s and 1.05 s sit at x 100 and 105.
        ruler.setMarkers({marker(1.0, QStringLiteral("A")), marker(1.05, QStringLiteral("B")),
                          marker(5.0, QStringLiteral("C"))});
        QSignalSpy spy(&ruler, &TimelineRulerWidget::markerDoubleClicked);
        QTest::mouseDClick(&ruler, Qt::LeftButton, Qt::NoModifier, QPoint(103, 12));
        QTest::mouseDClick(&ruler, Qt::LeftButton, Qt::NoModifier, QPoint(508, 12));
        QTest::mouseDClick(&ruler, Qt::LeftButton, Qt::NoModifier, QPoint(509, 12)); // 9 px: none
        QTest::mouseDClick(&ruler, Qt::RightButton, Qt::NoModifier, QPoint(500, 12));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(spy.at(1).at(0).toInt(), 2);
        QCOMPARE(TimelineRulerScale::markerAt(ruler.markerList(), 113, 0.0, 1.0), 1);
    }

    void picture()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
        TimelineRulerWidget ruler;
        ruler.resize(1000, 24);
        ruler.setZoomLevel(2.0);
        ruler.setPlayheadPosition(1.5);
        TimelineMarker verse = marker(0.5, QStringLiteral("M1"));
        verse.color = QColor::fromString("#nope"); // unreadable: drawn in the default orange
        TimelineMarker chorus = marker(3.25, QStringLiteral("副歌"));
        chorus.color = QColor(0x00, 0xd2, 0x6a);
        ruler.setMarkers({verse, chorus, marker(-0.07, QStringLiteral("M0"))});
        const QImage time = ruler.grab().toImage();
        // The playhead at 300 px, the first marker's line at 100 px.
        const QColor playhead(255, 0, 85);
        QVERIFY(QColor(time.pixel(300, 12)) == playhead || QColor(time.pixel(299, 12)) == playhead);
        const QColor line = time.pixel(100, 13);
        QVERIFY2(line.red() > 150 && line.green() > 90 && line.blue() < 80, qPrintable(line.name()));
        ruler.setRulerMode(TimelineRulerWidget::Beats);
        ruler.setBpm(100.0);

        QPixmap both(1000, 52);
        both.fill(Qt::black);
        QPainter painter(&both);
        painter.drawImage(0, 0, time);
        painter.drawPixmap(0, 28, ruler.grab());
        painter.end();
        QVERIFY(TestSupport::saveScreenshot(both, QStringLiteral("timeline-ruler.png")));
    }
};

QTEST_MAIN(TimelineRulerTest)
#include "tst_TimelineRuler.moc"
