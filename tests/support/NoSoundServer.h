#pragma once
// Cuts the test process off from every sound server, and keeps the
// PulseAudio client from spawning one: audio devices then look absent, as
// on a machine without sound. Call before anything opens an audio device.

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace TestSupport {

inline bool disconnectFromSoundServers()
{
    static QTemporaryDir config;
    QFile conf(config.filePath(QStringLiteral("client.conf")));
    if (!config.isValid() || !conf.open(QIODevice::WriteOnly))
        return false;
    conf.write("autospawn = no\ndefault-server = unix:/nonexistent/pulse\n");
    conf.close();
    qputenv("PULSE_CLIENTCONFIG", conf.fileName().toUtf8());
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse");
    return true;
}

} // namespace TestSupport
