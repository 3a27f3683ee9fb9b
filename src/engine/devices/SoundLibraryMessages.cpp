#include "engine/devices/SoundLibraryMessages.h"

#include "common/DiagnosticLog.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <QString>

#include <cstdarg>
#include <mutex>

namespace {

void jackMessage(const char* text)
{
    qCDebug(lcDiagnostics).noquote() << "JACK:" << text;
}

void alsaMessage(const char* file, int line, const char* function, int error, const char* format, ...)
{
    Q_UNUSED(file)
    Q_UNUSED(line)
    if (!lcDiagnostics().isDebugEnabled())
        return;
    va_list arguments;
    va_start(arguments, format);
    const QString text = QString::vasprintf(format, arguments);
    va_end(arguments);
    qCDebug(lcDiagnostics).noquote() << "ALSA:" << function << text << (error ? snd_strerror(error) : "");
}

} // namespace

namespace SoundLibraryMessages {

void route()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(jackMessage);
        jack_set_info_function(jackMessage);
        snd_lib_error_set_handler(alsaMessage);
    });
}

} // namespace SoundLibraryMessages
