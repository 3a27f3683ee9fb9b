// The tempo measurement dialog: its texts for a result and for audio too
// short to measure, a real measurement on a click track, and closing the
// dialog before the measurement ends.

#include "TestSupport.h"
#include "editor/AudioEditorPage.h"
#include "editor/TempoDetectionDialog.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QUndoStack>
#include <QtTest/QtTest>

namespace {

TempoDetectionDialog* openTempoDialog(AudioEditorPage& page)
{
    page.showTempoDetectionDialog();
    return page.findChild<TempoDetectionDialog*>();
}

// Short 1 kHz bursts every 60 / bpm seconds.
QList<float> clickTrack(double bpm, double seconds, int rate)
{
    QList<float> list(int(seconds * rate), 0.0f);
    const int period = int(60.0 / bpm * rate);
    for (int start = 0; start < list.size(); start += period)
        for (int i = 0; i < rate / 100 && start + i < list.size(); ++i)
            list[start + i] = 0.8f * float(std::sin(2.0 * M_PI * 1000.0 * i / rate));
    return list;
}

} // namespace

class TestTempoDialog : public QObject {
    Q_OBJECT

private slots:
    void resultTexts();
    void tooShortAudio();
    void measuresClickTrack();
    void closingEarlyIsSafe();
    void opensCentredOnTheWindow();
};

void TestTempoDialog::resultTexts()
{
    TempoDetectionDialog dialog({}, 44100, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("音频速度检测 (BPM)"));
    AudioProcessor::TempoResult result;
    result.bpm = 128.04;
    result.confidence = 0.8731;
    result.success = true;
    dialog.showResult(result);
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("检测完成"));
    QCOMPARE(dialog.tempoLabel()->text(), QStringLiteral("128.0 BPM"));
    QCOMPARE(dialog.detailLabel()->text(), QStringLiteral("置信度: 87.3%"));
    QThreadPool::globalInstance()->waitForDone();
}

void TestTempoDialog::tooShortAudio()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 0.5, 44100), 44100);
    TempoDetectionDialog* dialog = openTempoDialog(page);
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->tempoLabel()->text(), QStringLiteral("-- BPM"));
    QTRY_COMPARE(dialog->statusLabel()->text(), QStringLiteral("检测失败"));
    QCOMPARE(dialog->tempoLabel()->text(), QStringLiteral("-- BPM"));
    QCOMPARE(dialog->detailLabel()->text(), QStringLiteral("音频太短（至少需要 1 秒）"));
    QCOMPARE(page.undoStack->count(), 0);
}

void TestTempoDialog::measuresClickTrack()
{
    AudioEditorPage page;
    const int rate = 22050;
    page.loadAudioSamples(clickTrack(120.0, 12.0, rate), rate);
    // Measured on the material, not on a preview that silences it.
    page.showCenterExtractionDialog();
    auto* centre = page.findChild<QDialog*>();
    centre->findChildren<QDoubleSpinBox*>().first()->setValue(0.0);
    for (QPushButton* button : centre->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("预览"))
            button->click();
    QCOMPARE(page.samples.count(0.0f), page.samples.size());
    TempoDetectionDialog* dialog = openTempoDialog(page);
    QCOMPARE(dialog->statusLabel()->text(), QStringLiteral("正在分析音频，请稍候..."));
    QTRY_COMPARE_WITH_TIMEOUT(dialog->statusLabel()->text(), QStringLiteral("检测完成"), 20000);
    const QString tempo = dialog->tempoLabel()->text();
    QVERIFY(tempo.endsWith(QStringLiteral(" BPM")));
    QVERIFY2(std::abs(tempo.chopped(4).toDouble() - 120.0) < 2.0, qPrintable(tempo));
    QVERIFY(dialog->detailLabel()->text().startsWith(QStringLiteral("置信度: ")));
}

void TestTempoDialog::closingEarlyIsSafe()
{
    AudioEditorPage page;
    const int rate = 44100;
    const QList<float> audio = clickTrack(100.0, 30.0, rate);
    page.loadAudioSamples(audio, rate);
    QPointer<TempoDetectionDialog> dialog = openTempoDialog(page);
    dialog->findChild<QPushButton*>()->click(); // "关闭"
    QTRY_VERIFY(dialog.isNull());
    // The page goes on being edited while the task still runs on its copy.
    page.loadAudioSamples({}, rate);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QVERIFY(page.findChildren<TempoDetectionDialog*>().isEmpty());
    QCOMPARE(page.undoStack->count(), 0);
    QVERIFY(page.samples.isEmpty());
}

// It opens over the middle of the window and stays there when the result arrives.
void TestTempoDialog::opensCentredOnTheWindow()
{
    QWidget window;
    auto* page = new AudioEditorPage(&window);
    window.setGeometry(60, 50, 680, 500);
    page->setGeometry(0, 0, 680, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    page->loadAudioSamples(clickTrack(120.0, 3.0, 22050), 22050);

    TempoDetectionDialog* dialog = openTempoDialog(*page);
    QVERIFY(dialog);
    const QRect opened = dialog->frameGeometry();
    const QPoint offset = opened.center() - window.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1 %2").arg(offset.x()).arg(offset.y())));
    QTRY_COMPARE(dialog->statusLabel()->text(), QStringLiteral("检测完成"));
    QCoreApplication::processEvents();
    QCOMPARE(dialog->frameGeometry(), opened);
}

QTEST_MAIN(TestTempoDialog)
#include "tst_TempoDialog.moc"
