// The widget tree of the single-track editor page: tool bar, editor row
// (views and meters), transport and status line.

#include "editor/AudioEditorPage.h"

#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const char* const PageStyle =
    "QWidget#AudioEditorPage {  background: qlineargradient(x1:0, y1:0, x2:1, y2:1,    "
    "stop:0 #0d0d1a, stop:0.5 #141428, stop:1 #0d0d1a);}";
const char* const ToolBarStyle =
    "QToolBar#EditorToolBar { background: #1a1a28; border-bottom: 1px solid rgba(42,130,218,40);"
    " spacing: 4px; padding: 4px 8px; }"
    "QToolBar#EditorToolBar::separator { width: 1px; background: rgba(42,130,218,40);"
    " margin: 4px 6px; }";
const char* const ComboStyle =
    "QComboBox { background: #25253a; color: #c0c0d0; border: 1px solid #3a3a50;"
    " border-radius: 4px; padding: 2px 8px; font-size: 12px; }"
    "QComboBox:hover { border: 1px solid #2a82da; }"
    "QComboBox QAbstractItemView { background: #25253a; color: #c0c0d0;"
    " selection-background-color: #2a82da; }";
const char* const ActiveToolStyle =
    "background: rgba(42,130,218,30); color: #ffffff; border: 1px solid #2a82da; "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
const char* const InactiveToolStyle =
    "background: #252538; color: #aaaacc; border: 1px solid #3a3a50; border-radius: 4px; "
    "font-size: 12px; padding: 2px 10px;";
const char* const SliderStyle =
    "QSlider::groove:horizontal { background: #2a2a3a; height: 4px; border-radius: 2px; }"
    "QSlider::handle:horizontal { background: #00f2ff; width: 12px; height: 12px;"
    " margin: -4px 0; border-radius: 6px; }"
    "QSlider::sub-page:horizontal { background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
    " stop:0 #2a82da, stop:1 #00f2ff); border-radius: 2px; }";
const char* const EffectButtonStyle =
    "background: #252538; color: #aaaacc; border: 1px solid #3a3a50; border-radius: 4px; "
    "font-size: 11px; padding: 2px 8px;";
const char* const CastButtonStyle =
    "background: rgba(42,130,218,15); color: #6ab0ff; border: 1px solid rgba(42,130,218,40); "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
const char* const MeterBarStyle =
    "QProgressBar { background-color: #111111; border: 1px solid #333333; border-radius: 2px; "
    "margin: 0px; padding: 0px; }QProgressBar::chunk { margin: 0px; border-radius: 2px; }";
const char* const StatusBarStyle =
    "QStatusBar { background-color: #0d0d1a; color: #6a6a8a; border-top: 1px solid "
    "rgba(42,130,218,40); font-size: 11px; }QStatusBar::item { border: none; }";

constexpr int ToolBarButtonHeight = 28;

} // namespace

void AudioEditorPage::setupUi()
{
    setStyleSheet(QLatin1String(PageStyle));
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);

    QToolBar* toolBar = createToolBar();
    QWidget* editorRow = createEditorRow();
    QWidget* bottomControls = createBottomControls();

    statusBar = new QStatusBar(this);
    statusBar->setStyleSheet(QLatin1String(StatusBarStyle));
    statusBar->showMessage(tr("就绪"), 0);

    auto* bottomContainer = new QWidget(this);
    auto* bottomLayout = new QVBoxLayout(bottomContainer);
    bottomLayout->setContentsMargins(0, 0, 0, 4);
    bottomLayout->setSpacing(0);
    bottomLayout->addWidget(bottomControls);

    mainLayout->addWidget(toolBar);
    mainLayout->addWidget(editorRow, 1);
    mainLayout->addWidget(bottomContainer);
    mainLayout->addWidget(statusBar);
}

