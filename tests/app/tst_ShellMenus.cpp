// The window's menus: which entries a user can choose before and after a
// project exists, unique shortcuts, and commands reaching the page that owns
// them whichever page shows.

#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "project/SampleListCommands.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

using ProbeWindow = ShellProbeWindow;

QList<QAction*> menuEntries(const QMainWindow& window)
{
    QList<QAction*> entries;
    for (QAction* menuAction : window.menuBar()->actions())
        for (QAction* entry : menuAction->menu()->actions())
            if (!entry->isSeparator())
                entries << entry;
    return entries;
}

QStringList enabledTexts(const QMainWindow& window)
{
    QStringList texts;
    for (QAction* entry : menuEntries(window))
        if (entry->isEnabled())
            texts << entry->text();
    return texts;
}

// Every shortcut of an enabled entry belongs to that entry alone.
void verifyUniqueShortcuts(const QMainWindow& window)
{
    QHash<QKeySequence, QString> owners;
    for (QAction* entry : menuEntries(window)) {
        if (!entry->isEnabled())
            continue;
        for (const QKeySequence& key : entry->shortcuts()) {
            QVERIFY2(!owners.contains(key), qPrintable(key.toString() + " on " + owners.value(key)
                                                       + " and " + entry->text()));
            owners.insert(key, entry->text());
        }
    }
}

// The window with the menu `index` open, the menu painted where it pops up.
QPixmap windowWithMenu(QMainWindow& window, int index)
{
    QAction* menuAction = window.menuBar()->actions().at(index);
    window.menuBar()->setActiveAction(menuAction);
    QMenu* menu = menuAction->menu();
    QElapsedTimer waited;
    waited.start();
    while (!menu->isVisible() && waited.elapsed() < 2000)
        QTest::qWait(10);
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    const QRect barItem = window.menuBar()->actionGeometry(menuAction);
    painter.drawPixmap(window.menuBar()->mapTo(&window, barItem.bottomLeft()), menu->grab());
    painter.end();
    menu->hide();
    return picture;
}

} // namespace

class ShellMenusTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        ShellTestSupport::prepareApplication(settingsDir);
    }

    void enablement()
    {
        ProbeWindow window;
        QCOMPARE(window.menuBar()->actions().size(), 6);
        const QStringList atStart = {
            "新建单轨项目(&S)", "新建多轨项目(&M)", "打开项目(&O)...", "退出(&X)", "放大(&I)",
            "缩小(&O)", "加载音色库(&L)...", "MIDI 设备(&M)...", "检查更新(&U)",
            "关于卡德文Studio(&A)", "偏好设置(&P)"};
        QCOMPARE(enabledTexts(window), atStart);
        verifyUniqueShortcuts(window);

        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        const QStringList withProject = enabledTexts(window);
        QCOMPARE(window.menuActions().projectActions().size(), 21);
        QStringList expected;
        for (QAction* entry : menuEntries(window))
            if (atStart.contains(entry->text()) || window.menuActions().projectActions().contains(entry))
                expected << entry->text();
        expected.removeIf([](const QString& text) { return text.startsWith(u"撤销") || text.startsWith(u"重做"); });
        QCOMPARE(withProject, expected); // undo and redo wait for a step
        QVERIFY(withProject.contains(QStringLiteral("调音台(&M)")));
        for (const char* never : {"剪切(&T)", "复制(&C)", "粘贴(&P)", "合成器(&S)"})
            QVERIFY(!withProject.contains(QString::fromUtf8(never)));
        verifyUniqueShortcuts(window);
        QCOMPARE(window.menuActions().newMultiProject->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+Shift+N")));
        QCOMPARE(window.menuActions().mixer->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+M")));
        for (QAction* entry : menuEntries(window))
            QVERIFY2(entry->isVisible(), qPrintable(entry->text()));
    }

    // Undo and redo act on the page that shows; zoom and effects always on
    // the single-track page.
    void commandsReachTheirPage()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        AudioEditorPage* page = window.audioEditorPage;
        page->loadAudioSamples({0.1f, 0.2f, 0.3f}, 44100);
        const QList<float> before = page->samples;
        page->samples = {0.5f};
        page->undoStack->push(new SamplesReplaceCommand(&page->samples, &page->stereoSamples, before,
                                                        {}, page->samples, {}, QStringLiteral("x")));

        window.stackedWidget->setCurrentIndex(MainWindow::WelcomePageIndex);
        window.menuActions().undo->trigger();
        QCOMPARE(page->samples, QList<float>{0.5f});

        window.stackedWidget->setCurrentWidget(page);
        window.menuActions().undo->trigger();
        QCOMPARE(page->samples, before);
        window.menuActions().redo->trigger();
        QCOMPARE(page->samples, QList<float>{0.5f});

        MultiTrackEditorPage* multi = window.multiTrackPage;
        multi->addTrack(TrackType::AudioTrack, {0.1f}, 44100, QStringLiteral("t"));
        window.stackedWidget->setCurrentWidget(multi);
        window.menuActions().undo->trigger();
        QVERIFY(multi->tracks.empty());
        QVERIFY(multi->rows.empty());
        QCOMPARE(page->samples, QList<float>{0.5f});
        window.menuActions().redo->trigger();
        QCOMPARE(multi->tracks.size(), size_t(1));
        QCOMPARE(multi->rows.size(), size_t(1));

        window.stackedWidget->setCurrentIndex(MainWindow::MixerPageIndex);
        window.menuActions().undo->trigger();
        QCOMPARE(multi->tracks.size(), size_t(1));
        const double zoom = page->zoom();
        window.menuActions().zoomIn->trigger();
        QCOMPARE(page->zoom(), zoom * 1.5);
        page->samples.clear();
        window.menuActions().gain->trigger();
        QCOMPARE(page->statusLine()->currentMessage(), QStringLiteral("没有音频数据"));
    }

    // The Tools entries reach the multitrack page whichever page shows; what
    // cannot be loaded is said and changes nothing.
    void toolsReachTheMultitrackPage()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        const QString font = dir.filePath(QStringLiteral("broken.sf2"));
        QFile file(font);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("RIFF....sfbk not really");
        file.close();
        window.prompts->files << font;
        window.menuActions().loadSoundFont->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("open")).title, QStringLiteral("加载 SF2 音色库"));
        QCOMPARE(window.prompts->only(QStringLiteral("warning")).title, QStringLiteral("加载失败"));
        QVERIFY(!window.multiTrackPage->soundFont().isLoaded());
        QVERIFY(!QFileInfo::exists(window.multiTrackPage->sf2Directory() + QStringLiteral("/broken.sf2")));

        const QString bundle = dir.filePath(QStringLiteral("Missing.vst3"));
        window.prompts->files << bundle;
        window.menuActions().importVst3->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("无法加载插件: %1\nno such file or folder").arg(bundle));

        QString shown;
        QTimer closer; // gone with the test, should no dialog come up
        closer.setSingleShot(true);
        closer.callOnTimeout([&shown] {
            QWidget* modal = QApplication::activeModalWidget();
            shown = modal ? QString::fromLatin1(modal->metaObject()->className()) : QString();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
        });
        closer.start(0);
        window.menuActions().midiDevices->trigger();
        QCOMPARE(shown, QStringLiteral("MidiDeviceDialog"));
    }

    void menuScreenshots()
    {
        ProbeWindow window;
        window.resize(1280, 800);
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const char* names[] = {"file", "edit", "view", "effects", "tools", "help"};
        for (int i = 0; i < 6; ++i)
            QVERIFY(TestSupport::saveScreenshot(windowWithMenu(window, i),
                                                QStringLiteral("menu-%1.png").arg(names[i])));
    }
};

QTEST_MAIN(ShellMenusTest)
#include "tst_ShellMenus.moc"
