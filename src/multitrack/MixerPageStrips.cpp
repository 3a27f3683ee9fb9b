// One channel strip of the mixer, top to bottom: header, insert slots, pan,
// fader with its scale and read-out, mute and solo. Every control takes its
// value before its signal is connected, so building a strip emits nothing.

#include "multitrack/FaderScale.h"
#include "multitrack/MixerPage.h"

#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const QColor MasterColor(0x88, 0x88, 0x88);
const QColor UnknownTrackColor(0x3a, 0x86, 0xff);
constexpr float DefaultVolume = 0.8f;
// The fader runs in percent up to the full scale its dB scale is drawn for.
constexpr int FaderMaximum = int(FaderScale::FullScale * 100);
constexpr int FaderHeight = 200;
// The track an insert slot's buttons speak for, kept on its name button.
const char* const SlotTrackProperty = "cdwSlotTrack";

const char* const EmptySlotStyle =
    "QPushButton { background: #262636; color: #445; border: 1px dashed #333345; border-radius: 2px; "
    "font-size: 12px; font-weight: bold; padding: 0px; min-height: 0px; }"
    "QPushButton:hover { border-color: #2a82da; color: #aab; background: #2a2a3a; }";
const char* const FilledSlotStyle =
    "QPushButton { background: #1e2e1e; color: #8c8; border: 1px solid #3a5a3a; border-radius: 2px; "
    "font-size: 9px; text-align: left; padding: 0px; padding-left: 4px; min-height: 0px; }"
    "QPushButton:hover { border-color: #2a82da; color: #afa; }";
const char* const BypassStyle =
    "QPushButton { background: #262636; color: #445; border: 1px solid #333345; border-radius: 2px; "
    "font-size: 8px; font-weight: bold; padding: 0px; min-height: 0px; }"
    "QPushButton:checked { background: #665500; color: #cc0; border-color: #996600; }"
    "QPushButton:hover { border-color: #2a82da; }";
const char* const PanSliderStyle =
    "QSlider { background: transparent; }"
    "QSlider::groove:horizontal { background: #333345; height: 4px; border-radius: 2px; }"
    "QSlider::handle:horizontal { background: #2a82da; width: 10px; height: 10px; margin: -3px 0; "
    "border-radius: 5px; }"
    "QSlider::add-page:horizontal { background: rgba(42,130,218,40); border-radius: 2px; }"
    "QSlider::sub-page:horizontal { background: rgba(42,130,218,40); border-radius: 2px; }";
const char* const FaderStyle =
    "QSlider { background: transparent; }"
    "QSlider::groove:vertical { background: transparent; }"
    "QSlider::handle:vertical {  background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
    "    stop:0 #556, stop:0.5 #889, stop:1 #556);  width: 20px; height: 8px; margin: 0 -2px;"
    "  border: 1px solid #99a; border-radius: 2px;}"
    "QSlider::sub-page:vertical { background: rgba(42,130,218,50); border-radius: 1px; }";
const char* const ToggleStyle =
    "QPushButton { background: #333340; color: #999; border: 1px solid #555; border-radius: 3px; "
    "font-weight: bold; font-size: 10px; padding: 0px; min-height: 0px; }"
    "QPushButton:checked { background: %1; color: %2; border-color: %3; }"
    "QPushButton:hover { border-color: #2a82da; }";

QFrame* transparentFrame(QBoxLayout* layout, int spacing, const QMargins& margins)
{
    auto* frame = new QFrame;
    frame->setStyleSheet(QStringLiteral("QFrame { background: transparent; border: none; }"));
    frame->setLayout(layout);
    layout->setSpacing(spacing);
    layout->setContentsMargins(margins);
    return frame;
}

QLabel* smallLabel(const QString& text, const char* style)
{
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QLatin1String(style));
    return label;
}

// The file name of a plug-in path without ".vst3".
QString pluginDisplayName(const QString& path)
{
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name.remove(QStringLiteral(".vst3"));
    return name;
}

} // namespace

void MixerPage::createStrip(ChannelStrip& strip, int trackIndex, bool isMaster)
{
    strip.trackIndex = isMaster ? -1 : trackIndex;
    strip.widget = new QWidget;
    strip.widget->setFixedWidth(StripWidth);
    strip.widget->setStyleSheet(QStringLiteral("QWidget { background: #1e1e2c; }"));
    auto* layout = new QVBoxLayout(strip.widget);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    addStripHeader(strip, layout, trackIndex, isMaster);
    addInsertSlots(strip, layout, trackIndex, isMaster);
    if (!isMaster)
        addPanControl(strip, layout, trackIndex);
    addFader(strip, layout, trackIndex, isMaster);
    if (!isMaster)
        addMuteSolo(strip, layout, trackIndex);
}

