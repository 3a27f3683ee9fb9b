#include "app/SoundFontLoadCommand.h"

#include "engine/instruments/SF2Sampler.h"

#include <QFileInfo>

SoundFontLoadCommand::SoundFontLoadCommand(CommandFeedback feedback, Install load, QObject* parent)
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
    QString note;
    const bool loaded = readable && install(path, note);
    feedback.hideLoading();
    if (!loaded) {
        feedback.warn(tr("加载失败"), tr("无法加载音色库文件:\n%1").arg(path));
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    if (note.isEmpty()) {
        feedback.showStatus(tr("已加载音色库: %1").arg(name), 5000);
        return true;
    }
    // Not kept: the next start would fall back to the piano without a word.
    feedback.showStatus(tr("已加载音色库: %1（仅本次运行可用）").arg(name), 5000);
    feedback.warn(tr("加载音色库"),
                  tr("已加载音色库: %1\n%2\n仅本次运行可用，下次启动不会自动加载。").arg(name, note));
    return true;
}
