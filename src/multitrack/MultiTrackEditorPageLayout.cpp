// The widget tree of the multitrack page (tool bar, header and lane columns,
// ruler, scroll bar, transport bar) and the handlers of its own controls.

#include "multitrack/MultiTrackEditorPage.h"

#include "engine/devices/Metronome.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/MultiTrackEditorPageStyles.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineRulerWidget.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int HeaderColumnWidth = 188;
constexpr double MinBpm = 20.0;
constexpr double MaxBpm = 300.0;

const char* const InputStyle =
    "QComboBox, QDoubleSpinBox { background: #25253a; color: #c0c0d0; border: 1px solid #3a3a50; "
    "border-radius: 4px; font-size: 11px; padding: 2px 6px; min-width: 0; min-height: 0; }"
    "QComboBox:hover, QDoubleSpinBox:hover { border-color: #2a82da; }"
    "QComboBox QAbstractItemView { background: #25253a; color: #c0c0d0; "
    "selection-background-color: #2a82da; }";

QPushButton* toolButton(const QString& text, const QSize& size, const QString& tip, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setCheckable(true);
    // Keys stay with the page: Space plays rather than pressing the last tool.
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(size);
    button->setToolTip(tip);
    button->setStyleSheet(QLatin1String(MultiTrackPageStyle::ToolIdle));
    return button;
}

QPushButton* transportButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(48, 32);
    return button;
}

} // namespace

void MultiTrackEditorPage::setupUi()
{
    setStyleSheet(QStringLiteral(
        "QWidget#MultiTrackEditorPage {  background: qlineargradient(x1:0, y1:0, x2:1, y2:1,    "
        "stop:0 #0d0d1a, stop:0.5 #141428, stop:1 #0d0d1a);}"));
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);

    setupToolBar();

    auto* columns = new QHBoxLayout;
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    headerScrollArea = new QScrollArea(this);
    headerScrollArea->setWidgetResizable(true);
    headerScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headerScrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headerScrollArea->setFixedWidth(HeaderColumnWidth);
    headerScrollArea->setStyleSheet(QStringLiteral(
        "QScrollArea { background-color: #1c1c28; border: none; "
        "border-right: 1px solid rgba(42,130,218,40); }"));
    headerContainer = new QWidget;
    headerContainer->setStyleSheet(QStringLiteral("background-color: #1c1c28;"));
    headerLayout = new QVBoxLayout(headerContainer);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(0);
    addTrackButton = new QPushButton(QStringLiteral("+ 添加轨道"), headerContainer);
    addTrackButton->setFixedHeight(36);
    addTrackButton->setFocusPolicy(Qt::NoFocus); // the page keeps Space and the other keys
    addTrackButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #6a6a8a; border: 1px dashed #3a3a50; "
        "border-radius: 4px; font-size: 13px; text-align: left; padding-left: 12px; }"
        "QPushButton:hover { color: #e0e0e0; border-color: #2a82da; "
        "background: rgba(42,130,218,15); }"));
    headerLayout->addWidget(addTrackButton);
    headerLayout->addStretch();
    headerScrollArea->setWidget(headerContainer);
    columns->addWidget(headerScrollArea);

    auto* laneColumn = new QWidget(this);
    auto* laneLayout = new QVBoxLayout(laneColumn);
    laneLayout->setContentsMargins(0, 0, 0, 0);
    laneLayout->setSpacing(0);
    clipScrollArea = new QScrollArea(laneColumn);
    clipScrollArea->setWidgetResizable(true);
    clipScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    clipScrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    clipScrollArea->setStyleSheet(
        QStringLiteral("QScrollArea { background-color: #0d0d1a; border: none; }"));
    clipContainer = new QWidget;
    clipContainer->setStyleSheet(QStringLiteral("background-color: #0d0d1a;"));
    clipLayout = new QVBoxLayout(clipContainer);
    clipLayout->setContentsMargins(0, 0, 0, 0);
    clipLayout->setSpacing(0);
    clipLayout->addStretch();
    clipScrollArea->setWidget(clipContainer);
    laneLayout->addWidget(clipScrollArea, 1);

    ruler = new TimelineRulerWidget(laneColumn);
    laneLayout->addWidget(ruler);

    hScrollBar = new QScrollBar(Qt::Horizontal, laneColumn);
    hScrollBar->setFixedHeight(10);
    hScrollBar->setStyleSheet(QStringLiteral(
        "QScrollBar:horizontal { background: #1a1a2a; height: 10px; border: none; }"
        "QScrollBar::handle:horizontal { background: #444; min-width: 30px; border-radius: 5px; }"
        "QScrollBar::handle:horizontal:hover { background: #666; }"
        "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }"
        "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: none; }"));
    laneLayout->addWidget(hScrollBar);
    columns->addWidget(laneColumn, 1);
    mainLayout->addLayout(columns, 1);

    setupTransportBar();

    // Zoom gestures over the lanes and the ruler come through the page.
    clipScrollArea->viewport()->installEventFilter(this);
    ruler->installEventFilter(this);
    clipScrollArea->viewport()->grabGesture(Qt::PinchGesture);

    connect(hScrollBar, &QScrollBar::valueChanged, this, [this](int ms) {
        viewStartSec = ms / 1000.0;
        forEachLane([this](auto* lane) { lane->setViewStartSec(viewStartSec); });
        ruler->setViewStartSec(viewStartSec);
    });
    // Each column's vertical scroll follows the other without echo.
    QScrollBar* headerScroll = headerScrollArea->verticalScrollBar();
    QScrollBar* laneScroll = clipScrollArea->verticalScrollBar();
    connect(headerScroll, &QScrollBar::valueChanged, this, [this, laneScroll](int value) {
        if (scrollSyncGuard)
            return;
        scrollSyncGuard = true;
        laneScroll->setValue(value);
        scrollSyncGuard = false;
    });
    connect(laneScroll, &QScrollBar::valueChanged, this, [this, headerScroll](int value) {
        if (scrollSyncGuard)
            return;
        scrollSyncGuard = true;
        headerScroll->setValue(value);
        scrollSyncGuard = false;
    });
    connectPageControls();
}

