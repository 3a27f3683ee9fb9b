// Editing on the single-track page: deleting a dragged selection, the
// page's keys, the tools, zoom limits, and a
// transport without a sound server (playback ends at once, a take fails to
// start and leaves the page idle).

#include "TestSupport.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <cmath>

namespace {

constexpr int Rate = 8000;

QString status(const AudioEditorPage& page)
{
    return page.statusLine()->currentMessage();
}

// Drags across the waveform of view 0 from x1 to x2 (pixels).
void dragSelection(WaveformWidget* view, int x1, int x2)
{
    const int y = view->height() / 2;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x1, y));
    QTest::mouseMove(view, QPoint(x2, y));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x2, y));
}

QList<float> ramp(int count)
{
    QList<float> list(count);
    for (int i = 0; i < count; ++i)
        list[i] = float(i) / count;
    return list;
}

QList<float> interleavedRamp(int frames)
{
    QList<float> list;
    for (int i = 0; i < frames; ++i)
        list << float(i) / frames << -float(i) / frames * 0.5f;
    return list;
}

} // namespace

class TestAudioEditorPageEditing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deleteDraggedSelection_data();
    void deleteDraggedSelection();
    void deleteKeepsStereoInStep();
    void deleteRefusedCases();
    void undoRedoKeys();
    void playheadFollowsAShorterList();
    void eKeyCyclesTools();
    void eraseStrengthReachesViews();
    void zoomLimits();
    void castToggle();
    void playbackWithoutDeviceEnds();
    void spacePlaysAfterAnyButton();
    void failedTakeLeavesPageIdle();
};

void TestAudioEditorPageEditing::initTestCase()
{
    // No sound server for this program: every engine finds no device.
    qputenv("PULSE_SERVER", "unix:/nonexistent/cdw-no-server");
}

void TestAudioEditorPageEditing::deleteDraggedSelection_data()
{
    QTest::addColumn<bool>("rightToLeft");
    QTest::newRow("left to right") << false;
    QTest::newRow("right to left") << true;
}

void TestAudioEditorPageEditing::deleteDraggedSelection()
{
    QFETCH(bool, rightToLeft);
    AudioEditorPage page;
    page.resize(1000, 600);
    page.show();
    const QList<float> original = ramp(4 * Rate);
    page.loadAudioSamples(original, Rate);
    WaveformWidget* view = page.waveform(0);
    const int x1 = 200, x2 = 500;
    rightToLeft ? dragSelection(view, x2, x1) : dragSelection(view, x1, x2);
    QVERIFY(view->hasSelection());
    const double a = view->xToSeconds(x1);
    const double b = view->xToSeconds(x2);
    QCOMPARE(view->getSelectionStart(), a);
    QCOMPARE(view->getSelectionEnd(), b);

    QTest::keyClick(&page, Qt::Key_Delete);
    const int first = int(a * Rate);
    const int last = int(b * Rate);
    QCOMPARE(page.samples.size(), original.size() - (last - first));
    QCOMPARE(page.samples[first - 1], original[first - 1]);
    QCOMPARE(page.samples[first], original[last]);
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("删除选区"));
    QCOMPARE(status(page), QStringLiteral("已删除选区 (%1 - %2 秒)")
                               .arg(a, 0, 'f', 2)
                               .arg(b, 0, 'f', 2));
    QVERIFY(!view->hasSelection());
    QVERIFY(!page.waveform(1)->hasSelection());
    QCOMPARE(view->getDuration(), double(page.samples.size()) / Rate);

    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(page.samples, original);
    QCOMPARE(view->getDuration(), 4.0);
}

void TestAudioEditorPageEditing::deleteKeepsStereoInStep()
{
    AudioEditorPage page;
    page.resize(1000, 600);
    page.show();
    const QList<float> stereo = interleavedRamp(2 * Rate);
    page.loadStereoAudioSamples(stereo, Rate);
    // A selection past the end deletes up to the end.
    dragSelection(page.waveform(0), 600, page.waveform(0)->width() + 50);
    const int first = int(page.waveform(0)->getSelectionStart() * Rate);
    QTest::keyClick(&page, Qt::Key_Backspace);
    QCOMPARE(page.samples.size(), first);
    QCOMPARE(page.stereoSamples.size(), 2 * first);
    QCOMPARE(page.stereoSamples, stereo.first(2 * first));
    page.undoStack->undo();
    QCOMPARE(page.stereoSamples, stereo);
}

