#pragma once
// Loads a VST3 plug-in chosen by the user into the multitrack page's plug-in
// bridge and activates it. A bundle is a folder: the window lets the user
// choose the *.vst3 folder itself (or the .so inside it) in VST3BundleDialog.

#include "app/CommandFeedback.h"

#include <QObject>

#include <functional>

class AudioPluginBridge;

class VST3ImportCommand : public QObject {
    Q_OBJECT
public:
    // `bridge` gives the multitrack page's bridge, or null while it has none.
    VST3ImportCommand(CommandFeedback feedback, std::function<AudioPluginBridge*()> bridge, QObject* parent);

    // The loaded and activated plug-in's id, or -1; failures (a plug-in that
    // does not load or does not activate, which is then unloaded) have been shown.
    int load(const QString& path);

private:
    CommandFeedback feedback;
    std::function<AudioPluginBridge*()> bridge;
};
