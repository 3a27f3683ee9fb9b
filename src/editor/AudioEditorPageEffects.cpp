// The built-in effects with a preview: gain, reverb and delay, and the steps
// every effect of the page shares (refusal, preview, apply as one undoable
// step within the sample bound, cancel).

#include "editor/AudioEditorPage.h"

#include "audio/AudioProcessor.h"
#include "common/SampleBound.h"
#include "widgets/EffectDialogFrame.h"
#include "editor/EffectPreviewState.h"
#include "editor/StereoLists.h"
#include "project/SampleListCommands.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QUndoStack>
#include <QVBoxLayout>

#include <cmath>
#include <memory>
#include <new>

namespace {

struct ReverbPreset {
    const char* name;
    double preDelayMs;
    double roomSize;
    double damping;
    double decay;
};

const ReverbPreset ReverbPresets[] = {
    {"房间 (Room)", 10, 0.4, 0.6, 0.4},
    {"大厅 (Hall)", 30, 0.8, 0.4, 0.7},
    {"板式 (Plate)", 5, 0.5, 0.3, 0.6},
    {"小厅 (Chamber)", 15, 0.6, 0.5, 0.5},
};

struct NoteValue {
    const char* name;
    double value;
};

const NoteValue NoteValues[] = {
    {"全音符 (1/1)", 1.0},        {"二分音符 (1/2)", 0.5},      {"二分附点 (1/2 dot)", 0.75},
    {"四分音符 (1/4)", 0.25},     {"四分附点 (1/4 dot)", 0.375}, {"八分音符 (1/8)", 0.125},
    {"八分附点 (1/8 dot)", 0.1875}, {"三连音四分 (1/4 T)", 0.1667}, {"三连音八分 (1/8 T)", 0.0833},
    {"十六分音符 (1/16)", 0.0625},
};
constexpr int DefaultNoteIndex = 4;

// One mono run of an AudioProcessor operation over `list`.
template <typename Operation>
bool processWith(QList<float>& list, int sampleRate, Operation operation)
{
    AudioProcessor processor;
    processor.samples = list;
    processor.sampleRate = sampleRate;
    processor.channels = 1;
    operation(processor);
    list = processor.samples;
    return true;
}

void multiply(QList<float>& list, float factor)
{
    for (float& value : list)
        value *= factor;
}

} // namespace

int AudioEditorPage::delayTimeMs(double bpm, double noteValue)
{
    return int(std::trunc(60000.0 / bpm * noteValue * 4.0));
}

bool AudioEditorPage::effectAllowed(bool refuseWhilePlaying)
{
    if (isRecording || (refuseWhilePlaying && isPlaying)) {
        setStatus(tr("录音或播放中无法应用效果"));
        return false;
    }
    if (samples.isEmpty()) {
        setStatus(tr("没有音频数据"));
        return false;
    }
    return true;
}

