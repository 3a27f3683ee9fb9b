#pragma once
// Cuts the test process off from every sound server (PulseAudio and JACK)
// and keeps the clients from spawning one: audio and JACK MIDI devices then
// look absent, as on a machine without sound. Call before anything opens a
// device.

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace TestSupport {

inline bool disconnectFromSoundServers()
{
    // Never destroyed (the program leaves through StartUp::leaveProcess): it
    // lies in the program's own temporary folder, removed with that.
    static QTemporaryDir config;
    QFile conf(config.filePath(QStringLiteral("client.conf")));
    if (!config.isValid() || !conf.open(QIODevice::WriteOnly))
        return false;
    conf.write("autospawn = no\ndefault-server = unix:/nonexistent/pulse\n");
    conf.close();
    qputenv("PULSE_CLIENTCONFIG", conf.fileName().toUtf8());
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse");
    qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
    qputenv("JACK_NO_START_SERVER", "1");
    return true;
}

} // namespace TestSupport
