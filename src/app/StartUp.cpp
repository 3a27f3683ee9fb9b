#include "app/StartUp.h"

#include "app/AppInfo.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QIcon>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace StartUp {

void prepareEnvironment()
{
    // Pixel sizes in the pages and the painted views assume one device pixel
    // per logical pixel, whatever the user's environment says.
    qputenv("QT_SCALE_FACTOR", "1");
}

void applyIdentity(QApplication& app)
{
    QApplication::setApplicationName(QString::fromLatin1(AppInfo::ApplicationName));
    QApplication::setOrganizationName(QString::fromLatin1(AppInfo::OrganizationName));
    QApplication::setOrganizationDomain(QString::fromLatin1(AppInfo::OrganizationDomain));
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(AppInfo::IconPath)));
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(style);
    else
        qWarning() << "StartUp: Fusion style not available";
}

QString styleSheet()
{
    QFile file(QString::fromLatin1(AppInfo::StyleSheetPath));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "StartUp: style sheet resource missing";
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

void applyStyleSheet(QApplication& app)
{
    app.setStyleSheet(styleSheet());
}

void leaveProcess(int code)
{
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace StartUp
