// The single-track page offscreen: its widget tree as laid out, the loaders
// and the refresh of the views.

#include "TestSupport.h"
#include "widgets/LoadingOverlay.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QUndoStack>
#include <QtTest/QtTest>

class TestAudioEditorPageLayout : public QObject {
    Q_OBJECT

private slots:
    void toolBarEntriesInOrder();
    void viewsMetersAndTransport();
    void monoLoaderKeepsUndoStack();
    void stereoLoaderMixesChannels();
    void oddStereoListDropsHalfFrame();
    void monoAfterStereoEmptiesStereo();
    void viewChangeReappliesZoom();
    void loadingOverlayCoversPage();
};

void TestAudioEditorPageLayout::toolBarEntriesInOrder()
{
    AudioEditorPage page;
    QCOMPARE(page.objectName(), QStringLiteral("AudioEditorPage"));
    QCOMPARE(page.focusPolicy(), Qt::StrongFocus);
    auto* toolBar = page.findChild<QToolBar*>(QStringLiteral("EditorToolBar"));
    QVERIFY(toolBar);
    QVERIFY(!toolBar->isMovable());

    QStringList entries;
    QList<int> widths;
    for (QAction* action : toolBar->actions()) {
        if (action->isSeparator()) {
            entries << QStringLiteral("|");
            continue;
        }
        QWidget* widget = toolBar->widgetForAction(action);
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            entries << button->text();
            widths << button->width();
            QCOMPARE(button->height(), 28);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            entries << label->text();
        } else if (qobject_cast<QComboBox*>(widget)) {
            entries << QStringLiteral("combo");
        } else if (qobject_cast<QSlider*>(widget)) {
            entries << QStringLiteral("slider");
        }
    }
    const QStringList expected = {
        "视图：", "combo", "|", "选择", "移动", "擦除", "slider", "力度:80%", "|", "增益",
        "中置提取", "降噪", "混响", "延迟", "速度检测", "音高修正", "声道转换", "压缩器", "均衡器", "|",
        "音频流转"};
    QCOMPARE(entries, expected);
    QCOMPARE(widths, (QList<int>{56, 56, 56, 60, 72, 60, 60, 60, 72, 72, 72, 60, 60, 72}));

    auto* combo = toolBar->findChild<QComboBox*>();
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QStringLiteral("波形"));
    QCOMPARE(combo->itemText(2), QStringLiteral("两者"));

    // Select is the checked tool; the erase controls and the cast button are hidden.
    auto* select = page.findChild<QPushButton*>(QStringLiteral("toolSelectBtn"));
    QVERIFY(select->isChecked());
    QVERIFY(!page.findChild<QPushButton*>(QStringLiteral("toolEraseBtn"))->isChecked());
    page.show();
    QVERIFY(!toolBar->findChild<QSlider*>()->isVisible());
    QVERIFY(!page.findChild<QLabel*>(QStringLiteral("EraseStrengthLabel"))->isVisible());
    for (QPushButton* button : toolBar->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("音频流转"))
            QVERIFY(!button->isVisible());
}

void TestAudioEditorPageLayout::viewsMetersAndTransport()
{
    AudioEditorPage page;
    auto* stack = page.findChild<QStackedWidget*>();
    QVERIFY(stack);
    QCOMPARE(stack->count(), 3);
    QCOMPARE(stack->widget(0), static_cast<QWidget*>(page.waveform(0)));
    QCOMPARE(stack->widget(1), static_cast<QWidget*>(page.spectrum(0)));
    QVERIFY(stack->widget(2)->isAncestorOf(page.waveform(1)));
    QVERIFY(stack->widget(2)->isAncestorOf(page.spectrum(1)));
    QCOMPARE(page.spectrum(0)->getDisplayMode(), SpectrumAnalyzerWidget::Spectrogram);
    QCOMPARE(page.spectrum(1)->getDisplayMode(), SpectrumAnalyzerWidget::Spectrogram);

    auto* meterPanel = page.findChild<QWidget*>(QStringLiteral("MeterPanel"));
    QVERIFY(meterPanel);
    QCOMPARE(meterPanel->minimumWidth(), 90);
    const auto bars = meterPanel->findChildren<QProgressBar*>();
    QCOMPARE(bars.size(), 2);
    for (QProgressBar* bar : bars) {
        QCOMPARE(bar->orientation(), Qt::Vertical);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->width(), 28);
    }
    QCOMPARE(meterPanel->findChild<QLabel*>(QStringLiteral("MeterTitleLabel"))->text(),
             QStringLiteral("dB"));

    auto* transport = page.findChild<QFrame*>(QStringLiteral("TransportFrame"));
    QVERIFY(transport);
    QStringList texts;
    QStringList names;
    for (QPushButton* button : transport->findChildren<QPushButton*>()) {
        texts << button->text();
        names << button->objectName();
        QCOMPARE(button->size(), QSize(40, 40));
        QVERIFY(button->shortcut().isEmpty());
    }
    QCOMPARE(texts, (QStringList{"快退", "播放", "快进", "停止", "录制"}));
    QCOMPARE(names, (QStringList{"TransportButton", "TransportPlayButton", "TransportButton",
                                 "TransportStopButton", "TransportRecordButton"}));
    QVERIFY(transport->findChild<QFrame*>(QStringLiteral("TransportSeparator")));
    auto* time = page.findChild<QLabel*>(QStringLiteral("TimeLabel"));
    QCOMPARE(time->text(), QStringLiteral("00:00:00.000"));
    QCOMPARE(page.findChild<QStatusBar*>()->currentMessage(), QStringLiteral("就绪"));

    // The overlay is created last, above everything else.
    QCOMPARE(page.children().last(), static_cast<QObject*>(page.findChild<LoadingOverlay*>()));
    QVERIFY(!page.audioEngine());
}

