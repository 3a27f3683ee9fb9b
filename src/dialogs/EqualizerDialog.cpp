#include "dialogs/EqualizerDialog.h"

#include "audio/AudioProcessor.h"
#include "audio/MonoListProcessing.h"
#include "dialogs/EqualizerPreviewFilter.h"
#include "dialogs/FrequencyAnalyzerWidget.h"
#include "dialogs/ParametricEQWidget.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <map>

namespace {

constexpr int BandCount = ParametricEQWidget::BandCount;
constexpr int EngineChannels = 2; // the engine's output blocks are interleaved stereo
constexpr int FallbackRate = 44100;

QPushButton* makeButton(const QString& text, const char* style, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFixedWidth(80);
    button->setStyleSheet(QLatin1String(style));
    return button;
}

// The dialog whose preview holds each engine's playback callback (GUI thread only).
std::map<const AudioEngine*, EqualizerDialog*>& previewOwners()
{
    static std::map<const AudioEngine*, EqualizerDialog*> owners;
    return owners;
}

} // namespace

bool EqualizerDialog::endPreviewOn(const AudioEngine* engine)
{
    const auto owner = previewOwners().find(engine);
    if (owner == previewOwners().end())
        return false;
    owner->second->endPreview();
    return true;
}

EqualizerDialog::EqualizerDialog(AudioProcessor* processor, AudioEngine* engine, QWidget* parent)
    : QDialog(parent)
    , processor(processor)
    , filter(std::make_shared<EqualizerPreviewFilter>())
{
    // The material's own rate: the engine may still be set to the rate of
    // whatever it played last, and the preview must sound at the right speed.
    if (processor && processor->sampleRate > 0)
        sampleRate = processor->sampleRate;
    else if (engine && engine->getSampleRate() > 0)
        sampleRate = engine->getSampleRate();
    else
        sampleRate = FallbackRate;

    setWindowTitle(tr("参数均衡器 (Parametric EQ)"));
    setMinimumSize(700, 380);
    setupUI();
    // The backdrop's analyser runs while the engine plays (the preview, or
    // the editor's own playback on it) and rests otherwise.
    eqWidget->analyzerWidget()->setRunCondition([this] { return this->engine && this->engine->isPlaying(); });
    useEngine(engine);
    if (processor) {
        sourceSamples = processor->samples;
        eqWidget->setAudioData(sourceSamples, sampleRate);
    }
    updateBiquadCoeffs();
}

void EqualizerDialog::useEngine(AudioEngine* newEngine)
{
    if (engine)
        return;
    engine = newEngine;
    previewButton->setEnabled(newEngine != nullptr);
    if (!newEngine)
        return;
    connect(newEngine, &QObject::destroyed, this, &EqualizerDialog::onEngineDestroyed);
    connect(newEngine, &AudioEngine::playbackStarted, eqWidget->analyzerWidget(),
            &FrequencyAnalyzerWidget::resume);
}

EqualizerDialog::~EqualizerDialog()
{
    // The engine must neither read the copy nor call into the dialog once it is gone.
    stopPreview();
}

void EqualizerDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(12, 12, 12, 12);

    eqWidget = new ParametricEQWidget(this);
    eqWidget->setMinimumHeight(260);
    layout->addWidget(eqWidget, 1);
    connect(eqWidget, &ParametricEQWidget::bandChanged, this, &EqualizerDialog::onBandChanged);

    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* reset = makeButton(tr("重置"),
                             "QPushButton { background: #444; color: #ccc; border: 1px solid #666; "
                             "border-radius: 4px; padding: 6px; }QPushButton:hover { background: #555; }",
                             this);
    previewButton = makeButton(tr("试听"),
                               "QPushButton { background: #1565c0; color: #fff; border: none; "
                               "border-radius: 4px; padding: 6px; }QPushButton:hover { background: "
                               "#1976d2; }QPushButton:checked { background: #0d47a1; }"
                               "QPushButton:disabled { background: #37474f; color: #90a4ae; }",
                               this);
    previewButton->setCheckable(true);
    auto* apply = makeButton(tr("应用"),
                             "QPushButton { background: #2e7d32; color: #fff; border: none; "
                             "border-radius: 4px; padding: 6px; }QPushButton:hover { background: #388e3c; }",
                             this);
    auto* cancel = makeButton(tr("取消"),
                              "QPushButton { background: #555; color: #ccc; border: 1px solid #666; "
                              "border-radius: 4px; padding: 6px; }QPushButton:hover { background: #666; }",
                              this);
    for (QPushButton* button : {reset, previewButton, apply, cancel})
        row->addWidget(button);
    layout->addLayout(row);

    connect(reset, &QPushButton::clicked, this, &EqualizerDialog::onReset);
    connect(previewButton, &QPushButton::toggled, this, &EqualizerDialog::onPreview);
    connect(apply, &QPushButton::clicked, this, &EqualizerDialog::onApply);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void EqualizerDialog::updateBiquadCoeffs()
{
    EqualizerPreviewFilter::Band bands[BandCount];
    for (int i = 0; i < BandCount; ++i)
        bands[i] = eqWidget->band(i).settings();
    filter->setBands(bands, BandCount, float(sampleRate));
}

