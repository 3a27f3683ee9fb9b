#include "engine/midi/MidiInput.h"

#include "common/DiagnosticLog.h"
#include "engine/devices/SoundLibraryMessages.h"

#include <QDebug>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <iostream>
#include <sstream>

namespace {

constexpr unsigned int kQueueSizeLimit = 1024;

// RtMidi writes a failure of its constructor to std::cerr before it throws
// it; the exception carries the same text, so the copy goes to the
// diagnostics.
std::unique_ptr<RtMidiIn> makeMidiIn(RtMidi::Api api)
{
    std::ostringstream written;
    std::streambuf* const previous = std::cerr.rdbuf(written.rdbuf());
    struct Restore {
        std::streambuf* buffer;
        std::ostringstream& written;
        ~Restore()
        {
            std::cerr.rdbuf(buffer);
            if (!written.str().empty())
                qCDebug(lcDiagnostics).noquote()
                    << "MidiInput:" << QString::fromStdString(written.str()).trimmed();
        }
    } restore{previous, written};
    return std::make_unique<RtMidiIn>(api, MidiInput::kClientName, kQueueSizeLimit);
}

// RtMidi's JACK back end crashes on port operations when no JACK server
// runs, so JACK is used only after a client could connect to one.
bool jackServerRuns()
{
    jack_status_t status;
    jack_client_t* probe = jack_client_open("CalderwynStudioProbe", JackNoStartServer, &status);
    if (!probe)
        return false;
    jack_client_close(probe);
    return true;
}

std::unique_ptr<RtMidiIn> openMidiIn(QString& error)
{
    try {
        return makeMidiIn(RtMidi::LINUX_ALSA);
    } catch (const RtMidiError& e) {
        error = QString::fromStdString(e.getMessage());
    }
    if (!jackServerRuns())
        return nullptr;
    try {
        return makeMidiIn(RtMidi::UNIX_JACK);
    } catch (const RtMidiError& e) {
        error = QString::fromStdString(e.getMessage());
    }
    return nullptr;
}

} // namespace

MidiInput::MidiInput(QObject* parent) : QObject(parent)
{
    SoundLibraryMessages::route();
    QString error;
    input = openMidiIn(error);
    if (!input) {
        // No ALSA sequencer and no JACK server: a machine without MIDI, not a failure.
        qCDebug(lcDiagnostics) << "MidiInput: Failed to create RtMidiIn:" << error;
        return;
    }
    try {
        input->setCallback(&MidiInput::midiCallback, this);
    } catch (const RtMidiError& e) {
        qWarning() << "MidiInput: Failed to create RtMidiIn:" << QString::fromStdString(e.getMessage());
        input.reset();
    }
}

MidiInput::~MidiInput()
{
    closeDevice();
    // No callback may reach this object once the port and client are gone.
    input.reset();
}

QStringList MidiInput::availableDevices() const
{
    QStringList names;
    if (!input)
        return names;
    try {
        const unsigned int count = input->getPortCount();
        for (unsigned int i = 0; i < count; ++i)
            names << QString::fromStdString(input->getPortName(i));
    } catch (const RtMidiError& e) {
        qWarning() << "MidiInput: enumerate error:" << QString::fromStdString(e.getMessage());
    }
    return names;
}

bool MidiInput::openDevice(int index)
{
    if (!input)
        return false;
    closeDevice();
    try {
        // An index past the ports is refused here: RtMidi would read past its list.
        if (index < 0 || unsigned(index) >= input->getPortCount()) {
            qWarning() << "MidiInput: open error:" << "no input port" << index;
            return false;
        }
        openDeviceName = QString::fromStdString(input->getPortName(unsigned(index)));
        input->openPort(unsigned(index), "RtMidi Input");
    } catch (const RtMidiError& e) {
        qWarning() << "MidiInput: open error:" << QString::fromStdString(e.getMessage());
        openDeviceName.clear();
        return false;
    }
    if (!input->isPortOpen()) {
        openDeviceName.clear();
        return false;
    }
    qDebug() << "MidiInput: Opened device" << index;
    return true;
}

void MidiInput::closeDevice()
{
    if (!input)
        return;
    if (input->isPortOpen()) {
        input->closePort();
        qDebug() << "MidiInput: Device closed";
    }
    openDeviceName.clear();
}

bool MidiInput::isOpen() const
{
    return !connectedDevice().isEmpty();
}

QString MidiInput::connectedDevice() const
{
    return currentPort() >= 0 ? openDeviceName : QString();
}

int MidiInput::currentPort() const
{
    if (!input || !input->isPortOpen() || openDeviceName.isEmpty())
        return -1;
    return int(availableDevices().indexOf(openDeviceName));
}

bool MidiInput::autoConnect()
{
    if (isOpen())
        return true;
    const QStringList names = availableDevices();
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].contains(QLatin1String("Midi Through"), Qt::CaseInsensitive)
            || names[i].startsWith(QLatin1String(kClientName)))
            continue;
        return openDevice(i);
    }
    return false;
}

void MidiInput::midiCallback(double timeStamp, std::vector<unsigned char>* message, void* userData)
{
    Q_UNUSED(timeStamp);
    if (message && userData && !message->empty())
        static_cast<MidiInput*>(userData)->handleMessage(*message);
}

void MidiInput::handleMessage(const std::vector<unsigned char>& message)
{
    const size_t n = message.size();
    if (n < 2)
        return;
    const int status = message[0];
    const int channel = status & 0x0F;
    if ((status & 0xF0) == 0x90 && n >= 3) {
        if (message[2] > 0)
            emit noteOnReceived(channel, message[1], message[2]);
        else
            emit noteOffReceived(channel, message[1]);
    } else if ((status & 0xF0) == 0x80 && n >= 3) {
        emit noteOffReceived(channel, message[1]);
    }
    emit rawMidiReceived(QByteArray(reinterpret_cast<const char*>(message.data()), qsizetype(n)));
}
