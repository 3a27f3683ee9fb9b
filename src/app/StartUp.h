#pragma once
// The steps of program start-up that come before the main window exists.

#include <QString>

class QApplication;

namespace StartUp {

// Fixes the scale factor at 1 for this process; must run before the
// application object is created.
void prepareEnvironment();

// Names (which also key the settings), window icon and the Fusion style.
void applyIdentity(QApplication& app);

// The one dark style sheet of the program; empty when the resource is missing.
QString styleSheet();
void applyStyleSheet(QApplication& app);

// Ends the process with `code` once the application object and every window
// are gone, without the library teardown at exit: Qt 6.4's sound-server
// backend can abort there (its connection is released while its own thread
// still dispatches). Output is flushed first.
[[noreturn]] void leaveProcess(int code);

} // namespace StartUp