void MixerPage::addStripHeader(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster)
{
    const TrackData* track = isMaster ? nullptr : trackAt(trackIndex);
    const QColor color = isMaster ? MasterColor : (track ? track->color : UnknownTrackColor);
    auto* header = new QFrame;
    header->setFixedHeight(30);
    header->setStyleSheet(QStringLiteral("QFrame { background: %1; border: none; }").arg(color.name()));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(6, 0, 6, 0);
    strip.nameLabel = new QLabel(isMaster ? QStringLiteral("Master") : (track ? track->name : QString()));
    strip.nameLabel->setAlignment(Qt::AlignCenter);
    QFont font = strip.nameLabel->font();
    font.setBold(true);
    font.setPointSize(9);
    strip.nameLabel->setFont(font);
    strip.nameLabel->setStyleSheet(QStringLiteral("color: #fff; background: transparent; border: none;"));
    headerLayout->addWidget(strip.nameLabel);
    layout->addWidget(header);
}

void MixerPage::addInsertSlots(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster)
{
    auto* inserts = new QFrame;
    inserts->setStyleSheet(QStringLiteral("QFrame { background: #171722; border: none; }"));
    auto* insertLayout = new QVBoxLayout(inserts);
    insertLayout->setSpacing(1);
    insertLayout->setContentsMargins(3, 3, 3, 3);
    layout->addWidget(inserts);
    if (isMaster || !trackAt(trackIndex))
        return;

    for (int i = 0; i < InsertSlotCount; ++i) {
        InsertSlot slot;
        slot.trackIndex = trackIndex;
        slot.slotIndex = i;
        slot.row = new QWidget;
        slot.row->setFixedHeight(24);
        slot.row->setStyleSheet(QStringLiteral("QWidget { background: #1e1e2c; border: none; }"));
        auto* rowLayout = new QHBoxLayout(slot.row);
        rowLayout->setSpacing(2);
        rowLayout->setContentsMargins(2, 0, 2, 0);
        slot.numberLabel = smallLabel(QString::number(i + 1),
                                      "color: #445; font-size: 8px; background: transparent; border: none;");
        slot.numberLabel->setFixedSize(14, 20);
        slot.nameButton = new QPushButton;
        slot.nameButton->setFixedHeight(20);
        slot.nameButton->setContextMenuPolicy(Qt::CustomContextMenu);
        slot.bypassButton = new QPushButton(QStringLiteral("B"));
        slot.bypassButton->setFixedSize(18, 20);
        slot.bypassButton->setCheckable(true);
        slot.bypassButton->setStyleSheet(QLatin1String(BypassStyle));
        rowLayout->addWidget(slot.numberLabel);
        rowLayout->addWidget(slot.nameButton, 1);
        rowLayout->addWidget(slot.bypassButton);
        showInsertSlot(slot);

        // The handlers read the slot's track when they run: a relabel changes what they do.
        QPushButton* name = slot.nameButton;
        connect(name, &QPushButton::clicked, this, [this, name, i] { onInsertClicked(slotTrack(name), i); });
        connect(slot.bypassButton, &QPushButton::toggled, this,
                [this, name, i] { emit removePluginRequested(slotTrack(name), i); });
        connect(name, &QPushButton::customContextMenuRequested, this,
                [this, name, i] { showInsertMenu(slotTrack(name), i); });
        insertLayout->addWidget(slot.row);
        strip.inserts.push_back(slot);
    }
}

int MixerPage::slotTrack(const QPushButton* nameButton)
{
    return nameButton->property(SlotTrackProperty).toInt();
}

void MixerPage::showInsertSlot(InsertSlot& slot)
{
    slot.nameButton->setProperty(SlotTrackProperty, slot.trackIndex);
    const QString path = insertPath(slot.trackIndex, slot.slotIndex);
    if (path.isEmpty()) {
        slot.nameButton->setText(QStringLiteral("+"));
        slot.nameButton->setStyleSheet(QLatin1String(EmptySlotStyle));
        slot.bypassButton->hide();
    } else {
        slot.nameButton->setText(pluginDisplayName(path));
        slot.nameButton->setStyleSheet(QLatin1String(FilledSlotStyle));
        slot.bypassButton->show();
    }
}

void MixerPage::populateInsertSlots(ChannelStrip& strip, int trackIndex)
{
    for (InsertSlot& slot : strip.inserts) {
        slot.trackIndex = trackIndex;
        showInsertSlot(slot);
    }
}

void MixerPage::onInsertClicked(int trackIndex, int slotIndex)
{
    const QString path = insertPath(trackIndex, slotIndex);
    if (path.isEmpty())
        emit addPluginRequested(trackIndex);
    else
        emit pluginEditorRequested(trackIndex, slotIndex, path);
}

