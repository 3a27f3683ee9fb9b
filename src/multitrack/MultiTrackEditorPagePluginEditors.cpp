// The editor window of a MIDI track's instrument plug-in, opened and closed
// by the VST3 button of the track's header. A window the user closes by its
// title bar leaves the map at once and is deleted once, later; the button
// stays checked, so its next toggle finds no window and the one after opens
// a new one.

#include "multitrack/MultiTrackEditorPage.h"

#include "multitrack/TrackRowWidget.h"
#include "plugins/AudioPluginBridge.h"
#include "plugins/ui/PluginEditorWindows.h"

#include <QDebug>

void MultiTrackEditorPage::closePluginEditors()
{
    if (vst3Editors)
        vst3Editors->closeAll();
}

void MultiTrackEditorPage::refreshInstrumentLists()
{
    for (TrackRowWidget* row : rows)
        row->refreshInstrumentList();
}

void MultiTrackEditorPage::toggleVst3Editor(int trackIndex, bool open)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()) || !pluginBridge)
        return;
    const int id = tracks[size_t(trackIndex)].pluginId;
    if (id < 0)
        return;
    if (!vst3Editors)
        vst3Editors = new PluginEditorWindows(this);
    if (!open) {
        vst3Editors->close(id); // nothing when no window is open
        return;
    }
    if (!vst3Editors->isOpen(id) && pluginBridge->getPluginInfo(id).path.empty())
        return;
    if (!vst3Editors->open(*pluginBridge, id))
        qDebug() << "MultiTrackEditorPage: no editor for plug-in" << id;
}
