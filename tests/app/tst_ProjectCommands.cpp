// The window's project commands: new projects, save and save as of the
// single-track page, and the failures that must lose nothing.

#include "../project/ProjectTestData.h"
#include "app/MainWindow.h"
#include "app/NewProjectDialog.h"
#include "app/ProjectDocument.h"
#include "app/StartUp.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackRowWidget.h"
#include "project/ProjectFile.h"
#include "widgets/LoadingOverlay.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

using ProbeWindow = ShellProbeWindow;
using TestSupport::FileSizeLimit;

namespace {

const QString TestSoundFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

// A multitrack project at 48 kHz and 100 BPM that uses every saved field.
void buildProject(MultiTrackEditorPage* page)
{
    page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(220, 0.5, 48000), 48000,
                   QStringLiteral("人声"));
    TrackData& voice = page->tracks[0];
    AudioClip& first = voice.audioClips[0];
    first.start = 0.25;
    first.audioStart = 0.01;
    first.audioEnd = 0.02;
    first.fadeIn = 0.05;
    first.fadeOut = 0.1;
    first.fadeInCurve = FadeSmoothStep;
    first.fadeOutCurve = FadeSquareRoot;
    AudioClip second;
    second.samples = TestSupport::sineWave(330, 0.3, 44100);
    for (float value : second.samples)
        second.stereoSamples << value << -value;
    second.sampleRate = 44100;
    second.start = 2.5;
    second.fadeOutCurve = FadeSquare;
    voice.audioClips.push_back(second);
    voice.envelopeEnabled = true;
    voice.volumeEnvelope = {{0.0, 0.5f}, {1.25, 1.2f}, {3.0, 0.0f}};
    voice.volume = 0.65f;
    voice.pan = -0.4f;
    voice.muted = true;

    page->addTrack(TrackType::AudioTrack, TestSupport::sineWave(440, 0.2, 48000), 48000, QString());
    page->tracks[1].solo = true;

    page->addMidiTrack(QStringLiteral("Piano"), {{60, 0.0, 0.5, 100}, {67, 0.75, 0.25, 64}}, 2.0);
    TrackData& piano = page->tracks[2];
    piano.midiChannel = 3;
    piano.instrumentIndex = 5;
    MidiClip later;
    later.start = 6.0;
    later.duration = 1.5;
    later.notes = {{72, 0.125, 1.0, 127}};
    piano.midiClips.push_back(later);
    page->rebindTrackRows();

    page->setMarkers({{1.0, QStringLiteral("主歌"), QColor(255, 0, 0)},
                      {4.5, QStringLiteral("副歌"), QColor(0, 128, 255)}});
    page->bpmSpinBox->setValue(100.0);
}

QString writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return {};
    return path;
}

} // namespace

class ProjectCommandsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        ShellTestSupport::prepareApplication(settingsDir);
    }

    // The dialog's choices reach the single-track page, a cancelled dialog
    // changes nothing, and a project page that shows sends the next new
    // project to a window of its own.
    void newProjectDialog()
    {
        ProbeWindow window;
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.menuActions().newSingleProject->trigger();
        QVERIFY(!window.projectOpen);

        window.prompts->onDialog = [](QDialog* dialog) {
            auto* settings = qobject_cast<NewProjectDialog*>(dialog);
            settings->sampleRateBox()->setCurrentText(QStringLiteral("48000"));
            settings->bitDepthBox()->setCurrentIndex(2);
            settings->channelBox()->setCurrentIndex(1);
            dialog->show();
            TestSupport::saveScreenshot(dialog->grab(), QStringLiteral("new-project-dialog.png"));
            return int(QDialog::Accepted);
        };
        window.menuActions().newSingleProject->trigger();
        QVERIFY(window.projectOpen);
        QCOMPARE(window.projectType, QStringLiteral("single"));
        QCOMPARE(window.stackedWidget->currentWidget(), window.audioEditorPage);
        QCOMPARE(window.audioEditorPage->sampleRate, 48000);
        QCOMPARE(window.audioEditorPage->bitDepth, 32);
        QCOMPARE(window.audioEditorPage->forceMono, 1);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已创建新单轨项目 (48000 Hz)"));
        QVERIFY(window.menuActions().saveProject->isEnabled());

        const int windowsBefore = QApplication::topLevelWidgets().size();
        window.menuActions().newSingleProject->trigger();
        QPointer<MainWindow> second;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* other = qobject_cast<MainWindow*>(widget); other && other != &window)
                second = other;
        QVERIFY(second);
        QVERIFY(QApplication::topLevelWidgets().size() > windowsBefore);
        QCOMPARE(second->size(), window.size());
        QVERIFY(second->isVisible());
        QCOMPARE(window.audioEditorPage->sampleRate, 48000);
        QVERIFY(window.projectOpen);
        // The welcome page's buttons reach the same commands.
        ProbeWindow fresh;
        const int dialogs = window.prompts->boxes(QStringLiteral("dialog")).size();
        fresh.prompts->onDialog = [](QDialog*) { return int(QDialog::Accepted); };
        QVERIFY(QMetaObject::invokeMethod(fresh.stackedWidget->widget(MainWindow::WelcomePageIndex),
                                          "createProject", Q_ARG(QString, QStringLiteral("multi"))));
        QCOMPARE(fresh.projectType, QStringLiteral("multi"));
        QCOMPARE(fresh.stackedWidget->currentWidget(), fresh.multiTrackPage);
        QVERIFY(QMetaObject::invokeMethod(fresh.stackedWidget->widget(MainWindow::WelcomePageIndex),
                                          "importProject"));
        QCOMPARE(fresh.prompts->only(QStringLiteral("open")).title, QStringLiteral("打开卡德文项目"));
        QCOMPARE(window.prompts->boxes(QStringLiteral("dialog")).size(), dialogs);

        // The second window asks through the same prompts: its close question is answered.
        window.prompts->answers << QMessageBox::Discard;
        second->close();
        QTRY_VERIFY(!second);
    }

    // Save As names the file, Save writes it again; the file holds the
    // page's material as one audio track.
    void saveSingleTrackProject()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 48000, 24, false);
        QList<float> stereo;
        for (int i = 0; i < 4800; ++i)
            stereo << float(i % 100) / 100.0f << -float(i % 37) / 37.0f;
        window.audioEditorPage->loadStereoAudioSamples(stereo, 48000);

        window.prompts->files << dir.filePath(QStringLiteral("take.two"));
        window.menuActions().saveProject->trigger();
        const QString path = dir.filePath(QStringLiteral("take.two.cdw"));
        QCOMPARE(window.currentProjectPath, path);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已保存: take.two.cdw"));
        QCOMPARE(window.prompts->only(QStringLiteral("save")).title, QStringLiteral("保存项目"));
        QCOMPARE(window.prompts->only(QStringLiteral("save")).text,
                 QStringLiteral("卡德文项目 (*.cdw);;所有文件 (*)"));

        ProjectData data;
        QVERIFY(ProjectDocument::load(path, data).isEmpty());
        QCOMPARE(data.name, QStringLiteral("take"));
        QCOMPARE(data.settings.sampleRate, 48000);
        QCOMPARE(data.settings.bitDepth, 24);
        QCOMPARE(data.settings.channels, 2);
        QCOMPARE(data.tracks.size(), size_t(1));
        QCOMPARE(data.tracks[0].name, QStringLiteral("take"));
        QCOMPARE(data.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(data.tracks[0].audioClips[0].samples, window.audioEditorPage->samples);
        QCOMPARE(data.tracks[0].audioClips[0].stereoSamples, stereo);
        QCOMPARE(data.tracks[0].audioClips[0].sampleRate, 48000);

        // Save again goes to the same file without asking; an upper-case
        // suffix is kept as it is.
        window.audioEditorPage->forceMono = 1;
        window.menuActions().saveProject->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("save")).size(), 1);
        QVERIFY(ProjectDocument::load(path, data).isEmpty());
        QCOMPARE(data.settings.channels, 1);
        window.prompts->files << dir.filePath(QStringLiteral("a.CDW"));
        window.menuActions().saveProjectAs->trigger();
        QCOMPARE(window.currentProjectPath, dir.filePath(QStringLiteral("a.CDW")));
        QVERIFY(QFileInfo::exists(window.currentProjectPath));

        // A cancelled chooser writes nothing and says nothing.
        window.currentProjectPath.clear();
        const int shown = window.prompts->shown.size();
        window.menuActions().saveProject->trigger();
        QCOMPARE(window.prompts->shown.size(), shown + 1);
        QCOMPARE(window.prompts->shown.last().kind, QStringLiteral("save"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    // An empty page saves one audio track without clips.
    void saveEmptyPage()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.prompts->files << dir.filePath(QStringLiteral("empty"));
        window.menuActions().saveProjectAs->trigger();
        ProjectData data;
        QVERIFY(ProjectDocument::load(dir.filePath(QStringLiteral("empty.cdw")), data).isEmpty());
        QCOMPARE(data.tracks.size(), size_t(1));
        QCOMPARE(data.tracks[0].type, int(TrackType::AudioTrack));
        QVERIFY(data.tracks[0].audioClips.empty());
        QCOMPARE(data.settings.channels, 1);
    }

    // A write that fails part-way shows the failure and keeps the old file
    // byte for byte; a missing folder fails before anything is written.
    void failedSavesLoseNothing()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.prompts->files << dir.filePath(QStringLiteral("song.cdw"));
        window.menuActions().saveProjectAs->trigger();
        const QString path = window.currentProjectPath;
        const QByteArray before = TestSupport::fileBytes(path);
        QVERIFY(!before.isEmpty());

        window.audioEditorPage->loadAudioSamples(TestSupport::sineWave(440, 2.0, 44100), 44100);
        window.statusBar()->clearMessage();
        {
            FileSizeLimit limit(64 * 1024);
            window.menuActions().saveProject->trigger();
        }
        const auto failure = window.prompts->only(QStringLiteral("warning"));
        QCOMPARE(failure.title, QStringLiteral("保存失败"));
        QCOMPARE(failure.text, QStringLiteral("写入文件不完整: %1").arg(path));
        QCOMPARE(TestSupport::fileBytes(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("song.cdw")});
        QVERIFY(window.statusBar()->currentMessage().isEmpty());

        const QString missing = dir.filePath(QStringLiteral("no/such/folder/x.cdw"));
        window.prompts->files << missing;
        window.menuActions().saveProjectAs->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("无法写入文件: %1").arg(missing));
        QCOMPARE(window.currentProjectPath, path);

        // Onto a full disk the same, and the warning says why.
        TestSupport::SmallDisk disk(256 * 1024);
        if (disk.path().isEmpty())
            QSKIP("a full disk needs a small tmpfs, which only root may mount");
        const QString full = disk.path() + QStringLiteral("/full.cdw");
        window.prompts->files << full;
        window.menuActions().saveProjectAs->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("写入文件不完整: %1（磁盘空间不足）").arg(full));
    }

    // A multitrack project saved from one window opens in a fresh one with
    // every saved field; the MIDI track's preset sounds on its channel.
    void multiTrackRoundTrip()
    {
        QVERIFY2(QFile::exists(TestSoundFont), "the test SoundFont comes with timgm6mb-soundfont");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.cdw"));
        std::vector<TrackData> saved;
        std::vector<TimelineMarker> markers;
        {
            ProbeWindow window;
            window.openNewProject(QStringLiteral("multi"), 48000, 24, false);
            QCOMPARE(window.stackedWidget->currentWidget(), window.multiTrackPage);
            QCOMPARE(window.multiTrackPage->sampleRate(), 48000);
            buildProject(window.multiTrackPage);
            window.prompts->files << dir.filePath(QStringLiteral("song"));
            window.menuActions().saveProject->trigger();
            QCOMPARE(window.currentProjectPath, path);
            saved = window.multiTrackPage->tracks;
            markers = window.multiTrackPage->markers;
        }

        ProbeWindow reopened;
        MultiTrackEditorPage* page = reopened.multiTrackPage;
        QVERIFY(page->soundFont().loadSoundFont(TestSoundFont));
        reopened.prompts->files << path;
        reopened.menuActions().openProject->trigger();
        QCOMPARE(reopened.prompts->only(QStringLiteral("open")).title, QStringLiteral("打开卡德文项目"));
        QVERIFY(reopened.prompts->boxes(QStringLiteral("question")).isEmpty());
        QCOMPARE(reopened.stackedWidget->currentWidget(), page);
        QCOMPARE(reopened.projectType, QStringLiteral("multi"));
        QCOMPARE(reopened.currentProjectPath, path);
        QVERIFY(reopened.menuActions().saveProject->isEnabled());
        QCOMPARE(reopened.statusBar()->currentMessage(), QStringLiteral("已加载项目: song (3条轨道)"));
        QCOMPARE(page->sampleRate(), 48000);
        QCOMPARE(page->bitDepth, 24);
        QVERIFY(!page->mono);
        QCOMPARE(page->bpm, 100.0);
        QCOMPARE(page->bpmSpinBox->value(), 100.0);
        ProjectTestData::compareTracks(page->tracks, saved);
        ProjectTestData::compareMarkers(page->markers, markers);
        QCOMPARE(page->rows.size(), saved.size());
        QCOMPARE(page->undoStack->count(), 0);
        QCOMPARE(page->soundFont().currentPresetIndex(3), 5);
    }

    // A failed open changes nothing; a good file asks the close question
    // first, and Cancel keeps the open project.
    void openingReplacesOnlyWhenAllowed()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        window.multiTrackPage->addTrack(TrackType::AudioTrack, {0.1f, 0.2f}, 44100, QStringLiteral("keep"));

        const QString noVersion = writeText(dir.filePath(QStringLiteral("nv.cdw")), R"({"tracks": []})");
        window.prompts->files << noVersion;
        window.menuActions().openProject->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("warning")).title, QStringLiteral("打开失败"));
        QCOMPARE(window.prompts->only(QStringLiteral("warning")).text, QStringLiteral("无法解析工程文件"));
        QCOMPARE(window.multiTrackPage->tracks.size(), size_t(1));
        QVERIFY(window.currentProjectPath.isEmpty());

        // Content that cannot be read whole refuses the file, named in the box.
        window.prompts->files << writeText(dir.filePath(QStringLiteral("oops.cdw")),
                                           R"({"version": "1.0.0", "tracks": "oops"})");
        window.menuActions().openProject->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).size(), 2);
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("文件格式错误: 轨道列表无法读取"));
        QCOMPARE(window.multiTrackPage->tracks.size(), size_t(1));

        const QString good = writeText(
            dir.filePath(QStringLiteral("good.cdw")),
            R"({"version": "1.0.0", "settings": {"sampleRate": 22050, "tempo": 90},
                "tracks": [{"type": "midi", "name": "M"}]})");
        window.prompts->files << good;
        window.prompts->answers << QMessageBox::Cancel;
        window.menuActions().openProject->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("question")).text,
                 QStringLiteral("当前有打开的项目，是否在关闭前保存？"));
        QCOMPARE(window.multiTrackPage->tracks[0].name, QStringLiteral("keep"));
        QCOMPARE(window.stackedWidget->currentWidget(), window.multiTrackPage);

        // Creating a project asks the same question.
        window.prompts->answers << QMessageBox::Cancel;
        window.openNewProject(QStringLiteral("single"), 22050, 16, false);
        QCOMPARE(window.prompts->boxes(QStringLiteral("question")).size(), 2);
        QCOMPARE(window.projectType, QStringLiteral("multi"));

        window.prompts->files << good;
        window.prompts->answers << QMessageBox::Discard;
        window.menuActions().openProject->trigger();
        QCOMPARE(window.multiTrackPage->tracks.size(), size_t(1));
        const TrackData& midi = window.multiTrackPage->tracks[0];
        QVERIFY(midi.isMidi());
        QCOMPARE(midi.midiClips.size(), size_t(1));
        QCOMPARE(midi.midiClips[0].duration, 4.0);
        QCOMPARE(window.multiTrackPage->sampleRate(), 22050);
        QCOMPARE(window.multiTrackPage->bpm, 90.0);
        QCOMPARE(window.currentProjectPath, good);
    }

    // Opening the file that is open and answering Save writes the edits and
    // then opens what the save wrote, not the copy read before it.
    void reopeningTheOpenFileAfterSaving()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.cdw"));
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        page->addTrack(TrackType::AudioTrack, {0.1f, 0.2f}, 44100, QStringLiteral("one"));
        window.prompts->files << path;
        window.menuActions().saveProject->trigger();
        // Saves keep the project's id and creation time.
        const auto identity = [&path] {
            const QJsonObject root = QJsonDocument::fromJson(TestSupport::fileBytes(path)).object();
            return root.value("id").toString() + root.value("createdAt").toString();
        };
        const QString first = identity();
        page->addTrack(TrackType::AudioTrack, {0.3f}, 44100, QStringLiteral("two"));

        window.prompts->files << path;
        window.prompts->answers << QMessageBox::Save;
        window.menuActions().openProject->trigger();
        QCOMPARE(page->tracks.size(), size_t(2));
        QCOMPARE(page->tracks[1].name, QStringLiteral("two"));
        QCOMPARE(identity(), first);
        window.menuActions().saveProject->trigger();
        QCOMPARE(identity(), first);
        ProjectData data;
        QVERIFY(ProjectDocument::load(path, data).isEmpty());
        QCOMPARE(data.tracks.size(), size_t(2));
    }

    // A bit depth no export writes (a damaged file) opens as the default, and a
    // rate the plug-ins cannot run at as the nearest they can: exports still work.
    void unsupportedBitDepthOpensAsDefault()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        MultiTrackEditorPage* page = window.multiTrackPage;
        // A rate as text is the rate it names; one naming none is the default.
        for (const auto& [written, opened] : {std::pair{"\"48000\"", 48000}, {"0", 44100}, {"4000", 8000}}) {
            window.prompts->files << writeText(dir.filePath(QStringLiteral("damaged.cdw")),
                                               QStringLiteral(R"({"version": "1.0.0", "settings":
                                                   {"bitDepth": 99999, "sampleRate": %1},
                                                   "tracks": [{"type": "midi", "name": "M"}]})")
                                                   .arg(QLatin1String(written))
                                                   .toUtf8());
            window.prompts->answers << QMessageBox::Discard;
            window.menuActions().openProject->trigger();
            QCOMPARE(page->sampleRate(), opened);
        }
        QCOMPARE(page->tracks.size(), size_t(1));
        QCOMPARE(page->bitDepth, 32);
        window.prompts->files << dir.filePath(QStringLiteral("out.wav"));
        window.menuActions().exportWav->trigger();
        QVERIFY(window.prompts->boxes(QStringLiteral("warning")).isEmpty());
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导出: out.wav"));
    }

    // Audio saved without a usable rate opens at the default one, said once.
    void unusableClipRateOpensAtDefault()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.prompts->files << writeText(dir.filePath(QStringLiteral("rate.cdw")), R"({"version": "1.0.0",
            "tracks": [{}, {"audioBlocks": [{}, {"audioData": {"type": "embedded", "sampleRate": 0,
                                                               "channels": [[0.5, 0.25]]}}]}]})");
        window.menuActions().openProject->trigger();
        QCOMPARE(window.multiTrackPage->tracks.at(1).audioClips.at(1).sampleRate, 44100);
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text,
                 QStringLiteral("以下音频片段的采样率无法使用，已按 44100 Hz 打开: 第2条轨道第2个音频片段"));
    }

    // Saving and opening write and read on a worker: the window keeps
    // handling its events (timers, paints, the overlay's spinner) meanwhile,
    // and the project arrives whole.
    void savingAndOpeningLeaveTheWindowRunning()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.cdw"));
        ProbeWindow window, reopened;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        const QList<float> mono = TestSupport::sineWave(440, 30.0, 44100);
        QList<float> stereo;
        for (float value : mono)
            stereo << value << -value;
        window.multiTrackPage->addTrack(TrackType::AudioTrack, mono, 44100, QStringLiteral("long"), stereo);
        window.show();
        reopened.show();

        int turnsUnderOverlay = 0;
        QTimer turns;
        connect(&turns, &QTimer::timeout, [&] {
            turnsUnderOverlay += window.loadingOverlay->isVisible() || reopened.loadingOverlay->isVisible();
        });
        turns.start(0);
        window.prompts->files << path;
        window.menuActions().saveProject->trigger();
        QVERIFY(turnsUnderOverlay > 10);

        turnsUnderOverlay = 0;
        reopened.prompts->files << path;
        reopened.menuActions().openProject->trigger();
        QVERIFY(turnsUnderOverlay > 10);
        QCOMPARE(reopened.multiTrackPage->tracks.size(), size_t(1));
        QCOMPARE(reopened.multiTrackPage->tracks[0].audioClips[0].stereoSamples, stereo);
    }

    // Opening many tracks builds their rows a few at a time with the event
    // loop turning in between, the overlay up: the window never waits for
    // all of them at once.
    void openingBuildsRowsBetweenTurns()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("many.cdw"));
        constexpr size_t Count = 12;
        std::vector<TrackData> tracks(Count);
        for (TrackData& track : tracks) {
            AudioClip clip;
            clip.samples = TestSupport::sineWave(220, 0.1, 44100);
            track.audioClips.push_back(clip);
        }
        QVERIFY(ProjectDocument::save(path, tracks, ProjectSettings(), {}).isEmpty());

        ProbeWindow window;
        window.show();
        QSet<size_t> rowsSeen;
        bool covered = true;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (!window.loadingOverlay->isVisible())
                return;
            rowsSeen << window.multiTrackPage->rows.size();
            covered &= window.stackedWidget->childAt(window.stackedWidget->rect().center()) == window.loadingOverlay;
        });
        watch.start(0);
        window.prompts->files << path;
        window.menuActions().openProject->trigger();
        QCOMPARE(window.multiTrackPage->rows.size(), Count);
        QVERIFY2(std::any_of(rowsSeen.begin(), rowsSeen.end(), [](size_t n) { return n > 0 && n < Count; }),
                 "no turn of the event loop while the rows were built");
        QVERIFY(covered);
    }

    // A close asked for while a save or an open works behind the overlay is
    // carried out once the work is done, with the usual question.
    void closeAskedDuringSaveOrOpenFollowsIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.cdw"));
        for (const bool saving : {true, false}) {
            ProbeWindow window;
            if (saving) {
                window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
                window.multiTrackPage->addTrack(TrackType::AudioTrack, TestSupport::sineWave(440, 30.0, 44100),
                                                44100, QStringLiteral("long"), {});
            }
            window.show();
            int turns = 0;
            bool refused = false;
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&] {
                if (window.loadingOverlay->isVisible() && turns++ == 0)
                    refused = !window.close();
            });
            closer.start(0);
            window.prompts->files << path;
            (saving ? window.menuActions().saveProject : window.menuActions().openProject)->trigger();
            closer.stop();
            QVERIFY(turns > 0);
            QVERIFY(refused);
            QCOMPARE(window.currentProjectPath, path);
            QVERIFY(window.isVisible());

            window.prompts->answers << QMessageBox::Discard;
            QTRY_VERIFY(!window.isVisible());
            QCOMPARE(window.prompts->only(QStringLiteral("question")).text,
                     QStringLiteral("当前有打开的项目，是否在关闭前保存？"));
        }
    }

    void projectFileHelpers()
    {
        QCOMPARE(ProjectDocument::withProjectSuffix(QStringLiteral("/d/a")), QStringLiteral("/d/a.cdw"));
        QCOMPARE(ProjectDocument::withProjectSuffix(QStringLiteral("/d/a.CDW")), QStringLiteral("/d/a.CDW"));
        QCOMPARE(ProjectDocument::withProjectSuffix(QStringLiteral("/d/a.cdw.bak")),
                 QStringLiteral("/d/a.cdw.bak.cdw"));

        QTemporaryDir dir;
        ProjectData data;
        data.name = QStringLiteral("untouched");
        QCOMPARE(ProjectDocument::load(dir.filePath(QStringLiteral("none.cdw")), data),
                 QStringLiteral("无法读取文件: %1").arg(dir.filePath(QStringLiteral("none.cdw"))));
        const QString noVersion = dir.filePath(QStringLiteral("nv.cdw"));
        QFile file(noVersion);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"name": "x", "tracks": []})");
        file.close();
        QCOMPARE(ProjectDocument::load(noVersion, data), QStringLiteral("无法解析工程文件"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("{\"version\": ");
        file.close();
        // The parser's complaint in the interface's language.
        QCOMPARE(ProjectDocument::load(noVersion, data), QStringLiteral("文件格式错误: 非法的值"));
        QVERIFY(file.resize(0));
        QCOMPARE(ProjectDocument::load(noVersion, data), QStringLiteral("文件为空: %1").arg(noVersion));
        QCOMPARE(data.name, QStringLiteral("untouched"));
    }
};

QTEST_MAIN(ProjectCommandsTest)
#include "tst_ProjectCommands.moc"