void MultiTrackEditorPage::setupToolBar()
{
    toolBar = new QToolBar(this);
    toolBar->setMovable(false);
    toolBar->setObjectName(QStringLiteral("MultiTrackToolBar"));
    toolBar->setStyleSheet(QStringLiteral(
        "QToolBar { background-color: #1a1a28; border-bottom: 1px solid rgba(42,130,218,40); "
        "spacing: 4px; padding: 4px 8px; }"
        "QToolBar::separator { width: 1px; background: rgba(42,130,218,40); margin: 4px 6px; }"));
    const QSize toolSize(56, 28);
    scissorsButton = toolButton(QStringLiteral("剪刀"), toolSize,
                                QStringLiteral("剪刀模式 - 点击音频块在播放头位置分离"), toolBar);
    moveButton = toolButton(QStringLiteral("移动"), toolSize,
                            QStringLiteral("移动模式 - 拖拽音频块到其他同类型轨道"), toolBar);
    envelopeButton = toolButton(QStringLiteral("包络"), toolSize,
                                QStringLiteral("音量包络 - Alt+点击添加控制点，拖拽调整，右键删除"), toolBar);
    snapButton = toolButton(QStringLiteral("吸附"), toolSize, QStringLiteral("吸附到网格 - J 键切换"),
                            toolBar);
    castButton = toolButton(QStringLiteral("音频流转"), QSize(72, 28),
                            QStringLiteral("将混音流转到远程设备"), toolBar);
    castButton->setStyleSheet(QLatin1String(MultiTrackPageStyle::CastIdle));
    toolBar->addWidget(scissorsButton);
    toolBar->addWidget(moveButton);
    toolBar->addWidget(envelopeButton);
    toolBar->addWidget(snapButton);
    toolBar->addSeparator();
    // The cast button stays hidden: there is nothing to cast to.
    toolBar->addWidget(castButton)->setVisible(false);
    layout()->addWidget(toolBar);
}

void MultiTrackEditorPage::setupTransportBar()
{
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("TransportFrame"));
    // The transport buttons keep their own sizes within the program's
    // larger transport look.
    frame->setStyleSheet(QStringLiteral(
        "QFrame#TransportFrame { background-color: #1a1a28; border-top: 1px solid "
        "rgba(42,130,218,40); border-radius: 8px; padding: 8px 0; }"
        "QPushButton#TransportButton, QPushButton#TransportPlayButton, "
        "QPushButton#TransportStopButton, QPushButton#TransportRecordButton "
        "{ min-width: 48px; max-width: 48px; min-height: 32px; max-height: 32px; padding: 0px; }"));
    auto* bar = new QHBoxLayout(frame);
    bar->setContentsMargins(20, 8, 20, 8);
    bar->setSpacing(6);

    rewindButton = transportButton(QStringLiteral("快退"), QStringLiteral("TransportButton"), frame);
    playButton = transportButton(QStringLiteral(">"), QStringLiteral("TransportPlayButton"), frame);
    stopButton = transportButton(QStringLiteral("停止"), QStringLiteral("TransportStopButton"), frame);
    forwardButton = transportButton(QStringLiteral("快进"), QStringLiteral("TransportButton"), frame);
    auto* separator = new QFrame(frame);
    separator->setObjectName(QStringLiteral("TransportSep"));
    separator->setFrameShape(QFrame::VLine);
    separator->setFixedHeight(24);
    recordButton = transportButton(QStringLiteral("录制"), QStringLiteral("TransportRecordButton"), frame);
    metronomeButton = new QPushButton(QStringLiteral("节拍器"), frame);
    metronomeButton->setCheckable(true);
    metronomeButton->setFocusPolicy(Qt::NoFocus);
    metronomeButton->setFixedSize(64, 32);
    metronomeButton->setToolTip(QStringLiteral("播放/录音时开启节拍器"));
    metronomeButton->setStyleSheet(QLatin1String(MultiTrackPageStyle::MetronomeIdle));

    rulerModeCombo = new QComboBox(frame);
    rulerModeCombo->addItems({QStringLiteral("时间"), QStringLiteral("节拍")});
    rulerModeCombo->setFixedSize(64, 32);
    rulerModeCombo->setFocusPolicy(Qt::TabFocus); // a mouse choice leaves Space to the page
    rulerModeCombo->setStyleSheet(QLatin1String(InputStyle));
    bpmSpinBox = new QDoubleSpinBox(frame);
    bpmSpinBox->setSuffix(QStringLiteral(" BPM"));
    bpmSpinBox->setFixedSize(100, 32);
    bpmSpinBox->setRange(MinBpm, MaxBpm);
    bpmSpinBox->setDecimals(1);
    bpmSpinBox->setValue(bpm);
    bpmSpinBox->setStyleSheet(QLatin1String(InputStyle));
    bpmSpinBox->hide();
    timeLabel = new QLabel(QStringLiteral("00:00:00.000"), frame);
    timeLabel->setObjectName(QStringLiteral("TimeLabel"));
    timeLabel->setMinimumWidth(120);

    for (QWidget* control : std::initializer_list<QWidget*>{rewindButton, playButton, stopButton,
                                                            forwardButton, separator, recordButton,
                                                            metronomeButton})
        bar->addWidget(control);
    bar->addStretch();
    bar->addWidget(rulerModeCombo);
    bar->addWidget(bpmSpinBox);
    bar->addWidget(timeLabel);

    if (auto* column = qobject_cast<QVBoxLayout*>(layout())) {
        auto* holder = new QWidget(this);
        auto* holderLayout = new QVBoxLayout(holder);
        holderLayout->setContentsMargins(0, 0, 0, 4);
        holderLayout->setSpacing(0);
        holderLayout->addWidget(frame);
        column->addWidget(holder);
    } else {
        layout()->addWidget(frame);
    }
}

