// The effects whose dialogs live outside the page (pitch correction,
// compressor, equaliser) and the tempo measurement. The outside dialogs work
// on the mono list and hand back one mono result. Mono material takes that
// result; stereo material stays stereo: the dialog's accepted settings run
// over each channel (as the page's own effects do) and the mono list becomes
// their mix, all in one undoable step. The dialogs are modeless: a result
// replaces only the material its dialog was opened on, and is refused once
// the page holds other material (an import, an edit, a take, an undo) or
// while a take runs. The dialog asks before it closes, so a refused one
// stays open with its settings and can apply once undone back.

#include "editor/AudioEditorPage.h"

#include "audio/AudioProcessor.h"
#include "dialogs/CompressorDialog.h"
#include "dialogs/EqualizerDialog.h"
#include "dialogs/PitchCorrectionDialog.h"
#include "editor/StereoLists.h"
#include "editor/TempoDetectionDialog.h"
#include "widgets/EffectDialogFrame.h"

#include <QDialog>

void AudioEditorPage::takeDialogResult(QList<float> result,
                                       const std::function<void(QList<float>&)>& applyToChannel,
                                       const QString& applyText, const QString& commandText,
                                       const QString& status)
{
    // The channels are processed before the overlay: it lets events run, and
    // the dialog behind `applyToChannel` may be deleted then. `result` is our
    // own copy for the same reason.
    endPreview();
    QList<float> mono = std::move(result);
    QList<float> stereo = stereoSamples;
    if (!stereo.isEmpty())
        StereoLists::processMaterial(mono, stereo, [&applyToChannel](QList<float>& channel) {
            applyToChannel(channel);
            return true;
        });
    showLoading(applyText);
    const QList<float> monoBefore = samples;
    const QList<float> stereoBefore = stereoSamples;
    samples = std::move(mono);
    stereoSamples = std::move(stereo);
    pushListChange(monoBefore, stereoBefore, commandText);
    syncWaveforms();
    hideLoading();
    setStatus(status);
}

void AudioEditorPage::showPitchCorrectionDialog()
{
    if (isRecording) {
        setStatus(tr("录音中无法应用效果"));
        return;
    }
    if (samples.isEmpty()) {
        setStatus(tr("没有音频数据"));
        return;
    }
    // The dialog copies the material, never a preview shown on it.
    endPreview();
    showLoading(tr("分析音高..."));
    auto* dialog = new PitchCorrectionDialog(samples, analysePitch(), this);
    EffectDialogFrame::deleteWhenFinished(dialog);
    hideLoading();
    dialog->setApplyCheck(applyCheckForCurrentMaterial(tr("音高修正"), tr("录音中无法应用效果")));
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        takeDialogResult(
            dialog->correctedSamples, [dialog](QList<float>& list) { dialog->applyTo(list); },
            tr("应用音高修正..."), tr("音高修正"), tr("已应用音高修正"));
    });
    showDialog(dialog);
}

AudioProcessor* AudioEditorPage::createEffectProcessor()
{
    auto* processor = new AudioProcessor();
    processor->samples = samples;
    processor->sampleRate = sampleRate;
    processor->channels = 1;
    return processor;
}

void AudioEditorPage::adoptProcessor(QDialog* dialog, AudioProcessor* processor)
{
    // The dialog's destructor may still write into the processor (an
    // abandoned preview is undone): as the dialog's child it goes after that,
    // also when the page takes its children down.
    processor->setParent(dialog);
}

AudioEditorPage::Material AudioEditorPage::currentMaterial() const
{
    return Material{samples, stereoSamples, sampleRate};
}

ApplyCheck AudioEditorPage::applyCheckForCurrentMaterial(const QString& effectName,
                                                         const QString& recordingRefusal)
{
    return [this, openedOn = currentMaterial(), effectName, recordingRefusal] {
        // Another dialog's preview goes back before the result goes in.
        if (!isRecording)
            endPreview();
        QString refusal;
        if (isRecording) {
            refusal = recordingRefusal.isEmpty() ? tr("录音或播放中无法应用效果") : recordingRefusal;
        } else if (samples != openedOn.mono || stereoSamples != openedOn.stereo
                   || sampleRate != openedOn.rate) {
            // The lists are shared with the copy taken at opening until
            // either changes, so an unchanged page compares by address.
            // Undone back to that material, it compares equal too.
            refusal = tr("音频已在%1打开后更改，未应用").arg(effectName);
        }
        if (!refusal.isEmpty())
            setStatus(refusal);
        return refusal;
    };
}

void AudioEditorPage::showCompressorDialog()
{
    if (!effectAllowed(true))
        return;
    endPreview();
    AudioProcessor* processor = createEffectProcessor();
    auto* dialog = new CompressorDialog(processor, this);
    adoptProcessor(dialog, processor);
    EffectDialogFrame::deleteWhenFinished(dialog);
    dialog->setApplyCheck(applyCheckForCurrentMaterial(tr("压缩器")));
    connect(dialog, &QDialog::accepted, this, [this, processor, dialog] {
        takeDialogResult(
            processor->samples, [dialog](QList<float>& list) { dialog->applyTo(list); },
            tr("应用压缩器..."), tr("压缩器"), tr("已应用压缩器效果"));
    });
    showDialog(dialog);
}

void AudioEditorPage::showEqualizerDialog()
{
    if (!effectAllowed(true))
        return;
    endPreview();
    // The equaliser previews on the page's engine: make sure there is one.
    ensurePlaybackEngine();
    AudioProcessor* processor = createEffectProcessor();
    auto* dialog = new EqualizerDialog(processor, engine, this);
    adoptProcessor(dialog, processor);
    EffectDialogFrame::deleteWhenFinished(dialog);
    dialog->setApplyCheck(applyCheckForCurrentMaterial(tr("均衡器")));
    connect(dialog, &QDialog::accepted, this, [this, processor, dialog] {
        takeDialogResult(
            processor->samples, [dialog](QList<float>& list) { dialog->applyTo(list); },
            tr("应用均衡器..."), tr("均衡器"), tr("已应用均衡器效果"));
    });
    showDialog(dialog);
}

void AudioEditorPage::offerEngineToEqualizers()
{
    // A take deleted the engine the open equalisers previewed on: they
    // preview on the page's next one.
    const auto dialogs = findChildren<EqualizerDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (dialogs.isEmpty() || !ensurePlaybackEngine())
        return;
    for (EqualizerDialog* dialog : dialogs)
        dialog->useEngine(engine);
}

void AudioEditorPage::showTempoDetectionDialog()
{
    if (samples.isEmpty()) {
        setStatus(tr("没有音频数据"));
        return;
    }
    // A preview shown on the page is not the material: the tempo is the material's.
    showDialog(new TempoDetectionDialog(materialMono(), sampleRate, this));
}
