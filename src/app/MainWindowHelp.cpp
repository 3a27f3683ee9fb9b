// The Help menu: about box, preferences and the update check, with the
// silent check shortly after start.

#include "app/MainWindow.h"

#include "app/AppInfo.h"
#include "app/ShellPrompts.h"
#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"

#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

namespace {

constexpr int StartUpCheckDelayMs = 3000;

QString aboutText()
{
    struct Component {
        const char* name;
        const char* licence;
    };
    // What this build links or compiles in, with each one's licence.
    static const Component components[] = {
        {"Qt", "LGPL v3"},
        {"FFmpeg", "LGPL v2.1 / GPL v2"},
        {"LAME", "LGPL v2.1"},
        {"libmpg123", "LGPL v2.1"},
        {"libFLAC", "BSD 3-Clause License"},
        {"FluidSynth", "LGPL v2.1"},
        {"stb_vorbis", "MIT / Public Domain"},
        {"RtAudio", "MIT License"},
        {"RtMidi", "MIT License"},
        {"JACK", "LGPL v2.1"},
        {"RapidJSON", "MIT License"},
        {"VST3 接口", "本程序自行声明的二进制接口，不含 SDK 源码"},
    };
    QString html = QStringLiteral("<h2>卡德文Studio</h2>"
                                  "<p>版本 %1</p>"
                                  "<p>专业音频编辑与处理软件</p>"
                                  "<p>© 卡德文Studio 开发团队，保留所有权利。</p>"
                                  "<hr>"
                                  "<h3>开源组件</h3>")
                       .arg(QString::fromLatin1(AppInfo::Version));
    for (const Component& component : components)
        html += QStringLiteral("<p><b>%1</b> — %2</p>")
                    .arg(QString::fromUtf8(component.name), QString::fromUtf8(component.licence));
    return html;
}

} // namespace

void MainWindow::showAbout()
{
    QMessageBox box(this);
    box.setWindowTitle(tr("关于卡德文Studio"));
    box.setTextFormat(Qt::RichText);
    box.setText(aboutText());
    box.setIconPixmap(QPixmap(QString::fromLatin1(AppInfo::IconPath))
                          .scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    prompts().exec(&box);
}

void MainWindow::showPreferences()
{
    prompts().information(this, tr("偏好设置"), tr("偏好设置对话框将在后续版本中实现。"));
}

void MainWindow::setupUpdateChecker()
{
    updateChecker = new UpdateChecker(this);
    updateChecker->setUpdateUrl(QString::fromLatin1(AppInfo::UpdateUrl));
    // Queued, so a manual check has ended before the dialog runs its own loop.
    connect(updateChecker, &UpdateChecker::updateAvailable, this,
            &MainWindow::onAutoUpdateAvailable, Qt::QueuedConnection);
    startUpCheckTimer = new QTimer(this);
    startUpCheckTimer->setSingleShot(true);
    startUpCheckTimer->setInterval(StartUpCheckDelayMs);
    connect(startUpCheckTimer, &QTimer::timeout, this, &MainWindow::onAutoUpdateCheck);
    startUpCheckTimer->start();
}

void MainWindow::onAutoUpdateCheck()
{
    // Not while work holds the window: the first request sets up the network
    // and its TLS libraries on this thread. It is tried again a little later.
    if (workUnderWay()) {
        startUpCheckTimer->start();
        return;
    }
    updateChecker->checkForUpdates(true);
}

void MainWindow::onAutoUpdateAvailable(const UpdateInfo& info)
{
    // One update dialog at a time, however many checks found the update.
    if (updateDialogShowing)
        return;
    updateDialogShowing = true;
    UpdateDialog dialog(info, this);
    dialog.setPrompts(shellPrompts);
    prompts().exec(&dialog);
    updateDialogShowing = false;
}

void MainWindow::checkForUpdates()
{
    endManualUpdateCheck();
    manualCheckConnections << connect(updateChecker, &UpdateChecker::noUpdateAvailable, this, [this] {
        endManualUpdateCheck();
        prompts().information(this, tr("检查更新"), tr("当前已是最新版本。"));
    });
    manualCheckConnections << connect(updateChecker, &UpdateChecker::checkFailed, this,
                                      [this](const QString& error) {
                                          endManualUpdateCheck();
                                          prompts().warning(this, tr("检查更新"), error);
                                      });
    // The lasting connection shows the dialog; the check just ends.
    manualCheckConnections << connect(updateChecker, &UpdateChecker::updateAvailable, this,
                                      [this] { endManualUpdateCheck(); });
    updateChecker->checkForUpdates(false);
}

void MainWindow::endManualUpdateCheck()
{
    for (const QMetaObject::Connection& connection : manualCheckConnections)
        disconnect(connection);
    manualCheckConnections.clear();
}