void EqualizerDialog::processAudioChunk(float* buffer, int frames, int channels)
{
    filter->process(buffer, frames, channels);
}

void EqualizerDialog::onBandChanged(int)
{
    updateBiquadCoeffs();
}

void EqualizerDialog::onReset()
{
    const float frequencies[BandCount] = {80.0f, 250.0f, 1000.0f, 4000.0f, 12000.0f};
    for (int i = 0; i < BandCount; ++i) {
        ParametricEQWidget::EQBand band;
        band.frequency = frequencies[i];
        eqWidget->setBand(i, band);
    }
    eqWidget->update();
    updateBiquadCoeffs();
}

void EqualizerDialog::onPreview(bool checked)
{
    if (!checked) {
        stopPreview();
        return;
    }
    if (!engine || sourceSamples.isEmpty() || previewing) {
        const QSignalBlocker blocker(previewButton);
        previewButton->setChecked(previewing);
        return;
    }
    // Another dialog's preview on this engine ends first and puts back the
    // callback it found, so the one saved here is the engine's own.
    endPreviewOn(engine);
    previewOwners()[engine] = this;
    updateBiquadCoeffs();
    filter->resetState(); // no block runs through the filter before the callback below
    previousCallback = engine->currentPlaybackProcessCallback();
    engine->setPlaybackProcessCallback(
        [shared = filter, previous = previousCallback](float* buffer, int frames) {
            shared->process(buffer, frames, EngineChannels);
            if (previous)
                previous(buffer, frames);
        });
    previewing = true;
    if (!engine->startPlayback(sourceSamples.constData(), int(sourceSamples.size()), sampleRate, 0)) {
        qWarning() << "EqualizerDialog: preview playback could not start";
        stopPreview();
        const QSignalBlocker blocker(previewButton);
        previewButton->setChecked(false);
    }
}

void EqualizerDialog::endPreview()
{
    stopPreview();
    const QSignalBlocker blocker(previewButton);
    previewButton->setChecked(false);
}

void EqualizerDialog::releaseEngine()
{
    std::map<const AudioEngine*, EqualizerDialog*>& owners = previewOwners();
    for (auto owner = owners.begin(); owner != owners.end();) {
        if (owner->second == this)
            owner = owners.erase(owner);
        else
            ++owner;
    }
}

void EqualizerDialog::stopPreview()
{
    if (!previewing)
        return;
    previewing = false;
    releaseEngine();
    if (!engine) {
        previousCallback = {};
        return;
    }
    // Only our own playback is stopped: the editor may have started its own since.
    if (engine->playbackData() == sourceSamples.constData())
        engine->stopPlayback();
    engine->setPlaybackProcessCallback(std::move(previousCallback));
    previousCallback = {};
}

void EqualizerDialog::onEngineDestroyed()
{
    // The engine cleared its callbacks and let go of the copy as it went.
    previewing = false;
    releaseEngine();
    previousCallback = {};
    const QSignalBlocker blocker(previewButton);
    previewButton->setChecked(false);
    previewButton->setEnabled(false);
}

void EqualizerDialog::applyEQ()
{
    if (!processor)
        return;
    processor->samples = sourceSamples;
    processor->channels = 1;
    equalise(*processor);
}

void EqualizerDialog::applyTo(QList<float>& list) const
{
    if (processor)
        processMonoList(list, processor->sampleRate,
                        [this](AudioProcessor& channel) { equalise(channel); });
}

void EqualizerDialog::equalise(AudioProcessor& target) const
{
    float freqs[BandCount], gains[BandCount], qs[BandCount];
    int types[BandCount];
    bool enabled[BandCount];
    for (int i = 0; i < BandCount; ++i) {
        const ParametricEQWidget::EQBand b = eqWidget->band(i);
        freqs[i] = b.frequency;
        gains[i] = b.gain;
        qs[i] = b.q;
        types[i] = int(b.type);
        enabled[i] = b.enabled;
    }
    target.applyParametricEQ(freqs, gains, qs, types, enabled, BandCount);
}

void EqualizerDialog::onApply()
{
    if (!applyAllowed(this, applyCheck))
        return;
    stopPreview();
    applyEQ();
    accept();
}
