// The page's effect dialogs: refusals, preview, apply as one undoable step,
// cancel, the delay time and reverb presets, channel conversion, centre
// extraction, noise reduction and the results of the outside dialogs. Both
// lists stay in step: a stereo list is processed too or goes in the same step.

#include "TestSupport.h"
#include "audio/AudioProcessor.h"
#include "dialogs/CompressorDialog.h"
#include "dialogs/EqualizerDialog.h"
#include "dialogs/ParametricEQWidget.h"
#include "dialogs/PitchCorrectionDialog.h"
#include "dialogs/PitchCorrectionSession.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/StereoLists.h"
#include "editor/WaveformWidget.h"
#include "widgets/LoadingOverlay.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QStatusBar>
#include <QThreadPool>
#include <QTimer>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <cmath>

namespace {

constexpr int Rate = 8000;

QString status(const AudioEditorPage& page)
{
    return page.statusLine()->currentMessage();
}

QDialog* openDialog(const AudioEditorPage& page, const QString& title)
{
    for (QDialog* dialog : page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly))
        if (dialog->windowTitle() == title && dialog->isVisible())
            return dialog;
    return nullptr;
}

QPushButton* button(QDialog* dialog, const QString& text)
{
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QList<QDoubleSpinBox*> spins(QDialog* dialog)
{
    return dialog->findChildren<QDoubleSpinBox*>();
}

QList<float> scaled(const QList<float>& list, float factor)
{
    QList<float> result = list;
    for (float& v : result)
        v *= factor;
    return result;
}

void compareScaled(const QList<float>& actual, const QList<float>& original, double factor)
{
    QCOMPARE(actual.size(), original.size());
    for (int i = 0; i < actual.size(); ++i)
        QVERIFY2(std::abs(actual[i] - original[i] * factor) <= 1e-6 * (1.0 + std::abs(original[i])),
                 qPrintable(QString::number(i)));
}

QList<float> stereoTone()
{
    const QList<float> left = TestSupport::sineWave(440.0, 0.5, Rate, 0.6f);
    const QList<float> right = TestSupport::sineWave(660.0, 0.5, Rate, 0.3f);
    return StereoLists::interleave(left, right);
}

} // namespace

class TestAudioEditorPageEffects : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void refusedWithoutAudio_data();
    void refusedWithoutAudio();
    void gainSixDecibels();
    void gainOnStereoScalesBothLists();
    void gainPreviewThenCancel();
    void gainPreviewsApplyOnce();
    void historyStaysWithinItsBudget();
    void pitchAnalysisLeavesTheWindowLive();
    void delayTimeLabel_data();
    void delayTimeLabel();
    void delayOnStereoKeepsListsInStep();
    void reverbPresets();
    void reverbCancelAfterPreviewRestores();
    void centreExtraction_data();
    void centreExtraction();
    void centreExtractionOnMono();
    void noiseReductionNeedsSelection();
    void noiseReductionShortSelectionFails();
    void noiseReductionApplies();
    void channelConversion();
    void outsideDialogResults_data();
    void outsideDialogResults();
    void outsideDialogCancelPushesNothing();
    void acceptedDialogOutlivesItsApply_data();
    void acceptedDialogOutlivesItsApply();
    void pageGoesWithOutsideDialogsOpen_data();
    void pageGoesWithOutsideDialogsOpen();
    void resultRefusedOnceTheMaterialChanged_data();
    void resultRefusedOnceTheMaterialChanged();
    void previewEndsBeforeOtherWork_data();
    void previewEndsBeforeOtherWork();
    void backgroundSpectrogramLeavesInputAlone();
};

void TestAudioEditorPageEffects::initTestCase()
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/cdw-no-server");
}

void TestAudioEditorPageEffects::refusedWithoutAudio_data()
{
    QTest::addColumn<QString>("slot");
    for (const char* slot :
         {"showGainDialog", "showCenterExtractionDialog", "showNoiseReductionDialog",
          "showReverbDialog", "showDelayDialog", "showTempoDetectionDialog",
          "showPitchCorrectionDialog", "showChannelConvertDialog", "showCompressorDialog",
          "showEqualizerDialog"})
        QTest::newRow(slot) << QString::fromLatin1(slot);
}

void TestAudioEditorPageEffects::refusedWithoutAudio()
{
    QFETCH(QString, slot);
    AudioEditorPage page;
    QVERIFY(QMetaObject::invokeMethod(&page, slot.toLatin1().constData()));
    QCOMPARE(status(page), QStringLiteral("没有音频数据"));
    QVERIFY(page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly).isEmpty());
}

