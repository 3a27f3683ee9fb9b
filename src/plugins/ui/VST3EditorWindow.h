#pragma once
// A top-level window that shows one plug-in's own editor: the window's X11
// id is handed to the plug-in the first time the window is exposed, and the
// view is detached again when the window is closed or hidden. The window
// offers the view a frame with the Linux run loop, so plug-in editors get
// their X11 events and timers on the GUI thread. While the view is
// attached, the controller is given what the processor reports (meters,
// values the plug-in moves itself) on the GUI thread.

#include <QTimer>
#include <QWindow>

#include <memory>
#include <string>

class VST3PlugFrame;
class VST3PluginInstance;

class VST3EditorWindow : public QWindow {
    Q_OBJECT
public:
    VST3EditorWindow(std::shared_ptr<VST3PluginInstance> instance, const std::string& title,
                     QWindow* parent = nullptr);
    ~VST3EditorWindow() override;

    // The bridge id of the plug-in, set by the owner; carried by windowClosed.
    int pluginId = -1;

    bool isAttached() const { return attached; }
    // The frame offered to the view (its run-loop registrations and calls).
    const VST3PlugFrame* plugFrame() const { return frame; }

signals:
    // Once each time the window is closed or hidden after being shown.
    void windowClosed(int pluginId);

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void attachPluginView();
    void detachPluginView();
    void reportClosed();
    void centreOn(const QScreen* screen, int width, int height);

    std::shared_ptr<VST3PluginInstance> instance;
    bool attached = false;
    bool closeReported = false;
    VST3PlugFrame* frame; // one reference, given back by the destructor
    QTimer controllerUpdates;
};
