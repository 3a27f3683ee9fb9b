// Centre-channel extraction, noise reduction and channel conversion.

#include "editor/AudioEditorPage.h"

#include "audio/AudioProcessor.h"
#include "audio/dsp/VocalIsolator.h"
#include "widgets/EffectDialogFrame.h"
#include "editor/EffectPreviewState.h"
#include "editor/StereoLists.h"
#include "editor/WaveformWidget.h"
#include "project/SampleListCommands.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <new>

namespace {

constexpr float IsolationSmoothing = 0.02f;

// trunc(seconds * rate) as a 32-bit integer, clamped to [low, high].
int selectionIndex(double seconds, int rate, int low, int high)
{
    const double raw = seconds * rate;
    const int index = raw >= 2147483647.0 ? 2147483647 : raw <= -2147483648.0 ? -2147483647 - 1
                                                                               : int(raw);
    return std::max(low, std::min(high, index));
}

} // namespace

void AudioEditorPage::showCenterExtractionDialog()
{
    if (!effectAllowed(true))
        return;
    const bool hasStereo = !materialStereo().isEmpty();
    QDialog* dialog = EffectDialogFrame::create(this, tr("中置声道提取"), 420);

    auto* modeRow = new QHBoxLayout;
    auto* msMode = new QRadioButton(tr("M/S 提取"));
    auto* subtractMode = new QRadioButton(tr("频谱减法去伴奏"));
    auto* modes = new QButtonGroup(dialog);
    modes->addButton(msMode, 0);
    modes->addButton(subtractMode, 1);
    msMode->setChecked(true);
    if (!hasStereo) {
        subtractMode->setEnabled(false);
        subtractMode->setToolTip(tr("频谱减法需要立体声音频"));
    }
    modeRow->addWidget(msMode);
    modeRow->addWidget(subtractMode);
    EffectDialogFrame::addGroup(dialog, tr("处理模式"), modeRow);

    QDoubleSpinBox* centre = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 1.0);
    QDoubleSpinBox* side = EffectDialogFrame::spinBox(0, 1, 0.05, 2, 0.0);
    QGroupBox* centreGroup = EffectDialogFrame::addGroup(dialog, tr("中置声道强度"), centre);
    QGroupBox* sideGroup = EffectDialogFrame::addGroup(dialog, tr("侧置声道强度"), side);

    auto* alphaLayout = new QVBoxLayout;
    auto* alphaRow = new QHBoxLayout;
    auto* alphaSlider = new QSlider(Qt::Horizontal);
    alphaSlider->setRange(0, 200);
    alphaSlider->setValue(100);
    auto* alphaValue = new QLabel(QStringLiteral("1.00"));
    alphaValue->setMinimumWidth(36);
    alphaRow->addWidget(new QLabel(tr("α =")));
    alphaRow->addWidget(alphaSlider, 1);
    alphaRow->addWidget(alphaValue);
    auto* alphaHint = new QLabel(tr("0 = 不减, 1 = 标准, 2 = 强减"));
    alphaHint->setStyleSheet(QStringLiteral("color: gray; font-size: 11px;"));
    alphaLayout->addLayout(alphaRow);
    alphaLayout->addWidget(alphaHint);
    QGroupBox* alphaGroup = EffectDialogFrame::addGroup(dialog, tr("减法强度"), alphaLayout);
    alphaGroup->hide();

    auto* note = new QLabel(
        hasStereo ? tr("M/S 提取：中置=1.0, 侧置=0.0 → 保留中心内容。\n频谱减法：用侧置通道作为伴奏参考，从中心通道中减去伴奏成分。")
                  : tr("注意：当前音频为单声道，中置声道提取效果有限。\n中置强度将直接调节音量大小。"));
    note->setWordWrap(true);
    dialog->layout()->addWidget(note);
    const auto buttons = EffectDialogFrame::addButtons(dialog, true, tr("应用"), tr("取消"));

    connect(alphaSlider, &QSlider::valueChanged, dialog, [alphaValue](int v) {
        alphaValue->setText(QString::number(v / 100.0, 'f', 2));
    });
    connect(modes, &QButtonGroup::idClicked, dialog, [=](int id) {
        centreGroup->setVisible(id == 0);
        sideGroup->setVisible(id == 0);
        alphaGroup->setVisible(id == 1);
    });

    const auto subtracting = [=] { return modes->checkedId() == 1 && hasStereo; };
    // The result is one mono list by nature: the stereo list goes with it.
    const auto process = [=]() -> std::function<bool()> {
        const bool subtract = subtracting();
        const float alpha = alphaSlider->value() / 100.0f;
        const float c = float(centre->value());
        const float s = float(side->value());
        // The lists are the page's at the time of the run: a stereo list that
        // went meanwhile leaves the mono path.
        return [=] {
            const qsizetype frames = stereoSamples.size() / 2;
            if (subtract && frames > 0) {
                samples.resize(frames);
                VocalIsolator isolator;
                isolator.setIsolationStrength(alpha, IsolationSmoothing);
                isolator.processOffline(stereoSamples.constData(), samples.data(), size_t(frames),
                                        sampleRate);
            } else if (frames > 0) {
                samples.resize(frames);
                const float* in = stereoSamples.constData();
                float* out = samples.data();
                for (qsizetype i = 0; i < frames; ++i) {
                    const float l = in[2 * i];
                    const float r = in[2 * i + 1];
                    out[i] = (l + r) * 0.5f * c + (l - r) * 0.5f * s;
                }
            } else {
                for (float& value : samples)
                    value *= c;
            }
            stereoSamples.clear();
            return true;
        };
    };
    auto state = std::make_shared<EffectPreviewState>(samples, stereoSamples);
    connectPreviewDialog(
        dialog, buttons.preview, state, process, [this] { return tr("预览中置声道提取"); },
        tr("应用中置声道提取..."), tr("中置声道提取"), [=] {
            if (subtracting())
                return tr("已应用频谱减法去伴奏 (α=%1)")
                    .arg(alphaSlider->value() / 100.0, 0, 'f', 2);
            return tr("已应用中置声道提取 (中置=%1, 侧置=%2)")
                .arg(centre->value(), 0, 'f', 2)
                .arg(side->value(), 0, 'f', 2);
        });
    showDialog(dialog);
}

