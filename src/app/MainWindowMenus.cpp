// The window's six menus, their actions and where each command goes: to the
// project commands of the window, or to the page that owns the command.

#include "app/MainWindow.h"

#include "app/WelcomePage.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>
#include <QUndoStack>

namespace {

QAction* addEntry(QMenu* menu, const QString& text, const QKeySequence& shortcut, bool enabled)
{
    QAction* action = menu->addAction(text);
    action->setShortcut(shortcut);
    action->setEnabled(enabled);
    return action;
}

} // namespace

void MainWindow::createMenus()
{
    const QKeySequence none;
    const bool on = true;
    const bool off = false;

    QMenu* file = menuBar()->addMenu(tr("文件(&F)"));
    actions.newSingleProject = addEntry(file, tr("新建单轨项目(&S)"), QKeySequence::New, on);
    // Ctrl+Shift+N belongs to this entry alone (the tutorial teaches it here).
    actions.newMultiProject = addEntry(file, tr("新建多轨项目(&M)"),
                                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), on);
    file->addSeparator();
    actions.openProject = addEntry(file, tr("打开项目(&O)..."), QKeySequence::Open, on);
    actions.saveProject = addEntry(file, tr("保存项目(&S)"), QKeySequence::Save, off);
    actions.saveProjectAs = addEntry(file, tr("项目另存为(&A)..."), QKeySequence::SaveAs, off);
    file->addSeparator();
    actions.importAudio = addEntry(file, tr("导入音频/视频(&I)..."), none, off);
    actions.importMidi = addEntry(file, tr("导入MIDI(&M)..."), none, off);
    actions.exportWav = addEntry(file, tr("导出为WAV(&W)..."), none, off);
    actions.exportMp3 = addEntry(file, tr("导出为MP3(&M)..."), none, off);
    actions.exportFlac = addEntry(file, tr("导出为FLAC(&F)..."), none, off);
    file->addSeparator();
    actions.quit = addEntry(file, tr("退出(&X)"), QKeySequence::Quit, on);

    QMenu* edit = menuBar()->addMenu(tr("编辑(&E)"));
    actions.undo = addEntry(edit, tr("撤销(&U)"), QKeySequence::Undo, off);
    actions.redo = addEntry(edit, tr("重做(&R)"), QKeySequence::Redo, off);
    edit->addSeparator();
    addEntry(edit, tr("剪切(&T)"), QKeySequence::Cut, off);
    addEntry(edit, tr("复制(&C)"), QKeySequence::Copy, off);
    addEntry(edit, tr("粘贴(&P)"), QKeySequence::Paste, off);

    QMenu* view = menuBar()->addMenu(tr("视图(&V)"));
    actions.zoomIn = addEntry(view, tr("放大(&I)"), QKeySequence::ZoomIn, on);
    actions.zoomOut = addEntry(view, tr("缩小(&O)"), QKeySequence::ZoomOut, on);
    view->addSeparator();
    actions.mixer = addEntry(view, tr("调音台(&M)"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), off);

    QMenu* effects = menuBar()->addMenu(tr("效果(&E)"));
    actions.gain = addEntry(effects, tr("增益(&G)"), QKeySequence(Qt::CTRL | Qt::Key_G), off);
    actions.centerExtraction = addEntry(effects, tr("中置声道提取(&C)"),
                                        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), off);
    actions.noiseReduction = addEntry(effects, tr("降噪(&N)"), none, off);
    actions.reverb = addEntry(effects, tr("混响(&R)"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), off);
    actions.delay = addEntry(effects, tr("延迟(&D)"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), off);
    actions.tempoDetection = addEntry(effects, tr("音频速度检测(&T)"),
                                      QKeySequence(Qt::CTRL | Qt::Key_T), off);
    actions.pitchCorrection = addEntry(effects, tr("音高修正(&P)"),
                                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), off);
    actions.channelConvert = addEntry(effects, tr("声道转换(&L)"), none, off);
    actions.compressor = addEntry(effects, tr("压缩器(&C)"), none, off);
    actions.equalizer = addEntry(effects, tr("均衡器(&E)"),
                                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), off);

    QMenu* tools = menuBar()->addMenu(tr("工具(&T)"));
    actions.loadSoundFont = addEntry(tools, tr("加载音色库(&L)..."), none, on);
    actions.importVst3 = addEntry(tools, tr("导入VST3插件(&V)..."), none, off);
    addEntry(tools, tr("合成器(&S)"), none, off);
    tools->addSeparator();
    actions.midiDevices = addEntry(tools, tr("MIDI 设备(&M)..."), none, on);

    QMenu* help = menuBar()->addMenu(tr("帮助(&H)"));
    actions.checkUpdates = addEntry(help, tr("检查更新(&U)"), none, on);
    help->addSeparator();
    actions.about = addEntry(help, tr("关于卡德文Studio(&A)"), none, on);
    actions.preferences = addEntry(help, tr("偏好设置(&P)"), none, on);
}

