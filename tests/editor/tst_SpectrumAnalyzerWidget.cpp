#include "editor/SpectrogramImageBuilder.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "widgets/TimeAxisScale.h"

#include <QtTest/QtTest>
#include <QPainter>
#include <QPointingDevice>
#include <QScrollBar>
#include <cmath>

namespace {

QList<float> tone(double frequency, qsizetype count, int rate, float amplitude)
{
    QList<float> out(count);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = amplitude * float(std::sin(2.0 * M_PI * frequency * double(i) / rate));
    return out;
}

QImage grab(QWidget& widget, const QString& name)
{
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString dir = qEnvironmentVariable("CDW_BINARY_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir + QStringLiteral("/grabs"));
        image.save(dir + QStringLiteral("/grabs/spectrogram-") + name + QStringLiteral(".png"));
    }
    return image;
}

// Rows of column x drawn in the upper half of the colour table (column
// values of 0.5 and more, -65 dB and louder).
QList<int> loudRows(const QImage& image, int x, int top, int bottom)
{
    const auto& table = SpectrogramImageBuilder::colorTable();
    QList<int> rows;
    for (int y = top; y <= bottom; ++y) {
        const QRgb pixel = image.pixel(x, y);
        for (int i = 128; i < 256; ++i) {
            if (pixel == qRgb(table[i].red, table[i].green, table[i].blue)) {
                rows << y;
                break;
            }
        }
    }
    return rows;
}

QStringList labels(double start, double visible, double width)
{
    const double step = TimeAxisScale::stepFor(visible, width);
    QStringList out;
    for (double t : TimeAxisScale::tickTimes(start, visible, step))
        out << TimeAxisScale::spectrogramLabel(t, step);
    return out;
}

void sendNativeZoom(QWidget& widget, double value)
{
    QNativeGestureEvent event(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                              QPointF(100, 100), QPointF(100, 100), QPointF(100, 100), value,
                              QPointF());
    QApplication::sendEvent(&widget, &event);
}

} // namespace

class SpectrumAnalyzerWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void timeAxisLabels_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("visible");
        QTest::addColumn<double>("step");
        QTest::addColumn<QStringList>("expected");
        QStringList whole;
        for (int s = 0; s <= 30; s += 2)
            whole << QStringLiteral("%1s").arg(s);
        // 1 s would space the ticks 33 px apart, 2 s gives 67 px.
        QTest::newRow("30 s on 1000 px") << 0.0 << 30.0 << 2.0 << whole;
        QTest::newRow("past a minute") << 55.0 << 11.0 << 1.0
                                       << QStringList{"55s", "56s", "57s", "58s", "59s", "1:00",
                                                      "1:01", "1:02", "1:03", "1:04", "1:05", "1:06"};
        QTest::newRow("hundredths") << 1.02 << 0.3 << 0.05
                                    << QStringList{"01.05", "01.10", "01.15", "01.20", "01.25", "01.30"};
        QTest::newRow("thousandths") << 2.0 << 0.012 << 0.001
                                     << QStringList{"02.000", "02.001", "02.002", "02.003", "02.004",
                                                    "02.005", "02.006", "02.007", "02.008", "02.009",
                                                    "02.010", "02.011", "02.012"};
    }

    void timeAxisLabels()
    {
        QFETCH(double, start);
        QFETCH(double, visible);
        QFETCH(double, step);
        QFETCH(QStringList, expected);
        QCOMPARE(TimeAxisScale::stepFor(visible, 1000.0), step);
        QCOMPARE(labels(start, visible, 1000.0), expected);
    }

    void timeAxisSpacing()
    {
        // From 60 s on the 2 s labels read minutes and seconds.
        const QStringList late = labels(50.0, 30.0, 1000.0);
        QCOMPARE(late.mid(0, 7), QStringList({"50s", "52s", "54s", "56s", "58s", "1:00", "1:02"}));
        // Ticks 2 s apart on 30 s over 1000 px sit 66 or 67 px apart.
        const std::vector<double> ticks = TimeAxisScale::tickTimes(0.0, 30.0, 2.0);
        QCOMPARE(int(ticks.size()), 16);
        QCOMPARE(int((ticks[1] - 0.0) / 30.0 * 1000), 66);
        // Nothing reaches 50 px: 1 s.
        QCOMPARE(TimeAxisScale::stepFor(1.0e6, 1000.0), 1.0);
        QCOMPARE(TimeAxisScale::rulerLabel(62.0, 2.0), QStringLiteral("01:02"));
    }

    void clickInsidePlotRequestsPlayhead()
    {
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);                    // plot 600 x 300 from (55, 5)
        widget.setAudioData(tone(440.0, 80000, 8000, 0.3f), 8000);   // 10 s
        widget.setZoomLevel(2.0);
        widget.setViewStartSec(3.0);
        QSignalSpy requested(&widget, &SpectrumAnalyzerWidget::playheadRequested);
        QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(55 + 150, 100));
        QCOMPARE(requested.count(), 1);
        // view start + Dn / zoom * (x - left) / width = 3 + 5 * 150 / 600
        QCOMPARE(requested.first().at(0).toDouble(), 4.25);

        QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(30, 100));
        QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(300, 318));
        QTest::mouseClick(&widget, Qt::RightButton, Qt::NoModifier, QPoint(300, 100));
        widget.setToolMode(SpectrumAnalyzerWidget::Erase);
        QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(60, 8));
        QCOMPARE(requested.count(), 1);
    }

    void stereoShowsTwoBandsFromTheFirstPaint()
    {
        const int rate = 44100;
        const QList<float> left = tone(1000.0, rate, rate, 0.5f);
        QList<float> stereo(2 * rate, 0.0f);
        for (int i = 0; i < rate; ++i)
            stereo[2 * i] = left[i];            // the right channel is silent
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);
        widget.setAudioData(left, rate, stereo);
        const QImage image = grab(widget, QStringLiteral("stereo"));
        QVERIFY(!widget.spectrogramImage(true).isNull());

        // Bands: upper rows 5..154 (L), lower 155..304 (R).
        const QList<int> upper = loudRows(image, 355, 5, 154);
        QVERIFY(!upper.isEmpty());
        // 1 kHz is bin 46.4 of 1023 shown: about 143 rows down the 150-row band.
        for (int y : upper)
            QVERIFY2(std::abs(y - (5 + 143)) <= 3, qPrintable(QString::number(y)));
        QVERIFY(loudRows(image, 355, 156, 304).isEmpty());
        const auto& table = SpectrogramImageBuilder::colorTable();
        QCOMPARE(image.pixel(355, 230), qRgb(table[0].red, table[0].green, table[0].blue));

        // Mono data afterwards returns to one band over the whole plot.
        widget.setAudioData(left, rate);
        const QImage mono = grab(widget, QStringLiteral("mono"));
        QVERIFY(widget.spectrogramImage(true).isNull());
        const QList<int> rows = loudRows(mono, 355, 5, 304);
        QVERIFY(!rows.isEmpty());
        for (int y : rows)
            QVERIFY2(std::abs(y - (5 + 286)) <= 3, qPrintable(QString::number(y)));
    }

    void playheadAndEmptyStates()
    {
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);
        // Empty: the two lines centred over the whole widget in Arial 12 pt,
        // in the empty-state colour, and nothing else.
        QImage expected(widget.size(), QImage::Format_RGB32);
        expected.fill(qRgb(20, 20, 30));
        {
            QPainter painter(&expected);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QColor(100, 100, 120));
            painter.setFont(QFont(QStringLiteral("Arial"), 12));
            painter.drawText(expected.rect(), Qt::AlignCenter,
                             QStringLiteral("暂无音频数据\n请录制或导入文件"));
        }
        QCOMPARE(grab(widget, QStringLiteral("empty")), expected);

        widget.setAudioData(tone(300.0, 80000, 8000, 0.3f), 8000);
        widget.setPlayheadPosition(5.0);          // x = 5 / 10 * 600 = 300
        widget.setPlayheadPosition(50.0);
        QCOMPARE(widget.getPlayheadPosition(), 10.0);
        widget.setPlayheadPosition(5.0);
        const QImage image = grab(widget, QStringLiteral("playhead"));
        const QRgb playhead = qRgb(255, 80, 80);
        QVERIFY(image.pixel(354, 200) == playhead || image.pixel(355, 200) == playhead);
    }

    void zoomAndScroll()
    {
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);
        widget.setAudioData(tone(300.0, 80000, 8000, 0.3f), 8000);   // 10 s
        QScrollBar* bar = widget.horizontalScrollBar();
        QVERIFY(bar->isHidden());
        widget.setZoomLevel(512.0);
        QVERIFY(!bar->isHidden());
        // 10 s at 512x shows about 19.5 ms.
        QVERIFY(std::abs(widget.contentDuration() / widget.getZoomLevel() - 0.01953125) < 1e-9);
        QCOMPARE(bar->pageStep(), 19);
        QCOMPARE(bar->maximum(), 10000 - 19);

        widget.setZoomLevel(4.0);
        widget.setViewStartSec(0.1);
        QWheelEvent notch(QPointF(200, 100), QPointF(200, 100), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &notch);
        QCOMPARE(widget.getViewStartSec(), 0.0);     // a tenth of 2.5 s, stopped at 0
        QWheelEvent back(QPointF(200, 100), QPointF(200, 100), QPoint(), QPoint(0, -120),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &back);
        QVERIFY(std::abs(widget.getViewStartSec() - 0.25) < 1e-12);
        QWheelEvent zoomIn(QPointF(200, 100), QPointF(200, 100), QPoint(), QPoint(0, 120),
                           Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &zoomIn);
        QVERIFY(std::abs(widget.getZoomLevel() - 4.6) < 1e-12);

        sendNativeZoom(widget, 1.0e6);
        QCOMPARE(widget.getZoomLevel(), 512.0);
        sendNativeZoom(widget, -0.999999);
        QCOMPARE(widget.getZoomLevel(), 1.0);
        QCOMPARE(widget.getViewStartSec(), 0.0);
        QVERIFY(bar->isHidden());
    }

    // The read-out names the time, the frequency of the picture's row and
    // the level of the cell under the pointer, in a box beside the pointer
    // (to its left near the right edge).
    void pointerReadout()
    {
        const int rate = 44100;
        SpectrumAnalyzerWidget widget;
        widget.resize(660, 330);                    // plot 600 x 300 from (55, 5)
        widget.setAudioData(tone(4500.0, 2 * rate, rate, 0.5f), rate);
        const QImage plain = grab(widget, QStringLiteral("readout-none"));

        // The row where the tone is drawn, a third of the way across.
        const int x = 55 + 200;
        int toneRow = -1;
        float loudest = -1000.0f;
        for (int y = 5; y < 305; ++y) {
            const auto cell = widget.cellAt(QPoint(x, y));
            if (cell.valid && cell.level > loudest) {
                loudest = cell.level;
                toneRow = y;
            }
        }
        QSignalSpy frequency(&widget, &SpectrumAnalyzerWidget::frequencySelected);
        QSignalSpy magnitude(&widget, &SpectrumAnalyzerWidget::magnitudeSelected);
        const auto moveTo = [&](QPoint point) {
            QMouseEvent move(QEvent::MouseMove, point, widget.mapToGlobal(QPointF(point)),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&widget, &move);
        };
        moveTo(QPoint(x, toneRow));
        const auto cell = widget.cellAt(QPoint(x, toneRow));
        QVERIFY(std::abs(cell.frequency - 4500.0f) <= float(rate) / 2048);
        // The cell's own level: -100 dB at 0 to -30 dB at 1.
        const float value = widget.spectrogramColumn(cell.column)[cell.bin];
        QVERIFY(value > 0.9f);
        QVERIFY(std::abs(cell.level - (-100.0f + 70.0f * value)) < 1e-4f);
        QCOMPARE(frequency.count(), 1);
        QCOMPARE(frequency.first().at(0).toFloat(), cell.frequency);
        QCOMPARE(magnitude.first().at(0).toFloat(), cell.level);
        // 2 s over 600 px: 200 px is 0.667 s.
        const QString expectedText =
            QStringLiteral("00:00.667  %1 kHz  %2 dB")
                .arg(QString::number(cell.frequency / 1000.0f, 'f', 2), QString::number(cell.level, 'f', 1));
        QCOMPARE(widget.pointerReadoutText(), expectedText);
        QVERIFY(expectedText.contains(QStringLiteral(" 4.4")) || expectedText.contains(QStringLiteral(" 4.5")));

        const auto changedPixels = [&](const QImage& image) {
            QRect changed;
            for (int py = 0; py < image.height(); ++py)
                for (int px = 0; px < image.width(); ++px)
                    if (image.pixel(px, py) != plain.pixel(px, py))
                        changed |= QRect(px, py, 1, 1);
            return changed;
        };
        QRect box = widget.pointerReadoutRect();
        QCOMPARE(box.left(), x + 8);
        QCOMPARE(box.bottom(), toneRow - 1);
        QRect drawn = changedPixels(grab(widget, QStringLiteral("readout-right")));
        QVERIFY(!drawn.isEmpty() && box.adjusted(-1, -1, 1, 1).contains(drawn));
        QVERIFY(drawn.width() >= box.width() - 2);

        // Near the right edge the box goes to the pointer's left.
        const int nearEdge = 640;
        moveTo(QPoint(nearEdge, toneRow));
        box = widget.pointerReadoutRect();
        QCOMPARE(box.right(), nearEdge - 9);
        drawn = changedPixels(grab(widget, QStringLiteral("readout-left")));
        QVERIFY(!drawn.isEmpty() && box.adjusted(-1, -1, 1, 1).contains(drawn));

        // Outside the bands there is no cell and no read-out.
        moveTo(QPoint(20, 100));
        QVERIFY(widget.pointerReadoutText().isEmpty());
        QCOMPARE(grab(widget, QStringLiteral("readout-outside")), plain);
    }
};

QTEST_MAIN(SpectrumAnalyzerWidgetTest)
#include "tst_SpectrumAnalyzerWidget.moc"