void AudioEditorPage::showNoiseReductionDialog()
{
    if (!effectAllowed(true))
        return;
    if (!waveformView->hasSelection()) {
        QMessageBox::information(
            this, tr("降噪"),
            tr("请先在波形上框选一段纯噪声区域（如静音段、背景噪声），\n然后再次执行降噪命令。\n\n提示：选择一段没有语音/音乐的纯噪声部分效果最好。"),
            QMessageBox::Ok);
        return;
    }
    const double startSeconds = waveformView->getSelectionStart();
    const double endSeconds = waveformView->getSelectionEnd();
    const int n = int(std::min<qsizetype>(samples.size(), 2147483647));
    const int start = selectionIndex(startSeconds, sampleRate, 0, n);
    const int end = std::max(start, selectionIndex(endSeconds, sampleRate, 0, n));

    QDialog* dialog = EffectDialogFrame::create(this, tr("降噪"), 400);
    dialog->layout()->addWidget(new QLabel(tr("噪声样本: %1 - %2 秒 (%3 个采样点)")
                                               .arg(startSeconds, 0, 'f', 3)
                                               .arg(endSeconds, 0, 'f', 3)
                                               .arg(end - start)));
    auto* strengthLayout = new QVBoxLayout;
    auto* strength = new QSlider(Qt::Horizontal);
    strength->setRange(0, 100);
    strength->setValue(50);
    auto* strengthValue = new QLabel(QStringLiteral("50%"));
    strengthValue->setAlignment(Qt::AlignCenter);
    strengthLayout->addWidget(strength);
    strengthLayout->addWidget(strengthValue);
    EffectDialogFrame::addGroup(dialog, tr("降噪强度"), strengthLayout);
    connect(strength, &QSlider::valueChanged, dialog, [strengthValue](int v) {
        strengthValue->setText(QStringLiteral("%1%").arg(v));
    });
    EffectDialogFrame::addButtons(dialog, false, tr("应用"), tr("取消"));

    connect(dialog, &QDialog::accepted, this, [=] {
        if (refusedWhileRecording())
            return;
        // Read before the overlay lets events run (the dialog may go then).
        const int strengthPercent = strength->value();
        const float amount = strengthPercent / 100.0f;
        endPreview();
        showLoading(tr("降噪处理中..."));
        makeHistoryRoom();
        const QList<float> monoBefore = samples;
        const QList<float> stereoBefore = stereoSamples;
        const int rate = sampleRate;
        QString error;
        // Each channel gets its own noise profile from the same stretch.
        bool done = false;
        try {
            done = StereoLists::processMaterial(samples, stereoSamples, [&](QList<float>& list) {
                AudioProcessor processor;
                connect(&processor, &AudioProcessor::errorOccurred, this,
                        [&error](const QString& message) { error = message; });
                processor.samples = list;
                processor.sampleRate = rate;
                processor.channels = 1;
                processor.analyzeNoiseProfile(start, end);
                if (processor.noiseProfile.isEmpty())
                    return false;
                processor.applyNoiseReduction(amount);
                list = processor.samples;
                return true;
            });
        } catch (const std::bad_alloc&) {
            samples = monoBefore;
            stereoSamples = stereoBefore;
            hideLoading();
            reportOutOfMemory();
            return;
        }
        if (!done) {
            hideLoading();
            setStatus(error.isEmpty() ? tr("降噪失败") : tr("降噪失败：%1").arg(error));
            return;
        }
        pushListChange(monoBefore, stereoBefore, tr("降噪"));
        syncWaveforms();
        hideLoading();
        setStatus(tr("降噪完成，强度: %1%").arg(strengthPercent));
    });
    showDialog(dialog);
}

