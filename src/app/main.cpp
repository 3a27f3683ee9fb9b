#include "app/AppInfo.h"
#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/SplashScreen.h"
#include "app/StartUp.h"
#include "common/DiagnosticLog.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>

#include <memory>

namespace {

int run(int argc, char** argv)
{
    DiagnosticLog::install();
    StartUp::prepareEnvironment();
    QApplication app(argc, argv);
    StartUp::applyIdentity(app);
    QtTranslations::install(app);

    const QPixmap splashPixmap = SplashScreen::paintPixmap(QString::fromLatin1(AppInfo::Version));
    QSplashScreen splash(splashPixmap);
    splash.show();
    QCoreApplication::processEvents();

    StartUp::applyStyleSheet(app);
    SplashScreen::showMessage(splash, QStringLiteral("初始化界面..."));

    auto window = std::make_unique<MainWindow>();
    SplashScreen::showMessage(splash, QStringLiteral("加载完成"));

    window->show();
    splash.finish(window.get());
    const int result = app.exec();
    // The window saves its settings as it goes, before the splash and the application.
    window.reset();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    StartUp::leaveProcess(run(argc, argv));
}
