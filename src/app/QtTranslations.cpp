#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace QtTranslations {

bool install(QCoreApplication& app)
{
    // The program speaks Chinese whatever the system's language: the
    // catalogue is chosen by name, not by locale. "qt_zh_CN" brings the
    // catalogues of the Qt modules in use (qtbase, qtmultimedia) with it.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace QtTranslations