void TestAudioEditorPageEditing::deleteRefusedCases()
{
    AudioEditorPage page;
    page.resize(1000, 600);
    page.show();
    // Nothing loaded, nothing selected: nothing happens and nothing is reported.
    page.deleteSelection();
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(status(page), QStringLiteral("就绪"));

    page.loadAudioSamples(ramp(Rate), Rate);
    page.deleteSelection();
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(page.samples.size(), Rate);
}

void TestAudioEditorPageEditing::undoRedoKeys()
{
    AudioEditorPage page;
    page.resize(1000, 600);
    page.show();
    const QList<float> original = ramp(2 * Rate);
    page.loadAudioSamples(original, Rate);
    dragSelection(page.waveform(0), 100, 300);
    QTest::keyClick(&page, Qt::Key_Delete);
    const QList<float> edited = page.samples;
    QVERIFY(edited.size() < original.size());

    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(page.samples, original);
    QCOMPARE(page.waveform(0)->getDuration(), 2.0);
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(page.samples, edited);
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    QCOMPARE(page.spectrum(0)->sampleList(), edited);
    // Redo on an empty side changes nothing.
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(page.samples, edited);
}

// A list made shorter under the playhead pulls it in, and the time shown
// follows.
void TestAudioEditorPageEditing::playheadFollowsAShorterList()
{
    AudioEditorPage page;
    page.resize(1000, 600);
    page.show();
    page.loadAudioSamples(ramp(3 * Rate), Rate);
    auto* time = page.findChild<QLabel*>(QStringLiteral("TimeLabel"));
    QPushButton* fastForward = nullptr;
    for (QPushButton* button : page.findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("快进"))
            fastForward = button;
    QVERIFY(fastForward);
    const auto shown = [&] {
        const int ms = int(page.waveform(0)->getPlayheadPosition() * 1000.0);
        return QStringLiteral("00:00:%1.%2")
            .arg(ms / 1000, 2, 10, QLatin1Char('0'))
            .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    };

    WaveformWidget* view = page.waveform(0);
    dragSelection(view, view->width() * 2 / 3, view->width() - 1);
    fastForward->click(); // to the selection's end, the end of the material
    QVERIFY(view->getPlayheadPosition() > 2.9);
    QTest::keyClick(&page, Qt::Key_Delete);
    const double end = view->getDuration();
    QVERIFY(end < 2.1);
    QCOMPARE(view->getPlayheadPosition(), end);
    QCOMPARE(time->text(), shown());
}

void TestAudioEditorPageEditing::eKeyCyclesTools()
{
    AudioEditorPage page;
    page.resize(1800, 600); // the whole tool bar fits
    page.show();
    auto* move = page.findChild<QPushButton*>(QStringLiteral("toolMoveBtn"));
    auto* erase = page.findChild<QPushButton*>(QStringLiteral("toolEraseBtn"));
    auto* select = page.findChild<QPushButton*>(QStringLiteral("toolSelectBtn"));
    auto* slider = page.findChild<QSlider*>();
    move->click();
    QCOMPARE(page.tool(), 1);
    QVERIFY(move->isChecked() && !select->isChecked());

    const int expected[] = {2, 0, 2};
    for (int tool : expected) {
        QTest::keyClick(&page, Qt::Key_E);
        QCOMPARE(page.tool(), tool);
        const bool erasing = tool == 2;
        QCOMPARE(erase->isChecked(), erasing);
        // The tool bar lays its widgets out on the next pass of the event loop.
        QTRY_COMPARE(slider->isVisible(), erasing);
        QTRY_COMPARE(page.findChild<QLabel*>(QStringLiteral("EraseStrengthLabel"))->isVisible(),
                     erasing);
        const auto mode = erasing ? SpectrumAnalyzerWidget::Erase : SpectrumAnalyzerWidget::Normal;
        QCOMPARE(page.spectrum(0)->getToolMode(), mode);
        QCOMPARE(page.spectrum(1)->getToolMode(), mode);
    }
    QVERIFY(erase->styleSheet().contains(QStringLiteral("#2a82da")));
    QVERIFY(select->styleSheet().contains(QStringLiteral("#252538")));
}

void TestAudioEditorPageEditing::eraseStrengthReachesViews()
{
    AudioEditorPage page;
    page.findChild<QSlider*>()->setValue(35);
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("EraseStrengthLabel"))->text(),
             QStringLiteral("力度:35%"));
    QCOMPARE(page.spectrum(0)->getEraseStrength(), 0.35f);
    QCOMPARE(page.spectrum(1)->getEraseStrength(), 0.35f);
}

