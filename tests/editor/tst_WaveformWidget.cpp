#include "TestSupport.h"
#include "widgets/WaveformPeakIndex.h"
#include "editor/WaveformWidget.h"

#include <QtTest/QtTest>
#include <QPainter>
#include <QScrollBar>
#include <cmath>
#include <random>

namespace {

const QRgb Background = qRgb(0x14, 0x14, 0x1e);
const QRgb Progress = qRgb(0xff, 0x00, 0x55);
const QRgb Wave = qRgb(0x00, 0xf2, 0xff);
const QRgb LaneLine = qRgb(0x3c, 0x3c, 0x50);
const QRgb White = qRgb(0xff, 0xff, 0xff);

QList<float> noise(qsizetype count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-0.3f, 0.3f);
    QList<float> out(count);
    for (float& v : out)
        v = value(generator);
    // Sparse spikes that a sampled read would miss.
    for (qsizetype i = 977; i < count; i += 7919)
        out[i] = (i / 7919) % 2 ? 0.95f : -0.95f;
    return out;
}

QImage grab(WaveformWidget& widget, const QString& name)
{
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString dir = qEnvironmentVariable("CDW_BINARY_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir + QStringLiteral("/grabs"));
        image.save(dir + QStringLiteral("/grabs/waveform-") + name + QStringLiteral(".png"));
    }
    return image;
}

QWheelEvent wheel(QPointF position, QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers)
{
    return QWheelEvent(position, position, pixelDelta, angleDelta, Qt::NoButton, modifiers,
                       Qt::NoScrollPhase, false);
}

} // namespace

class WaveformWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void constantSignalPixels_data()
    {
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<int>("rate");
        // 2000 samples on 400 columns: 5 per pixel, read from the data;
        // 400 000 samples: 1000 per pixel, read from the column cache.
        QTest::newRow("direct") << qsizetype(2000) << 1000;
        QTest::newRow("cached") << qsizetype(400000) << 200000;
    }

    void constantSignalPixels()
    {
        QFETCH(qsizetype, count);
        QFETCH(int, rate);
        WaveformWidget widget;
        widget.resize(400, 200);
        widget.setAudioData(QList<float>(count, 0.5f), rate);
        widget.setPlayheadPosition(1.0);            // half of the 2 s: x = 200
        QCOMPARE(widget.secondsToX(1.0), 200);
        const QImage image = grab(widget, QString::fromLatin1(QTest::currentDataTag()));
        // Mono lane: half = 100, centre = 100, 0.5 draws row 100 - 50 = 50.
        for (int x : {0, 50, 150, 195}) {
            QCOMPARE(image.pixel(x, 50), Progress);
            QCOMPARE(image.pixel(x, 49), Background);
            QCOMPARE(image.pixel(x, 51), Background);
            QCOMPARE(image.pixel(x, 100), LaneLine);
        }
        for (int x : {205, 250, 399}) {
            QCOMPARE(image.pixel(x, 50), Wave);
            QCOMPARE(image.pixel(x, 49), Background);
            QCOMPARE(image.pixel(x, 100), LaneLine);
        }
        // Playhead: a white line over the area and a triangle at the top.
        QCOMPARE(image.pixel(200, 150), White);
        QCOMPARE(image.pixel(204, 1), White);
        QCOMPARE(image.pixel(208, 1), Background);
    }

    void stereoLanesAndClamping()
    {
        WaveformWidget widget;
        widget.resize(300, 200);
        QList<float> stereo;
        for (int i = 0; i < 3000; ++i)
            stereo << 0.5f << 1.7f;            // L 0.5, R beyond full scale
        widget.setAudioData(QList<float>(3000, 0.0f), 1000, stereo);
        QVERIFY(widget.isStereo());
        const QImage image = grab(widget, QStringLiteral("stereo"));
        // H = 200, mid = 100, quarter = 50: L centre 50, 0.5 -> row 25.
        QCOMPARE(image.pixel(150, 25), Wave);
        QCOMPARE(image.pixel(150, 26), Background);
        QCOMPARE(image.pixel(150, 50), LaneLine);
        QCOMPARE(image.pixel(20, 100), Wave);
        // R: half 50, centre 150; 1.7 is drawn as 1, at the lane's top row
        // (mid = 100), over the divider.
        QCOMPARE(image.pixel(150, 100), Wave);
        QCOMPARE(image.pixel(150, 101), Background);
        QCOMPARE(image.pixel(150, 150), LaneLine);
    }

    void emptyStateIsPainted()
    {
        // The two lines centred in the widget, Arial 13 in #646478, on the
        // background, and nothing else.
        WaveformWidget widget;
        widget.resize(300, 150);
        QImage expected(widget.size(), QImage::Format_RGB32);
        expected.fill(Background);
        {
            QPainter painter(&expected);
            painter.setPen(QColor(0x64, 0x64, 0x78));
            painter.setFont(QFont(QStringLiteral("Arial"), 13));
            painter.drawText(expected.rect(), Qt::AlignCenter,
                             QStringLiteral("暂无音频数据\n请录制或导入文件"));
        }
        QCOMPARE(grab(widget, QStringLiteral("empty")), expected);
    }

    // At the highest zoom a column holds two or three samples; each column
    // still reaches the rows of the one before, so the trace is one line.
    void traceJoinedAtHighestZoom_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::newRow("512x") << 512.0;
        QTest::newRow("100x") << 100.0;
        QTest::newRow("whole") << 1.0;
    }
    void traceJoinedAtHighestZoom()
    {
        QFETCH(double, zoom);
        const int rate = 44100;
        const QList<float> tone = TestSupport::sineWave(3000.0, 30.0, rate, 0.9f);
        WaveformWidget widget;
        widget.resize(1000, 200);
        widget.setAudioData(tone, rate);
        widget.setZoomLevel(zoom);
        widget.setViewStartSec(12.3456);
        widget.setPlayheadPosition(widget.getViewStartSec() + 1.0e-3);
        const QImage image = grab(widget, QStringLiteral("joined-%1").arg(zoom));
        const QRect area = widget.waveformArea();
        const int centre = area.top() + area.height() / 2;
        int previousTop = -1, previousBottom = -1;
        for (int x = area.left() + 20; x <= area.right(); ++x) {
            const auto trace = [&](int y) {
                const QRgb pixel = image.pixel(x, y);
                return pixel == Wave || pixel == Progress;
            };
            int top = -1, bottom = -1;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                if (trace(y)) {
                    top = top < 0 ? y : top;
                    bottom = y;
                }
            }
            // The centre line is drawn over the trace: a column that only
            // touches the centre row shows no trace colour at all.
            if (top < 0 && image.pixel(x, centre) == LaneLine)
                top = bottom = centre;
            else if (top >= 0 && (top == centre + 1 || bottom == centre - 1))
                (top == centre + 1 ? top : bottom) = centre;
            QVERIFY2(top >= 0, qPrintable(QStringLiteral("column %1 is empty").arg(x)));
            if (previousTop >= 0)
                QVERIFY2(top <= previousBottom + 1 && bottom >= previousTop - 1,
                         qPrintable(QStringLiteral("column %1 rows %2-%3, before %4-%5")
                                        .arg(x).arg(top).arg(bottom).arg(previousTop).arg(previousBottom)));
            previousTop = top;
            previousBottom = bottom;
        }
    }

    void columnPeaksFollowTheColumnRule_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("viewStart");
        QTest::newRow("97 px, whole") << 97 << 1.0 << 0.0;
        QTest::newRow("400 px, whole") << 400 << 1.0 << 0.0;
        QTest::newRow("1280 px, zoom 3.7") << 1280 << 3.7 << 4.1;
        QTest::newRow("640 px, zoom 40") << 640 << 40.0 << 7.77;
        QTest::newRow("333 px, zoom 512") << 333 << 512.0 << 12.0;
    }

    void columnPeaksFollowTheColumnRule()
    {
        QFETCH(int, width);
        QFETCH(double, zoom);
        QFETCH(double, viewStart);
        const int rate = 22050;
        const QList<float> data = noise(20 * rate, 11u);
        QList<float> stereo(2 * data.size());
        for (qsizetype i = 0; i < data.size(); ++i) {
            stereo[2 * i] = data[i];
            stereo[2 * i + 1] = -data[data.size() - 1 - i];
        }
        WaveformWidget widget;
        widget.resize(width, 200);
        widget.setAudioData(data, rate, stereo);
        widget.setZoomLevel(zoom);
        widget.setViewStartSec(viewStart);

        // Column c covers [first, end) of the visible range, with exact minimum
        // and maximum (starting from 1 and -1).
        const auto check = [&](const QList<float>& lane, WaveformWidget::Lane which) {
            const qsizetype n = lane.size();
            const double visible = widget.getDuration() / widget.getZoomLevel();
            const qsizetype start = std::clamp<qsizetype>(qsizetype(widget.getViewStartSec() * rate), 0, n - 1);
            const qsizetype span = std::clamp<qsizetype>(start + qsizetype(visible * rate), start + 1, n) - start;
            const QList<float>& mins = widget.peakMinima(which);
            const QList<float>& maxs = widget.peakMaxima(which);
            QCOMPARE(mins.size(), qsizetype(width));
            for (int c = 0; c < width; ++c) {
                const qsizetype first = std::clamp<qsizetype>(start + qsizetype(double(c) / width * span), start, n - 1);
                const qsizetype end = std::max(std::min(n, start + qsizetype(double(c + 1) / width * span)), first + 1);
                float mn = 1.0f, mx = -1.0f;
                for (qsizetype i = first; i < end; ++i) {
                    mn = std::min(mn, lane[i]);
                    mx = std::max(mx, lane[i]);
                }
                QCOMPARE(mins[c], mn);
                QCOMPARE(maxs[c], mx);
            }
        };
        QList<float> left(data.size()), right(data.size());
        for (qsizetype i = 0; i < data.size(); ++i) {
            left[i] = stereo[2 * i];
            right[i] = stereo[2 * i + 1];
        }
        check(data, WaveformWidget::Lane::Mono);
        check(left, WaveformWidget::Lane::Left);
        check(right, WaveformWidget::Lane::Right);
    }

    void peakIndexRangesAndGrowth()
    {
        std::mt19937 generator(3u);
        QList<float> data = noise(100000, 5u);
        data[12345] = qQNaN();
        // The default blocks and the coarse ones the clip lanes keep.
        for (int shift : {WaveformPeakIndex::DefaultBlockShift, 8}) {
            WaveformPeakIndex index(shift);
            index.build(data.constData(), 60000);
            index.extend(data.constData(), data.size());
            QCOMPARE(index.indexedCount(), qsizetype(100000));
            std::uniform_int_distribution<qsizetype> position(0, data.size());
            for (int i = 0; i < 2000; ++i) {
                qsizetype a = position(generator), b = position(generator);
                if (a > b)
                    std::swap(a, b);
                float mn = 1.0f, mx = -1.0f, rmn = 1.0f, rmx = -1.0f;
                index.rangeMinMax(data.constData(), a, b, mn, mx);
                WaveformPeakIndex::scan(data.constData(), a, b, rmn, rmx);
                QCOMPARE(mn, rmn);
                QCOMPARE(mx, rmx);
            }
        }
    }

    void zoomAndScrollRanges()
    {
        WaveformWidget widget;
        widget.resize(500, 200);
        widget.setAudioData(QList<float>(10000, 0.1f), 1000);   // 10 s
        QScrollBar* bar = widget.horizontalScrollBar();
        QVERIFY(bar->isHidden());
        QCOMPARE(widget.waveformArea().height(), 200);

        widget.setZoomLevel(4.0);
        QVERIFY(!bar->isHidden());
        QCOMPARE(widget.waveformArea().height(), 182);
        QCOMPARE(bar->pageStep(), 2500);
        QCOMPARE(bar->singleStep(), 250);
        QCOMPARE(bar->maximum(), 7500);
        widget.setViewStartSec(100.0);
        QCOMPARE(widget.getViewStartSec(), 7.5);
        QCOMPARE(bar->value(), 7500);
        QVERIFY(widget.isAutoScroll());        // set by the program, not the user

        bar->setValue(3000);                     // the user drags the bar
        QCOMPARE(widget.getViewStartSec(), 3.0);
        QVERIFY(!widget.isAutoScroll());

        // Paging: a playhead beyond the right edge moves it to the right edge.
        widget.setPlayheadPosition(8.0);
        QCOMPARE(widget.getViewStartSec(), 5.5);
        widget.setPlayheadPosition(1.0);
        QCOMPARE(widget.getViewStartSec(), 1.0);

        widget.setZoomLevel(10000.0);
        QCOMPARE(widget.getZoomLevel(), 512.0);
        widget.setZoomLevel(0.2);
        QCOMPARE(widget.getZoomLevel(), 1.0);
        QCOMPARE(widget.getViewStartSec(), 0.0);
        QVERIFY(bar->isHidden());
    }

    void dragNearPlayheadMovesIt()
    {
        WaveformWidget widget;
        widget.resize(400, 200);
        widget.setAudioData(QList<float>(2000, 0.2f), 1000);   // 2 s on 400 px
        widget.setPlayheadPosition(1.0);                       // x = 200
        QSignalSpy moved(&widget, &WaveformWidget::playheadMoved);
        QSignalSpy clicked(&widget, &WaveformWidget::clicked);
        QSignalSpy selected(&widget, &WaveformWidget::selectionChanged);
        QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(205, 100));
        QTest::mouseMove(&widget, QPoint(250, 100));
        QTest::mouseMove(&widget, QPoint(300, 100));
        QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(300, 100));
        QCOMPARE(moved.count(), 2);
        QCOMPARE(moved.last().at(0).toDouble(), 1.5);
        QCOMPARE(widget.getPlayheadPosition(), 1.5);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(selected.count(), 0);
        QVERIFY(!widget.hasSelection());
    }

    void shortDragIsAClick()
    {
        WaveformWidget widget;
        widget.resize(400, 200);
        widget.setAudioData(QList<float>(2000, 0.2f), 1000);
        QSignalSpy moved(&widget, &WaveformWidget::playheadMoved);
        QSignalSpy clicked(&widget, &WaveformWidget::clicked);
        // One pixel is less than the two pixels a selection needs.
        QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseMove(&widget, QPoint(101, 100));
        QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(101, 100));
        QVERIFY(!widget.hasSelection());
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.first().at(0).toDouble(), 101.0 / 400 * 2);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(widget.getPlayheadPosition(), 101.0 / 400 * 2);
    }

    void dragSelectsEitherWay()
    {
        WaveformWidget widget;
        widget.resize(400, 200);
        widget.setAudioData(QList<float>(2000, 0.2f), 1000);
        QSignalSpy selected(&widget, &WaveformWidget::selectionChanged);
        QSignalSpy clicked(&widget, &WaveformWidget::clicked);
        QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(300, 100));
        QTest::mouseMove(&widget, QPoint(100, 100));
        QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QVERIFY(widget.hasSelection());
        QCOMPARE(widget.getSelectionStart(), 0.5);
        QCOMPARE(widget.getSelectionEnd(), 1.5);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(clicked.count(), 0);
        // New data clears the selection and keeps the playhead inside.
        widget.setPlayheadPosition(1.8);
        widget.setAudioData(QList<float>(1000, 0.2f), 1000);
        QVERIFY(!widget.hasSelection());
        QCOMPARE(widget.getPlayheadPosition(), 1.0);
    }

    void wheelZoomKeepsTimeUnderPointer_data()
    {
        QTest::addColumn<int>("x");
        QTest::newRow("left") << 37;
        QTest::newRow("middle") << 250;
        QTest::newRow("right") << 470;
    }

    void wheelZoomKeepsTimeUnderPointer()
    {
        QFETCH(int, x);
        WaveformWidget widget;
        widget.resize(500, 200);
        widget.setAudioData(QList<float>(100000, 0.1f), 10000);   // 10 s
        const double anchor = widget.xToSeconds(x);
        for (int i = 0; i < 12; ++i) {
            QWheelEvent event = wheel(QPointF(x, 50), QPoint(), QPoint(0, 120), Qt::ControlModifier);
            QApplication::sendEvent(&widget, &event);
            QVERIFY(event.isAccepted());
            QVERIFY2(std::abs(widget.xToSeconds(x) - anchor) < 1e-9,
                     qPrintable(QString("%1 vs %2").arg(widget.xToSeconds(x)).arg(anchor)));
        }
        QVERIFY(std::abs(widget.getZoomLevel() - std::pow(1.15, 12)) < 1e-9);
        // A fine trackpad scroll zooms too; a wheel notch without Control scrolls
        // a tenth of the visible time towards the start.
        QWheelEvent pad = wheel(QPointF(x, 50), QPoint(0, -3), QPoint(0, -24), Qt::NoModifier);
        QApplication::sendEvent(&widget, &pad);
        QVERIFY(std::abs(widget.getZoomLevel() - std::pow(1.15, 11)) < 1e-9);
        const double visible = widget.getDuration() / widget.getZoomLevel();
        widget.setViewStartSec(5.0);
        QWheelEvent notch = wheel(QPointF(x, 50), QPoint(), QPoint(0, 120), Qt::NoModifier);
        QApplication::sendEvent(&widget, &notch);
        QVERIFY(std::abs(widget.getViewStartSec() - (5.0 - visible / 10)) < 1e-9);
        QVERIFY(!widget.isAutoScroll());
    }

    void wheelZoomCanBeDisabled()
    {
        WaveformWidget widget;
        widget.resize(500, 200);
        widget.setAudioData(QList<float>(10000, 0.1f), 1000);
        widget.setWheelZoomEnabled(false);
        QWheelEvent event = wheel(QPointF(10, 50), QPoint(), QPoint(0, 120), Qt::ControlModifier);
        QApplication::sendEvent(&widget, &event);
        QCOMPARE(widget.getZoomLevel(), 1.0);
    }

    void appendFollowsTheEnd()
    {
        WaveformWidget widget;
        widget.resize(500, 200);
        widget.setAudioData(QList<float>(10000, 0.1f), 1000);
        widget.setZoomLevel(5.0);
        widget.setAutoScroll(true);
        widget.appendAudioData(QList<float>(5000, -0.4f), 1000);
        QCOMPARE(widget.getDuration(), 15.0);
        QCOMPARE(widget.getViewStartSec(), 12.0);
        QCOMPARE(widget.peakMinima(WaveformWidget::Lane::Mono).last(), -0.4f);
        QVERIFY(widget.isAutoScroll());
        widget.clearAudioData();
        QCOMPARE(widget.getDuration(), 0.0);
        QCOMPARE(widget.getZoomLevel(), 1.0);
        QVERIFY(widget.peakMinima(WaveformWidget::Lane::Mono).isEmpty());
    }
};

QTEST_MAIN(WaveformWidgetTest)
#include "tst_WaveformWidget.moc"