void MixerPage::showInsertMenu(int trackIndex, int slotIndex)
{
    if (insertPath(trackIndex, slotIndex).isEmpty())
        return;
    QMenu menu;
    menu.setStyleSheet(QStringLiteral("QMenu { background: #222; color: #ccc; border: 1px solid #555; }"
                                      "QMenu::item:selected { background: #2a82da; }"));
    QAction* remove = menu.addAction(QStringLiteral("移除插件"));
    QAction* edit = menu.addAction(QStringLiteral("打开编辑器"));
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen == remove) {
        emit removePluginRequested(trackIndex, slotIndex);
    } else if (chosen == edit) {
        // The menu ran its own loop: the slot may have been emptied meanwhile.
        const QString path = insertPath(trackIndex, slotIndex);
        if (!path.isEmpty())
            emit pluginEditorRequested(trackIndex, slotIndex, path);
    }
}

void MixerPage::addPanControl(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex)
{
    const TrackData* track = trackAt(trackIndex);
    const float pan = track ? track->pan : 0.0f;
    auto* panLayout = new QVBoxLayout;
    QFrame* frame = transparentFrame(panLayout, 1, QMargins(0, 4, 0, 2));
    panLayout->addWidget(smallLabel(QStringLiteral("Pan"),
                                    "color: #556; font-size: 8px; background: transparent; border: none;"));
    strip.panSlider = new QSlider(Qt::Horizontal);
    strip.panSlider->setRange(-100, 100);
    strip.panSlider->setValue(percentOf(pan));
    strip.panSlider->setFixedHeight(16);
    strip.panSlider->setStyleSheet(QLatin1String(PanSliderStyle));
    strip.panLabel = smallLabel(panText(pan), "color: #99a; font-size: 8px; background: transparent; border: none;");
    panLayout->addWidget(strip.panSlider);
    panLayout->addWidget(strip.panLabel);
    layout->addWidget(frame);

    QLabel* readout = strip.panLabel;
    connect(strip.panSlider, &QSlider::valueChanged, this, [this, readout, trackIndex](int value) {
        const float pan = value / 100.0f;
        readout->setText(panText(pan));
        emit trackPanChanged(trackIndex, pan);
    });
}

void MixerPage::addFader(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster)
{
    const TrackData* track = isMaster ? nullptr : trackAt(trackIndex);
    const float volume = track ? track->volume : DefaultVolume;
    auto* faderLayout = new QVBoxLayout;
    QFrame* frame = transparentFrame(faderLayout, 0, QMargins(0, 2, 0, 0));
    strip.dbLabel = smallLabel(volToDb(volume), "color: #ccc; font-size: 10px; background: transparent; border: none;");
    strip.dbLabel->setFixedHeight(16);
    faderLayout->addWidget(strip.dbLabel);

    auto* scaleRow = new QHBoxLayout;
    scaleRow->setSpacing(0);
    scaleRow->addStretch();
    auto* scale = new FaderScale;
    scale->setFixedWidth(20);
    scale->setMinimumHeight(FaderHeight);
    strip.fader = new QSlider(Qt::Vertical);
    strip.fader->setRange(0, FaderMaximum);
    strip.fader->setValue(percentOf(volume));
    strip.fader->setFixedSize(26, FaderHeight);
    strip.fader->setStyleSheet(QLatin1String(FaderStyle));
    scaleRow->addWidget(scale);
    scaleRow->addWidget(strip.fader);
    scaleRow->addStretch();
    faderLayout->addLayout(scaleRow);
    faderLayout->addStretch();
    layout->addWidget(frame, 1);

    QLabel* readout = strip.dbLabel;
    connect(strip.fader, &QSlider::valueChanged, this, [this, readout, trackIndex, isMaster](int value) {
        const float volume = value / 100.0f;
        readout->setText(volToDb(volume));
        if (isMaster)
            master = volume;
        else
            emit trackVolumeChanged(trackIndex, volume);
    });
}

void MixerPage::addMuteSolo(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex)
{
    const TrackData* track = trackAt(trackIndex);
    auto* buttons = new QHBoxLayout;
    QFrame* frame = transparentFrame(buttons, 4, QMargins(8, 2, 8, 4));
    auto makeToggle = [&](const QString& text, bool checked, const char* background, const char* color,
                          const char* border) {
        auto* button = new QPushButton(text);
        button->setFixedSize(36, 20);
        button->setCheckable(true);
        button->setChecked(checked);
        button->setStyleSheet(QString::fromLatin1(ToggleStyle).arg(QLatin1String(background), QLatin1String(color),
                                                                   QLatin1String(border)));
        buttons->addWidget(button);
        return button;
    };
    strip.muteButton = makeToggle(QStringLiteral("M"), track && track->muted, "#d33", "#fff", "#f55");
    strip.soloButton = makeToggle(QStringLiteral("S"), track && track->solo, "#db0", "#000", "#fd4");
    layout->addWidget(frame);

    connect(strip.muteButton, &QPushButton::toggled, this,
            [this, trackIndex](bool checked) { emit trackMuteChanged(trackIndex, checked); });
    connect(strip.soloButton, &QPushButton::toggled, this,
            [this, trackIndex](bool checked) { emit trackSoloChanged(trackIndex, checked); });
}