void MainWindow::setupConnections()
{
    connect(actions.newSingleProject, &QAction::triggered, this,
            [this] { showNewProjectDialog(QStringLiteral("single")); });
    connect(actions.newMultiProject, &QAction::triggered, this,
            [this] { showNewProjectDialog(QStringLiteral("multi")); });
    connect(actions.openProject, &QAction::triggered, this, &MainWindow::importProject);
    connect(actions.saveProject, &QAction::triggered, this, [this] { saveProject(); });
    connect(actions.saveProjectAs, &QAction::triggered, this, &MainWindow::saveProjectAs);
    connect(actions.importAudio, &QAction::triggered, this, &MainWindow::importAudio);
    connect(actions.importMidi, &QAction::triggered, this, &MainWindow::importMidi);
    connect(actions.exportWav, &QAction::triggered, this, [this] { exportAudio(AudioExport::Format::Wav); });
    connect(actions.exportMp3, &QAction::triggered, this, [this] { exportAudio(AudioExport::Format::Mp3); });
    connect(actions.exportFlac, &QAction::triggered, this, [this] { exportAudio(AudioExport::Format::Flac); });
    connect(actions.quit, &QAction::triggered, this, &QWidget::close);

    connect(actions.undo, &QAction::triggered, this, [this] { routeUndo(false); });
    connect(actions.redo, &QAction::triggered, this, [this] { routeUndo(true); });
    for (QUndoStack* stack : {audioEditorPage->undoStack, multiTrackPage->undoStack}) {
        connect(stack, &QUndoStack::canUndoChanged, this, &MainWindow::updateUndoActions);
        connect(stack, &QUndoStack::canRedoChanged, this, &MainWindow::updateUndoActions);
    }
    connect(stackedWidget, &QStackedWidget::currentChanged, this, &MainWindow::updateUndoActions);

    connectEditorCommands();
    connectMixer();

    connect(actions.loadSoundFont, &QAction::triggered, this, &MainWindow::loadSoundFont);
    connect(actions.importVst3, &QAction::triggered, this, &MainWindow::importVst3Plugin);
    // The device dialog belongs to the multitrack page, whichever page shows.
    connect(actions.midiDevices, &QAction::triggered, multiTrackPage,
            &MultiTrackEditorPage::showMidiDeviceDialog);

    connect(actions.checkUpdates, &QAction::triggered, this, &MainWindow::checkForUpdates);
    connect(actions.about, &QAction::triggered, this, &MainWindow::showAbout);
    connect(actions.preferences, &QAction::triggered, this, &MainWindow::showPreferences);

    connect(welcomePage, &WelcomePage::createProject, this, &MainWindow::showNewProjectDialog);
    connect(welcomePage, &WelcomePage::importProject, this, &MainWindow::importProject);
}

void MainWindow::connectEditorCommands()
{
    // The zoom and effect entries always act on the single-track page,
    // whichever page shows.
    AudioEditorPage* page = audioEditorPage;
    connect(actions.zoomIn, &QAction::triggered, page, &AudioEditorPage::onZoomIn);
    connect(actions.zoomOut, &QAction::triggered, page, &AudioEditorPage::onZoomOut);
    connect(actions.gain, &QAction::triggered, page, &AudioEditorPage::showGainDialog);
    connect(actions.centerExtraction, &QAction::triggered, page,
            &AudioEditorPage::showCenterExtractionDialog);
    connect(actions.noiseReduction, &QAction::triggered, page,
            &AudioEditorPage::showNoiseReductionDialog);
    connect(actions.reverb, &QAction::triggered, page, &AudioEditorPage::showReverbDialog);
    connect(actions.delay, &QAction::triggered, page, &AudioEditorPage::showDelayDialog);
    connect(actions.tempoDetection, &QAction::triggered, page,
            &AudioEditorPage::showTempoDetectionDialog);
    connect(actions.pitchCorrection, &QAction::triggered, page,
            &AudioEditorPage::showPitchCorrectionDialog);
    connect(actions.channelConvert, &QAction::triggered, page,
            &AudioEditorPage::showChannelConvertDialog);
    connect(actions.compressor, &QAction::triggered, page, &AudioEditorPage::showCompressorDialog);
    connect(actions.equalizer, &QAction::triggered, page, &AudioEditorPage::showEqualizerDialog);
}

void MainWindow::routeUndo(bool redo)
{
    if (stackedWidget->currentWidget() == audioEditorPage) {
        if (redo)
            audioEditorPage->redo();
        else
            audioEditorPage->undo();
    } else if (multiTrackShowing()) {
        // The page repaints its lanes and ruler, and refuses while a take records.
        if (redo)
            multiTrackPage->redo();
        else
            multiTrackPage->undo();
    }
}

void MainWindow::updateUndoActions()
{
    const QUndoStack* stack = nullptr;
    if (projectOpen && stackedWidget->currentWidget() == audioEditorPage)
        stack = audioEditorPage->undoStack;
    else if (projectOpen && multiTrackShowing())
        stack = multiTrackPage->undoStack;
    actions.undo->setEnabled(stack && stack->canUndo());
    actions.redo->setEnabled(stack && stack->canRedo());
}

void MainWindow::setProjectActionsEnabled(bool enabled)
{
    for (QAction* action : actions.projectActions())
        action->setEnabled(enabled);
    updateUndoActions();
}

bool MainWindow::multiTrackShowing() const
{
    return stackedWidget->currentIndex() == MultiTrackPageIndex;
}

bool MainWindow::fileCommandsOnMultiTrack() const
{
    return multiTrackShowing()
        || (stackedWidget->currentIndex() == MixerPageIndex && projectType != QLatin1String("single"));
}
