#pragma once
// The Tools menu's VST3 import: the user chooses a bundle folder (or the .so
// inside one), which is loaded into the multitrack page's plug-in bridge and
// activated. The window hands in its overlay, status bar and bridge; tests
// replace the dialog and the message box.

#include <QObject>
#include <QString>

#include <functional>

class AudioPluginBridge;
class QWidget;

class VST3ImportCommand : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<AudioPluginBridge*()> bridge; // null while the page has none
        std::function<void(const QString& text)> showLoading;
        std::function<void()> hideLoading;
        std::function<void(const QString& text, int milliseconds)> showStatus;
    };

    VST3ImportCommand(QWidget* window, Hooks hooks);

    // Seams: the path chooser and the warning box.
    std::function<QString(QWidget* parent)> choosePath;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> warn;

public slots:
    // The id of the loaded plug-in, or -1 (cancelled or failed).
    int run();

private:
    QWidget* window;
    Hooks hooks;
};
