// The window's project commands: new projects, save and save as of the
// single-track page, and the failures that must lose nothing.

#include "app/MainWindow.h"
#include "app/NewProjectDialog.h"
#include "app/ProjectDocument.h"
#include "app/StartUp.h"
#include "editor/AudioEditorPage.h"
#include "project/ProjectFile.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

using ProbeWindow = ShellProbeWindow;
using TestSupport::FileSizeLimit;

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
        QVERIFY(ProjectDocument::load(noVersion, data).startsWith(QStringLiteral("文件格式错误: ")));
        QCOMPARE(data.name, QStringLiteral("untouched"));
    }
};

QTEST_MAIN(ProjectCommandsTest)
#include "tst_ProjectCommands.moc"
