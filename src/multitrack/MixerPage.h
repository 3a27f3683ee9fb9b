#pragma once
// The mixer: page 3 of the main window's stack. One channel strip per track
// of the multitrack page, left to right in track order, then a master strip,
// in a horizontally scrolling row under the "调音台" bar. A strip shows the
// track's colour and name, eight insert slots, pan, a fader with its dB scale
// and read-out, and mute and solo.
//
// The page keeps no track data: it reads the multitrack page's track vector
// when it builds its strips (a snapshot, rebuilt by refreshFromData) and
// reports every change as a signal with the strip's track index; the main
// window writes the change into that track, checking the index first. A
// strip's controls are set before they are connected, so building emits
// nothing.
//
// Definitions: MixerPage.cpp (page, rebuilding, read-outs) and
// MixerPageStrips.cpp (one strip and its insert slots).

#include "project/ProjectTypes.h"

#include <QString>
#include <QWidget>
#include <vector>

class AudioPluginBridge;
class QFrame;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class QPushButton;
class QScrollArea;
class QSlider;

class MixerPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int InsertSlotCount = 8;
    static constexpr int StripWidth = 148;

    struct InsertSlot {
        QWidget* row = nullptr;
        QLabel* numberLabel = nullptr;
        QPushButton* nameButton = nullptr;
        QPushButton* bypassButton = nullptr; // "B"
        int trackIndex = -1;
        int slotIndex = -1;
    };

    struct ChannelStrip {
        QWidget* widget = nullptr;
        QLabel* nameLabel = nullptr;
        QLabel* panLabel = nullptr;
        QSlider* panSlider = nullptr;
        QSlider* fader = nullptr;
        QLabel* dbLabel = nullptr;
        QPushButton* muteButton = nullptr;
        QPushButton* soloButton = nullptr;
        std::vector<InsertSlot> inserts;
        int trackIndex = -1; // -1 for the master strip
    };

    explicit MixerPage(QWidget* parent = nullptr);

    // The multitrack page's tracks (not owned; null shows the master strip only).
    void setTracks(std::vector<TrackData>* tracks);
    void setPluginBridge(AudioPluginBridge* bridge);
    AudioPluginBridge* pluginBridge() const { return bridge; }
    // Rebuilds every strip from the tracks as they are now.
    void refreshFromData();
    void setMasterVolume(float volume);
    float masterVolume() const { return master; }

    void updateVolumeDisplay(ChannelStrip& strip, float volume);
    void updatePanDisplay(ChannelStrip& strip, float pan);
    // Relabels the strip's slots from the track's insert plug-in paths.
    void populateInsertSlots(ChannelStrip& strip, int trackIndex);

    // "-1.9 dB" for 0.8; "-inf" at or below -60 dB.
    static QString volToDb(float volume);
    // "C" within 0.02 of the centre, else "L50" / "R99" (percent, truncated).
    static QString panText(float pan);
    // value × 100 truncated toward zero: the slider position of a gain or pan.
    static int percentOf(float value);

    const std::vector<ChannelStrip>& channelStrips() const { return strips; }
    const ChannelStrip& masterChannelStrip() const { return masterStrip; }

signals:
    void trackVolumeChanged(int trackIndex, float volume);
    void trackPanChanged(int trackIndex, float pan);
    void trackMuteChanged(int trackIndex, bool muted);
    void trackSoloChanged(int trackIndex, bool solo);
    void addPluginRequested(int trackIndex);
    void pluginEditorRequested(int trackIndex, int slotIndex, QString pluginPath);
    void removePluginRequested(int trackIndex, int slotIndex);

private:
    void setupUi();
    void rebuildStrips();
    void clearStrips();
    void createStrip(ChannelStrip& strip, int trackIndex, bool isMaster);
    void addStripHeader(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster);
    void addInsertSlots(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster);
    void addPanControl(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex);
    void addFader(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex, bool isMaster);
    void addMuteSolo(ChannelStrip& strip, QVBoxLayout* layout, int trackIndex);
    void showInsertSlot(InsertSlot& slot);
    static int slotTrack(const QPushButton* nameButton);
    void onInsertClicked(int trackIndex, int slotIndex);
    void showInsertMenu(int trackIndex, int slotIndex);
    // The track, or null for an index outside the vector.
    const TrackData* trackAt(int index) const;
    // The plug-in path of a slot; empty for an empty slot or a stale index.
    QString insertPath(int trackIndex, int slotIndex) const;

    std::vector<TrackData>* tracks = nullptr;
    AudioPluginBridge* bridge = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* stripContainer = nullptr;
    QHBoxLayout* stripLayout = nullptr;
    std::vector<ChannelStrip> strips;
    ChannelStrip masterStrip;
    float master = 1.0f;
};
