#include "multitrack/MixerPage.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int TopBarHeight = 36;
// Below this the read-out shows "-inf".
constexpr double FloorDb = -60.0;
constexpr float CentreWidth = 0.02f;

QFrame* separator(int width)
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::VLine);
    const int alpha = width == 1 ? 20 : 50;
    line->setStyleSheet(QStringLiteral("QFrame { color: rgba(42,130,218,%1); background: rgba(42,130,218,%1); "
                                       "max-width: %2px; }")
                            .arg(alpha)
                            .arg(width));
    line->setFixedWidth(width);
    return line;
}

} // namespace

MixerPage::MixerPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MixerPage"));
    setupUi();
}

void MixerPage::setupUi()
{
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("QWidget#MixerPage {  background: qlineargradient(x1:0, y1:0, x2:1, y2:1,"
                                 "    stop:0 #0d0d1a, stop:0.5 #141428, stop:1 #0d0d1a);}"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* topBar = new QFrame(this);
    topBar->setObjectName(QStringLiteral("MixerTopBar"));
    topBar->setFixedHeight(TopBarHeight);
    topBar->setStyleSheet(QStringLiteral("QFrame#MixerTopBar {  background-color: #1a1a28;  "
                                         "border-bottom: 1px solid rgba(42,130,218,40);}"));
    auto* topLayout = new QHBoxLayout(topBar);
    topLayout->setContentsMargins(12, 0, 12, 0);
    auto* title = new QLabel(QStringLiteral("调音台"), topBar);
    title->setStyleSheet(QStringLiteral(
        "color: #aab; font-size: 13px; font-weight: bold; background: transparent; border: none;"));
    topLayout->addWidget(title);
    topLayout->addStretch();
    layout->addWidget(topBar);

    scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setStyleSheet(QStringLiteral(
        "QScrollArea { background-color: #1c1c28; border: none; }"
        "QScrollBar:horizontal { background: #1a1a28; height: 10px; }"
        "QScrollBar::handle:horizontal { background: #3a3a50; border-radius: 5px; min-width: 30px; }"
        "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }"));
    stripContainer = new QWidget;
    stripContainer->setStyleSheet(QStringLiteral("background-color: #1c1c28;"));
    stripLayout = new QHBoxLayout(stripContainer);
    stripLayout->setSpacing(0);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    stripLayout->addStretch();
    scrollArea->setWidget(stripContainer);
    layout->addWidget(scrollArea, 1);
}

void MixerPage::setTracks(std::vector<TrackData>* value)
{
    tracks = value;
    rebuildStrips();
}

void MixerPage::setPluginBridge(AudioPluginBridge* value)
{
    bridge = value;
}

void MixerPage::refreshFromData()
{
    rebuildStrips();
}

void MixerPage::clearStrips()
{
    for (ChannelStrip& strip : strips) {
        stripLayout->removeWidget(strip.widget);
        delete strip.widget;
    }
    strips.clear();
    // What is left before the final stretch: separators and the master strip.
    while (stripLayout->count() > 1) {
        QLayoutItem* item = stripLayout->takeAt(0);
        delete item->widget();
        delete item;
    }
    masterStrip = ChannelStrip();
}

void MixerPage::rebuildStrips()
{
    clearStrips();
    if (!tracks)
        return;
    for (int i = 0; i < int(tracks->size()); ++i) {
        ChannelStrip strip;
        createStrip(strip, i, false);
        stripLayout->insertWidget(stripLayout->count() - 1, strip.widget);
        strips.push_back(std::move(strip));
        stripLayout->insertWidget(stripLayout->count() - 1, separator(1));
    }
    stripLayout->insertWidget(stripLayout->count() - 1, separator(2));
    createStrip(masterStrip, -1, true);
    stripLayout->insertWidget(stripLayout->count() - 1, masterStrip.widget);
}

const TrackData* MixerPage::trackAt(int index) const
{
    if (!tracks || index < 0 || index >= int(tracks->size()))
        return nullptr;
    return &(*tracks)[size_t(index)];
}

QString MixerPage::insertPath(int trackIndex, int slotIndex) const
{
    const TrackData* track = trackAt(trackIndex);
    if (!track || slotIndex < 0 || slotIndex >= int(track->insertPlugins.size()))
        return QString();
    return track->insertPlugins[size_t(slotIndex)];
}

void MixerPage::setMasterVolume(float volume)
{
    master = volume;
    if (!masterStrip.fader)
        return;
    {
        // The fader's own handler would round the stored value to the slider's steps.
        const QSignalBlocker blocker(masterStrip.fader);
        masterStrip.fader->setValue(percentOf(volume));
    }
    updateVolumeDisplay(masterStrip, volume);
}

void MixerPage::updateVolumeDisplay(ChannelStrip& strip, float volume)
{
    if (strip.dbLabel)
        strip.dbLabel->setText(volToDb(volume));
}

void MixerPage::updatePanDisplay(ChannelStrip& strip, float pan)
{
    if (strip.panLabel)
        strip.panLabel->setText(panText(pan));
}

QString MixerPage::volToDb(float volume)
{
    if (!(volume > 0.0f))
        return QStringLiteral("-inf");
    const double db = 20.0 * std::log10(double(volume));
    if (db < FloorDb)
        return QStringLiteral("-inf");
    return QStringLiteral("%1 dB").arg(db, 0, 'f', 1);
}

QString MixerPage::panText(float pan)
{
    if (!std::isfinite(pan) || std::fabs(pan) < CentreWidth)
        return QStringLiteral("C");
    if (pan < 0.0f)
        return QStringLiteral("L%1").arg(-percentOf(pan));
    return QStringLiteral("R%1").arg(percentOf(pan));
}

int MixerPage::percentOf(float value)
{
    if (!std::isfinite(value))
        return 0;
    // Truncated toward zero, but a float such as 0.29f (28.99999... percent)
    // still reads as the 29 it was made from.
    const double percent = double(value) * 100.0;
    const double nudged = percent + (percent >= 0.0 ? 1e-4 : -1e-4);
    return int(std::clamp(nudged, -1e9, 1e9));
}