void TestAudioEditorPageEffects::gainSixDecibels()
{
    AudioEditorPage page;
    const QList<float> tone = TestSupport::sineWave(440.0, 0.25, Rate, 0.4f);
    page.loadAudioSamples(tone, Rate);
    page.showGainDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("增益调整"));
    QVERIFY(dialog);
    QCOMPARE(spins(dialog).size(), 1);
    QDoubleSpinBox* gain = spins(dialog).first();
    QCOMPARE(gain->minimum(), -24.0);
    QCOMPARE(gain->maximum(), 24.0);
    QCOMPARE(gain->value(), 0.0);
    gain->setValue(6.0);
    button(dialog, QStringLiteral("应用"))->click();

    compareScaled(page.samples, tone, 1.9952623);
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("增益"));
    QCOMPARE(status(page), QStringLiteral("已应用增益: 6.0 dB"));
    page.undoStack->undo();
    QCOMPARE(page.samples, tone);

    // 0 dB is a factor of exactly 1 and still one step.
    page.showGainDialog();
    button(openDialog(page, QStringLiteral("增益调整")), QStringLiteral("应用"))->click();
    QCOMPARE(page.samples, tone);
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->index(), 1);
}

void TestAudioEditorPageEffects::gainOnStereoScalesBothLists()
{
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> mono = page.samples;
    page.showGainDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("增益调整"));
    spins(dialog).first()->setValue(-12.0);
    dialog->accept();
    compareScaled(page.samples, mono, std::pow(10.0, -12.0 / 20.0));
    compareScaled(page.stereoSamples, stereo, std::pow(10.0, -12.0 / 20.0));
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples, stereo);

    // Results stay within +48 dBFS, however often an effect raises them.
    page.loadStereoAudioSamples({200.0f, -100.0f}, Rate);
    page.showGainDialog();
    dialog = openDialog(page, QStringLiteral("增益调整"));
    spins(dialog).first()->setValue(24.0);
    dialog->accept();
    QCOMPARE(page.stereoSamples, (QList<float>{256.0f, -256.0f}));
}

void TestAudioEditorPageEffects::historyStaysWithinItsBudget()
{
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    const qint64 stepBytes = (page.samples.size() + stereo.size()) * qint64(sizeof(float));
    page.setHistoryBudget(2 * stepBytes + stepBytes / 2); // room for two whole-list steps
    QList<QList<float>> monoStates{page.samples}, stereoStates{page.stereoSamples};
    const auto applyGain = [&](int times) {
        for (int i = 0; i < times; ++i) {
            page.showGainDialog();
            QDialog* dialog = openDialog(page, QStringLiteral("增益调整"));
            spins(dialog).first()->setValue(-1.0);
            dialog->accept();
            monoStates << page.samples;
            stereoStates << page.stereoSamples;
        }
    };
    const QString dropped = QStringLiteral("撤销历史超出内存上限，最早的撤销步骤已被丢弃");
    applyGain(3);
    QCOMPARE(page.undoStack->count(), 2);
    QTRY_COMPARE(status(page), dropped);
    applyGain(1); // said once only
    QTest::qWait(10);
    QCOMPARE(status(page), QStringLiteral("已应用增益: -1.0 dB"));

    // The steps kept give back exactly the states they were made from.
    page.undoStack->undo();
    page.undoStack->undo();
    QVERIFY(!page.undoStack->canUndo());
    QCOMPARE(page.samples, monoStates[monoStates.size() - 3]);
    QCOMPARE(page.stereoSamples, stereoStates[stereoStates.size() - 3]);
    page.undoStack->redo();
    page.undoStack->redo();
    QCOMPARE(page.samples, monoStates.last());
    QCOMPARE(page.stereoSamples, stereoStates.last());

    page.startNewHistory(); // a new history reports again
    page.loadStereoAudioSamples(stereo, Rate);
    applyGain(3);
    QTRY_COMPARE(status(page), dropped);
}

void TestAudioEditorPageEffects::pitchAnalysisLeavesTheWindowLive()
{
    AudioEditorPage page;
    page.resize(800, 500);
    page.show();
    page.loadAudioSamples(TestSupport::sineWave(220.0, 60.0, Rate, 0.5f), Rate);
    auto* overlay = page.findChild<LoadingOverlay*>();
    QVERIFY(overlay);
    // Timers run while the analysis does, with the overlay turning.
    QSet<int> angles;
    QTimer probe;
    probe.setInterval(5);
    connect(&probe, &QTimer::timeout, this, [&] {
        if (overlay->isVisible() && overlay->message() == QStringLiteral("分析音高..."))
            angles.insert(overlay->angle());
    });
    probe.start();
    page.showPitchCorrectionDialog();
    probe.stop();
    QVERIFY2(angles.size() > 1, qPrintable(QString::number(angles.size())));
    QVERIFY(!overlay->isVisible());
    auto* dialog = page.findChild<PitchCorrectionDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    const PitchCorrectionSession inPlace(page.samples, Rate);
    QCOMPARE(dialog->session().noteSegments().size(), inPlace.noteSegments().size());
    QCOMPARE(dialog->session().noteSegments().front().avgFreq,
             inPlace.noteSegments().front().avgFreq);
}

