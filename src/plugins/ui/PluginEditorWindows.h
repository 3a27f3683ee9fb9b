#pragma once
// The open plug-in editor windows of a page, one per plug-in id. A window
// closed or hidden by the user leaves the map before it is deleted, so the
// page never reaches a window that is going away.

#include <QObject>

#include <map>

class AudioPluginBridge;
class VST3EditorWindow;

class PluginEditorWindows : public QObject {
    Q_OBJECT
public:
    explicit PluginEditorWindows(QObject* parent = nullptr);
    ~PluginEditorWindows() override;

    // Shows (or raises) the editor window of a loaded plug-in, titled with
    // its name; false when the id is not loaded.
    bool open(AudioPluginBridge& bridge, int pluginId);
    void close(int pluginId);
    void closeAll();
    bool isOpen(int pluginId) const { return windows.count(pluginId) > 0; }
    VST3EditorWindow* window(int pluginId) const;

signals:
    // Once for each window the user closed or hid.
    void editorClosed(int pluginId);

private:
    void onWindowClosed(int pluginId);

    std::map<int, VST3EditorWindow*> windows;
};
