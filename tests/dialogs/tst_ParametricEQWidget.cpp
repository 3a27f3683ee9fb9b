// The EQ curve editor: band responses against a double-precision cookbook
// reference, the default flat curve, and editing by pointer and menu.

#include "TestSupport.h"
#include "dialogs/EqualizerCurve.h"
#include "dialogs/FrequencyAnalyzerWidget.h"
#include "dialogs/ParametricEQWidget.h"

#include <QMenu>
#include <QtTest/QtTest>

#include <cmath>
#include <complex>
#include <memory>

namespace {

using Type = ParametricEQWidget::FilterType;

// |H| in dB of the cookbook biquad, all in double precision.
double referenceDb(double f, double f0, double gainDb, double q, int type, double rate)
{
    const double w0 = 2 * M_PI * f0 / rate, c = std::cos(w0), alpha = std::sin(w0) / (2 * q);
    const double A = std::pow(10.0, gainDb / 40), s = 2 * std::sqrt(A) * alpha;
    double b[3], a[3];
    switch (type) {
    case 0: b[0] = 1 + alpha * A, b[1] = -2 * c, b[2] = 1 - alpha * A;
            a[0] = 1 + alpha / A, a[1] = -2 * c, a[2] = 1 - alpha / A; break;
    case 1: b[0] = A * ((A + 1) - (A - 1) * c + s), b[1] = 2 * A * ((A - 1) - (A + 1) * c);
            b[2] = A * ((A + 1) - (A - 1) * c - s); a[0] = (A + 1) + (A - 1) * c + s;
            a[1] = -2 * ((A - 1) + (A + 1) * c), a[2] = (A + 1) + (A - 1) * c - s; break;
    case 2: b[0] = A * ((A + 1) + (A - 1) * c + s), b[1] = -2 * A * ((A - 1) + (A + 1) * c);
            b[2] = A * ((A + 1) + (A - 1) * c - s); a[0] = (A + 1) - (A - 1) * c + s;
            a[1] = 2 * ((A - 1) - (A + 1) * c), a[2] = (A + 1) - (A - 1) * c - s; break;
    case 3: b[0] = (1 - c) / 2, b[1] = 1 - c, b[2] = (1 - c) / 2;
            a[0] = 1 + alpha, a[1] = -2 * c, a[2] = 1 - alpha; break;
    case 4: b[0] = (1 + c) / 2, b[1] = -(1 + c), b[2] = (1 + c) / 2;
            a[0] = 1 + alpha, a[1] = -2 * c, a[2] = 1 - alpha; break;
    case 5: b[0] = 1, b[1] = -2 * c, b[2] = 1; a[0] = 1 + alpha, a[1] = -2 * c, a[2] = 1 - alpha; break;
    default: b[0] = alpha, b[1] = 0, b[2] = -alpha; a[0] = 1 + alpha, a[1] = -2 * c, a[2] = 1 - alpha;
    }
    const std::complex<double> z = std::polar(1.0, -2 * M_PI * f / rate);
    const auto h = (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z);
    return 20 * std::log10(std::abs(h));
}

// Notes whether the widget was painted while the analyser held a spectrum.
class BackdropWatcher : public QObject {
public:
    explicit BackdropWatcher(ParametricEQWidget& eq) : eq(eq) { eq.installEventFilter(this); }
    bool paintedWithSpectrum = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint
            && !eq.analyzerWidget()->analyser().snapshot().smoothedLeft.isEmpty())
            paintedWithSpectrum = true;
        return false;
    }

private:
    ParametricEQWidget& eq;
};

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

QPoint pointOf(const ParametricEQWidget& eq, int band)
{
    return eq.bandToPoint(band, ParametricEQWidget::graphRectFor(eq.size())).toPoint();
}

} // namespace

class ParametricEQWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void responsesMatchTheCookbook()
    {
        const float rate = 44100.0f;
        QVERIFY(std::fabs(ParametricEQWidget::computeFilterMagnitude(1000, 1000, 6, 1, Type::Bell, rate) - 6.0f) <= 0.01f);
        QVERIFY(std::fabs(ParametricEQWidget::computeFilterMagnitude(1000, 1000, 0, 0.7071f, Type::LowPass, rate) + 3.01f) <= 0.01f);
        QVERIFY(ParametricEQWidget::computeFilterMagnitude(1000, 1000, 0, 1, Type::Notch, rate) <= -100.0f);
        QVERIFY(std::fabs(ParametricEQWidget::computeFilterMagnitude(1000, 1000, 0, 2, Type::BandPass, rate)) <= 0.01f);

        // Every type over the audible range, wherever the response is above -60 dB.
        for (int type = 0; type <= 6; ++type) {
            for (float f0 : {100.0f, 1000.0f, 8000.0f}) {
                for (double f = 20; f <= 20000; f *= 1.25) {
                    const double exact = referenceDb(f, f0, 9.0, 1.5, type, rate);
                    if (exact < -60)
                        continue;
                    const float ours = ParametricEQWidget::computeFilterMagnitude(
                        float(f), f0, 9.0f, 1.5f, Type(type), rate);
                    QVERIFY2(std::fabs(ours - exact) < 0.02,
                             qPrintable(QStringLiteral("type %1 f0 %2 f %3: %4 vs %5")
                                            .arg(type).arg(f0).arg(f).arg(ours).arg(exact)));
                }
            }
        }
        // Nothing to evaluate, and bands the equaliser skips (here above 0.49 x 22050 Hz).
        QCOMPARE(ParametricEQWidget::computeFilterMagnitude(0, 1000, 6, 1, Type::Bell, rate), 0.0f);
        QCOMPARE(ParametricEQWidget::computeFilterMagnitude(1000, 1000, 6, 1, Type::Bell, 0), 0.0f);
        QCOMPARE(ParametricEQWidget::computeFilterMagnitude(12000, 12000, 12, 1, Type::Bell, 22050), 0.0f);
    }

    void defaultBandsAreFlat()
    {
        ParametricEQWidget eq;
        for (float v : eq.computeEQCurve(256))
            QVERIFY(std::fabs(v) < 1e-4f);
        const ParametricEQWidget::EQBand outside = eq.band(7);
        QVERIFY(outside.enabled);
        QCOMPARE(outside.frequency, 1000.0f);
        QCOMPARE(outside.type, Type::Bell);
        QCOMPARE(outside.color, QColor(Qt::white));
        QSignalSpy changed(&eq, &ParametricEQWidget::bandChanged);
        eq.setBandGain(5, 6.0f);
        QCOMPARE(changed.count(), 0);

        eq.setBandGain(2, 6.0f); // a bell
        eq.setBandFrequency(2, 2000.0f);
        const QList<float> curve = eq.computeEQCurve(301); // 2 kHz is point 200 of 301
        QVERIFY(std::fabs(curve[200] - 6.0f) < 0.01f);
        QCOMPARE(changed.count(), 2);
    }

    void backdropFollowsTheAnalyser()
    {
        // No edit after the audio arrives: the spectrum must still show up
        // behind the curve, not the analyser's empty state.
        ParametricEQWidget eq;
        eq.resize(600, 320);
        eq.show();
        QVERIFY(QTest::qWaitForWindowExposed(&eq));
        BackdropWatcher watcher(eq);
        QList<float> tone(44100);
        for (qsizetype i = 0; i < tone.size(); ++i)
            tone[i] = float(0.5 * std::sin(0.1 * double(i)));
        eq.setAudioData(tone, 44100);
        QTRY_VERIFY_WITH_TIMEOUT(watcher.paintedWithSpectrum, 5000);
    }

    void backdropIsRenderedOnlyWhenItChanges()
    {
        ParametricEQWidget eq;
        eq.resize(600, 320);
        eq.setAudioData(TestSupport::sineWave(700.0, 1.0, 44100), 44100);
        FrequencyAnalysis& analysis = eq.analyzerWidget()->analyser();
        for (int i = 0; i < 5; ++i)
            analysis.feedStep();
        QVERIFY(analysis.updateSpectrum());
        PaintCounter analyser(*eq.analyzerWidget());
        QImage target(eq.size(), QImage::Format_ARGB32_Premultiplied);
        eq.render(&target);
        QCOMPARE(analyser.paints, 1);
        eq.setBandGain(2, 6.0f);
        eq.render(&target);
        QCOMPARE(analyser.paints, 1);
        // Only a new spectrum or size renders it again.
        analysis.feedStep();
        QVERIFY(analysis.updateSpectrum());
        eq.render(&target);
        QCOMPARE(analyser.paints, 2);
        eq.resize(640, 320);
        target = QImage(eq.size(), QImage::Format_ARGB32_Premultiplied);
        eq.render(&target);
        QCOMPARE(analyser.paints, 3);
    }

    void bandLabels()
    {
        QCOMPARE(EqualizerCurve::bandLabel(2, ParametricEQWidget::typeLabel(Type::Bell), 1000, 0, 1),
                 QStringLiteral("B3 Bell 1.0kHz\n0.0dB Q=1.0"));
        QCOMPARE(EqualizerCurve::bandLabel(0, ParametricEQWidget::typeLabel(Type::LowShelf), 80.7f, -3.24f, 0.71f),
                 QStringLiteral("B1 LS 80Hz\n-3.2dB Q=0.7"));
        QCOMPARE(EqualizerCurve::bandLabel(4, ParametricEQWidget::typeLabel(Type::HighShelf), 12000, 4, 2),
                 QStringLiteral("B5 HS 12.0kHz\n4.0dB Q=2.0"));
    }

    void pointerEditing()
    {
        ParametricEQWidget eq;
        eq.resize(800, 400);
        QSignalSpy selected(&eq, &ParametricEQWidget::bandSelected);
        QSignalSpy changed(&eq, &ParametricEQWidget::bandChanged);

        // A drag far past the graph's corner pins the band to 20 kHz and +24 dB.
        QTest::mousePress(&eq, Qt::LeftButton, {}, pointOf(eq, 3));
        QCOMPARE(selected.takeFirst().at(0).toInt(), 3);
        QMouseEvent move(QEvent::MouseMove, QPointF(5000, -5000), QPointF(5000, -5000), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&eq, &move);
        QCOMPARE(eq.band(3).frequency, 20000.0f);
        QCOMPARE(eq.band(3).gain, 24.0f);
        QMouseEvent down(QEvent::MouseMove, QPointF(-50, 5000), QPointF(-50, 5000), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&eq, &down);
        QCOMPARE(eq.band(3).frequency, 20.0f);
        QCOMPARE(eq.band(3).gain, -24.0f);
        QTest::mouseRelease(&eq, Qt::LeftButton, {}, QPoint(-50, 5000));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(eq.getSelectedBand(), 3);

        // The wheel works on the selected band wherever the pointer is; Q stops at 30.
        for (int i = 0; i < 40; ++i) {
            QWheelEvent wheel(QPointF(700, 50), eq.mapToGlobal(QPointF(700, 50)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&eq, &wheel);
        }
        QCOMPARE(eq.band(3).q, 30.0f);

        // Two points at the same place: the lower index wins; a miss clears.
        ParametricEQWidget::EQBand twin = eq.band(1);
        eq.setBand(2, twin);
        QTest::mousePress(&eq, Qt::LeftButton, {}, pointOf(eq, 1) + QPoint(3, 0));
        QCOMPARE(selected.takeLast().at(0).toInt(), 1);
        QTest::mouseRelease(&eq, Qt::LeftButton, {}, pointOf(eq, 1));
        QTest::mousePress(&eq, Qt::LeftButton, {}, QPoint(780, 390));
        QCOMPARE(selected.takeLast().at(0).toInt(), -1);
        QCOMPARE(eq.getSelectedBand(), -1);

        // Double-click resets gain and Q and keeps frequency and type.
        eq.setBandGain(0, 9.0f);
        eq.setBandQ(0, 4.0f);
        QTest::mouseDClick(&eq, Qt::LeftButton, {}, pointOf(eq, 0));
        QCOMPARE(eq.band(0).gain, 0.0f);
        QCOMPARE(eq.band(0).q, 1.0f);
        QCOMPARE(eq.band(0).type, Type::LowShelf);
    }

    void bandMenu()
    {
        ParametricEQWidget eq;
        eq.resize(800, 400);
        std::unique_ptr<QMenu> menu(eq.createBandMenu(4));
        QCOMPARE(menu->title(), QStringLiteral("Band 5"));
        QList<QAction*> actions = menu->actions();
        QMenu* types = nullptr;
        QAction* enabled = nullptr;
        QAction* bypass = nullptr;
        for (QAction* action : actions) {
            if (action->menu())
                types = action->menu();
            if (action->text() == QStringLiteral("Enabled"))
                enabled = action;
            if (action->text() == QStringLiteral("Bypass All"))
                bypass = action;
        }
        QVERIFY(types && enabled && bypass);
        QCOMPARE(types->actions().size(), 7);
        QCOMPARE(types->actions()[2]->text(), QStringLiteral("High Shelf"));
        QVERIFY(types->actions()[2]->isChecked());
        types->actions()[5]->trigger();
        QCOMPARE(eq.band(4).type, Type::Notch);

        // A switched-off band has no point to pick any more.
        const QPoint at = pointOf(eq, 4);
        enabled->toggle();
        QVERIFY(!eq.band(4).enabled);
        QCOMPARE(eq.pointToBand(at, ParametricEQWidget::graphRectFor(eq.size())), -1);
        bypass->toggle();
        QVERIFY(eq.isBypassed());
    }
};

QTEST_MAIN(ParametricEQWidgetTest)
#include "tst_ParametricEQWidget.moc"