void TestAudioEditorPageEffects::gainPreviewThenCancel()
{
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> mono = page.samples;
    page.showGainDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("增益调整"));
    spins(dialog).first()->setValue(6.0);
    button(dialog, QStringLiteral("预览"))->click();
    QCOMPARE(status(page), QStringLiteral("预览增益: 6.0 dB"));
    compareScaled(page.samples, mono, 1.9952623);
    QCOMPARE(page.undoStack->count(), 0);
    button(dialog, QStringLiteral("取消"))->click();
    QCOMPARE(page.samples, mono);
    QCOMPARE(page.stereoSamples, stereo);
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(page.waveform(0)->getDuration(), 0.5);
}

void TestAudioEditorPageEffects::gainPreviewsApplyOnce()
{
    AudioEditorPage page;
    const QList<float> tone = TestSupport::sineWave(300.0, 0.25, Rate, 0.5f);
    page.loadAudioSamples(tone, Rate);
    page.showGainDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("增益调整"));
    QDoubleSpinBox* gain = spins(dialog).first();
    gain->setValue(6.0);
    button(dialog, QStringLiteral("预览"))->click();
    gain->setValue(-6.0);
    button(dialog, QStringLiteral("预览"))->click();
    button(dialog, QStringLiteral("应用"))->click();
    compareScaled(page.samples, tone, std::pow(10.0, -6.0 / 20.0));
    QCOMPARE(page.undoStack->count(), 1);
    page.undoStack->undo();
    QCOMPARE(page.samples, tone);
}

void TestAudioEditorPageEffects::delayTimeLabel_data()
{
    QTest::addColumn<double>("bpm");
    QTest::addColumn<int>("noteIndex");
    QTest::addColumn<int>("milliseconds");
    QTest::newRow("120 1/4") << 120.0 << 3 << 500;
    QTest::newRow("120 1/4 dot") << 120.0 << 4 << 750;
    QTest::newRow("120 1/4 T") << 120.0 << 7 << 333;
    QTest::newRow("120 1/8 T") << 120.0 << 8 << 166;
    QTest::newRow("300 1/16") << 300.0 << 9 << 50;
    QTest::newRow("20 1/1") << 20.0 << 0 << 12000;
}

void TestAudioEditorPageEffects::delayTimeLabel()
{
    QFETCH(double, bpm);
    QFETCH(int, noteIndex);
    QFETCH(int, milliseconds);
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 0.1, Rate), Rate);
    page.showDelayDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("延迟"));
    QVERIFY(dialog);
    QLabel* label = nullptr;
    for (QLabel* l : dialog->findChildren<QLabel*>())
        if (l->text().startsWith(QStringLiteral("延迟时间")))
            label = l;
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("延迟时间: 750 ms"));
    auto* note = dialog->findChild<QComboBox*>();
    QCOMPARE(note->count(), 10);
    QCOMPARE(note->currentText(), QStringLiteral("四分附点 (1/4 dot)"));
    spins(dialog)[0]->setValue(bpm);
    note->setCurrentIndex(noteIndex);
    QCOMPARE(label->text(), QStringLiteral("延迟时间: %1 ms").arg(milliseconds));
    QCOMPARE(AudioEditorPage::delayTimeMs(bpm, note->currentData().toDouble()), milliseconds);
}

void TestAudioEditorPageEffects::delayOnStereoKeepsListsInStep()
{
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    page.showDelayDialog();
    openDialog(page, QStringLiteral("延迟"))->accept();
    QCOMPARE(status(page), QStringLiteral("已应用延迟"));
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("延迟"));
    QCOMPARE(page.stereoSamples.size(), 2 * page.samples.size());
    QVERIFY(page.stereoSamples != stereo);
    QCOMPARE(page.samples, StereoLists::mixToMono(page.stereoSamples));
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples, stereo);
}

void TestAudioEditorPageEffects::reverbPresets()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 0.1, Rate), Rate);
    page.showReverbDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("混响"));
    QVERIFY(dialog);
    const auto values = [&] {
        QList<double> v;
        for (QDoubleSpinBox* s : spins(dialog))
            v << s->value();
        return v;
    };
    QCOMPARE(values(), (QList<double>{10, 0.40, 0.60, 0.40, 0.30}));
    spins(dialog)[4]->setValue(0.55);
    dialog->findChild<QComboBox*>()->setCurrentIndex(1);
    QCOMPARE(dialog->findChild<QComboBox*>()->currentText(), QStringLiteral("大厅 (Hall)"));
    QCOMPARE(values(), (QList<double>{30, 0.80, 0.40, 0.70, 0.55}));
}

