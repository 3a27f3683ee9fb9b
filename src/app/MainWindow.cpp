#include "app/MainWindow.h"

#include "app/CommandFeedback.h"
#include "app/VideoImportCommand.h"
#include "app/ShellPrompts.h"
#include "app/UpdateChecker.h"
#include "app/WelcomePage.h"
#include "app/WindowPlacement.h"
#include "widgets/LoadingOverlay.h"
#include "widgets/UserInputDropper.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MixerPage.h"
#include "multitrack/MultiTrackEditorPage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QUndoStack>

namespace {

const char* const GeometryKey = "window/geometry";
const char* const StateKey = "window/state";
const QRect DefaultGeometry(100, 100, 1200, 800);
const QSize InitialSize(1920, 1080);
constexpr int StatusClockIntervalMs = 1000;
// How often a close that waits for work to end looks again.
constexpr int DeferredCloseCheckMs = 50;

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , shellPrompts(std::make_shared<ShellPrompts>())
{
    setupUi();
    createMenus();
    createStatusBar();
    setupConnections();
    loadSettings();
    setupUpdateChecker();
    loadKeptSoundFont();
    setWindowTitle(tr("卡德文Studio"));
    placeOnScreen();

    deferredCloseTimer = new QTimer(this);
    deferredCloseTimer->setSingleShot(true);
    deferredCloseTimer->setInterval(DeferredCloseCheckMs);
    connect(deferredCloseTimer, &QTimer::timeout, this, &MainWindow::onDeferredClose);

    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &MainWindow::updateStatusBar);
    statusTimer->start(StatusClockIntervalMs);
    updateStatusBar();
}

MainWindow::~MainWindow()
{
    saveSettings();
    // The pages go after this class's part of the window: their histories
    // and the page stack must not call into it then, nor may its timers
    // while a page's sound output runs the event loop as it stops.
    for (QTimer* timer : {statusTimer, deferredCloseTimer, startUpCheckTimer}) {
        if (timer)
            timer->stop();
    }
    if (updateChecker)
        updateChecker->disconnect(this);
    stackedWidget->disconnect(this);
    audioEditorPage->undoStack->disconnect(this);
    multiTrackPage->undoStack->disconnect(this);
}

void MainWindow::setupUi()
{
    stackedWidget = new QStackedWidget(this);
    setCentralWidget(stackedWidget);

    welcomePage = new WelcomePage(this);
    audioEditorPage = new AudioEditorPage(this);
    multiTrackPage = new MultiTrackEditorPage(this);
    mixerPage = new MixerPage(this);
    mixerPage->setTracks(&multiTrackPage->tracks);
    mixerPage->setPluginBridge(multiTrackPage->pluginBridge);
    // Open from the start, the mixing output has settled the sound server by
    // the time either page plays or records.
    multiTrackPage->prepareOutput();

    stackedWidget->addWidget(welcomePage);
    stackedWidget->addWidget(audioEditorPage);
    stackedWidget->addWidget(multiTrackPage);
    stackedWidget->addWidget(mixerPage);
    stackedWidget->setCurrentIndex(WelcomePageIndex);

    loadingOverlay = new LoadingOverlay(stackedWidget);
    // Made after the pages, so the window deletes it, and with it the
    // preview window and then the demuxer, after the pages that drive them.
    videoImport = new VideoImportCommand(this, CommandFeedback::of(this));
    setupInstrumentCommands();
}

void MainWindow::createStatusBar()
{
    statusBar()->showMessage(tr("就绪"));
    statusLabel = new QLabel(this);
    statusBar()->addPermanentWidget(statusLabel);
    // One status bar: the editor page reports in the window's.
    audioEditorPage->useWindowStatusBar(statusBar());
    connect(multiTrackPage, &MultiTrackEditorPage::statusMessage, this,
            [this](const QString& text) { showStatus(text, 5000); });
}

void MainWindow::placeOnScreen()
{
    // Always the same start size, whatever geometry the settings restored, but
    // never larger than the screen's usable area.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        resize(InitialSize);
        return;
    }
    setGeometry(WindowPlacement::centredGeometry(InitialSize, screen->availableGeometry()));
}

void MainWindow::loadSettings()
{
    QSettings settings;
    setGeometry(settings.value(QLatin1String(GeometryKey), DefaultGeometry).toRect());
    const QByteArray state = settings.value(QLatin1String(StateKey)).toByteArray();
    if (!state.isEmpty())
        restoreState(state);
}

void MainWindow::saveSettings()
{
    QSettings settings;
    settings.setValue(QLatin1String(GeometryKey), geometry());
    settings.setValue(QLatin1String(StateKey), saveState());
}

void MainWindow::updateStatusBar()
{
    const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    if (!projectOpen) {
        statusLabel->setText(tr("未打开项目 | %1").arg(time));
        return;
    }
    const QString name = currentProjectPath.isEmpty() ? tr("未命名")
                                                      : QFileInfo(currentProjectPath).baseName();
    const QString type = projectType == QLatin1String("single") ? tr("单轨") : tr("多轨");
    statusLabel->setText(tr("项目: %1 | 类型: %2 | %3").arg(name, type, time));
}

void MainWindow::showLoading(const QString& text)
{
    if (!loadingOverlay)
        return;
    loadingOverlay->setGeometry(0, 0, stackedWidget->width(), stackedWidget->height());
    loadingOverlay->show(text);
    QCoreApplication::processEvents();
}

void MainWindow::importVideoFile(const QString& path)
{
    if (importRefusedDuringTake() || !settleEditedMaterial())
        return;
    videoImport->importFile(path, VideoImportTarget::forPages(audioEditorPage, multiTrackPage,
                                                              fileCommandsOnMultiTrack()));
    refreshMixerIfShowing();
}

void MainWindow::hideLoading()
{
    if (loadingOverlay)
        loadingOverlay->hide();
}

void MainWindow::setPrompts(std::shared_ptr<ShellPrompts> prompts)
{
    if (prompts)
        shellPrompts = std::move(prompts);
}

bool MainWindow::workUnderWay() const
{
    return (loadingOverlay && loadingOverlay->isVisible()) || UserInputDropper::active();
}

void MainWindow::closeWhenIdle()
{
    if (!deferredCloseTimer->isActive())
        showStatus(tr("当前操作完成后将关闭窗口"));
    deferredCloseTimer->start();
}

void MainWindow::onDeferredClose()
{
    if (!isVisible())
        return;
    // Still at work, or a box asks first (an open asks whether to save the
    // project it replaces): the close waits on.
    if (workUnderWay() || QApplication::activeModalWidget()) {
        deferredCloseTimer->start();
        return;
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Work behind the overlay is under way in this very call stack: the
    // window stays until it is done, then closes as asked.
    if (workUnderWay()) {
        event->ignore();
        closeWhenIdle();
        return;
    }
    // This close answers any that waited.
    deferredCloseTimer->stop();
    if (projectOpen) {
        // A save that failed or was cancelled keeps the window open.
        if (!settleOpenProject()) {
            event->ignore();
            return;
        }
    }
    saveSettings();
    // Plug-in editors are windows of their own: left open they would keep
    // the program running with the main window gone.
    multiTrackPage->closePluginEditors();
    event->accept();
}