void AudioEditorPage::showDialog(QDialog* dialog)
{
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void AudioEditorPage::boundMaterial()
{
    SampleBound::apply(samples);
    SampleBound::apply(stereoSamples);
}

void AudioEditorPage::pushListChange(const QList<float>& monoBefore,
                                     const QList<float>& stereoBefore, const QString& text)
{
    boundMaterial();
    pushStep(new SamplesReplaceCommand(&samples, &stereoSamples, monoBefore, stereoBefore, samples,
                                       stereoSamples, text));
}

bool AudioEditorPage::runEffect(EffectPreviewState& state, const std::function<bool()>& process)
{
    state.refreshBase(samples, stereoSamples);
    samples = state.baseMono;
    stereoSamples = state.baseStereo;
    if (process())
        return true;
    samples = state.baseMono;
    stereoSamples = state.baseStereo;
    return false;
}

bool AudioEditorPage::refusedWhileRecording(const QString& message)
{
    // A dialog opened before a take started still cannot change the audio
    // while the take runs.
    if (!isRecording)
        return false;
    setStatus(message.isEmpty() ? tr("录音或播放中无法应用效果") : message);
    return true;
}

void AudioEditorPage::previewEffect(const std::shared_ptr<EffectPreviewState>& state,
                                   const std::function<bool()>& process, const QString& status)
{
    if (refusedWhileRecording())
        return;
    // One preview at a time: another dialog's goes back first.
    if (shownPreview.lock() != state)
        endPreview();
    showLoading(tr("预览中..."));
    runEffect(*state, process);
    boundMaterial();
    state->markShown(samples, stereoSamples);
    shownPreview = state;
    syncWaveforms();
    hideLoading();
    setStatus(status);
}

void AudioEditorPage::endPreview()
{
    const std::shared_ptr<EffectPreviewState> state = shownPreview.lock();
    shownPreview.reset();
    if (!state)
        return;
    // Lists replaced meanwhile (new material) hold no preview to take back.
    const bool shown = state->isShown(samples, stereoSamples);
    state->forgetPreview();
    if (!shown)
        return;
    samples = state->baseMono;
    stereoSamples = state->baseStereo;
    syncWaveforms();
    // The preview's own status no longer holds.
    setStatus(tr("已取消预览"));
}

bool AudioEditorPage::previewShown() const
{
    const std::shared_ptr<EffectPreviewState> state = shownPreview.lock();
    return state && state->isShown(samples, stereoSamples);
}

// A shown preview (a centre extraction makes mono) is not the material.
QList<float> AudioEditorPage::materialMono() const
{
    const std::shared_ptr<EffectPreviewState> state = shownPreview.lock();
    return state && state->isShown(samples, stereoSamples) ? state->baseMono : samples;
}

QList<float> AudioEditorPage::materialStereo() const
{
    const std::shared_ptr<EffectPreviewState> state = shownPreview.lock();
    return state && state->isShown(samples, stereoSamples) ? state->baseStereo : stereoSamples;
}

bool AudioEditorPage::applyEffect(EffectPreviewState& state, const std::function<bool()>& process,
                                  const QString& applyText, const QString& commandText)
{
    // Our own preview is replaced by the result; another dialog's goes back.
    if (shownPreview.lock().get() != &state)
        endPreview();
    shownPreview.reset();
    showLoading(applyText);
    makeHistoryRoom();
    try {
        runEffect(state, process);
        pushListChange(state.baseMono, state.baseStereo, commandText);
    } catch (const std::bad_alloc&) {
        // The result or its undo copy did not fit: the material stays as it was.
        samples = state.baseMono;
        stereoSamples = state.baseStereo;
        state.forgetPreview();
        syncWaveforms();
        hideLoading();
        reportOutOfMemory();
        return false;
    }
    state.forgetPreview();
    syncWaveforms();
    hideLoading();
    return true;
}

void AudioEditorPage::cancelEffect(EffectPreviewState& state)
{
    // Only our own preview is taken back; a later edit of the page stays.
    if (shownPreview.lock().get() == &state)
        endPreview();
}

void AudioEditorPage::connectPreviewDialog(QDialog* dialog, QPushButton* previewButton,
                                           const std::shared_ptr<EffectPreviewState>& state,
                                           const std::function<std::function<bool()>()>& makeProcess,
                                           const std::function<QString()>& previewStatus,
                                           const QString& applyText, const QString& commandText,
                                           const std::function<QString()>& applyStatus)
{
    // The controls are read before the overlay lets events run: an accepted
    // dialog may be deleted then.
    connect(previewButton, &QPushButton::clicked, this, [=] {
        previewEffect(state, makeProcess(), previewStatus());
    });
    connect(dialog, &QDialog::accepted, this, [=] {
        if (refusedWhileRecording())
            return;
        const std::function<bool()> process = makeProcess();
        const QString message = applyStatus();
        if (applyEffect(*state, process, applyText, commandText))
            setStatus(message);
    });
    connect(dialog, &QDialog::rejected, this, [=] { cancelEffect(*state); });
}

void AudioEditorPage::showGainDialog()
{
    if (!effectAllowed(true))
        return;
    QDialog* dialog = EffectDialogFrame::create(this, tr("增益调整"), 360);
    QDoubleSpinBox* gain = EffectDialogFrame::spinBox(-24, 24, 0.5, 1, 0, QStringLiteral(" dB"));
    EffectDialogFrame::addGroup(dialog, tr("增益 (dB)"), gain);
    const auto buttons = EffectDialogFrame::addButtons(dialog, true, tr("应用"), tr("取消"));

    auto state = std::make_shared<EffectPreviewState>(samples, stereoSamples);
    const auto process = [this, gain]() -> std::function<bool()> {
        const float factor = std::pow(10.0f, float(gain->value()) / 20.0f);
        return [this, factor] {
            multiply(samples, factor);
            multiply(stereoSamples, factor);
            return true;
        };
    };
    connectPreviewDialog(
        dialog, buttons.preview, state, process,
        [this, gain] { return tr("预览增益: %1 dB").arg(gain->value(), 0, 'f', 1); },
        tr("应用增益..."), tr("增益"),
        [this, gain] { return tr("已应用增益: %1 dB").arg(gain->value(), 0, 'f', 1); });
    showDialog(dialog);
}

void AudioEditorPage::showReverbDialog()
{
    if (!effectAllowed(true))
        return;
    QDialog* dialog = EffectDialogFrame::create(this, tr("混响"), 420);
    auto* preset = new QComboBox;
    for (int i = 0; i < 4; ++i)
        preset->addItem(tr(ReverbPresets[i].name), i);
    QDoubleSpinBox* preDelay = EffectDialogFrame::spinBox(0, 200, 5, 0, 20, QStringLiteral(" ms"));
    QDoubleSpinBox* roomSize = EffectDialogFrame::spinBox(0.1, 1.0, 0.05, 2, 0.5);
    QDoubleSpinBox* damping = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 0.5);
    QDoubleSpinBox* decay = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 0.5);
    QDoubleSpinBox* mix = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 0.3);
    EffectDialogFrame::addGroup(dialog, tr("混响类型"), preset);
    EffectDialogFrame::addGroup(dialog, tr("预延迟 (Pre-delay)"), preDelay);
    EffectDialogFrame::addGroup(dialog, tr("房间大小 (Room Size)"), roomSize);
    EffectDialogFrame::addGroup(dialog, tr("高频衰减 (Damping)"), damping);
    EffectDialogFrame::addGroup(dialog, tr("混响衰减 (Decay)"), decay);
    EffectDialogFrame::addGroup(dialog, tr("干湿比 (Mix)"), mix);
    const auto buttons = EffectDialogFrame::addButtons(dialog, true, tr("应用"), tr("取消"));

    const auto applyPreset = [=](int index) {
        if (index < 0 || index > 3)
            return;
        preDelay->setValue(ReverbPresets[index].preDelayMs);
        roomSize->setValue(ReverbPresets[index].roomSize);
        damping->setValue(ReverbPresets[index].damping);
        decay->setValue(ReverbPresets[index].decay);
    };
    applyPreset(0);
    connect(preset, &QComboBox::currentIndexChanged, dialog, applyPreset);

    auto state = std::make_shared<EffectPreviewState>(samples, stereoSamples);
    const auto process = [=]() -> std::function<bool()> {
        const float mixValue = float(mix->value());
        const float room = float(roomSize->value());
        const float damp = float(damping->value());
        const float delayMs = float(preDelay->value());
        const float decayValue = float(decay->value());
        return [=] {
            const int rate = sampleRate;
            return StereoLists::processMaterial(samples, stereoSamples, [=](QList<float>& list) {
                return processWith(list, rate, [=](AudioProcessor& processor) {
                    processor.applyReverb(mixValue, room, damp, delayMs, decayValue);
                });
            });
        };
    };
    connectPreviewDialog(
        dialog, buttons.preview, state, process, [this] { return tr("预览混响"); },
        tr("应用混响..."), tr("混响"), [this] { return tr("已应用混响"); });
    showDialog(dialog);
}