QToolBar* AudioEditorPage::createToolBar()
{
    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("EditorToolBar"));
    toolBar->setMovable(false);
    toolBar->setStyleSheet(QLatin1String(ToolBarStyle));

    auto* viewLabel = new QLabel(tr("视图："), toolBar);
    viewLabel->setStyleSheet(
        QStringLiteral("color: #6a6a8a; font-size: 12px; background: transparent;"));
    toolBar->addWidget(viewLabel);

    viewCombo = new QComboBox(toolBar);
    viewCombo->addItems({tr("波形"), tr("频谱"), tr("两者")});
    viewCombo->setStyleSheet(QLatin1String(ComboStyle));
    viewCombo->setFocusPolicy(Qt::NoFocus); // the page keeps Space and the other keys
    connect(viewCombo, &QComboBox::currentIndexChanged, this, &AudioEditorPage::onViewTabChanged);
    toolBar->addWidget(viewCombo);
    toolBar->addSeparator();

    struct ToolSpec {
        const char* text;
        const char* name;
    };
    const ToolSpec tools[] = {{"选择", "toolSelectBtn"}, {"移动", "toolMoveBtn"},
                              {"擦除", "toolEraseBtn"}};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(tr(tools[i].text), toolBar);
        button->setObjectName(QLatin1String(tools[i].name));
        button->setFixedSize(56, ToolBarButtonHeight);
        button->setCheckable(true);
        button->setChecked(i == 0);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet(QLatin1String(i == 0 ? ActiveToolStyle : InactiveToolStyle));
        connect(button, &QPushButton::clicked, this, [this, i] { selectTool(i); });
        toolButtons.append(button);
        toolBar->addWidget(button);
    }
    toolButtons[2]->setToolTip(tr("擦除模式 (E) - 在频谱图上拖拽擦除指定频段"));

    eraseStrengthSlider = new QSlider(Qt::Horizontal, toolBar);
    eraseStrengthSlider->setRange(10, 100);
    eraseStrengthSlider->setValue(80);
    eraseStrengthSlider->setFixedWidth(100);
    eraseStrengthSlider->setToolTip(tr("擦除力度"));
    eraseStrengthSlider->setStyleSheet(QLatin1String(SliderStyle));
    connect(eraseStrengthSlider, &QSlider::valueChanged, this,
            &AudioEditorPage::onEraseStrengthChanged);
    // A widget placed in a tool bar is hidden and shown through its action.
    eraseSliderAction = toolBar->addWidget(eraseStrengthSlider);
    eraseSliderAction->setVisible(false);

    eraseStrengthLabel = new QLabel(QStringLiteral("力度:80%"), toolBar);
    eraseStrengthLabel->setObjectName(QStringLiteral("EraseStrengthLabel"));
    eraseStrengthLabel->setFixedWidth(60);
    eraseStrengthLabel->setStyleSheet(
        QStringLiteral("color: #00f2ff; font-size: 11px; background: transparent;"));
    eraseLabelAction = toolBar->addWidget(eraseStrengthLabel);
    eraseLabelAction->setVisible(false);
    toolBar->addSeparator();

    struct EffectSpec {
        const char* text;
        int width;
        void (AudioEditorPage::*slot)();
    };
    const EffectSpec effects[] = {
        {"增益", 60, &AudioEditorPage::showGainDialog},
        {"中置提取", 72, &AudioEditorPage::showCenterExtractionDialog},
        {"降噪", 60, &AudioEditorPage::showNoiseReductionDialog},
        {"混响", 60, &AudioEditorPage::showReverbDialog},
        {"延迟", 60, &AudioEditorPage::showDelayDialog},
        {"速度检测", 72, &AudioEditorPage::showTempoDetectionDialog},
        {"音高修正", 72, &AudioEditorPage::showPitchCorrectionDialog},
        {"声道转换", 72, &AudioEditorPage::showChannelConvertDialog},
        {"压缩器", 60, &AudioEditorPage::showCompressorDialog},
        {"均衡器", 60, &AudioEditorPage::showEqualizerDialog},
    };
    for (const EffectSpec& effect : effects) {
        auto* button = new QPushButton(tr(effect.text), toolBar);
        button->setFixedSize(effect.width, ToolBarButtonHeight);
        button->setStyleSheet(QLatin1String(EffectButtonStyle));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, effect.slot);
        toolBar->addWidget(button);
    }
    toolBar->addSeparator();

    castButton = new QPushButton(tr("音频流转"), toolBar);
    castButton->setToolTip(tr("将音频流转到远程设备"));
    castButton->setFixedSize(72, ToolBarButtonHeight);
    castButton->setCheckable(true);
    castButton->setFocusPolicy(Qt::NoFocus);
    castButton->setStyleSheet(QLatin1String(CastButtonStyle));
    connect(castButton, &QPushButton::clicked, this, &AudioEditorPage::onTogglePcmCast);
    toolBar->addWidget(castButton)->setVisible(false);
    return toolBar;
}

