// Closing or replacing a project while it records or plays: the running take
// ends and lands in the project before the close question's Save writes it,
// and a window that closes leaves nothing recording or playing behind it.

#include "../engine/FakeAudioDevice.h"
#include "app/ProjectDocument.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <thread>

using ProbeWindow = ShellProbeWindow;

namespace {

constexpr int Rate = 44100;

// The clip lengths of the single track of a saved project.
QList<qsizetype> savedClipLengths(const QString& path)
{
    ProjectData data;
    if (!ProjectDocument::load(path, data).isEmpty() || data.tracks.empty())
        return {-1};
    QList<qsizetype> lengths;
    for (const AudioClip& clip : data.tracks[0].audioClips)
        lengths << clip.samples.size();
    return lengths;
}

} // namespace

class ClosingWithRunningTakeTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        ShellTestSupport::prepareApplication(settingsDir, false);
    }

    // A multitrack take fed by a scripted device: Save writes the whole take,
    // and the device is closed once the window is.
    void multiTrackTakeIsSavedOnClose()
    {
        QTemporaryDir dir;
        auto device = FakeDeviceState::withDevices();
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), Rate, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        page->setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page->addTrack(TrackType::AudioTrack, {}, Rate);
        {
            TrackHeaderWidget* header = page->rows[0]->header();
            const QSignalBlocker quiet(header);
            header->setArmed(true);
        }
        page->onRecord();
        QVERIFY(page->recording());
        // Input taken once the playback is heard: placed after silence, kept whole.
        QVERIFY(QTest::qWaitFor([&] { return page->playheadPosition() > 0.3; }, 10000));
        constexpr int Blocks = 8;
        constexpr int Frames = 512;
        std::thread audioThread([device] {
            std::vector<float> block(Frames, 0.25f);
            for (int b = 0; b < Blocks; ++b)
                device->runBlock(Frames, block.data());
        });
        audioThread.join();

        // Cancel keeps the take running, and so does Save whose save-as
        // chooser is cancelled: the window stays open.
        window.prompts->answers << QMessageBox::Cancel;
        QVERIFY(!window.close());
        QVERIFY(page->recording());
        window.prompts->answers << QMessageBox::Save;
        QVERIFY(!window.close());
        QVERIFY(page->recording());
        QVERIFY(device->open);

        window.prompts->answers << QMessageBox::Save;
        window.prompts->files << dir.filePath(QStringLiteral("take"));
        QVERIFY(window.close());
        QVERIFY(!page->recording());
        QVERIFY(!device->open);
        ProjectData saved;
        QVERIFY(ProjectDocument::load(dir.filePath(QStringLiteral("take.cdw")), saved).isEmpty());
        const QList<float>& take = saved.tracks.at(0).audioClips.at(0).samples;
        QVERIFY2(take.size() >= Blocks * Frames
                     && std::all_of(take.end() - Blocks * Frames, take.end(), [](float v) { return v == 0.25f; }),
                 qPrintable(QString::number(take.size())));
    }

    // The single-track page keeps its take apart until it ends: Save must
    // end it first. Playback stops with the window on both pages.
    void singleTrackTakeIsSavedAndPlaybackStops()
    {
        CDW_REQUIRE_PULSE();
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), Rate, 16, false);
        AudioEditorPage* editor = window.audioEditorPage;
        editor->loadAudioSamples(TestSupport::sineWave(220, 0.5, Rate), Rate);
        editor->startRecording();
        QVERIFY(editor->recording());
        QTRY_VERIFY_WITH_TIMEOUT(editor->recordedFrames() > Rate / 10, 10000);
        window.prompts->answers << QMessageBox::Save;
        window.prompts->files << dir.filePath(QStringLiteral("single"));
        QVERIFY(window.close());
        QVERIFY(!editor->recording());
        const QList<qsizetype> saved = savedClipLengths(dir.filePath(QStringLiteral("single.cdw")));
        QCOMPARE(saved, QList<qsizetype>{editor->samples.size()});
        QVERIFY(saved[0] > Rate / 2 + Rate / 10);

        ProbeWindow player;
        player.openNewProject(QStringLiteral("multi"), Rate, 16, false);
        player.multiTrackPage->addTrack(TrackType::AudioTrack, TestSupport::sineWave(220, 5.0, Rate), Rate);
        player.multiTrackPage->onPlayPause();
        player.audioEditorPage->loadAudioSamples(TestSupport::sineWave(220, 5.0, Rate), Rate);
        QVERIFY(QMetaObject::invokeMethod(player.audioEditorPage, "onPlayPauseClicked"));
        QVERIFY(player.multiTrackPage->playing() && player.audioEditorPage->playing());
        // Save with a cancelled save-as: the window and its playback go on.
        player.prompts->answers << QMessageBox::Save;
        QVERIFY(!player.close());
        QVERIFY(player.multiTrackPage->playing() && player.audioEditorPage->playing());
        player.prompts->answers << QMessageBox::Discard;
        QVERIFY(player.close());
        QVERIFY(!player.multiTrackPage->playing());
        QVERIFY(!player.audioEditorPage->playing());
    }
};

QTEST_MAIN(ClosingWithRunningTakeTest)
#include "tst_ClosingWithRunningTake.moc"