void TestAudioEditorPageEffects::reverbCancelAfterPreviewRestores()
{
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> mono = page.samples;
    page.showReverbDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("混响"));
    button(dialog, QStringLiteral("预览"))->click();
    QCOMPARE(status(page), QStringLiteral("预览混响"));
    QVERIFY(page.samples != mono);
    dialog->close(); // the window's close button rejects
    QCOMPARE(page.samples, mono);
    QCOMPARE(page.stereoSamples, stereo);
    QCOMPARE(page.undoStack->count(), 0);
}

void TestAudioEditorPageEffects::centreExtraction_data()
{
    QTest::addColumn<double>("centre");
    QTest::addColumn<double>("side");
    QTest::addColumn<float>("sideSign"); // mono = (L + sign * R) / 2
    QTest::newRow("centre") << 1.0 << 0.0 << 1.0f;
    QTest::newRow("side") << 0.0 << 1.0 << -1.0f;
}

void TestAudioEditorPageEffects::centreExtraction()
{
    QFETCH(double, centre);
    QFETCH(double, side);
    QFETCH(float, sideSign);
    AudioEditorPage page;
    const QList<float> stereo = stereoTone();
    page.loadStereoAudioSamples(stereo, Rate);
    page.showCenterExtractionDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("中置声道提取"));
    QVERIFY(dialog);
    spins(dialog)[0]->setValue(centre);
    spins(dialog)[1]->setValue(side);
    button(dialog, QStringLiteral("应用"))->click();
    QCOMPARE(page.samples.size(), stereo.size() / 2);
    for (int i = 0; i < page.samples.size(); ++i)
        QVERIFY(std::abs(page.samples[i] - (stereo[2 * i] + sideSign * stereo[2 * i + 1]) * 0.5f)
                < 1e-6f);
    // One mono result: the stereo list goes in the same step.
    QVERIFY(page.stereoSamples.isEmpty());
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(status(page), QStringLiteral("已应用中置声道提取 (中置=%1, 侧置=%2)")
                               .arg(centre, 0, 'f', 2)
                               .arg(side, 0, 'f', 2));
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples, stereo);
}

void TestAudioEditorPageEffects::centreExtractionOnMono()
{
    AudioEditorPage page;
    const QList<float> tone = TestSupport::sineWave(440.0, 0.2, Rate);
    page.loadAudioSamples(tone, Rate);
    page.showCenterExtractionDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("中置声道提取"));
    QRadioButton* subtract = nullptr;
    for (QRadioButton* radio : dialog->findChildren<QRadioButton*>())
        if (radio->text() == QStringLiteral("频谱减法去伴奏"))
            subtract = radio;
    QVERIFY(subtract && !subtract->isEnabled());
    QCOMPARE(subtract->toolTip(), QStringLiteral("频谱减法需要立体声音频"));
    spins(dialog)[0]->setValue(0.5);
    dialog->accept();
    QCOMPARE(page.samples, scaled(tone, 0.5f));
}

void TestAudioEditorPageEffects::noiseReductionNeedsSelection()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 0.5, Rate), Rate);
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle();
            box->accept();
        }
    });
    page.showNoiseReductionDialog();
    QCOMPARE(shown, QStringLiteral("降噪"));
    QVERIFY(!openDialog(page, QStringLiteral("降噪")));
}

namespace {

// Noise of amplitude 0.1 over 10 s at 44100 Hz with a tone after 2 s; the
// waveform is 1000 px wide, so x pixels is x / 100 seconds.
void prepareNoisyPage(AudioEditorPage& page)
{
    constexpr int rate = 44100;
    QList<float> list(10 * rate);
    QRandomGenerator random(7);
    for (int i = 0; i < list.size(); ++i) {
        list[i] = float(random.generateDouble() * 0.2 - 0.1);
        if (i >= 2 * rate)
            list[i] += 0.5f * float(std::sin(2.0 * M_PI * 440.0 * i / rate));
    }
    page.resize(1300, 600);
    page.waveform(0)->setFixedWidth(1000);
    page.show();
    page.loadAudioSamples(list, rate);
}

double rms(const QList<float>& list, int first, int last)
{
    double sum = 0.0;
    for (int i = first; i < last; ++i)
        sum += double(list[i]) * list[i];
    return std::sqrt(sum / (last - first));
}

void select(WaveformWidget* view, int x1, int x2)
{
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x1, 50));
    QTest::mouseMove(view, QPoint(x2, 50));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x2, 50));
}

} // namespace

void TestAudioEditorPageEffects::noiseReductionShortSelectionFails()
{
    AudioEditorPage page;
    prepareNoisyPage(page);
    QCOMPARE(page.waveform(0)->width(), 1000);
    // 0.03 s = 1323 samples: too short for a 2048-point noise profile.
    select(page.waveform(0), 50, 53);
    page.showNoiseReductionDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("降噪"));
    QVERIFY(dialog);
    const QList<float> before = page.samples;
    button(dialog, QStringLiteral("应用"))->click();
    QVERIFY(status(page).startsWith(QStringLiteral("降噪失败")));
    QVERIFY(!status(page).contains(QStringLiteral("降噪完成")));
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(page.samples, before);
}

