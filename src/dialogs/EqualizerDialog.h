#pragma once
// Five-band parametric equaliser over the single-track editor's mono audio:
// the EQ curve editor over a spectrum of the audio, a live preview on the
// editor's engine and "应用", which equalises the processor's list. The
// editor hands over an AudioProcessor holding a copy of its list (and its
// engine, possibly null) and, on accepted(), reads the processor's samples
// back. The dialog changes nothing in the editor.
//
// The preview runs on the engine's audio thread: the engine passes every
// output block through its playback-process callback, where the dialog's
// filter works on it and then hands it on to the callback that was set
// before (the editor's level meters), which it puts back when the preview
// ends. One preview at a time holds an engine's callback: a second dialog's
// preview ends the first one's, and the editor ends it (endPreviewOn) before
// it plays or pauses its own material. The engine may be deleted while the
// dialog is open (the editor replaces it for a recording take): the dialog
// then forgets it until the editor hands it the next one (useEngine).
//
// The spectrum behind the curve moves only while the engine plays; idle, it
// shows the whole material's spectrum, then the last one played.

#include "dialogs/ApplyCheck.h"
#include "engine/devices/AudioEngine.h"

#include <QDialog>
#include <QList>
#include <QPointer>

#include <memory>

class AudioProcessor;
class EqualizerPreviewFilter;
class ParametricEQWidget;
class QPushButton;

class EqualizerDialog : public QDialog {
    Q_OBJECT
public:
    EqualizerDialog(AudioProcessor* processor, AudioEngine* engine, QWidget* parent);
    ~EqualizerDialog() override;

    // Ends the preview running on `engine`, whichever dialog runs it; false
    // when none ran.
    static bool endPreviewOn(const AudioEngine* engine);

    // The engine to preview on from now, for a dialog whose engine went
    // (the editor's next one after a take); a dialog with one keeps it.
    void useEngine(AudioEngine* engine);

    ParametricEQWidget* curveEditor() const { return eqWidget; }
    bool isPreviewing() const { return previewing; }
    int previewSampleRate() const { return sampleRate; }

    // The preview filter over `frames` frames of `channels` interleaved values,
    // as the audio thread runs it.
    void processAudioChunk(float* buffer, int frames, int channels = 1);

    // Equalises another mono list at the processor's rate with the current
    // bands, as "应用" equalises the processor's list (the editor's other
    // channels).
    void applyTo(QList<float>& list) const;
    // Asked before "应用" changes anything; a refusal keeps the dialog open.
    void setApplyCheck(ApplyCheck check) { applyCheck = std::move(check); }

public slots:
    void onApply();
    void onPreview(bool checked);
    void onReset();
    void onBandChanged(int index);

private:
    void setupUI();
    void updateBiquadCoeffs();
    void applyEQ();
    void equalise(AudioProcessor& target) const;
    void stopPreview();
    // Stops the preview and unchecks its button.
    void endPreview();
    // Forgets this dialog as the holder of any engine's callback.
    void releaseEngine();
    void onEngineDestroyed();

    // Not owned, may be null; owned by the dialog when the editor hands it
    // over, and forgotten should its owner delete it first.
    QPointer<AudioProcessor> processor;
    QPointer<AudioEngine> engine;        // not owned, may be null or go away
    ApplyCheck applyCheck;
    ParametricEQWidget* eqWidget = nullptr;
    QPushButton* previewButton = nullptr;
    QList<float> sourceSamples; // the engine reads it while the preview plays
    bool previewing = false;
    int sampleRate = 44100;
    std::shared_ptr<EqualizerPreviewFilter> filter;
    // The callback the engine had before the preview, put back after it.
    AudioEngine::PlaybackProcessCallback previousCallback;
};
