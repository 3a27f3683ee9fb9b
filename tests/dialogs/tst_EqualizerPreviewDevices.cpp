// The equaliser's preview on the single-track page's real engine (PulseAudio
// null sink): the page's meters survive the dialog, and a recording take,
// which replaces the page's engine, never leaves the dialog on a deleted one
// and hands it the next.

#include "TestSupport.h"
#include "dialogs/EqualizerDialog.h"
#include "dialogs/ParametricEQWidget.h"
#include "editor/AudioEditorPage.h"
#include "engine/devices/AudioEngine.h"

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QtTest>

namespace {

constexpr int Rate = 48000;

EqualizerDialog* openEqualizer(AudioEditorPage& page)
{
    page.showEqualizerDialog();
    return page.findChild<EqualizerDialog*>();
}

} // namespace

class EqualizerPreviewDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { CDW_REQUIRE_PULSE(); }

    void metersMoveAfterThePreview()
    {
        AudioEditorPage page;
        page.show();
        page.loadAudioSamples(TestSupport::sineWave(440.0, 3.0, Rate, 0.5f), Rate);
        QPointer<EqualizerDialog> dialog = openEqualizer(page);
        QVERIFY(dialog);
        AudioEngine* engine = page.audioEngine();
        QVERIFY(engine); // the page made one for the preview
        const auto meters = page.findChildren<QProgressBar*>();
        QCOMPARE(meters.size(), 2);
        TestSupport::buttonWithText(*dialog, QStringLiteral("试听"))->click();
        QVERIFY(dialog->isPreviewing());
        // The page's meters show the preview (flat bands: the sine's RMS, 35).
        QTRY_VERIFY_WITH_TIMEOUT(meters[0]->value() >= 33 && meters[0]->value() <= 37, 30000);
        QCOMPARE(meters[1]->value(), meters[0]->value());

        // Destroyed while the audio thread runs its blocks through the dialog.
        delete dialog;
        QVERIFY(!engine->isPlaying());
        QVERIFY(engine->currentPlaybackProcessCallback()); // the page's own is back
        QTRY_COMPARE_WITH_TIMEOUT(meters[0]->value(), 0, 30000);

        page.findChild<QPushButton*>(QStringLiteral("TransportPlayButton"))->click();
        QVERIFY(page.playing());
        QTRY_VERIFY_WITH_TIMEOUT(meters[0]->value() >= 33 && meters[0]->value() <= 37, 30000);
        page.stopPlayback();
    }

    void recordingTakeWhilePreviewing()
    {
        AudioEditorPage page;
        page.show();
        page.loadAudioSamples(TestSupport::sineWave(440.0, 3.0, Rate, 0.5f), Rate);
        QPointer<EqualizerDialog> dialog = openEqualizer(page);
        QPushButton* preview = TestSupport::buttonWithText(*dialog, QStringLiteral("试听"));
        preview->click();
        QTRY_VERIFY_WITH_TIMEOUT(page.audioEngine()->getPosition() > Rate / 10, 30000);

        // The take deletes the page's engine and makes its own.
        QPushButton* record = page.findChild<QPushButton*>(QStringLiteral("TransportRecordButton"));
        record->click();
        QVERIFY(page.recording());
        QVERIFY(!dialog->isPreviewing());
        QVERIFY(!preview->isChecked());
        preview->click(); // nothing left to preview on
        QVERIFY(!dialog->isPreviewing());
        QTRY_VERIFY_WITH_TIMEOUT(page.recordedFrames() > Rate / 10, 30000);
        record->click();
        QVERIFY(!page.recording());
        preview->click(); // on the page's next engine
        QVERIFY(dialog->isPreviewing());

        // The page's next engine plays unfiltered and the dialog still closes cleanly.
        page.findChild<QPushButton*>(QStringLiteral("TransportPlayButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(page.audioEngine()->getPosition() > Rate / 10, 30000);
        TestSupport::buttonWithText(*dialog, QStringLiteral("取消"))->click();
        QTRY_VERIFY(!dialog);
        page.stopPlayback();
    }

    // The page's Play during a preview plays the page's material, unfiltered.
    void pagePlayEndsThePreview()
    {
        AudioEditorPage page;
        page.show();
        page.loadAudioSamples(TestSupport::sineWave(440.0, 3.0, Rate, 0.5f), Rate);
        QPointer<EqualizerDialog> dialog = openEqualizer(page);
        QVERIFY(dialog);
        // The tone cut by 24 dB while previewing.
        dialog->curveEditor()->setBand(
            2, ParametricEQWidget::EQBand{true, 440, -24, 1, ParametricEQWidget::FilterType::Bell, Qt::white});
        const auto meters = page.findChildren<QProgressBar*>();
        QPushButton* preview = TestSupport::buttonWithText(*dialog, QStringLiteral("试听"));
        preview->click();
        QVERIFY(dialog->isPreviewing());
        QTRY_VERIFY_WITH_TIMEOUT(meters[0]->value() > 0 && meters[0]->value() < 10, 30000);

        page.findChild<QPushButton*>(QStringLiteral("TransportPlayButton"))->click();
        QVERIFY(page.playing());
        QVERIFY(!dialog->isPreviewing() && !preview->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(meters[0]->value() >= 33 && meters[0]->value() <= 37, 30000);
        page.stopPlayback();
    }
};

QTEST_MAIN(EqualizerPreviewDevicesTest)
#include "tst_EqualizerPreviewDevices.moc"
