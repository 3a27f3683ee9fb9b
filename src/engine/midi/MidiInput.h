#pragma once
// One MIDI input port through RtMidi, turned into Qt signals. The ALSA
// sequencer is used where it exists, else a running JACK server; with
// neither there are no ports and every operation fails quietly. The signals
// are emitted on RtMidi's input thread: connect them with Qt's automatic
// (queued) connection to handle them on the GUI thread in message order.

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

class RtMidiIn;

class MidiInput : public QObject {
    Q_OBJECT
public:
    // The client name the ports of this program carry.
    static constexpr const char* kClientName = "CalderwynStudio";

    explicit MidiInput(QObject* parent = nullptr);
    ~MidiInput() override;

    // Input port names in port order; empty without MIDI.
    QStringList availableDevices() const;
    // Closes the open port, then opens port `index`.
    bool openDevice(int index);
    void closeDevice();
    // True while a port is open on a device that is still there: a
    // keyboard unplugged (or a port gone) leaves the input not connected.
    bool isOpen() const;
    // Where the open port's device is listed now in availableDevices(), -1
    // when no port is open or its device has gone (a device that goes
    // moves the ones after it up the list).
    int currentPort() const;
    // The name of the open port's device while it is still listed, else empty.
    QString connectedDevice() const;
    // True when a port is open; otherwise opens the first port that is not the
    // system's "Midi Through" port nor one of this program's own.
    bool autoConnect();

    // RtMidi's input callback (userData: the MidiInput).
    static void midiCallback(double timeStamp, std::vector<unsigned char>* message, void* userData);
    // Emits the note and raw signals for one message.
    void handleMessage(const std::vector<unsigned char>& message);

signals:
    void noteOnReceived(int channel, int pitch, int velocity);
    void noteOffReceived(int channel, int pitch);
    void rawMidiReceived(const QByteArray& data);

private:
    std::unique_ptr<RtMidiIn> input;
    // The name of the device the open port was opened on.
    QString openDeviceName;
};
