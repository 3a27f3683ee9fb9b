// Editing on the single-track page: deleting the selection, taking over a
// spectral erase, the page's keys, the page zoom, the edit tools and the
// (hidden) stream toggle.

#include "editor/AudioEditorPage.h"

#include "dialogs/EqualizerDialog.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"
#include "project/SampleListCommands.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {

constexpr double MinZoom = 1.0;
constexpr double MaxZoom = 512.0;
constexpr double ZoomStep = 1.5;

const char* const CastOnStyle =
    "background: rgba(42,130,218,40); color: #ffffff; border: 1px solid #2a82da; "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
const char* const CastOffStyle =
    "background: rgba(42,130,218,15); color: #6ab0ff; border: 1px solid rgba(42,130,218,40); "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";

// (int)(seconds * rate), saturating at the int range.
qint64 truncatedIndex(double seconds, int rate)
{
    const double raw = seconds * rate;
    if (std::isnan(raw))
        return 0;
    return qint64(std::clamp(raw, -2147483648.0, 2147483647.0));
}

} // namespace

void AudioEditorPage::deleteSelection()
{
    if (isRecording || isPlaying || !waveformView->hasSelection() || samples.isEmpty())
        return;
    endPreview();
    const double a = std::min(waveformView->getSelectionStart(), waveformView->getSelectionEnd());
    const double b = std::max(waveformView->getSelectionStart(), waveformView->getSelectionEnd());
    const qint64 size = samples.size();
    const qint64 first = std::clamp<qint64>(truncatedIndex(a, sampleRate), 0, size);
    const qint64 last = std::min(size, truncatedIndex(b, sampleRate));
    if (last <= first)
        return;

    // The command cuts the same frames from the stereo list.
    pushStep(new DeleteSelectionCommand(&samples, int(first), int(last), tr("删除选区"),
                                        &stereoSamples));
    syncWaveforms();
    waveformView->clearSelection();
    waveformView2->clearSelection();
    setStatus(tr("已删除选区 (%1 - %2 秒)").arg(a, 0, 'f', 2).arg(b, 0, 'f', 2));
}

void AudioEditorPage::onSpectralErase(SpectrumAnalyzerWidget* source)
{
    if (isRecording) {
        // The views go back to the page's list: nothing was erased.
        source->setAudioData(samples, sampleRate, stereoSamples);
        setStatus(tr("录音中无法应用效果"));
        return;
    }
    const QList<float> oldMono = samples;
    const QList<float> oldStereo = stereoSamples;
    // Stereo material stays stereo: the erase changed the channel of the
    // band it was painted on, and the mono list follows as their mix.
    samples = source->sampleList();
    stereoSamples = source->stereoList();
    pushStep(new SamplesReplaceCommand(&samples, &stereoSamples, oldMono, oldStereo, samples,
                                       stereoSamples, tr("频谱擦除")));
    refreshView(waveformView, "waveform1 setAudioData:");
    refreshView(waveformView2, "waveform2 setAudioData:");
    if (source == spectrumView2)
        refreshView(spectrumView, "spectrum1 setAudioData:");
    else
        refreshView(spectrumView2, "spectrum2 setAudioData:");

    const SpectrumAnalyzerWidget::EraseSummary& erased = source->lastErase();
    QString where;
    if (!oldStereo.isEmpty())
        where = erased.left && erased.right ? tr("左右声道") : erased.left ? tr("左声道") : tr("右声道");
    const QString region = tr("%1 - %2 秒，%3 - %4 Hz")
                               .arg(erased.start, 0, 'f', 2)
                               .arg(erased.end, 0, 'f', 2)
                               .arg(erased.low, 0, 'f', 0)
                               .arg(erased.high, 0, 'f', 0);
    setStatus(where.isEmpty() ? tr("频谱擦除完成：%1").arg(region)
                              : tr("频谱擦除完成（%1）：%2").arg(where, region));
}

