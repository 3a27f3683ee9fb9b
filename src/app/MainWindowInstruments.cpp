// The Tools menu: SoundFonts and VST3 plug-ins for the multitrack page, its
// MIDI devices, and the SoundFont kept from an earlier run.

#include "app/MainWindow.h"

#include "app/CommandFeedback.h"
#include "app/ShellPrompts.h"
#include "app/SoundFontLoadCommand.h"
#include "app/VST3ImportCommand.h"
#include "multitrack/MultiTrackEditorPage.h"

void MainWindow::setupInstrumentCommands()
{
    MultiTrackEditorPage* page = multiTrackPage;
    soundFontCommand = new SoundFontLoadCommand(
        CommandFeedback::of(this),
        [page](const QString& path, QString& note) { return page->copyAndLoadSoundFont(path, &note); }, this);
    vst3Command = new VST3ImportCommand(CommandFeedback::of(this), [page] { return page->pluginBridge; }, this);
}

void MainWindow::loadKeptSoundFont()
{
    multiTrackPage->scanAndLoadExistingSf2();
}

void MainWindow::loadSoundFont()
{
    const QString path = prompts().openFileName(this, tr("加载 SF2 音色库"),
                                                tr("SoundFont 文件 (*.sf2);;所有文件 (*)"));
    if (!path.isEmpty())
        soundFontCommand->load(path);
}

void MainWindow::importVst3Plugin()
{
    const QString path = prompts().pluginBundle(this, tr("导入VST3插件"));
    // The MIDI tracks may choose the new plug-in at once.
    if (!path.isEmpty() && vst3Command->load(path) >= 0)
        multiTrackPage->refreshInstrumentLists();
}