QWidget* AudioEditorPage::createEditorRow()
{
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(0);

    viewStack = new QStackedWidget(row);
    viewStack->setStyleSheet(QStringLiteral("QStackedWidget { background-color: #0d0d1a; }"));

    waveformView = new WaveformWidget(viewStack);
    spectrumView = new SpectrumAnalyzerWidget(viewStack);
    spectrumView->setDisplayMode(SpectrumAnalyzerWidget::Spectrogram);

    auto* both = new QWidget(viewStack);
    auto* bothLayout = new QVBoxLayout(both);
    bothLayout->setContentsMargins(0, 0, 0, 0);
    bothLayout->setSpacing(2);
    waveformView2 = new WaveformWidget(both);
    spectrumView2 = new SpectrumAnalyzerWidget(both);
    spectrumView2->setDisplayMode(SpectrumAnalyzerWidget::Spectrogram);
    bothLayout->addWidget(waveformView2, 1);
    bothLayout->addWidget(spectrumView2, 1);
    // One time axis for the two: the trace spans the spectrogram's plot
    // columns, and zooming or scrolling either moves both.
    const QMargins plot = SpectrumAnalyzerWidget::plotMargins();
    waveformView2->setHorizontalMargins(plot.left(), plot.right());
    connect(waveformView2, &WaveformWidget::visibleRangeChanged, this,
            [this](double zoom, double start) { followVisibleRange(spectrumView2, zoom, start); });
    connect(spectrumView2, &SpectrumAnalyzerWidget::visibleRangeChanged, this,
            [this](double zoom, double start) { followVisibleRange(waveformView2, zoom, start); });

    viewStack->addWidget(waveformView);
    viewStack->addWidget(spectrumView);
    viewStack->addWidget(both);

    connect(waveformView, &WaveformWidget::playheadMoved, this, &AudioEditorPage::movePlayheads);
    for (SpectrumAnalyzerWidget* view : {spectrumView, spectrumView2}) {
        // An erase works on the material, never on a preview shown on it.
        connect(view, &SpectrumAnalyzerWidget::eraseStarting, this, &AudioEditorPage::endPreview);
        connect(view, &SpectrumAnalyzerWidget::audioDataChanged, this,
                [this, view] { onSpectralErase(view); });
        connect(view, &SpectrumAnalyzerWidget::playheadRequested, this,
                &AudioEditorPage::movePlayheads);
        connect(view, &SpectrumAnalyzerWidget::backgroundComputationFinished, this,
                &AudioEditorPage::onSpectrogramComputed);
    }

    rowLayout->addWidget(viewStack, 1);
    rowLayout->addWidget(createMeterPanel());
    return row;
}

