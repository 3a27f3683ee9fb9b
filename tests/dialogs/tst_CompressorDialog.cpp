// The compressor dialog: previews never compound, an abandoned preview is
// undone, and the read-out shows the curve the compressor applies.

#include "TestSupport.h"
#include "audio/AudioProcessor.h"
#include "audio/CompressorCurve.h"
#include "dialogs/CompressorDialog.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest/QtTest>

#include <memory>

namespace {

constexpr int Rate = 44100;

// The spin boxes in parameter order: threshold, ratio, attack, release, makeup, knee.
QList<QDoubleSpinBox*> spins(QDialog& dialog)
{
    return dialog.findChildren<QDoubleSpinBox*>();
}

// The three read-outs: input, gain reduction, output.
QList<QLabel*> readouts(QDialog& dialog)
{
    QList<QLabel*> labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->styleSheet().contains(QStringLiteral("font-size: 18px")))
            labels << label;
    return labels;
}

std::unique_ptr<AudioProcessor> processorWith(const QList<float>& samples)
{
    auto processor = std::make_unique<AudioProcessor>();
    processor->samples = samples;
    processor->sampleRate = Rate;
    processor->channels = 1;
    return processor;
}

} // namespace

class CompressorDialogTest : public QObject {
    Q_OBJECT

private slots:
    void previewThenApplyCompressesOnce()
    {
        const QList<float> source = TestSupport::sineWave(220.0, 0.5, Rate, 0.9f);
        auto processor = processorWith(source);
        CompressorDialog dialog(processor.get(), nullptr);
        spins(dialog)[0]->setValue(-30.0);
        spins(dialog)[1]->setValue(6.0);
        spins(dialog)[4]->setValue(3.0);
        TestSupport::buttonWithText(dialog, QStringLiteral("预览"))->click();
        TestSupport::buttonWithText(dialog, QStringLiteral("预览"))->click();
        const QList<float> previewed = processor->samples;
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        TestSupport::buttonWithText(dialog, QStringLiteral("应用"))->click();
        QCOMPARE(accepted.count(), 1);

        auto direct = processorWith(source);
        direct->applyCompression(-30.0f, 6.0f, 10.0f, 100.0f, 3.0f, 6.0f);
        QCOMPARE(processor->samples, direct->samples);
        QCOMPARE(previewed, direct->samples);
        QVERIFY(direct->samples != source);
        // After a preview the output read-out is the measured peak of the result.
        QCOMPARE(readouts(dialog)[2]->text(),
                 QStringLiteral("%1 dB").arg(CompressorDialog::peakDb(previewed), 0, 'f', 1));
    }

    void abandonedPreviewIsUndone()
    {
        const QList<float> source = TestSupport::sineWave(220.0, 0.3, Rate, 0.9f);
        auto processor = processorWith(source);
        auto dialog = std::make_unique<CompressorDialog>(processor.get(), nullptr);
        TestSupport::buttonWithText(*dialog, QStringLiteral("预览"))->click();
        QVERIFY(processor->samples != source);
        TestSupport::buttonWithText(*dialog, QStringLiteral("取消"))->click();
        dialog.reset();
        QCOMPARE(processor->samples, source);
        QCOMPARE(processor->channels, 1);

        // Reset puts the source back at once, with the default parameters.
        dialog = std::make_unique<CompressorDialog>(processor.get(), nullptr);
        spins(*dialog)[1]->setValue(12.0);
        TestSupport::buttonWithText(*dialog, QStringLiteral("预览"))->click();
        TestSupport::buttonWithText(*dialog, QStringLiteral("重置"))->click();
        QCOMPARE(processor->samples, source);
        QCOMPARE(spins(*dialog)[1]->value(), 4.0);
    }

    void readoutFollowsTheAppliedCurve()
    {
        // A full-scale peak, threshold -20, ratio 4, hard knee: (-20 - 0) x 0.75.
        QList<float> peak = TestSupport::sineWave(100.0, 0.1, Rate, 0.5f);
        peak[100] = 1.0f;
        auto processor = processorWith(peak);
        CompressorDialog dialog(processor.get(), nullptr);
        spins(dialog)[5]->setValue(0.0);
        QList<QLabel*> labels = readouts(dialog);
        QCOMPARE(labels.size(), 3);
        QCOMPARE(labels[0]->text(), QStringLiteral("0.0 dB"));
        QCOMPARE(labels[1]->text(), QStringLiteral("-15.0 dB"));
        QVERIFY(labels[1]->styleSheet().contains(QStringLiteral("color: #ff7043")));
        QCOMPARE(labels[2]->text(), QStringLiteral("-15.0 dB"));

        // Inside the knee the shared soft-knee curve gives the figure.
        spins(dialog)[0]->setValue(-2.0);
        spins(dialog)[5]->setValue(10.0);
        const float expected = compressorGainReductionDb(0.0f, -2.0f, 4.0f, 10.0f);
        QCOMPARE(labels[1]->text(), QStringLiteral("%1 dB").arg(double(expected), 0, 'f', 1));
        spins(dialog)[1]->setValue(1.0); // no compression
        QCOMPARE(labels[1]->text(), QStringLiteral("0.0 dB"));
        QVERIFY(labels[1]->styleSheet().contains(QStringLiteral("color: #4fc3f7")));

        // Silence.
        auto silent = processorWith(QList<float>(4410, 0.0f));
        CompressorDialog quiet(silent.get(), nullptr);
        labels = readouts(quiet);
        QCOMPARE(labels[0]->text(), QStringLiteral("-96.0 dB"));
        QCOMPARE(labels[1]->text(), QStringLiteral("0.0 dB"));
    }

    void slidersFollowTheSpinBoxes()
    {
        auto processor = processorWith(QList<float>(100, 0.1f));
        CompressorDialog dialog(processor.get(), nullptr);
        QDoubleSpinBox* threshold = spins(dialog)[0];
        QSlider* slider = dialog.findChildren<QSlider*>()[0];
        QCOMPARE(slider->value(), -200);
        // 10 x -20.3 is -202.99999... in binary: the slider must not pull the value to -20.2.
        threshold->setValue(-20.3);
        QCOMPARE(threshold->value(), -20.3);
        QCOMPARE(slider->value(), -203);
        threshold->setValue(-7.25); // one decimal kept
        QCOMPARE(slider->value(), int(std::lround(threshold->value() * 10)));
        slider->setValue(-455);
        QCOMPARE(threshold->value(), -45.5);
    }

    void withoutAudio()
    {
        CompressorDialog dialog(nullptr, nullptr);
        for (QLabel* label : readouts(dialog))
            QCOMPARE(label->text(), QStringLiteral("-- dB"));
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        TestSupport::buttonWithText(dialog, QStringLiteral("应用"))->click();
        QCOMPARE(rejected.count(), 1);
    }
};

QTEST_MAIN(CompressorDialogTest)
#include "tst_CompressorDialog.moc"
