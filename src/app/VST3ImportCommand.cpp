#include "app/VST3ImportCommand.h"

#include "plugins/AudioPluginBridge.h"

#include <QFileInfo>

VST3ImportCommand::VST3ImportCommand(CommandFeedback commandFeedback, std::function<AudioPluginBridge*()> pageBridge,
                                     QObject* parent)
    : QObject(parent)
    , feedback(std::move(commandFeedback))
    , bridge(std::move(pageBridge))
{
}

int VST3ImportCommand::load(const QString& path)
{
    if (path.isEmpty())
        return -1;
    feedback.showLoading(tr("加载VST3插件..."));
    AudioPluginBridge* target = bridge ? bridge() : nullptr;
    if (!target) {
        feedback.hideLoading();
        feedback.warn(tr("错误"), tr("插件桥接未初始化"));
        return -1;
    }
    const int id = target->loadPlugin(path.toUtf8().toStdString());
    if (id < 0) {
        // The reason (often the dynamic loader's own words) tells the user
        // what the plug-in is missing.
        QString message = tr("无法加载插件: %1").arg(path);
        const QString reason = QString::fromStdString(target->lastLoadError());
        if (!reason.isEmpty())
            message += QLatin1Char('\n') + reason;
        feedback.hideLoading();
        feedback.warn(tr("加载失败"), message);
        return -1;
    }
    // A plug-in that refuses to start would sit in the bridge doing nothing.
    if (!target->activatePlugin(id)) {
        target->unloadPlugin(id);
        feedback.hideLoading();
        feedback.warn(tr("加载失败"), tr("无法加载插件: %1").arg(path));
        return -1;
    }
    feedback.hideLoading();
    feedback.showStatus(tr("已加载VST3插件: %1").arg(QFileInfo(path).fileName()), 5000);
    return id;
}
