#pragma once
// The single-track editor page: one recording edited in memory. It owns the
// working sample lists, shows them in waveform and spectrogram views, plays
// and records them through its own duplex engine, edits them with its own
// undo stack and opens the effect dialogs.
//
// Every change of the lists is one undo command followed by syncWaveforms();
// the commands do not notify the views, so whoever undoes or redoes calls
// syncWaveforms() afterwards. The stereo list always follows the mono list:
// an edit either processes both or, when its result is mono by nature,
// empties the stereo list in the same command.
//
// The member definitions are split by concern: AudioEditorPage.cpp (state,
// loaders, views), AudioEditorPageLayout.cpp (widget tree),
// AudioEditorPageTransport.cpp (playback), AudioEditorPageRecording.cpp,
// AudioEditorPageEditing.cpp (delete, erase result, keys, zoom, tools) and
// the AudioEditorPage*Effects.cpp files (effect dialogs).

#include "dialogs/ApplyCheck.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class AudioEngine;
class AudioProcessor;
struct EffectPreviewState;
class QAction;
class LoadingOverlay;
class PitchCorrectionSession;
class RecordTakeQueue;
class QComboBox;
class QDialog;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QStackedWidget;
class QStatusBar;
class QTimer;
class QToolBar;
class QUndoCommand;
class QUndoStack;
class SpectrumAnalyzerWidget;
class VideoPlayerDialog;
class WaveformWidget;

class AudioEditorPage : public QWidget {
    Q_OBJECT
public:
    explicit AudioEditorPage(QWidget* parent = nullptr);
    ~AudioEditorPage() override;

    // ---- read and written directly by the shell and the clip-edit dialog ----
    QList<float> samples;       // mono working list
    QList<float> stereoSamples; // interleaved L, R; empty for mono material
    int sampleRate = 44100;
    int bitDepth = 16;
    int forceMono = 0;          // 1 after a conversion to mono; 0 after one to stereo or a load
    QUndoStack* undoStack = nullptr;

    void loadAudioSamples(const QList<float>& samples, int sampleRate);
    void loadStereoAudioSamples(const QList<float>& interleaved, int sampleRate);
    void syncWaveforms();
    void setVideoPlayerDialog(VideoPlayerDialog* dialog);

    // The overlay of a wait that holds the window (input is dropped until
    // hideLoading()); `dropInput` false for background work that leaves the
    // window usable.
    void showLoading(const QString& message, bool dropInput = true);
    void hideLoading();

    void setPlayheadAll(double seconds);
    void updateMeters(const float* data, int count, bool stereo);
    bool checkMicrophonePermission();
    void requestMicrophonePermission(std::function<void(bool)> callback);

    void deleteSelection();
    // An effect dialog's preview shown on the lists goes back (the lists
    // return to what they were before it, the views follow) before anything
    // else works on them: an edit, undo, a take, a save or an export never
    // takes a preview for the work. The dialog stays open; its next preview
    // or apply starts from the lists as they are then.
    void endPreview();
    // The material beneath a preview shown on the lists (the lists when none shows).
    QList<float> materialMono() const;
    QList<float> materialStereo() const;
    // Undo and redo as the user asks for them (keys, Edit menu): a preview
    // goes back first, and the views follow the lists.
    void undo();
    void redo();
    void applyZoom(double zoom);
    void updateToolButtonStyles(int activeIndex);
    bool startPlayback();
    void stopPlayback();
    void startRecording();
    void stopRecording();
    // Before new material replaces the page's: ends a running take (it
    // belongs to the material it was recorded into) and clears the history.
    void startNewHistory();
    void updateTimeLabel();

    // The memory the undo history may keep (bytes of sample lists beyond
    // those the page holds now); a quarter of physical memory by default.
    void setHistoryBudget(qint64 bytes);
    qint64 historyBudget() const { return historyBudgetBytes; }
    static qint64 defaultHistoryBudget();

    // Whether the material was changed since it was loaded (a new history)
    // or last saved: the history is away from its clean state.
    bool hasUnsavedEdits() const;
    // The material as it is now was saved.
    void markSaved();

    // ---- state read by tests and by the dialogs ----
    bool playing() const { return isPlaying; }
    bool recording() const { return isRecording; }
    double zoom() const { return zoomLevel; }
    int tool() const { return currentTool; }
    AudioEngine* audioEngine() const { return engine; }
    WaveformWidget* waveform(int index) const { return index == 0 ? waveformView : waveformView2; }
    SpectrumAnalyzerWidget* spectrum(int index) const
    {
        return index == 0 ? spectrumView : spectrumView2;
    }
    QStatusBar* statusLine() const { return statusBar; }
    // Reports in `windowBar` (the main window's status bar) and hides the
    // page's own, so that a window shows one status bar. The page's own bar
    // keeps the messages for statusText().
    void useWindowStatusBar(QStatusBar* windowBar);
    // Frames recorded in the take that runs (0 when none runs).
    int recordedFrames() const { return recordTake.size(); }

