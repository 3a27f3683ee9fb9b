#pragma once
// The modal chooser of the MIDI input port: lists the ports of a MidiInput,
// connects and disconnects one, and shows what is connected. It keeps no
// state of its own, so a port opened elsewhere shows as connected.

#include <QDialog>

class MidiInput;
class QComboBox;
class QLabel;
class QPushButton;

class MidiDeviceDialog : public QDialog {
    Q_OBJECT
public:
    explicit MidiDeviceDialog(MidiInput* input, QWidget* parent = nullptr);

    void refreshDeviceList();
    void updateStatus();

signals:
    void deviceSelected(int deviceIndex);
    void disconnected();

private:
    void onConnect();
    void onDisconnect();

    MidiInput* midiInput;
    QComboBox* deviceCombo = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QPushButton* refreshButton = nullptr;
    QLabel* statusLabel = nullptr;
};