void TestAudioEditorPageEffects::noiseReductionApplies()
{
    AudioEditorPage page;
    prepareNoisyPage(page);
    select(page.waveform(0), 100, 150);
    page.showNoiseReductionDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("降噪"));
    QVERIFY(dialog);
    bool labelFound = false;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        labelFound |= label->text() == QStringLiteral("噪声样本: 1.000 - 1.500 秒 (22050 个采样点)");
    QVERIFY(labelFound);
    // The first frames are left out: the overlap-add there rests on one frame.
    const double noiseBefore = rms(page.samples, 4410, 88200);
    dialog->findChild<QSlider*>()->setValue(90);
    button(dialog, QStringLiteral("应用"))->click();
    QCOMPARE(status(page), QStringLiteral("降噪完成，强度: 90%"));
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("降噪"));
    QVERIFY(rms(page.samples, 4410, 88200) < 0.7 * noiseBefore);
}

void TestAudioEditorPageEffects::channelConversion()
{
    AudioEditorPage page;
    const QList<float> tone = TestSupport::sineWave(440.0, 0.2, Rate);
    page.loadAudioSamples(tone, Rate);
    page.showChannelConvertDialog();
    QDialog* dialog = openDialog(page, QStringLiteral("声道转换"));
    button(dialog, QStringLiteral("转为立体声"))->click();
    QCOMPARE(page.stereoSamples.size(), 2 * tone.size());
    for (int i = 0; i < tone.size(); ++i) {
        QCOMPARE(page.stereoSamples[2 * i], tone[i]);
        QCOMPARE(page.stereoSamples[2 * i + 1], tone[i]);
    }
    QCOMPARE(page.forceMono, 0);
    QCOMPARE(status(page), QStringLiteral("已转为立体声"));

    page.showChannelConvertDialog();
    dialog = openDialog(page, QStringLiteral("声道转换"));
    button(dialog, QStringLiteral("转为单声道"))->click();
    QVERIFY(page.stereoSamples.isEmpty());
    QCOMPARE(page.samples, tone);
    QCOMPARE(page.forceMono, 1);
    QCOMPARE(status(page), QStringLiteral("已转为单声道"));
    // The flag goes with the lists, so an export after undo or redo matches
    // what the page shows.
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples.size(), 2 * tone.size());
    QCOMPARE(page.forceMono, 0);
    page.undoStack->redo();
    QVERIFY(page.stereoSamples.isEmpty());
    QCOMPARE(page.forceMono, 1);

    // Cancelling converts nothing.
    page.showChannelConvertDialog();
    button(openDialog(page, QStringLiteral("声道转换")), QStringLiteral("取消"))->click();
    QCOMPARE(page.undoStack->count(), 2);

    // New material starts without the flag, whichever loader brings it.
    page.loadStereoAudioSamples(StereoLists::duplicate(tone), Rate);
    QCOMPARE(page.forceMono, 0);
    page.forceMono = 1;
    page.loadAudioSamples(tone, Rate);
    QCOMPARE(page.forceMono, 0);

    // A centre extraction previewed as mono is not the material: the
    // conversion still makes mono of the stereo original.
    page.loadStereoAudioSamples(stereoTone(), Rate);
    const QList<float> mix = page.samples;
    page.showCenterExtractionDialog();
    QPointer<QDialog> centre = openDialog(page, QStringLiteral("中置声道提取"));
    button(centre, QStringLiteral("预览"))->click();
    page.showChannelConvertDialog();
    QPushButton* toMono = button(openDialog(page, QStringLiteral("声道转换")), QStringLiteral("转为单声道"));
    QVERIFY(toMono);
    toMono->click();
    QVERIFY(page.samples == mix && page.stereoSamples.isEmpty());
    button(centre, QStringLiteral("取消"))->click();
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples, stereoTone());
}

void TestAudioEditorPageEffects::outsideDialogResults_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("pitch") << "showPitchCorrectionDialog" << "音高修正" << "音高修正"
                           << "已应用音高修正";
    QTest::newRow("compressor") << "showCompressorDialog" << "动态压缩器" << "压缩器"
                                << "已应用压缩器效果";
    QTest::newRow("equaliser") << "showEqualizerDialog" << "参数均衡器 (Parametric EQ)"
                               << "均衡器" << "已应用均衡器效果";
}