    // The delay time of a note value at a tempo, truncated to whole ms.
    static int delayTimeMs(double bpm, double noteValue);

signals:
    void backToWelcome();

public slots:
    void onZoomIn();
    void onZoomOut();
    void onZoomFit();
    void showGainDialog();
    void showCenterExtractionDialog();
    void showNoiseReductionDialog();
    void showReverbDialog();
    void showDelayDialog();
    void showTempoDetectionDialog();
    void showPitchCorrectionDialog();
    void showChannelConvertDialog();
    void showCompressorDialog();
    void showEqualizerDialog();
    void onTogglePcmCast();

private slots:
    void onPlayPauseClicked();
    void onStopClicked();
    void onRecordClicked();
    void onRewindClicked();
    void onFastForwardClicked();
    void onViewTabChanged(int index);
    void onToolChanged(int index);
    void onGainSliderChanged(int value);
    void onPlaybackTimer();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // ---- layout (AudioEditorPageLayout.cpp) ----
    void setupUi();
    QToolBar* createToolBar();
    QWidget* createEditorRow();
    QWidget* createMeterPanel();
    QWidget* createBottomControls();

    // ---- views ----
    bool isShown(const QWidget* view) const;
    // Hands the lists to a view now, or when it is next shown.
    void refreshView(WaveformWidget* view, const char* label);
    void refreshView(SpectrumAnalyzerWidget* view, const char* label);
    bool takesDataNow(QWidget* view);
    template <typename View>
    void setViewData(View* view, const char* label);
    void refreshShownViews();
    // The shown spectrograms of long material are computed on a worker
    // thread behind the loading overlay, so that the window stays live.
    void computeShownSpectrograms();
    void onSpectrogramComputed();
    int spectrogramJobs = 0;
    // A wait that drops input shows the overlay (showLoading() to hideLoading()).
    bool waitHoldsWindow = false;
    // The combined view's other half takes a zoom and view start.
    void followVisibleRange(WaveformWidget* view, double zoom, double start);
    void followVisibleRange(SpectrumAnalyzerWidget* view, double zoom, double start);
    template <typename View>
    void setVisibleRange(View* view, double zoom, double start);
    bool followingVisibleRange = false;

    // ---- transport ----
    void movePlayheads(double seconds);
    void setMeterLevel(int level);
    bool ensurePlaybackEngine();
    // The engine's stream was lost with its device or server: a take ends
    // there, keeping what was recorded, and playback ends where the sound
    // stopped; either is told.
    void onEngineStreamLost();
    void endLostPlayback();
    void deleteEngine();
    // Open equalisers whose engine went preview on a new one.
    void offerEngineToEqualizers();

    // ---- recording ----
    // The GUI thread's share of each stretch of input: the take, the meters
    // and the live spectrograms.
    void appendTakeInput(const float* input, qsizetype count);
    void refreshTakeViews(bool force);
    void onRecordTick();
    void failRecordingStart(const QString& status);
    // The take's input went away with its device or server.
    void endLostTake();

    // ---- editing ----
    // Esc: a preview (an effect's on the lists, the equaliser's on the
    // engine) ends, else the selection goes; false when there was neither.
    bool dropPreviewOrSelection();
    void selectTool(int tool);
    void onEraseStrengthChanged(int value);
    void onSpectralErase(SpectrumAnalyzerWidget* source);

    // ---- effects ----
    // Refuses (status message, false) while recording or playing or without audio.
    bool effectAllowed(bool refuseWhilePlaying);
    // Clamps an effect's result into the sample bound (common/SampleBound.h).
    void boundMaterial();
    // Puts the page's lists back to those given and pushes one command from
    // `monoBefore`/`stereoBefore` to the page's current lists, bounded.
    void pushListChange(const QList<float>& monoBefore, const QList<float>& stereoBefore,
                        const QString& text);
    void showDialog(QDialog* dialog);
    // Preview, apply and cancel of a dialog with a preview (EffectPreviewState).
    bool runEffect(EffectPreviewState& state, const std::function<bool()>& process);
    void previewEffect(const std::shared_ptr<EffectPreviewState>& state,
                       const std::function<bool()>& process, const QString& status);
    // False (the user told) when memory ran out; the lists are then unchanged.
    bool applyEffect(EffectPreviewState& state, const std::function<bool()>& process,
                     const QString& applyText, const QString& commandText);
    void cancelEffect(EffectPreviewState& state);
    // The preview on the lists now, if any; its dialog holds it.
    std::weak_ptr<EffectPreviewState> shownPreview;
    bool previewShown() const;
    void connectPreviewDialog(QDialog* dialog, QPushButton* previewButton,
                              const std::shared_ptr<EffectPreviewState>& state,
                              const std::function<std::function<bool()>()>& makeProcess,
                              const std::function<QString()>& previewStatus,
                              const QString& applyText, const QString& commandText,
                              const std::function<QString()>& applyStatus);
    // An outside dialog's result as one undoable step: its mono result for
    // mono material; for stereo material `applyToChannel` (the dialog's
    // accepted settings) runs over each channel and the mono list becomes
    // their mix.
    void takeDialogResult(QList<float> result,
                          const std::function<void(QList<float>&)>& applyToChannel,
                          const QString& applyText, const QString& commandText,
                          const QString& status);
    // True (with a status message) while a take runs.
    bool refusedWhileRecording(const QString& message = QString());
    AudioProcessor* createEffectProcessor();
    // The pitch-correction dialog's analysis of the mono list, made on a
    // worker thread while the GUI thread goes on painting.
    std::unique_ptr<PitchCorrectionSession> analysePitch();
    // The outside dialog owns the processor it was given.
    static void adoptProcessor(QDialog* dialog, AudioProcessor* processor);
    // The material an outside dialog was opened on.
    struct Material {
        QList<float> mono;
        QList<float> stereo;
        int rate = 0;
    };
    Material currentMaterial() const;
    // What an outside dialog opened now asks before it applies: it is refused
    // (also on the status line) while a take runs, with `recordingRefusal`
    // or the common text, and once the page no longer holds this material.
    ApplyCheck applyCheckForCurrentMaterial(const QString& effectName,
                                            const QString& recordingRefusal = QString());

