// The mixer page in the main window: View > "调音台" shows it and leaves it,
// and its strips' changes land in the multitrack page's tracks, their
// headers and, during playback, the mixing engine.

#include "audio/AudioProcessor.h"
#include "editor/AudioEditorPage.h"
#include "engine/devices/MultiTrackAudioEngine.h"
#include "multitrack/MixerPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

struct Mix {
    float volume;
    float pan;
    bool muted;
    bool solo;
    bool operator==(const Mix& other) const
    {
        return volume == other.volume && pan == other.pan && muted == other.muted && solo == other.solo;
    }
};

std::vector<Mix> mixOf(const std::vector<TrackData>& tracks)
{
    std::vector<Mix> mix;
    for (const TrackData& track : tracks)
        mix.push_back({track.volume, track.pan, track.muted, track.solo});
    return mix;
}

// Strip changes for tracks the list does not hold.
void emitOutOfRange(MixerPage* mixer, int count)
{
    for (int index : {-1, count, count + 5}) {
        emit mixer->trackVolumeChanged(index, 0.1f);
        emit mixer->trackPanChanged(index, 0.9f);
        emit mixer->trackMuteChanged(index, true);
        emit mixer->trackSoloChanged(index, true);
    }
}

} // namespace

class MixerCommandsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
        ShellTestSupport::prepareApplication(settingsDir);
    }

    // The toggle rebuilds the strips from the tracks as they are, from
    // either editor page, and a multitrack project leaves it for the
    // multitrack page; each
    // strip control writes its own track and that track's header.
    void toggleAndWrites()
    {
        ShellProbeWindow window;
        window.resize(1600, 1000);
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        MixerPage* mixer = window.mixerPage;
        QAction* toggle = window.menuActions().mixer;
        page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(220, 2.0, 44100), 44100,
                       QStringLiteral("人声"));
        page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(110, 2.0, 44100), 44100,
                       QStringLiteral("贝斯"));
        page->addMidiTrack(QStringLiteral("钢琴"), {{60, 0.0, 0.5, 100}}, 2.0);
        page->tracks[1].volume = 1.2f;
        page->tracks[2].pan = 0.5f;

        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), mixer);
        QCOMPARE(mixer->channelStrips().size(), size_t(3));
        QCOMPARE(mixer->channelStrips()[1].fader->value(), 120);
        QCOMPARE(mixer->channelStrips()[2].panLabel->text(), QStringLiteral("R50"));
        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), page);

        page->tracks[0].name = QStringLiteral("主唱");
        page->tracks[0].muted = true;
        window.stackedWidget->setCurrentWidget(window.audioEditorPage);
        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), mixer);
        QCOMPARE(mixer->channelStrips()[0].nameLabel->text(), QStringLiteral("主唱"));
        QVERIFY(mixer->channelStrips()[0].muteButton->isChecked());

        const auto& strips = mixer->channelStrips();
        strips[1].fader->setValue(50);
        strips[2].panSlider->setValue(-30);
        strips[0].muteButton->click();
        strips[2].soloButton->click();
        QCOMPARE(page->tracks[1].volume, 0.5f);
        QCOMPARE(page->tracks[2].pan, -0.3f);
        QVERIFY(!page->tracks[0].muted);
        QVERIFY(page->tracks[2].solo);
        QCOMPARE(page->tracks[0].volume, 0.8f);
        QCOMPARE(page->tracks[2].volume, 0.8f);
        QCOMPARE(page->tracks[1].pan, 0.0f);
        // The headers show the same, and their own signals wrote nothing back.
        QCOMPARE(page->rows[1]->header()->volumeSlider()->value(), 50);
        QVERIFY(!page->rows[0]->header()->isMuted());
        QVERIFY(page->rows[2]->header()->isSolo());

        const std::vector<Mix> before = mixOf(page->tracks);
        emitOutOfRange(mixer, int(page->tracks.size()));
        QVERIFY(mixOf(page->tracks) == before);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(TestSupport::saveScreenshot(window.grab(), QStringLiteral("main-window-mixer.png")));

        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), page);
    }

    // A single-track project saves only its page: the mixer leads back
    // there, not to a multitrack page no save would keep.
    void singleTrackProjectLeavesForItsPage()
    {
        ShellProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        QAction* toggle = window.menuActions().mixer;
        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), window.mixerPage);
        toggle->trigger();
        QCOMPARE(window.stackedWidget->currentWidget(), window.audioEditorPage);
    }

    // File commands given while the mixer shows act on the project's own
    // page: imports become tracks with strips, the export is the mixdown.
    void multitrackProjectCommandsFromTheMixer()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("drums.wav"));
        QVERIFY(AudioProcessor().saveAudioFile(wav, TestSupport::sineWave(220, 1.0, 44100), 44100, 1, 16));
        const QString mid = dir.filePath(QStringLiteral("keys.mid"));
        QFile midi(mid);
        QVERIFY(midi.open(QIODevice::WriteOnly));
        midi.write(QByteArray::fromHex("4d546864000000060000000100604d54726b0000000c00903c6430803c0000ff2f00"));
        midi.close();
        ShellProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        QAction* toggle = window.menuActions().mixer;

        toggle->trigger();
        window.prompts->files << wav;
        window.menuActions().importAudio->trigger();
        QCOMPARE(page->tracks.size(), size_t(1));
        QVERIFY(window.audioEditorPage->samples.isEmpty());
        QCOMPARE(window.stackedWidget->currentWidget(), window.mixerPage);
        QCOMPARE(window.mixerPage->channelStrips().size(), size_t(1));

        window.prompts->files << mid;
        window.menuActions().importMidi->trigger();
        QVERIFY(page->tracks.size() == 2 && page->tracks[1].isMidi());
        QCOMPARE(window.mixerPage->channelStrips().size(), size_t(2));

        const QString mix = dir.filePath(QStringLiteral("mix.wav"));
        window.prompts->files << mix;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导出: mix.wav"));
        AudioProcessor reader;
        QVERIFY(reader.loadAudioFile(mix));
        QVERIFY(reader.samples.size() >= 44100);
        QVERIFY(window.prompts->boxes(QStringLiteral("information")).isEmpty());
    }

    // During playback a strip's change reaches the track's slot in the
    // mixing engine at once; a change for no track leaves the slots alone.
    void engineSlotFollowsTheMixer()
    {
        CDW_REQUIRE_PULSE();
        ShellProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 48000, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(440, 3.0, 48000), 48000);
        page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(660, 3.0, 48000), 48000);
        page->onPlayPause();
        QVERIFY(page->playing());
        window.menuActions().mixer->trigger();
        const auto& strips = window.mixerPage->channelStrips();
        strips[1].fader->setValue(30);
        strips[1].panSlider->setValue(100);
        strips[0].muteButton->click();
        strips[0].soloButton->click();

        const auto& engineSlots = page->mixingEngine()->currentSlots();
        QCOMPARE(engineSlots.size(), size_t(2));
        QCOMPARE(engineSlots[1].volume, 0.3f);
        QCOMPARE(engineSlots[1].pan, 1.0f);
        QVERIFY(engineSlots[0].muted && engineSlots[0].solo);
        QVERIFY(!engineSlots[1].muted && !engineSlots[1].solo);
        emitOutOfRange(window.mixerPage, 2);
        QCOMPARE(engineSlots[1].volume, 0.3f);
        QVERIFY(!engineSlots[1].muted);
        page->onStop();
    }
};

QTEST_MAIN(MixerCommandsTest)
#include "tst_MixerCommands.moc"