void MultiTrackEditorPage::connectPageControls()
{
    connect(scissorsButton, &QPushButton::clicked, this,
            [this] { onToolChanged(toolMode == Scissors ? Normal : Scissors); });
    connect(moveButton, &QPushButton::clicked, this,
            [this] { onToolChanged(toolMode == Move ? Normal : Move); });
    connect(envelopeButton, &QPushButton::toggled, this, [this](bool checked) {
        restyleToggle(envelopeButton, checked);
        forEachLane([checked](auto* lane) { lane->setShowEnvelope(checked); });
        // Showing the envelopes turns them on; hiding them leaves them on.
        if (checked) {
            for (TrackData& track : tracks)
                track.envelopeEnabled = true;
        }
    });
    connect(snapButton, &QPushButton::toggled, this, [this](bool checked) {
        snapEnabled = checked;
        restyleToggle(snapButton, checked);
        forEachLane([checked](auto* lane) { lane->setSnapEnabled(checked); });
    });
    connect(castButton, &QPushButton::toggled, this, [this] { onTogglePcmCast(); });

    connect(addTrackButton, &QPushButton::clicked, this, [this] {
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("音频轨"), this, [this] {
            addTrack(AudioTrack, {}, projectSampleRate,
                     QStringLiteral("音频轨 %1").arg(countTracksOfType(AudioTrack) + 1));
        });
        menu->addAction(QStringLiteral("MIDI轨"), this, [this] {
            addTrack(MidiTrack, {}, projectSampleRate,
                     QStringLiteral("MIDI轨 %1").arg(countTracksOfType(MidiTrack) + 1));
        });
        menu->popup(addTrackButton->mapToGlobal(addTrackButton->rect().bottomLeft()));
    });

    connect(rewindButton, &QPushButton::clicked, this, &MultiTrackEditorPage::onRewind);
    connect(playButton, &QPushButton::clicked, this, &MultiTrackEditorPage::onPlayPause);
    connect(stopButton, &QPushButton::clicked, this, &MultiTrackEditorPage::onStop);
    connect(forwardButton, &QPushButton::clicked, this, [this] { syncPlayheadAll(projectLength()); });
    connect(metronomeButton, &QPushButton::toggled, this, [this](bool checked) {
        metronomeEnabled = checked;
        metronomeButton->setStyleSheet(QLatin1String(
            checked ? MultiTrackPageStyle::MetronomeActive : MultiTrackPageStyle::MetronomeIdle));
        if (!checked)
            metronome->stop();
    });
    connect(rulerModeCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) {
        ruler->setRulerMode(i == 1 ? TimelineRulerWidget::Beats : TimelineRulerWidget::Time);
        bpmSpinBox->setVisible(i == 1);
        updateRuler();
        updateTimeLabel(playheadPosition()); // the read-out takes the new form at once
    });
    connect(bpmSpinBox, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this](double value) {
        bpm = value;
        ruler->setBpm(value);
        forEachLane([value](auto* lane) { lane->setSnapBpm(value); });
        syncMidiTimeScale(); // MIDI clips move with the tempo; updates the ruler
        updateTimeLabel(playheadPosition());
    });
}
