#pragma once
// The fixed control panel at the left of a track row: colour strip, name,
// record-arm / mute / solo buttons, the VST3 editor and video buttons (hidden
// until needed), a MIDI track's instrument list and the volume slider. It
// holds no track data: the row pushes values in and writes its signals into
// the track.

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class TrackHeaderWidget : public QWidget {
    Q_OBJECT
public:
    // The slider counts percent of unity gain: 0 .. 150 is 0.0 .. 1.5.
    static constexpr int MaxVolumePercent = 150;

    explicit TrackHeaderWidget(QWidget* parent = nullptr);

    void setName(const QString& name);
    QString name() const;
    void setColor(const QColor& color);
    // Slider = volume x 100 truncated, limited to 0 .. 150.
    void setVolume(float volume);
    void setMuted(bool muted);
    void setSolo(bool solo);
    void setArmed(bool armed);
    void setInstrumentVisible(bool visible);
    // Selects `current` only when it names an item.
    void setInstrumentList(const QStringList& items, int current);
    int currentInstrumentIndex() const;
    void setVst3ButtonVisible(bool visible);
    void setVst3ButtonChecked(bool checked);
    void setVideoButtonVisible(bool visible);
    // The frame of a selected row's header: lighter, with a cyan left edge.
    void setSelectedLook(bool selected);

    bool isMuted() const { return muted; }
    bool isSolo() const { return solo; }
    bool isArmed() const { return armed; }

    // The controls, for the page and for tests.
    QLineEdit* nameEdit() const { return nameField; }
    QPushButton* armButton() const { return recordArmButton; }
    QPushButton* muteButtonWidget() const { return muteButton; }
    QPushButton* soloButtonWidget() const { return soloButton; }
    QPushButton* vst3Button() const { return vst3EditorButton; }
    QPushButton* videoButton() const { return videoPreviewButton; }
    QComboBox* instrumentCombo() const { return instrumentList; }
    QSlider* volumeSlider() const { return volumeControl; }
    QLabel* volumeReadout() const { return volumeLabel; }
    QLabel* colorStrip() const { return colorLabel; }

signals:
    void nameChanged(const QString& name);
    void volumeChanged(float linearVolume);
    void muteToggled(bool muted);
    void soloToggled(bool solo);
    void armToggled(bool armed);
    void removeRequested(); // reserved; no control of the header emits it
    void instrumentChanged(int index);
    void vst3EditorToggled(bool open);
    void videoButtonClicked();

private:
    void buildLayout();
    void onArmToggled(bool checked);
    void onMuteToggled(bool checked);
    void onSoloToggled(bool checked);
    void onVst3Toggled(bool checked);

    QLineEdit* nameField = nullptr;
    QPushButton* recordArmButton = nullptr;
    QPushButton* muteButton = nullptr;
    QPushButton* soloButton = nullptr;
    QSlider* volumeControl = nullptr;
    QLabel* volumeLabel = nullptr;
    QLabel* colorLabel = nullptr;
    QComboBox* instrumentList = nullptr;
    QPushButton* vst3EditorButton = nullptr;
    QPushButton* videoPreviewButton = nullptr;
    bool muted = false;
    bool solo = false;
    bool armed = false;
};
