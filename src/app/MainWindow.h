#pragma once
// The program's top-level window: the page stack (welcome, single-track,
// multitrack, mixer) with the loading overlay over it, the menus, the status
// bar with its clock, the window settings and the state of the open project.
//
// The member definitions are split by concern: MainWindow.cpp (construction,
// settings, status bar, overlay, closing), MainWindowMenus.cpp (menus and
// their routing to the pages), MainWindowMixer.cpp (the mixer page's
// toggle and its writes into the tracks), MainWindowProject.cpp (new, open, save),
// MainWindowImportExport.cpp (audio and MIDI import, export),
// MainWindowInstruments.cpp (SoundFonts, VST3 import, MIDI devices) and
// MainWindowHelp.cpp (about, preferences, update check). The video, SoundFont
// and VST3 commands are classes of their own (VideoImportCommand,
// SoundFontLoadCommand, VST3ImportCommand).

#include "app/AudioExport.h"
#include "app/ShellActions.h"
#include "app/UpdateInfo.h"
#include "multitrack/ClipPeakCache.h"
#include "project/ProjectTypes.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>

class AudioEditorPage;
class LoadingOverlay;
class MixerPage;
class MultiTrackEditorPage;
class QLabel;
class QStackedWidget;
class QTimer;
class ShellPrompts;
class SoundFontLoadCommand;
class VST3ImportCommand;
class UpdateChecker;
class VideoImportCommand;
class WelcomePage;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Page indexes of the page stack.
    enum Page { WelcomePageIndex = 0, AudioEditorPageIndex = 1, MultiTrackPageIndex = 2, MixerPageIndex = 3 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Stores the choices of the new-project dialog and creates the project.
    void openNewProject(const QString& type, int sampleRate, int bitDepth, bool mono);

    // Covers the page stack with the overlay and lets it paint once before
    // the caller blocks.
    void showLoading(const QString& text);
    void hideLoading();

    // Takes the sound of a video file into the page that shows (a new track
    // on the multitrack page, else the single-track page) and opens the
    // preview window for its picture, replacing an earlier one.
    void importVideoFile(const QString& path);

    const ShellActions& menuActions() const { return actions; }

    // The file choosers and message boxes the window asks through. Windows
    // that this window opens share them.
    void setPrompts(std::shared_ptr<ShellPrompts> prompts);
    ShellPrompts& prompts() const { return *shellPrompts; }

protected:
    void closeEvent(QCloseEvent* event) override;

    void loadSettings();
    void saveSettings();

    QStackedWidget* stackedWidget = nullptr;
    WelcomePage* welcomePage = nullptr;
    AudioEditorPage* audioEditorPage = nullptr;
    MultiTrackEditorPage* multiTrackPage = nullptr;
    MixerPage* mixerPage = nullptr;
    LoadingOverlay* loadingOverlay = nullptr;
    ShellActions actions;
    QLabel* statusLabel = nullptr;
    QTimer* statusTimer = nullptr;
    UpdateChecker* updateChecker = nullptr;
    QTimer* startUpCheckTimer = nullptr; // the silent check shortly after start
    QTimer* deferredCloseTimer = nullptr; // a close that waits for work to end
    SoundFontLoadCommand* soundFontCommand = nullptr;
    VST3ImportCommand* vst3Command = nullptr;
    // Holds the demuxer and the preview window of the last video import.
    VideoImportCommand* videoImport = nullptr;

    bool projectOpen = false;
    QString projectType = QStringLiteral("single");
    QString currentProjectPath;
    // Kept by every save of the open project; empty until it is first saved or opened.
    ProjectIdentity projectIdentity;
    int newSampleRate = 44100;
    int newBitDepth = 16;
    bool newMono = false;

private slots:
    void createNewProject();
    void importProject();
    void closeProject();
    // True only when the project was written (a cancelled save-as writes nothing).
    bool saveProject(const QString& path = QString());
    bool saveProjectAs();
    void loadProject(const QString& path);
    void showPreferences();
    void showAbout();
    void checkForUpdates();
    void onAutoUpdateCheck();
    void onAutoUpdateAvailable(const UpdateInfo& info);
    void updateStatusBar();

private:
    void setupUi();
    void createMenus();
    // Whether work runs behind an overlay in this call stack (an open, a
    // save, an export, the single-track page's long commands).
    bool workUnderWay() const;
    // A close asked for meanwhile is carried out once that work has ended
    // and no box is asking anything, as a close of its own.
    void closeWhenIdle();
    void onDeferredClose();
    void createStatusBar();
    void setupConnections();
    void setupUpdateChecker();
    void setupInstrumentCommands();
    void loadKeptSoundFont();
    void placeOnScreen();

    // ---- menus (MainWindowMenus.cpp) ----
    void connectEditorCommands();
    void routeUndo(bool redo);
    // Undo and redo are offered when the history of the page that shows has
    // a step for them.
    void updateUndoActions();
    void setProjectActionsEnabled(bool enabled);
    bool multiTrackShowing() const;
    // Where imports and exports go: the multitrack page when it shows, and
    // when the mixer shows its tracks in a multitrack project (whose save
    // holds that page, not the single-track one).
    bool fileCommandsOnMultiTrack() const;

    // ---- mixer (MainWindowMixer.cpp) ----
    void connectMixer();
    // Shows the mixer with strips built from the tracks as they are now, or
    // leaves it for the project's own page (single-track or multitrack).
    void toggleMixer();
    // An import made while the mixer shows gets its strip at once.
    void refreshMixerIfShowing();
    // Writes one strip's change into its track (an index outside the track
    // list is ignored), keeps the track's header in step and refreshes the
    // track's slot in the mixing engine.
    void applyMixerChange(int trackIndex, const std::function<void(TrackData&)>& write);

    // ---- project commands (MainWindowProject.cpp) ----
    void showNewProjectDialog(const QString& type);
    // Asks the close question for an open project; false when the user
    // cancelled or the save failed. `saved` tells whether the project was saved.
    bool settleOpenProject(bool* saved = nullptr);
    // Asks `text` with the close question's choices. Save saves the project
    // first (a take still running ends and lands in it); the answer is
    // Cancel also when that save was cancelled or failed.
    QMessageBox::StandardButton askToSaveProject(const QString& title, const QString& text);
    // Before new material replaces the single-track page's (and its
    // history): edits not saved are saved or given up as the user says;
    // false when the user keeps them.
    bool settleEditedMaterial();
    // Ends a running take on either project page; it lands in its page.
    void endRunningTakes();
    // Ends a running take and stops playback on both project pages.
    void stopProjectTransports();
    // The save-as chooser's file with the project suffix; empty when cancelled.
    QString chooseProjectPath();
    void showStatus(const QString& text, int timeoutMs = 3000);
    ProjectSettings multiTrackSettings() const;
    // The waveform summaries of a project's tracks, built while it is read.
    using TrackPeaks = std::vector<std::vector<ClipPeakCache::Prepared>>;
    // Reads a project file on a worker, showing the failure; false when it
    // cannot be opened.
    bool readProjectFile(const QString& path, ProjectData& data, TrackPeaks& peaks);
    // Replaces the multitrack page's project with the one read from a file.
    void restoreMultiTrackProject(ProjectData& data, TrackPeaks& peaks);
    // The page's tempo, its tempo box and its ruler.
    void setMultiTrackTempo(double bpm);

    // ---- import and export (MainWindowImportExport.cpp) ----
    void importAudio();
    // An import would replace the single-track page's material under its
    // running take: refused with a message, the take and history kept.
    bool importRefusedDuringTake();
    void importMidi();
    void exportAudio(AudioExport::Format format);
    // The multitrack page's mixdown, one channel for MP3 and mono projects.
    void exportMixdown(AudioExport::Format format);
    // Writes the file under the overlay; a failure shows the writer's message.
    // `note`, when not empty, is shown with the success: what the file leaves out.
    void writeExport(const QString& path, const AudioExport::Request& request, int sampleRate,
                     const QString& note = QString());

    // ---- video, SoundFont and plug-in commands ----
    void loadSoundFont();
    void importVst3Plugin();

    // ---- help (MainWindowHelp.cpp) ----
    // Ends the manual check that waits for an answer, if one does.
    void endManualUpdateCheck();

    std::shared_ptr<ShellPrompts> shellPrompts;
    QList<QMetaObject::Connection> manualCheckConnections;
    bool updateDialogShowing = false;
};