void TestAudioEditorPageLayout::monoLoaderKeepsUndoStack()
{
    AudioEditorPage page;
    page.undoStack->push(new QUndoCommand(QStringLiteral("earlier")));
    const QList<float> tone = TestSupport::sineWave(440.0, 0.5, 22050);
    page.loadAudioSamples(tone, 22050);
    QCOMPARE(page.samples, tone);
    QVERIFY(page.stereoSamples.isEmpty());
    QCOMPARE(page.sampleRate, 22050);
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->index(), 1);
    QCOMPARE(page.waveform(0)->getDuration(), 0.5);
    // Hidden views are given the lists when they are shown.
    auto* combo = page.findChild<QComboBox*>();
    combo->setCurrentIndex(1);
    QCOMPARE(page.spectrum(0)->sampleList(), tone);
    combo->setCurrentIndex(2);
    QCOMPARE(page.waveform(1)->getDuration(), 0.5);
    QCOMPARE(page.spectrum(1)->sampleList(), tone);
    page.loadAudioSamples(tone.first(100), 22050);
    QCOMPARE(page.spectrum(1)->sampleList(), tone.first(100));
    combo->setCurrentIndex(1);
    QCOMPARE(page.spectrum(0)->sampleList(), tone.first(100));
}

void TestAudioEditorPageLayout::stereoLoaderMixesChannels()
{
    AudioEditorPage page;
    QList<float> interleaved;
    for (int i = 0; i < 1000; ++i)
        interleaved << float(i) / 1000.0f << -0.25f;
    page.loadStereoAudioSamples(interleaved, 48000);
    QCOMPARE(page.stereoSamples, interleaved);
    QCOMPARE(page.samples.size(), 1000);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(page.samples[i], (interleaved[2 * i] + interleaved[2 * i + 1]) * 0.5f);
    QCOMPARE(page.undoStack->count(), 0);
    QVERIFY(page.waveform(0)->isStereo());
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    QVERIFY(page.spectrum(0)->hasRightChannel());
    // The view reads the page's lists in place.
    QCOMPARE(page.spectrum(0)->stereoList().constData(), page.stereoSamples.constData());
    QCOMPARE(page.spectrum(0)->sampleList().constData(), page.samples.constData());
}

void TestAudioEditorPageLayout::oddStereoListDropsHalfFrame()
{
    AudioEditorPage page;
    page.loadStereoAudioSamples({0.5f, 0.25f, 1.0f, 0.0f, 0.75f}, 44100);
    QCOMPARE(page.samples, (QList<float>{0.375f, 0.5f}));
    // Exactly two values per mono sample, so that edits keep both lists in step.
    QCOMPARE(page.stereoSamples, (QList<float>{0.5f, 0.25f, 1.0f, 0.0f}));
}

void TestAudioEditorPageLayout::monoAfterStereoEmptiesStereo()
{
    AudioEditorPage page;
    page.loadStereoAudioSamples({0.1f, 0.2f, 0.3f, 0.4f}, 44100);
    page.loadAudioSamples({0.5f, 0.5f, 0.5f}, 44100);
    QVERIFY(page.stereoSamples.isEmpty());
    QVERIFY(!page.waveform(0)->isStereo());
    page.loadAudioSamples({}, 44100);
    QVERIFY(page.samples.isEmpty());
    QCOMPARE(page.waveform(0)->getDuration(), 0.0);
}

void TestAudioEditorPageLayout::viewChangeReappliesZoom()
{
    AudioEditorPage page;
    page.resize(1200, 700);
    page.loadAudioSamples(TestSupport::sineWave(220.0, 4.0, 8000), 8000);
    page.onZoomIn();
    QCOMPARE(page.waveform(0)->getZoomLevel(), 1.5);
    QCOMPARE(page.spectrum(0)->getZoomLevel(), 1.0); // not shown: keeps its zoom
    page.findChild<QComboBox*>()->setCurrentIndex(2);
    QCOMPARE(page.findChild<QStackedWidget*>()->currentIndex(), 2);
    QCOMPARE(page.waveform(1)->getZoomLevel(), 1.5);
    QCOMPARE(page.spectrum(1)->getZoomLevel(), 1.5);
    QCOMPARE(page.spectrum(0)->getZoomLevel(), 1.0);
}

void TestAudioEditorPageLayout::loadingOverlayCoversPage()
{
    AudioEditorPage page;
    page.resize(800, 500);
    page.show();
    auto* overlay = page.findChild<LoadingOverlay*>();
    page.showLoading(QStringLiteral("应用增益..."));
    QVERIFY(overlay->isVisible());
    QCOMPARE(overlay->geometry(), QRect(0, 0, 800, 500));
    QCOMPARE(overlay->message(), QStringLiteral("应用增益..."));
    page.hideLoading();
    QVERIFY(!overlay->isVisible());
}

QTEST_MAIN(TestAudioEditorPageLayout)
#include "tst_AudioEditorPageLayout.moc"