void TestAudioEditorPageEffects::outsideDialogResults()
{
    QFETCH(QString, slot);
    QFETCH(QString, title);
    QFETCH(QString, command);
    QFETCH(QString, message);
    AudioEditorPage page;
    // A loud tone left, a quiet one an octave up right: different channels
    // whose mix still has one clear pitch, 450 Hz, for the pitch correction.
    const QList<float> left = TestSupport::sineWave(450.0, 0.5, Rate, 0.8f);
    const QList<float> right = TestSupport::sineWave(900.0, 0.5, Rate, 0.1f);
    const QList<float> stereo = StereoLists::interleave(left, right);
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> mono = page.samples;
    QVERIFY(!page.audioEngine()); // the equaliser gets a null engine
    QVERIFY(QMetaObject::invokeMethod(&page, slot.toLatin1().constData()));
    QDialog* dialog = openDialog(page, title);
    QVERIFY(dialog);

    // What the dialog's settings do to one channel on its own, computed
    // without the dialog.
    std::function<QList<float>(const QList<float>&)> alone;
    auto throughProcessor = [](const QList<float>& channel, auto operation) {
        AudioProcessor processor;
        processor.sampleRate = Rate;
        processor.channels = 1;
        processor.samples = channel;
        operation(processor);
        return processor.samples;
    };
    if (auto* eq = qobject_cast<EqualizerDialog*>(dialog)) {
        eq->curveEditor()->setBandGain(2, 9.0f);
        eq->curveEditor()->setBandFrequency(2, 900.0f);
        alone = [=](const QList<float>& channel) {
            return throughProcessor(channel, [eq](AudioProcessor& p) {
                float f[5], g[5], q[5];
                int t[5];
                bool on[5];
                for (int i = 0; i < 5; ++i) {
                    const ParametricEQWidget::EQBand b = eq->curveEditor()->band(i);
                    f[i] = b.frequency, g[i] = b.gain, q[i] = b.q, t[i] = int(b.type);
                    on[i] = b.enabled;
                }
                p.applyParametricEQ(f, g, q, t, on, 5);
            });
        };
    } else if (qobject_cast<CompressorDialog*>(dialog)) {
        spins(dialog)[0]->setValue(-30.0); // threshold
        spins(dialog)[1]->setValue(8.0);   // ratio
        alone = [=](const QList<float>& channel) {
            return throughProcessor(channel, [](AudioProcessor& p) {
                p.applyCompression(-30.0f, 8.0f, 10.0f, 100.0f, 0.0f, 6.0f);
            });
        };
    } else {
        // The segments and targets found on the mono list, applied to the channel.
        const PitchCorrectionSession session(mono, Rate);
        QCOMPARE(session.noteSegments().size(), size_t(1));
        alone = [=](const QList<float>& channel) { return session.corrected(channel); };
    }
    const QList<float> expectedLeft = alone(left);
    const QList<float> expectedRight = alone(right);
    QVERIFY(expectedLeft != left && expectedRight != right); // the settings do change the audio

    button(dialog, QStringLiteral("应用"))->click();
    const StereoLists::Channels channels = StereoLists::split(page.stereoSamples);
    QCOMPARE(channels.left, expectedLeft);
    QCOMPARE(channels.right, expectedRight);
    QCOMPARE(page.samples, StereoLists::mixToMono(page.stereoSamples));
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->undoText(), command);
    QCOMPARE(status(page), message);
    page.undoStack->undo();
    QCOMPARE(page.samples, mono);
    QCOMPARE(page.stereoSamples, stereo);
}

void TestAudioEditorPageEffects::outsideDialogCancelPushesNothing()
{
    AudioEditorPage page;
    const QList<float> tone = TestSupport::sineWave(440.0, 0.2, Rate);
    page.loadAudioSamples(tone, Rate);
    page.showCompressorDialog();
    button(openDialog(page, QStringLiteral("动态压缩器")), QStringLiteral("取消"))->click();
    page.showEqualizerDialog();
    button(openDialog(page, QStringLiteral("参数均衡器 (Parametric EQ)")), QStringLiteral("取消"))
        ->click();
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(page.samples, tone);
}

void TestAudioEditorPageEffects::acceptedDialogOutlivesItsApply_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("applyText");
    QTest::newRow("gain") << "showGainDialog" << "增益调整" << "应用";
    QTest::newRow("centre") << "showCenterExtractionDialog" << "中置声道提取" << "应用";
    QTest::newRow("reverb") << "showReverbDialog" << "混响" << "应用";
    QTest::newRow("delay") << "showDelayDialog" << "延迟" << "应用";
    QTest::newRow("channels") << "showChannelConvertDialog" << "声道转换" << "转为单声道";
    QTest::newRow("pitch") << "showPitchCorrectionDialog" << "音高修正" << "应用";
    QTest::newRow("compressor") << "showCompressorDialog" << "动态压缩器" << "应用";
    QTest::newRow("equaliser") << "showEqualizerDialog" << "参数均衡器 (Parametric EQ)" << "应用";
}