QWidget* AudioEditorPage::createMeterPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("MeterPanel"));
    panel->setFixedWidth(90);
    panel->setStyleSheet(QStringLiteral(
        "QWidget#MeterPanel { background-color: #141420; border-left: 1px solid "
        "rgba(42,130,218,40); }"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    auto* title = new QLabel(QStringLiteral("dB"), panel);
    title->setObjectName(QStringLiteral("MeterTitleLabel"));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(8);
    const auto makeColumn = [&](const QString& channel) {
        auto* column = new QVBoxLayout;
        auto* bar = new QProgressBar(panel);
        bar->setOrientation(Qt::Vertical);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setFixedWidth(28);
        bar->setStyleSheet(QLatin1String(MeterBarStyle));
        auto* label = new QLabel(channel, panel);
        label->setObjectName(QStringLiteral("MeterChannelLabel"));
        label->setAlignment(Qt::AlignCenter);
        column->addWidget(bar, 1);
        column->addWidget(label);
        columns->addLayout(column);
        return bar;
    };
    meterLeft = makeColumn(QStringLiteral("L"));
    meterRight = makeColumn(QStringLiteral("R"));
    layout->addLayout(columns, 1);
    return panel;
}

QWidget* AudioEditorPage::createBottomControls()
{
    auto* controls = new QFrame(this);
    controls->setObjectName(QStringLiteral("BottomControls"));
    controls->setStyleSheet(QStringLiteral(
        "QFrame#BottomControls { background-color: #1a1a28; border-top: 1px solid "
        "rgba(42,130,218,40); }"));
    auto* layout = new QHBoxLayout(controls);
    layout->setContentsMargins(20, 12, 20, 12);
    layout->setSpacing(0);

    auto* transport = new QFrame(controls);
    transport->setObjectName(QStringLiteral("TransportFrame"));
    transport->setStyleSheet(QStringLiteral(
        "QFrame#TransportFrame { background-color: #1a1a28; border-top: 1px solid "
        "rgba(42,130,218,40); border-radius: 8px; padding: 8px 0; }"));
    auto* transportLayout = new QHBoxLayout(transport);
    transportLayout->setContentsMargins(0, 0, 0, 0);
    transportLayout->setSpacing(0);

    const auto makeButton = [&](const QString& text, const char* name, void (AudioEditorPage::*slot)()) {
        auto* button = new QPushButton(text, transport);
        button->setObjectName(QLatin1String(name));
        button->setFixedSize(40, 40);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, slot);
        transportLayout->addWidget(button);
        return button;
    };
    rewindButton = makeButton(tr("快退"), "TransportButton", &AudioEditorPage::onRewindClicked);
    playButton = makeButton(tr("播放"), "TransportPlayButton", &AudioEditorPage::onPlayPauseClicked);
    fastForwardButton =
        makeButton(tr("快进"), "TransportButton", &AudioEditorPage::onFastForwardClicked);
    stopButton = makeButton(tr("停止"), "TransportStopButton", &AudioEditorPage::onStopClicked);

    auto* separator = new QFrame(transport);
    separator->setObjectName(QStringLiteral("TransportSeparator"));
    separator->setFixedSize(1, 28);
    transportLayout->addWidget(separator);

    recordButton = makeButton(tr("录制"), "TransportRecordButton", &AudioEditorPage::onRecordClicked);

    timeLabel = new QLabel(QStringLiteral("00:00:00.000"), controls);
    timeLabel->setObjectName(QStringLiteral("TimeLabel"));
    timeLabel->setMinimumWidth(120);
    timeLabel->setAlignment(Qt::AlignCenter);

    layout->addWidget(transport);
    layout->addStretch();
    layout->addWidget(timeLabel);
    return controls;
}

void AudioEditorPage::updateToolButtonStyles(int activeIndex)
{
    for (int i = 0; i < toolButtons.size(); ++i) {
        toolButtons[i]->setStyleSheet(
            QLatin1String(i == activeIndex ? ActiveToolStyle : InactiveToolStyle));
        toolButtons[i]->setChecked(i == activeIndex);
    }
}
