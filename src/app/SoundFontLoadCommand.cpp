#include "app/SoundFontLoadCommand.h"

#include "engine/instruments/SF2Sampler.h"

#include <QFileInfo>

SoundFontLoadCommand::SoundFontLoadCommand(CommandFeedback feedback,
                                           std::function<bool(const QString& path)> load,
                                           QObject* parent)
    : QObject(parent)
    , feedback(std::move(feedback))
    , install(std::move(load))
{
}

bool SoundFontLoadCommand::load(const QString& path)
{
    if (path.isEmpty())
        return false;
    feedback.showLoading(tr("加载音色库..."));
    // A sampler of its own tries the file; the instrument unloads its font
    // before it reads a new one.
    const bool readable = SF2Sampler().loadSoundFont(path);
    const bool loaded = readable && install(path);
    feedback.hideLoading();
    if (!loaded) {
        feedback.warn(tr("加载失败"), tr("无法加载音色库文件:\n%1").arg(path));
        return false;
    }
    feedback.showStatus(tr("已加载音色库: %1").arg(QFileInfo(path).fileName()), 5000);
    return true;
}