void AudioEditorPage::showDelayDialog()
{
    if (!effectAllowed(true))
        return;
    QDialog* dialog = EffectDialogFrame::create(this, tr("延迟"), 420);
    QDoubleSpinBox* bpm = EffectDialogFrame::spinBox(20, 300, 1, 1, 120, QStringLiteral(" BPM"));
    auto* note = new QComboBox;
    for (const NoteValue& value : NoteValues)
        note->addItem(tr(value.name), value.value);
    note->setCurrentIndex(DefaultNoteIndex);
    auto* delayLabel = new QLabel;
    delayLabel->setAlignment(Qt::AlignCenter);
    delayLabel->setStyleSheet(QStringLiteral("font-size: 13px; color: #2a82da;"));
    QDoubleSpinBox* feedback = EffectDialogFrame::spinBox(0, 0.95, 0.05, 2, 0.4);
    QDoubleSpinBox* mix = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 0.5);
    EffectDialogFrame::addGroup(dialog, tr("速度 (BPM)"), bpm);
    EffectDialogFrame::addGroup(dialog, tr("节奏型"), note);
    dialog->layout()->addWidget(delayLabel);
    EffectDialogFrame::addGroup(dialog, tr("反馈 (Feedback)"), feedback);
    EffectDialogFrame::addGroup(dialog, tr("干湿比 (Mix)"), mix);
    const auto buttons = EffectDialogFrame::addButtons(dialog, true, tr("应用"), tr("取消"));

    const auto currentDelayMs = [=] {
        bool valid = false;
        double noteValue = note->currentData().toDouble(&valid);
        if (!valid)
            noteValue = 0.25;
        return delayTimeMs(bpm->value(), noteValue);
    };
    const auto updateLabel = [=] {
        delayLabel->setText(tr("延迟时间: %1 ms").arg(currentDelayMs()));
    };
    updateLabel();
    connect(bpm, &QDoubleSpinBox::valueChanged, dialog, updateLabel);
    connect(note, &QComboBox::currentIndexChanged, dialog, updateLabel);

    auto state = std::make_shared<EffectPreviewState>(samples, stereoSamples);
    const auto process = [=]() -> std::function<bool()> {
        const int delayMs = currentDelayMs();
        const float mixValue = float(mix->value());
        const float feedbackValue = float(feedback->value());
        return [=] {
            const int rate = sampleRate;
            return StereoLists::processMaterial(samples, stereoSamples, [=](QList<float>& list) {
                return processWith(list, rate, [=](AudioProcessor& processor) {
                    processor.applyDelay(mixValue, delayMs, feedbackValue);
                });
            });
        };
    };
    connectPreviewDialog(
        dialog, buttons.preview, state, process, [this] { return tr("预览延迟"); },
        tr("应用延迟..."), tr("延迟"), [this] { return tr("已应用延迟"); });
    showDialog(dialog);
}
