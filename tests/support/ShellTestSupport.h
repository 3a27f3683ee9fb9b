#pragma once
// Helpers for tests of the main window and its commands.

#include "app/MainWindow.h"
#include "ScriptedPrompts.h"

#include <QTemporaryDir>

#include <memory>

// A main window whose state is open to the test and whose questions are
// answered by `prompts`.
class ShellProbeWindow : public MainWindow {
public:
    // Its update checks go to a closed local port, never to the network.
    ShellProbeWindow();

    using MainWindow::audioEditorPage;
    using MainWindow::currentProjectPath;
    using MainWindow::loadingOverlay;
    using MainWindow::loadSettings;
    using MainWindow::mixerPage;
    using MainWindow::multiTrackPage;
    using MainWindow::projectOpen;
    using MainWindow::projectType;
    using MainWindow::saveSettings;
    using MainWindow::stackedWidget;
    using MainWindow::statusLabel;
    using MainWindow::statusTimer;
    using MainWindow::startUpCheckTimer;
    using MainWindow::updateChecker;

    std::shared_ptr<ScriptedPrompts> prompts = std::make_shared<ScriptedPrompts>();
};

namespace ShellTestSupport {

// Settings of this test run only (kept in `settingsDir`), the program's
// names and, when `styled`, its style sheet.
void prepareApplication(const QTemporaryDir& settingsDir, bool styled = true);

} // namespace ShellTestSupport
