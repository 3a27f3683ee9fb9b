#pragma once
// Qt's own texts (standard buttons, file choosers, context menus) in
// Simplified Chinese, as the rest of the program speaks.

class QCoreApplication;

namespace QtTranslations {

// Installs Qt's Simplified Chinese catalogue from Qt's translations folder;
// false, and Qt's English kept, when it is not there.
bool install(QCoreApplication& app);

} // namespace QtTranslations