void AudioEditorPage::showChannelConvertDialog()
{
    if (!effectAllowed(true))
        return;
    const bool toMono = !materialStereo().isEmpty();
    QDialog* dialog = EffectDialogFrame::create(this, tr("声道转换"), 320);
    auto* label = new QLabel(toMono ? tr("当前音频为立体声。\n点击下方按钮转为单声道（L+R 混合）。")
                                    : tr("当前音频为单声道。\n点击下方按钮转为立体声（左右声道复制）。"));
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #c0c0d0; font-size: 13px; padding: 8px;"));
    dialog->layout()->addWidget(label);
    const auto buttons = EffectDialogFrame::addButtons(
        dialog, false, toMono ? tr("转为单声道") : tr("转为立体声"), tr("取消"));
    auto convertRequested = std::make_shared<bool>(false);
    // The button sets the flag before accept() runs.
    disconnect(buttons.apply, &QPushButton::clicked, dialog, &QDialog::accept);
    connect(buttons.apply, &QPushButton::clicked, dialog, [dialog, convertRequested] {
        *convertRequested = true;
        dialog->accept();
    });

    connect(dialog, &QDialog::accepted, this, [=] {
        if (!*convertRequested || refusedWhileRecording())
            return;
        endPreview();
        // An undo since the dialog opened may have made the conversion moot.
        if (toMono == stereoSamples.isEmpty()) {
            setStatus(toMono ? tr("当前音频已是单声道") : tr("当前音频已是立体声"));
            return;
        }
        showLoading(tr("声道转换中..."));
        makeHistoryRoom();
        const QList<float> monoBefore = samples;
        const QList<float> stereoBefore = stereoSamples;
        const int forceMonoBefore = forceMono;
        if (toMono) {
            stereoSamples.clear();
            forceMono = 1;
        } else {
            stereoSamples = StereoLists::duplicate(samples);
            forceMono = 0;
        }
        pushStep(new ChannelConversionCommand(&samples, &stereoSamples, monoBefore, stereoBefore,
                                              &forceMono, forceMonoBefore, tr("声道转换")));
        syncWaveforms();
        hideLoading();
        setStatus(toMono ? tr("已转为单声道") : tr("已转为立体声"));
    });
    showDialog(dialog);
}
