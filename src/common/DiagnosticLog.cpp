#include "common/DiagnosticLog.h"

#include <cstring>

Q_LOGGING_CATEGORY(lcDiagnostics, "calderwyn", QtWarningMsg)

namespace DiagnosticLog {

namespace {

QtMessageHandler previousHandler = nullptr;

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool plainDebug =
        type == QtDebugMsg && (!context.category || std::strcmp(context.category, "default") == 0);
    if (plainDebug && !lcDiagnostics().isDebugEnabled())
        return;
    previousHandler(type, context, message);
}

} // namespace

void install()
{
    // The category reads its rules now, not first inside the handler.
    lcDiagnostics();
    if (!previousHandler)
        previousHandler = qInstallMessageHandler(handleMessage);
}

} // namespace DiagnosticLog
