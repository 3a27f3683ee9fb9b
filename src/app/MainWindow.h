#pragma once
// The program's top-level window: the page stack (welcome, single-track,
// multitrack, mixer) with the loading overlay over it, the status bar with its
// clock, the window settings and the state of the open project.

#include <QMainWindow>
#include <QString>

class AudioEditorPage;
class LoadingOverlay;
class MultiTrackEditorPage;
class QLabel;
class QStackedWidget;
class QTimer;
class VideoImportCommand;
class WelcomePage;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Page indexes of the page stack.
    enum Page { WelcomePageIndex = 0, AudioEditorPageIndex = 1, MultiTrackPageIndex = 2, MixerPageIndex = 3 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Covers the page stack with the overlay and lets it paint once before
    // the caller blocks.
    void showLoading(const QString& text);
    void hideLoading();

    // Takes the sound of a video file into the page that shows (a new track
    // on the multitrack page, else the single-track page) and opens the
    // preview window for its picture, replacing an earlier one.
    void importVideoFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

    // Saves the open project before the window closes: to its file, or
    // through the save-as dialog when it has none. True only when the project
    // was written; a failed or cancelled save keeps the window open.
    virtual bool saveCurrentProject();

    void loadSettings();
    void saveSettings();

    QStackedWidget* stackedWidget = nullptr;
    WelcomePage* welcomePage = nullptr;
    AudioEditorPage* audioEditorPage = nullptr;
    MultiTrackEditorPage* multiTrackPage = nullptr;
    // The mixer stands as a plain page until its class joins.
    QWidget* mixerPage = nullptr;
    LoadingOverlay* loadingOverlay = nullptr;
    QLabel* statusLabel = nullptr;
    QTimer* statusTimer = nullptr;
    // Holds the demuxer and the preview window of the last video import.
    VideoImportCommand* videoImport = nullptr;

    bool projectOpen = false;
    QString projectType = QStringLiteral("single");
    QString currentProjectPath;
    int newSampleRate = 44100;
    int newBitDepth = 16;
    bool newMono = false;

private slots:
    void updateStatusBar();

private:
    void setupUi();
    void createMenus();
    void createStatusBar();
    void setupConnections();
    void setupUpdateChecker();
    void loadKeptSoundFont();
    void placeOnScreen();
};
