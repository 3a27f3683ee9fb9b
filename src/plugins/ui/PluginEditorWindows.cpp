#include "PluginEditorWindows.h"

#include "plugins/AudioPluginBridge.h"
#include "plugins/ui/VST3EditorWindow.h"

PluginEditorWindows::PluginEditorWindows(QObject* parent) : QObject(parent) {}

PluginEditorWindows::~PluginEditorWindows()
{
    closeAll();
}

bool PluginEditorWindows::open(AudioPluginBridge& bridge, int pluginId)
{
    if (VST3EditorWindow* shown = window(pluginId)) {
        shown->show();
        shown->raise();
        return true;
    }
    auto instance = bridge.getPluginInstance(pluginId);
    if (!instance)
        return false;
    auto* editor = new VST3EditorWindow(instance, bridge.pluginName(pluginId));
    editor->pluginId = pluginId;
    windows[pluginId] = editor;
    connect(editor, &VST3EditorWindow::windowClosed, this, &PluginEditorWindows::onWindowClosed);
    editor->show();
    return true;
}

VST3EditorWindow* PluginEditorWindows::window(int pluginId) const
{
    const auto it = windows.find(pluginId);
    return it == windows.end() ? nullptr : it->second;
}

void PluginEditorWindows::onWindowClosed(int pluginId)
{
    const auto it = windows.find(pluginId);
    if (it == windows.end())
        return;
    VST3EditorWindow* closed = it->second;
    windows.erase(it);
    closed->disconnect(this);
    closed->deleteLater();
    emit editorClosed(pluginId);
}

void PluginEditorWindows::close(int pluginId)
{
    if (VST3EditorWindow* editor = window(pluginId))
        editor->close(); // reported back through windowClosed
}

void PluginEditorWindows::closeAll()
{
    // Taken out of the map first: closing reports back into it.
    std::map<int, VST3EditorWindow*> open;
    open.swap(windows);
    for (auto& [id, editor] : open) {
        editor->disconnect(this);
        delete editor;
    }
}
