// Project commands: new single-track and multitrack projects, save, save as
// and close.

#include "app/MainWindow.h"

#include "app/NewProjectDialog.h"
#include "app/ProjectDocument.h"
#include "app/ShellPrompts.h"
#include "app/WelcomePage.h"
#include "editor/AudioEditorPage.h"

#include <QFileInfo>
#include <QStackedWidget>
#include <QStatusBar>

namespace {

const char* const ProjectFilter = "卡德文项目 (*.cdw);;所有文件 (*)";

} // namespace

void MainWindow::showStatus(const QString& text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void MainWindow::showNewProjectDialog(const QString& type)
{
    NewProjectDialog dialog(this);
    if (prompts().exec(&dialog) != QDialog::Accepted)
        return;

    if (stackedWidget->currentIndex() == WelcomePageIndex) {
        openNewProject(type, dialog.sampleRate(), dialog.bitDepth(), dialog.mono());
        return;
    }
    // A project page shows: the new project gets a window of its own and
    // this window keeps its project.
    auto* window = new MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setPrompts(shellPrompts);
    window->openNewProject(type, dialog.sampleRate(), dialog.bitDepth(), dialog.mono());
    window->resize(size());
    window->show();
}

void MainWindow::openNewProject(const QString& type, int sampleRate, int bitDepth, bool mono)
{
    projectType = type;
    newSampleRate = sampleRate;
    newBitDepth = bitDepth;
    newMono = mono;
    createNewProject();
}

bool MainWindow::settleOpenProject()
{
    if (!projectOpen)
        return true;
    const auto answer = prompts().question(
        this, tr("关闭项目"), tr("当前有打开的项目，是否在关闭前保存？"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        return saveProject();
    return false;
}

void MainWindow::createNewProject()
{
    projectOpen = true;
    if (projectType == QLatin1String("single")) {
        audioEditorPage->sampleRate = newSampleRate;
        audioEditorPage->bitDepth = newBitDepth;
        audioEditorPage->forceMono = newMono ? 1 : 0;
        stackedWidget->setCurrentWidget(audioEditorPage);
        showStatus(tr("已创建新单轨项目 (%1 Hz)").arg(newSampleRate));
    } else {
        stackedWidget->setCurrentIndex(MultiTrackPageIndex);
        showStatus(tr("已创建新多轨项目 (%1 Hz)").arg(newSampleRate));
    }
    setProjectActionsEnabled(true);
    updateStatusBar();
}

bool MainWindow::saveProject(const QString& path)
{
    if (!projectOpen)
        return false;
    const QString target = path.isEmpty() ? currentProjectPath : path;
    if (target.isEmpty())
        return saveProjectAs();

    showLoading(tr("保存中..."));
    const ProjectDocument::Content content = ProjectDocument::fromSingleTrack(
        ProjectDocument::projectName(target), audioEditorPage->samples,
        audioEditorPage->stereoSamples, audioEditorPage->sampleRate, audioEditorPage->bitDepth,
        audioEditorPage->forceMono != 0);
    const QString failure =
        ProjectDocument::save(target, content.tracks, content.settings, content.markers);
    hideLoading();
    if (!failure.isEmpty()) {
        prompts().warning(this, tr("保存失败"), failure);
        return false;
    }
    currentProjectPath = target;
    showStatus(tr("已保存: %1").arg(QFileInfo(target).fileName()));
    updateStatusBar();
    return true;
}

bool MainWindow::saveProjectAs()
{
    const QString path = prompts().saveFileName(this, tr("保存项目"), tr(ProjectFilter));
    if (path.isEmpty())
        return false;
    return saveProject(ProjectDocument::withProjectSuffix(path));
}

void MainWindow::closeProject()
{
    if (!projectOpen)
        return;
    const auto answer = prompts().question(
        this, tr("关闭项目"), tr("确定要关闭当前项目吗？未保存的更改将会丢失。"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    projectOpen = false;
    currentProjectPath.clear();
    stackedWidget->setCurrentWidget(welcomePage);
    setProjectActionsEnabled(false);
    showStatus(tr("项目已关闭"));
    updateStatusBar();
}