    QString statusText() const;
    void setStatus(const QString& text);

    // ---- history budget (AudioEditorPageHistory.cpp) ----
    // Pushes one step, then drops the oldest steps beyond the budget.
    void pushStep(QUndoCommand* command);
    // Before a whole-list step: room in the budget for the copy it keeps.
    void makeHistoryRoom();
    void trimHistory(qint64 budget);
    void reportOutOfMemory();
    qint64 currentListBytes() const;
    qint64 historyBudgetBytes = defaultHistoryBudget();
    bool historyTrimReported = false;

    AudioEngine* engine = nullptr;
    QTimer* playbackTimer = nullptr;
    bool isPlaying = false;
    bool isRecording = false;
    double zoomLevel = 1.0;
    int currentTool = 0;

    // The list the engine reads while it plays: a shared copy of `samples`,
    // so that an edit meanwhile detaches the page's list and never moves it.
    QList<float> playbackSamples;

    int recordInsertPos = 0;
    int recordStartCount = 0;
    QList<float> samplesBeforeRecording;
    QTimer* recordTimer = nullptr;
    int recordSeconds = 0;
    // The length of the take last inserted (0 when nothing was).
    double lastTakeSeconds = 0.0;
    // The take so far; inserted into `samples` once, when the take stops.
    QList<float> recordTake;
    // Carries the input from the audio thread into recordTake.
    RecordTakeQueue* takeQueue = nullptr;
    // The device may start delivering well after the press (a sound server
    // that wakes its source late): the take still starts at the press (on
    // the steady clock).
    qint64 recordPressNs = 0;
    qsizetype takeLeadInFrames() const;
    qsizetype takeFramesShown = 0;
    bool takeAppendsToViews = false;
    qint64 lastTakeRefreshMs = 0;
    qint64 takeRefreshIntervalMs = 0;
    QTimer* takeRefreshTimer = nullptr;

    // The latest output level, stored by the audio thread and read by
    // meterTimer, which runs while the playback engine exists: the meters
    // show it while the engine plays (the page's playback or the equaliser's
    // preview on it) and fall to zero when nothing plays.
    std::atomic<int> playbackLevel{0};
    QTimer* meterTimer = nullptr;
    void onMeterTimer();

    // Views that are hidden and not yet given the current lists.
    QSet<QWidget*> staleViews;
    WaveformWidget* waveformView = nullptr;
    SpectrumAnalyzerWidget* spectrumView = nullptr;
    WaveformWidget* waveformView2 = nullptr;
    SpectrumAnalyzerWidget* spectrumView2 = nullptr;
    QStackedWidget* viewStack = nullptr;
    QComboBox* viewCombo = nullptr;
    QList<QPushButton*> toolButtons;
    QSlider* eraseStrengthSlider = nullptr;
    QLabel* eraseStrengthLabel = nullptr;
    QAction* eraseSliderAction = nullptr; // tool-bar widgets are shown through their actions
    QAction* eraseLabelAction = nullptr;
    QPushButton* castButton = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* recordButton = nullptr;
    QPushButton* rewindButton = nullptr;
    QPushButton* fastForwardButton = nullptr;
    QLabel* timeLabel = nullptr;
    QProgressBar* meterLeft = nullptr;
    QProgressBar* meterRight = nullptr;
    QStatusBar* statusBar = nullptr;
    QPointer<QStatusBar> windowStatusBar;
    LoadingOverlay* loadingOverlay = nullptr;
    VideoPlayerDialog* videoPlayerDialog = nullptr;
    QMetaObject::Connection videoDestroyedConnection;
};
