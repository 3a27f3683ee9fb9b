// Pictures of the effect and analysis dialogs with realistic content and the
// program's style sheet, written to <build>/screenshots/.

#include "TestSupport.h"
#include "app/StartUp.h"
#include "audio/AudioProcessor.h"
#include "dialogs/CompressorDialog.h"
#include "dialogs/EqualizerDialog.h"
#include "dialogs/FrequencyAnalyzerWidget.h"
#include "dialogs/ParametricEQWidget.h"
#include "dialogs/PitchCorrectionDialog.h"

#include <QDoubleSpinBox>
#include <QtTest/QtTest>
#include <QtWidgets>

#include <cmath>

namespace {

constexpr int Rate = 44100;

// A chord with a little noise: a spectrum with peaks and a floor.
QList<float> chord(double seconds)
{
    QList<float> out = TestSupport::sineWave(110.0, seconds, Rate, 0.3f);
    const double partials[] = {220.0, 330.0, 554.4, 880.0, 1760.0, 3520.0};
    float amplitude = 0.2f;
    for (double f : partials) {
        const QList<float> tone = TestSupport::sineWave(f, seconds, Rate, amplitude);
        for (qsizetype i = 0; i < out.size(); ++i)
            out[i] += tone[i];
        amplitude *= 0.6f;
    }
    quint32 seed = 99;
    for (float& v : out) {
        seed = seed * 1664525u + 1013904223u;
        v += (float(seed >> 8) / float(1 << 24) - 0.5f) * 0.02f;
    }
    return out;
}

// Sung notes, each a little off its pitch, with breaths between them.
QList<float> melody()
{
    QList<float> out(Rate / 5, 0.0f);
    for (double f : {450.0, 486.0, 396.0, 530.0, 438.0}) {
        QList<float> note = TestSupport::sineWave(f, 0.45, Rate, 0.45f);
        for (qsizetype i = 0; i < note.size(); ++i) // a gentle vibrato-free swell
            note[i] *= float(std::sin(M_PI * double(i) / double(note.size())));
        out += note;
        out += QList<float>(Rate / 10, 0.0f);
    }
    return out;
}

void save(QWidget& widget, const QString& name)
{
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCoreApplication::processEvents(); // layouts follow the last text changes
    QVERIFY(TestSupport::saveScreenshot(widget.grab(), name));
}

} // namespace

class DialogScreenshotsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
    }

    void equalizer()
    {
        AudioProcessor processor;
        processor.samples = chord(1.0);
        processor.sampleRate = Rate;
        processor.channels = 1;
        EqualizerDialog dialog(&processor, nullptr, nullptr);
        dialog.resize(960, 480);
        ParametricEQWidget* eq = dialog.curveEditor();
        eq->setBand(0, {true, 70, 5, 0.8f, ParametricEQWidget::LowShelf, QColor(255, 100, 100)});
        eq->setBand(1, {true, 320, -4.5f, 1.4f, ParametricEQWidget::Bell, QColor(255, 200, 50)});
        eq->setBand(2, {true, 1200, 3, 2.5f, ParametricEQWidget::Bell, QColor(100, 255, 100)});
        eq->setBand(3, {true, 5200, -8, 6, ParametricEQWidget::Notch, QColor(100, 200, 255)});
        eq->setBand(4, {true, 11000, 6, 0.7f, ParametricEQWidget::HighShelf, QColor(200, 100, 255)});
        // A spectrum as the analyser shows it after a while of the loop.
        FrequencyAnalysis& analysis = eq->analyzerWidget()->analyser();
        for (int tick = 0; tick < 24; ++tick) {
            analysis.feedStep();
            analysis.updateSpectrum();
        }
        QTest::mouseClick(eq, Qt::LeftButton, {}, eq->bandToPoint(2, ParametricEQWidget::graphRectFor(eq->size())).toPoint());
        save(dialog, QStringLiteral("equalizer-dialog.png"));
    }

    void compressor()
    {
        AudioProcessor processor;
        processor.samples = chord(0.5);
        processor.sampleRate = Rate;
        processor.channels = 1;
        CompressorDialog dialog(&processor, nullptr);
        const QList<QDoubleSpinBox*> spins = dialog.findChildren<QDoubleSpinBox*>();
        spins[0]->setValue(-18.0);
        spins[1]->setValue(4.0);
        spins[4]->setValue(4.5);
        save(dialog, QStringLiteral("compressor-dialog.png"));
    }

    void pitchCorrection()
    {
        PitchCorrectionDialog dialog(melody(), Rate, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Select the second note and move its target up a semitone.
        const PitchCorrectionSegment& second = dialog.session().noteSegments().at(1);
        const PitchRollGeometry& view = dialog.geometry();
        const double middle = dialog.session().frameTime((second.startFrame + second.endFrame) / 2);
        QTest::mouseClick(&dialog, Qt::LeftButton, {},
                          QPoint(view.secToX(middle),
                                 int(view.rowCentre(PitchCorrectionSession::frequencyToPitch(second.targetFreq)))));
        QTest::keyClick(&dialog, Qt::Key_Up);
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(view.secToX(0.5), 10));
        save(dialog, QStringLiteral("pitch-correction-dialog.png"));
    }
};

QTEST_MAIN(DialogScreenshotsTest)
#include "tst_DialogScreenshots.moc"
