#pragma once
// The program's progress lines and the sound libraries' device-probe
// messages: off unless asked for, as in
//   QT_LOGGING_RULES="calderwyn=true" ./CalderwynStudio
// Warnings (failures the user should know of) are not in it and stay on.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics)

namespace DiagnosticLog {

// Makes the program's plain qDebug() lines part of the category (they are
// all progress lines); call once at start, before anything logs.
void install();

} // namespace DiagnosticLog