void TestAudioEditorPageEffects::acceptedDialogOutlivesItsApply()
{
    // Applying from a click in the running event loop, as a user does: the
    // busy overlay lets events run inside the apply, and the dialog, which
    // QDialog still signals on afterwards, must not be deleted meanwhile.
    QFETCH(QString, slot);
    QFETCH(QString, title);
    QFETCH(QString, applyText);
    AudioEditorPage page;
    page.show();
    page.loadStereoAudioSamples(stereoTone(), Rate);
    QVERIFY(QMetaObject::invokeMethod(&page, slot.toLatin1().constData()));
    QPointer<QDialog> dialog = openDialog(page, title);
    QVERIFY(dialog);
    bool applying = false;
    bool deletedWhileApplying = false;
    connect(dialog, &QObject::destroyed, &page, [&] { deletedWhileApplying |= applying; });
    QPushButton* apply = button(dialog, applyText);
    QVERIFY(apply);
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        applying = true;
        apply->click();
        applying = false;
        loop.quit();
    });
    loop.exec();
    QVERIFY(!deletedWhileApplying);
    QCOMPARE(page.undoStack->count(), 1);
    QTRY_VERIFY(dialog.isNull()); // still deleted once closed
}

void TestAudioEditorPageEffects::pageGoesWithOutsideDialogsOpen_data()
{
    outsideDialogResults_data();
}

void TestAudioEditorPageEffects::pageGoesWithOutsideDialogsOpen()
{
    // A preview left running when the page goes: the sanitizers catch a
    // write into a processor deleted before the dialog.
    QFETCH(QString, slot);
    QFETCH(QString, title);
    auto* page = new AudioEditorPage;
    page->loadStereoAudioSamples(stereoTone(), Rate);
    QVERIFY(QMetaObject::invokeMethod(page, slot.toLatin1().constData()));
    QPointer<QDialog> dialog = openDialog(*page, title);
    QVERIFY(dialog);
    if (QPushButton* preview = button(dialog, QStringLiteral("预览")))
        preview->click();
    delete page;
    QVERIFY(dialog.isNull());
}

void TestAudioEditorPageEffects::resultRefusedOnceTheMaterialChanged_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QString>("change");
    const char* dialogs[][3] = {{"showPitchCorrectionDialog", "音高修正", "音高修正"},
                                {"showCompressorDialog", "动态压缩器", "压缩器"},
                                {"showEqualizerDialog", "参数均衡器 (Parametric EQ)", "均衡器"}};
    for (const auto& dialog : dialogs)
        for (const char* change : {"import", "edit", "undo", "undone and redone"})
            QTest::addRow("%s, %s", dialog[0], change)
                << dialog[0] << dialog[1] << dialog[2] << change;
}

void TestAudioEditorPageEffects::resultRefusedOnceTheMaterialChanged()
{
    // A modeless dialog's result replaces the material it copied, never
    // what the page holds meanwhile. Refused, the dialog stays open with its
    // settings and says why; back on its material, it applies.
    QFETCH(QString, slot);
    QFETCH(QString, title);
    QFETCH(QString, effect);
    QFETCH(QString, change);
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(450.0, 0.5, Rate, 0.8f), Rate);
    page.showGainDialog(); // one edit to undo or redo
    QDialog* gain = openDialog(page, QStringLiteral("增益调整"));
    spins(gain)[0]->setValue(-6.0);
    button(gain, QStringLiteral("应用"))->click();
    QCOMPARE(page.undoStack->count(), 1);

    QVERIFY(QMetaObject::invokeMethod(&page, slot.toLatin1().constData()));
    QPointer<QDialog> dialog = openDialog(page, title);
    QVERIFY(dialog);
    auto* eq = qobject_cast<EqualizerDialog*>(dialog.data());
    const auto setting = [&]() -> double {
        if (eq)
            return eq->curveEditor()->band(2).gain;
        if (qobject_cast<CompressorDialog*>(dialog.data()))
            return spins(dialog)[0]->value();
        return dialog->findChild<QSlider*>()->value(); // the correction strength
    };
    if (eq)
        eq->curveEditor()->setBandGain(2, 9.0f);
    else if (qobject_cast<CompressorDialog*>(dialog.data()))
        spins(dialog)[0]->setValue(-30.0);
    else
        dialog->findChild<QSlider*>()->setValue(60);
    const double chosen = setting();

    const bool refused = change != QStringLiteral("undone and redone");
    if (change == QStringLiteral("import")) {
        page.loadAudioSamples(TestSupport::sineWave(300.0, 0.3, 2 * Rate, 0.5f), 2 * Rate);
    } else if (change == QStringLiteral("edit")) {
        page.showGainDialog();
        QDialog* again = openDialog(page, QStringLiteral("增益调整"));
        spins(again)[0]->setValue(3.0);
        button(again, QStringLiteral("应用"))->click();
    } else {
        page.undoStack->undo();
        if (!refused)
            page.undoStack->redo();
    }
    QList<float> held = page.samples;
    const int commands = page.undoStack->count();
    button(dialog, QStringLiteral("应用"))->click();
    QCOMPARE(page.samples == held, refused);
    QCOMPARE(page.undoStack->count(), commands + (refused ? 0 : 1));
    if (refused) {
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(setting(), chosen);
        auto* box = dialog->findChild<QMessageBox*>();
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->text(), QStringLiteral("音频已在%1打开后更改，未应用").arg(effect));
        box->close();
        if (change == QStringLiteral("import")) {
            button(dialog, QStringLiteral("取消"))->click();
        } else {
            if (change == QStringLiteral("edit"))
                page.undoStack->undo();
            else
                page.undoStack->redo();
            held = page.samples;
            const int step = page.undoStack->index();
            button(dialog, QStringLiteral("应用"))->click();
            QVERIFY(page.samples != held);
            QCOMPARE(page.undoStack->index(), step + 1);
            QCOMPARE(page.undoStack->undoText(), effect);
        }
    }
    QTRY_VERIFY(dialog.isNull());
}

