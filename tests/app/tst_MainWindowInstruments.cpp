// The Tools menu's SoundFont and VST3 commands as they reach the multitrack
// page's tracks: MIDI tracks that exist already can choose what was just
// loaded, plug-in editor windows close with the main window, and a change of
// the project rate (which unloads the plug-ins) leaves no track on a gone one.

#include "ShellTestSupport.h"
#include "TestSupport.h"

#include "engine/devices/LiveAudioPlayer.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "plugins/AudioPluginBridge.h"
#include "plugins/ui/PluginEditorWindows.h"
#include "plugins/ui/VST3EditorWindow.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

QString testBundle(const char* name)
{
    return QString::fromLocal8Bit(qgetenv("CDW_BINARY_DIR")) + "/testplugins/" + name + ".vst3";
}

QStringList entries(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

int visibleEditorWindows()
{
    int count = 0;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        count += qobject_cast<VST3EditorWindow*>(window) && window->isVisible() ? 1 : 0;
    return count;
}

} // namespace

class MainWindowInstrumentsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settings;

private slots:
    void initTestCase()
    {
        qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        ShellTestSupport::prepareApplication(settings);
    }

    void loadedInstrumentsReachExistingTracksAndEditorsCloseWithTheWindow()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs timgm6mb-soundfont");
        auto window = std::make_unique<ShellProbeWindow>();
        MultiTrackEditorPage* page = window->multiTrackPage;
        page->setSoundFontFolder(settings.filePath("fonts"));
        window->show();
        window->openNewProject("multi", 44100, 16, false);
        page->addTrack(TrackType(1), {}, 44100, "MIDI");
        QComboBox* list = page->rows[0]->header()->instrumentCombo();
        QCOMPARE(entries(list), QStringList{"内置钢琴"});

        // A SoundFont loaded afterwards: the track lists its presets, on preset 0.
        window->prompts->files << kFont;
        window->menuActions().loadSoundFont->trigger();
        const QStringList presets = page->soundFont().getPresetNames();
        QVERIFY(presets.size() > 100);
        QCOMPARE(entries(list), presets);
        QCOMPARE(list->currentIndex(), 0);

        // So does a plug-in imported afterwards, the track keeping its preset.
        page->tracks[0].instrumentIndex = 5;
        window->prompts->files << testBundle("CdwSynth");
        window->menuActions().importVst3->trigger();
        QCOMPARE(list->itemText(0), QStringLiteral("[VST3] Cdw Synth"));
        QCOMPARE(list->itemText(1), QString());
        QCOMPARE(list->currentIndex(), 2 + 5);
        QCOMPARE(page->tracks[0].pluginId, -1);
        QCOMPARE(page->tracks[0].instrumentIndex, 5);
        QVERIFY(window->prompts->boxes("warning").isEmpty());

        // Chosen, its editor opens in a window of its own.
        list->setCurrentIndex(0);
        QCOMPARE(page->tracks[0].pluginId, 0);
        QPushButton* editorButton = page->rows[0]->header()->vst3Button();
        QVERIFY(editorButton->isVisible());
        editorButton->click();
        QVERIFY(page->pluginEditors() && page->pluginEditors()->isOpen(0));
        QCOMPARE(visibleEditorWindows(), 1);

        // An import at another rate keeps the project's rate with a plug-in
        // loaded; a rate change keeps the plug-in, its editor and the choice.
        page->addTrack(TrackType(0), QList<float>(4800, 0.1f), 48000, "48k");
        QCOMPARE(page->sampleRate(), 44100);
        page->setSampleRate(48000);
        QCOMPARE(visibleEditorWindows(), 1);
        QCOMPARE(page->tracks[0].pluginId, 0);
        QCOMPARE(list->currentIndex(), 0);
        QVERIFY(!editorButton->isHidden());
        editorButton->click();
        QCOMPARE(visibleEditorWindows(), 0);

        // Editors left open close with the main window.
        editorButton->click();
        QCOMPARE(visibleEditorWindows(), 1);
        window->prompts->answers << QMessageBox::Discard;
        QVERIFY(window->close());
        QCOMPARE(visibleEditorWindows(), 0);
        window.reset();
        QCOMPARE(visibleEditorWindows(), 0);
    }

    // A font the folder cannot keep is loaded from where it lies, and the
    // user told it is for this run only, and why; the older copy stays.
    void soundFontTheFolderCannotKeepIsForThisRunOnly()
    {
        ShellProbeWindow window;
        const QString folder = settings.filePath("unkept-fonts");
        window.multiTrackPage->setSoundFontFolder(folder);
        QFile older(folder + "/TimGM6mb.sf2");
        QVERIFY(QDir().mkpath(folder) && older.open(QIODevice::WriteOnly) && older.write("older") == 5 && older.flush());
        TestSupport::FailingDataSync failing(EIO);
        window.prompts->files << kFont;
        window.menuActions().loadSoundFont->trigger();
        QCOMPARE(window.multiTrackPage->soundFont().soundFontPath(), kFont);
        QCOMPARE(TestSupport::fileBytes(older.fileName()), QByteArray("older"));
        QCOMPARE(window.prompts->only("warning").text,
                 QStringLiteral("已加载音色库: TimGM6mb.sf2\n无法复制到音色库文件夹: %1（磁盘读写错误）\n"
                                "仅本次运行可用，下次启动不会自动加载。").arg(folder));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已加载音色库: TimGM6mb.sf2（仅本次运行可用）"));
    }

    void liveKeysSoundTheSoundFontLoadedWhilePlaying()
    {
        CDW_REQUIRE_PULSE();
        if (!QFile::exists(kFont))
            QSKIP("needs timgm6mb-soundfont");
        ShellProbeWindow window;
        MultiTrackEditorPage* page = window.multiTrackPage;
        page->setSoundFontFolder(settings.filePath("live-fonts"));
        window.openNewProject("multi", 44100, 16, false);
        // A key played before any SoundFont starts the live output on the piano.
        page->onMidiNoteOn(0, 60, 100);
        page->onMidiNoteOff(0, 60);
        LiveAudioPlayer* live = page->livePlayer();
        QVERIFY(live->isRunning());
        QCOMPARE(live->pianoSource(), &page->piano());

        // With a MIDI track selected the keys go to the SoundFont from now
        // on: the output must sound it, at the output's rate (whatever rate
        // the instrument had before).
        page->addMidiTrack(QStringLiteral("Keys"), {}, 4.0);
        emit page->rows[0]->trackSelected(0);
        page->soundFont().setSampleRate(22050);
        window.prompts->files << kFont;
        window.menuActions().loadSoundFont->trigger();
        QVERIFY(page->soundFont().isLoaded());
        QCOMPARE(live->soundFontSource(), &page->soundFont());
        QCOMPARE(page->soundFont().sampleRate(), live->outputSampleRate());
        page->onMidiNoteOn(0, 64, 100);
        page->onMidiNoteOff(0, 64);
        live->stop();
    }

    // The keyboard plays the armed MIDI track's instrument, else the
    // selected MIDI track's, else the piano, whatever channel it sends on.
    void liveKeysPlayTheArmedOrSelectedTracksInstrument()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs timgm6mb-soundfont");
        MultiTrackEditorPage page;
        QVERIFY(page.loadSoundFont(kFont));
        auto sounds = [](auto& instrument) {
            std::vector<short> out(2 * 8192);
            instrument.renderLive(out.data(), 8192);
            return std::any_of(out.begin(), out.end(), [](short v) { return v != 0; });
        };
        auto heardThrough = [&](int keyboardChannel) {
            page.onMidiNoteOn(keyboardChannel, 60, 110);
            const bool font = sounds(page.soundFont());
            const bool piano = sounds(page.piano());
            page.onMidiNoteOff(keyboardChannel, 60);
            page.soundFont().allNotesOff();
            page.piano().allNotesOff();
            return font == piano ? QStringLiteral("?") : font ? QStringLiteral("font") : QStringLiteral("piano");
        };

        // No MIDI track, or one not selected: the piano; selected, its preset.
        QCOMPARE(heardThrough(1), QStringLiteral("piano"));
        page.addMidiTrack(QStringLiteral("A"), {}, 4.0);
        QCOMPARE(heardThrough(2), QStringLiteral("piano"));
        emit page.rows[0]->trackSelected(0);
        QCOMPARE(heardThrough(2), QStringLiteral("font"));
        QCOMPARE(page.liveKeysChannel(), 0);
        // An armed MIDI track wins over the selected one, with its own preset.
        page.addMidiTrack(QStringLiteral("B"), {}, 4.0);
        TrackData& b = page.tracks[1];
        b.midiChannel = 5;
        b.instrumentIndex = 40;
        b.armed = true;
        emit page.rows[0]->trackSelected(0);
        QCOMPARE(heardThrough(0), QStringLiteral("font"));
        QCOMPARE(page.liveKeysChannel(), 5);
        QCOMPARE(page.soundFont().currentPresetIndex(5), 40);
        page.livePlayer()->stop();
    }

    // The page goes while its live output plays its instruments (and with
    // the metronome on): the outputs stop before the instruments go.
    void pageGoesWhileTheLiveOutputPlays()
    {
        CDW_REQUIRE_PULSE();
        auto* page = new MultiTrackEditorPage;
        if (QFile::exists(kFont))
            QVERIFY(page->loadSoundFont(kFont));
        page->addMidiTrack(QStringLiteral("A"), {MidiNote{60, 0.0, 1.0, 100}}, 4.0);
        emit page->rows[0]->trackSelected(0);
        TestSupport::buttonWithText(*page, QStringLiteral("节拍器"))->click();
        page->onPlayPause();
        QVERIFY(page->playing());
        page->onMidiNoteOn(0, 60, 100);
        QVERIFY(page->livePlayer()->isRunning());
        QTest::qWait(100);
        page->onMidiNoteOn(0, 64, 100);
        delete page;
        page = new MultiTrackEditorPage;
        page->onMidiNoteOn(0, 60, 100); // the piano
        QVERIFY(page->livePlayer()->isRunning());
        QTest::qWait(100);
        delete page;
    }
};

QTEST_MAIN(MainWindowInstrumentsTest)
#include "tst_MainWindowInstruments.moc"
