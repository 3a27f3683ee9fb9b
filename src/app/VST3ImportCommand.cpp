#include "app/VST3ImportCommand.h"

#include "plugins/AudioPluginBridge.h"
#include "plugins/ui/VST3BundleDialog.h"

#include <QFileInfo>
#include <QMessageBox>

VST3ImportCommand::VST3ImportCommand(QWidget* parentWindow, Hooks commandHooks)
    : QObject(parentWindow), window(parentWindow), hooks(std::move(commandHooks))
{
    choosePath = &VST3BundleDialog::choose;
    warn = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::warning(parent, title, text);
    };
}

int VST3ImportCommand::run()
{
    const QString path = choosePath(window);
    if (path.isEmpty())
        return -1;
    if (hooks.showLoading)
        hooks.showLoading(tr("加载VST3插件..."));
    const auto hide = [this] {
        if (hooks.hideLoading)
            hooks.hideLoading();
    };
    AudioPluginBridge* bridge = hooks.bridge ? hooks.bridge() : nullptr;
    if (!bridge) {
        hide();
        warn(window, tr("错误"), tr("插件桥接未初始化"));
        return -1;
    }
    const int id = bridge->loadPlugin(path.toUtf8().toStdString());
    if (id < 0) {
        hide();
        warn(window, tr("加载失败"), tr("无法加载插件: %1").arg(path));
        return -1;
    }
    bridge->activatePlugin(id);
    hide();
    if (hooks.showStatus)
        hooks.showStatus(tr("已加载VST3插件: %1").arg(QFileInfo(path).fileName()), 5000);
    return id;
}