void TestAudioEditorPageEffects::previewEndsBeforeOtherWork_data()
{
    QTest::addColumn<QString>("work"); // keys, or the title of the dialog to use
    QTest::addColumn<QString>("slot");
    const char* rows[][2] = {{"Delete", ""}, {"Ctrl+Z", ""}, {"erase", ""}, {"录制", "onRecordClicked"},
                             {"混响", "showReverbDialog"}, {"动态压缩器", "showCompressorDialog"},
                             {"延迟", "showDelayDialog"}};
    for (const auto& row : rows)
        QTest::newRow(row[1][0] ? row[1] : row[0]) << QString::fromUtf8(row[0]) << QString::fromLatin1(row[1]);
}

void TestAudioEditorPageEffects::previewEndsBeforeOtherWork()
{
    // Work done (or a take started) while gain +12 dB is previewed acts as on
    // a page without the preview; the gain dialog's cancel then changes nothing.
    QFETCH(QString, work);
    QFETCH(QString, slot);
    AudioEditorPage page, plain;
    QPointer<QDialog> gain;
    for (AudioEditorPage* p : {&page, &plain}) {
        p->resize(1000, 600);
        p->show();
        p->loadStereoAudioSamples(stereoTone(), Rate);
        select(p->waveform(0), 100, 200);
        QTest::keyClick(p, Qt::Key_Delete); // a step to undo
        if (p == &page) {
            page.showGainDialog();
            gain = openDialog(page, QStringLiteral("增益调整"));
            spins(gain)[0]->setValue(12.0);
            button(gain, QStringLiteral("预览"))->click();
        }
        select(p->waveform(0), 300, 450);
        p->findChild<QComboBox*>()->setCurrentIndex(1);
        if (work == QStringLiteral("erase"))
            p->spectrum(0)->applySpectralErase(0.1, 0.3, 300.0f, 800.0f, 1.0f);
        else if (slot.isEmpty())
            QTest::keySequence(p, QKeySequence(work));
        else if (QMetaObject::invokeMethod(p, slot.toLatin1().constData()) && openDialog(*p, work))
            button(openDialog(*p, work), work == QStringLiteral("延迟") ? "预览" : "应用")->click();
    }
    QCOMPARE(page.stereoSamples, plain.stereoSamples);
    QVERIFY2(!status(page).startsWith(QStringLiteral("预览增益")), qPrintable(status(page)));
    button(gain, QStringLiteral("取消"))->click();
    QCOMPARE(page.stereoSamples, plain.stereoSamples);
}

void TestAudioEditorPageEffects::backgroundSpectrogramLeavesInputAlone()
{
    // A background spectrogram job leaves input alone, unless it ends inside a wait.
    AudioEditorPage page;
    page.show();
    page.loadAudioSamples(TestSupport::sineWave(440.0, 50.0, 44100), 44100);
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    QLineEdit elsewhere;
    QThreadPool::globalInstance()->waitForDone(); // its result waits for the event loop
    page.showLoading(QStringLiteral("应用增益..."));
    QTest::keyClick(&elsewhere, Qt::Key_A);
    page.hideLoading();
    page.showGainDialog();
    button(openDialog(page, QStringLiteral("增益调整")), QStringLiteral("应用"))->click();
    QVERIFY(page.spectrum(0)->isComputingInBackground());
    QTest::keyClick(&elsewhere, Qt::Key_B);
    QCOMPARE(elsewhere.text(), QStringLiteral("b"));
}

QTEST_MAIN(TestAudioEditorPageEffects)
#include "tst_AudioEditorPageEffects.moc"