void TestAudioEditorPageEditing::zoomLimits()
{
    AudioEditorPage page;
    page.loadAudioSamples(ramp(4 * Rate), Rate);
    page.onZoomIn();
    QCOMPARE(page.zoom(), 1.5);
    page.onZoomIn();
    QCOMPARE(page.zoom(), 2.25);
    QCOMPARE(page.waveform(0)->getZoomLevel(), 2.25);
    page.onZoomFit();
    page.onZoomOut();
    QCOMPARE(page.zoom(), 1.0);
    page.applyZoom(512.0);
    page.onZoomIn();
    QCOMPARE(page.zoom(), 512.0);
    page.applyZoom(std::nan(""));
    QCOMPARE(page.zoom(), 1.0);
    page.applyZoom(-3.0);
    QCOMPARE(page.zoom(), 1.0);
}

void TestAudioEditorPageEditing::castToggle()
{
    AudioEditorPage page;
    QPushButton* cast = nullptr;
    for (QPushButton* button : page.findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("音频流转"))
            cast = button;
    QVERIFY(cast);
    // The button stays hidden (and so inert); the slot is public.
    cast->setChecked(true);
    page.onTogglePcmCast();
    QCOMPARE(cast->text(), QStringLiteral("流转中"));
    QCOMPARE(status(page), QStringLiteral("请选择流转设备..."));
    cast->setChecked(false);
    page.onTogglePcmCast();
    QCOMPARE(cast->text(), QStringLiteral("音频流转"));
    QCOMPARE(status(page), QStringLiteral("音频流转已关闭"));
}

void TestAudioEditorPageEditing::playbackWithoutDeviceEnds()
{
    AudioEditorPage page;
    page.show();
    // Nothing to play: the transport stays idle.
    QTest::keyClick(&page, Qt::Key_Space);
    QVERIFY(!page.playing());
    QCOMPARE(status(page), QStringLiteral("没有音频数据"));

    page.loadAudioSamples(ramp(Rate), Rate);
    QTest::keyClick(&page, Qt::Key_Space);
    // Refused at once or once the press had returned (a busy machine): either
    // way the page says it could not start, never that it played.
    QTRY_VERIFY(!page.playing());
    QCOMPARE(status(page), QStringLiteral("无法开始播放：音频设备不可用"));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("TransportPlayButton"))->text(),
             QStringLiteral(">"));
}

void TestAudioEditorPageEditing::spacePlaysAfterAnyButton()
{
    AudioEditorPage page;
    page.show();
    page.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    page.setFocus();
    page.loadAudioSamples(ramp(Rate), Rate);
    // A tool, an effect (its dialog closed again) and the transport buttons.
    for (const QString& text : {QStringLiteral("移动"), QStringLiteral("增益"),
                                QStringLiteral("快退"), QStringLiteral("快进"),
                                QStringLiteral("停止")}) {
        QPushButton* button = nullptr;
        for (QPushButton* candidate : page.findChildren<QPushButton*>())
            if (candidate->text() == text)
                button = candidate;
        QVERIFY2(button, qPrintable(text));
        QTest::mouseClick(button, Qt::LeftButton);
        if (auto* dialog = page.findChild<QDialog*>()) {
            dialog->reject();
            delete dialog;
        }
        QWidget* focus = QApplication::focusWidget();
        page.statusLine()->clearMessage();
        QTest::keyClick(focus ? focus : &page, Qt::Key_Space);
        // No device: the play is refused at once, or ends soon after.
        QVERIFY2(page.playing() || status(page) == QStringLiteral("无法开始播放：音频设备不可用"), qPrintable(text));
        QVERIFY2(!page.findChild<QDialog*>(), qPrintable(text));
        QTRY_VERIFY(!page.playing());
    }
}

void TestAudioEditorPageEditing::failedTakeLeavesPageIdle()
{
    AudioEditorPage page;
    page.show();
    page.loadAudioSamples(ramp(Rate), Rate);
    auto* record = page.findChild<QPushButton*>(QStringLiteral("TransportRecordButton"));
    record->click();
    QVERIFY(!page.recording());
    QVERIFY(!page.audioEngine());
    QCOMPARE(record->text(), QStringLiteral("录制"));
    QCOMPARE(status(page), QStringLiteral("错误：无法开始录音"));
    auto* box = page.findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QCOMPARE(box->windowTitle(), QStringLiteral("录音失败"));
    QCOMPARE(page.undoStack->count(), 0);
    // The page stays usable: effects are not refused as if recording.
    page.showGainDialog();
    QVERIFY(page.findChild<QDialog*>(QString(), Qt::FindDirectChildrenOnly) != nullptr);
}

QTEST_MAIN(TestAudioEditorPageEditing)
#include "tst_AudioEditorPageEditing.moc"
