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

} // namespace StartUp