void AudioEditorPage::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    switch (event->key()) {
    case Qt::Key_Z:
        if (modifiers & Qt::ControlModifier) {
            if (modifiers & Qt::ShiftModifier)
                redo();
            else
                undo();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Space:
        onPlayPauseClicked();
        event->accept();
        return;
    case Qt::Key_E:
        selectTool(currentTool != 2 ? 2 : 0);
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        deleteSelection();
        event->accept();
        return;
    case Qt::Key_Escape:
        // Esc takes back what the page shows first; only then does it reach
        // a dialog the page sits in.
        if (dropPreviewOrSelection()) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

bool AudioEditorPage::dropPreviewOrSelection()
{
    if (previewShown()) {
        endPreview();
        return true;
    }
    if (engine && EqualizerDialog::endPreviewOn(engine))
        return true;
    if (!waveformView->hasSelection() && !waveformView2->hasSelection())
        return false;
    waveformView->clearSelection();
    waveformView2->clearSelection();
    return true;
}

void AudioEditorPage::undo()
{
    endPreview();
    undoStack->undo();
    syncWaveforms();
}

void AudioEditorPage::redo()
{
    endPreview();
    undoStack->redo();
    syncWaveforms();
}

void AudioEditorPage::onToolChanged(int index)
{
    currentTool = index;
    const bool erase = index == 2;
    eraseSliderAction->setVisible(erase);
    eraseLabelAction->setVisible(erase);
    // No erase can start while a take runs (the spectrograms show live input).
    const auto mode = erase && !isRecording ? SpectrumAnalyzerWidget::Erase
                                            : SpectrumAnalyzerWidget::Normal;
    spectrumView->setToolMode(mode);
    spectrumView2->setToolMode(mode);
}

void AudioEditorPage::selectTool(int tool)
{
    onToolChanged(tool);
    updateToolButtonStyles(tool);
}

void AudioEditorPage::onEraseStrengthChanged(int value)
{
    eraseStrengthLabel->setText(QStringLiteral("力度:%1%").arg(value));
    spectrumView->setEraseStrength(value / 100.0f);
    spectrumView2->setEraseStrength(value / 100.0f);
}

void AudioEditorPage::applyZoom(double zoom)
{
    zoomLevel = std::isnan(zoom) ? MinZoom : std::clamp(zoom, MinZoom, MaxZoom);
    switch (viewStack->currentIndex()) {
    case 0:
        waveformView->setZoomLevel(zoomLevel);
        break;
    case 1:
        spectrumView->setZoomLevel(zoomLevel);
        break;
    case 2:
        waveformView2->setZoomLevel(zoomLevel);
        spectrumView2->setZoomLevel(zoomLevel);
        break;
    default:
        break;
    }
}

void AudioEditorPage::onZoomIn()
{
    applyZoom(zoomLevel * ZoomStep);
}

void AudioEditorPage::onZoomOut()
{
    applyZoom(zoomLevel / ZoomStep);
}

void AudioEditorPage::onZoomFit()
{
    applyZoom(1.0);
}

void AudioEditorPage::onViewTabChanged(int index)
{
    viewStack->setCurrentIndex(index);
    refreshShownViews();
    // The two spectrograms show the same lists: the one now shown takes the
    // other's computation rather than holding and computing its own.
    if (isShown(spectrumView2))
        spectrumView2->takeSpectrogramFrom(*spectrumView);
    else if (isShown(spectrumView))
        spectrumView->takeSpectrogramFrom(*spectrumView2);
    computeShownSpectrograms();
    applyZoom(zoomLevel);
}

void AudioEditorPage::onGainSliderChanged(int)
{
}

void AudioEditorPage::onTogglePcmCast()
{
    if (castButton->isChecked()) {
        castButton->setStyleSheet(QLatin1String(CastOnStyle));
        castButton->setText(tr("流转中"));
        setStatus(tr("请选择流转设备..."));
    } else {
        castButton->setStyleSheet(QLatin1String(CastOffStyle));
        castButton->setText(tr("音频流转"));
        setStatus(tr("音频流转已关闭"));
    }
}
