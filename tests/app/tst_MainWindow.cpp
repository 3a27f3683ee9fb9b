#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "app/WelcomePage.h"
#include "app/WindowPlacement.h"
#include "editor/AudioEditorPage.h"
#include "widgets/LoadingOverlay.h"
#include "ShellTestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

#include <functional>

namespace {

using ProbeWindow = ShellProbeWindow;

QString clockText()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        // Settings of this run only, apart from the user's and other tests'.
        ShellTestSupport::prepareApplication(settingsDir, false);
    }

    void init()
    {
        QSettings().clear();
    }

    void pagesTitleAndOverlay()
    {
        ProbeWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("卡德文Studio"));
        QCOMPARE(window.centralWidget(), window.stackedWidget);
        QCOMPARE(window.stackedWidget->count(), 4);
        QVERIFY(qobject_cast<WelcomePage*>(window.stackedWidget->widget(MainWindow::WelcomePageIndex)));
        QCOMPARE(window.stackedWidget->currentIndex(), int(MainWindow::WelcomePageIndex));
        QCOMPARE(window.loadingOverlay->parentWidget(), window.stackedWidget);
        QVERIFY(!window.loadingOverlay->isVisibleTo(&window));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("就绪"));
    }

    void statusClock_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("no project") << false << "multi" << "/p/x.cdw" << "未打开项目 | ";
        QTest::newRow("unsaved multitrack") << true << "multi" << "" << "项目: 未命名 | 类型: 多轨 | ";
        QTest::newRow("saved single") << true << "single" << "/p/song.cdw"
                                       << "项目: song | 类型: 单轨 | ";
        QTest::newRow("name with dots") << true << "multi" << "/p/take.two.cdw"
                                        << "项目: take | 类型: 多轨 | ";
    }
    void statusClock()
    {
        QFETCH(bool, open);
        QFETCH(QString, type);
        QFETCH(QString, path);
        QFETCH(QString, prefix);
        ProbeWindow window;
        QVERIFY(window.statusTimer->isActive());
        QCOMPARE(window.statusTimer->interval(), 1000);
        window.projectOpen = open;
        window.projectType = type;
        window.currentProjectPath = path;
        const QString before = clockText();
        QVERIFY(QMetaObject::invokeMethod(&window, "updateStatusBar"));
        const QString text = window.statusLabel->text();
        const QString after = clockText();
        QVERIFY2(text == prefix + before || text == prefix + after, qPrintable(text));
        // Each tick of the clock rewrites it.
        window.statusLabel->clear();
        QVERIFY(QMetaObject::invokeMethod(window.statusTimer, "timeout"));
        QVERIFY(window.statusLabel->text().startsWith(prefix));
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("large screen") << QRect(0, 0, 2560, 1440) << QRect(320, 180, 1920, 1080);
        QTest::newRow("exact fit") << QRect(0, 0, 1920, 1080) << QRect(0, 0, 1920, 1080);
        QTest::newRow("small screen") << QRect(0, 0, 1366, 768) << QRect(0, 0, 1366, 768);
        QTest::newRow("panel on top") << QRect(0, 32, 1920, 1048) << QRect(0, 32, 1920, 1048);
        QTest::newRow("odd margin") << QRect(0, 0, 1921, 1083) << QRect(0, 1, 1920, 1080);
        QTest::newRow("second screen") << QRect(1920, 0, 2560, 1440) << QRect(2240, 180, 1920, 1080);
    }
    void placement()
    {
        QFETCH(QRect, available);
        QFETCH(QRect, expected);
        QCOMPARE(WindowPlacement::centredGeometry(QSize(1920, 1080), available), expected);
    }

    void startGeometryIgnoresStoredGeometry()
    {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect expected = WindowPlacement::centredGeometry(QSize(1920, 1080), available);
        {
            ProbeWindow first;
            QCOMPARE(first.geometry(), expected);
        }
        QSettings().setValue(QStringLiteral("window/geometry"), QRect(7, 9, 333, 222));
        ProbeWindow second;
        QCOMPARE(second.geometry(), expected);
    }

    void settingsWrittenOnCloseAndDestruction()
    {
        QRect last;
        QByteArray state;
        {
            ProbeWindow window;
            window.show();
            window.setGeometry(40, 50, 640, 480);
            QVERIFY(window.close());
            QSettings settings;
            QCOMPARE(settings.value(QStringLiteral("window/geometry")).toRect(), window.geometry());
            QCOMPARE(settings.value(QStringLiteral("window/state")).toByteArray(), window.saveState());
            window.setGeometry(60, 70, 500, 400);
            last = window.geometry();
            state = window.saveState();
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("window/geometry")).toRect(), last);
        QCOMPARE(settings.value(QStringLiteral("window/state")).toByteArray(), state);
    }

    void stateRestored()
    {
        {
            ProbeWindow window;
            auto* bar = new QToolBar(QStringLiteral("probe"));
            bar->setObjectName(QStringLiteral("probeBar"));
            window.addToolBar(Qt::LeftToolBarArea, bar);
            window.saveSettings();
        }
        ProbeWindow window;
        auto* bar = new QToolBar(QStringLiteral("probe"));
        bar->setObjectName(QStringLiteral("probeBar"));
        window.addToolBar(Qt::TopToolBarArea, bar);
        window.loadSettings();
        QCOMPARE(window.toolBarArea(bar), Qt::LeftToolBarArea);

        // An empty stored state restores nothing.
        window.addToolBar(Qt::BottomToolBarArea, bar);
        QSettings().setValue(QStringLiteral("window/state"), QByteArray());
        window.loadSettings();
        QCOMPARE(window.toolBarArea(bar), Qt::BottomToolBarArea);
    }

    void closeWithoutProjectAsksNothing()
    {
        ProbeWindow window;
        window.show();
        QVERIFY(window.close());
        QVERIFY(window.prompts->shown.isEmpty());
        QVERIFY(QSettings().contains(QStringLiteral("window/geometry")));
    }

    // The close question's Save writes the project through the save-as
    // chooser; only a written project lets the window close.
    void closeWithProjectOpen_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("chosenFile");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("warning");
        QTest::newRow("save succeeds") << int(QMessageBox::Save) << "song" << true << "";
        QTest::newRow("save fails") << int(QMessageBox::Save) << "missing/song.cdw" << false
                                    << "保存失败";
        QTest::newRow("save as cancelled") << int(QMessageBox::Save) << "" << false << "";
        QTest::newRow("discard") << int(QMessageBox::Discard) << "" << true << "";
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << "" << false << "";
    }
    void closeWithProjectOpen()
    {
        QFETCH(int, answer);
        QFETCH(QString, chosenFile);
        QFETCH(bool, closes);
        QFETCH(QString, warning);
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSettings().clear();

        window.prompts->answers << QMessageBox::StandardButton(answer);
        if (!chosenFile.isEmpty())
            window.prompts->files << dir.filePath(chosenFile);
        QCOMPARE(window.close(), closes);
        const auto question = window.prompts->only(QStringLiteral("question"));
        QCOMPARE(question.title, QStringLiteral("关闭项目"));
        QCOMPARE(question.text, QStringLiteral("当前有打开的项目，是否在关闭前保存？"));
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QCOMPARE(window.prompts->only(QStringLiteral("warning")).title, warning);
        if (answer == QMessageBox::Save && closes)
            QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("song.cdw"))));
        QCOMPARE(window.isVisible(), !closes);
        // Settings are written only when the window really closes.
        QCOMPARE(QSettings().contains(QStringLiteral("window/geometry")), closes);
        QVERIFY(window.projectOpen);
    }

    // A 1366 x 768 screen leaves about 740 px under the title bar: every
    // page fits there, down to the editor's transport and the one status bar.
    void fitsSmallScreenWithOneStatusBar()
    {
        ProbeWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize minimum = window.minimumSize().expandedTo(window.minimumSizeHint());
        QVERIFY2(minimum.width() <= 1366 && minimum.height() < 740,
                 qPrintable(QStringLiteral("%1 x %2").arg(minimum.width()).arg(minimum.height())));
        window.resize(1366, 738);
        QCOMPARE(window.size(), QSize(1366, 738));

        window.stackedWidget->setCurrentIndex(MainWindow::AudioEditorPageIndex);
        QCoreApplication::processEvents();
        QList<QStatusBar*> shown;
        for (QStatusBar* bar : window.findChildren<QStatusBar*>())
            if (bar->isVisible())
                shown << bar;
        QCOMPARE(shown, QList<QStatusBar*>{window.statusBar()});
        auto* time = window.audioEditorPage->findChild<QLabel*>(QStringLiteral("TimeLabel"));
        QVERIFY(time->isVisible());
        QVERIFY(time->mapTo(&window, QPoint(0, time->height())).y() <= window.statusBar()->y());
        // The page's messages appear in the window's status bar.
        window.audioEditorPage->onTogglePcmCast();
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("音频流转已关闭"));
    }

    void loadingOverlayCoversPageStack()
    {
        ProbeWindow window;
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showLoading(QStringLiteral("加载中..."));
        QVERIFY(window.loadingOverlay->isVisible());
        QCOMPARE(window.loadingOverlay->message(), QStringLiteral("加载中..."));
        QCOMPARE(window.loadingOverlay->geometry(), window.stackedWidget->rect());
        window.hideLoading();
        QVERIFY(!window.loadingOverlay->isVisible());
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_MainWindow.moc"
