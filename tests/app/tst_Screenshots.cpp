// Pictures of the splash screen and the main window with the program's style
// sheet, written to <build>/screenshots/ for people to look at.

#include "app/AppInfo.h"
#include "app/MainWindow.h"
#include "app/SplashScreen.h"
#include "app/StartUp.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

// Saves the picture of the expected size to <build>/screenshots/.
void save(const QPixmap& pixmap, const QString& name, const QSize& expectedSize)
{
    QCOMPARE(pixmap.size(), expectedSize);
    QVERIFY(TestSupport::saveScreenshot(pixmap, name));
    QVERIFY(QImage(TestSupport::screenshotDir() + QLatin1Char('/') + name).size() == expectedSize);
}

} // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase()
    {
        // Settings of this run only, apart from the user's and other tests'.
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyIdentity(*app);
        StartUp::applyStyleSheet(*app);
    }

    void splash()
    {
        QSplashScreen splash(SplashScreen::paintPixmap(QString::fromLatin1(AppInfo::Version)));
        SplashScreen::showMessage(splash, QStringLiteral("加载完成"));
        save(splash.grab(), QStringLiteral("splash.png"), QSize(600, 340));
    }

    void mainWindow()
    {
        MainWindow window;
        window.resize(1600, 1000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        save(window.grab(), QStringLiteral("main-window.png"), window.size());

        window.showLoading(QStringLiteral("加载中..."));
        save(window.grab(), QStringLiteral("main-window-loading.png"), window.size());
        window.hideLoading();

        // What a 1366 x 768 screen leaves under the title bar: the cards scroll.
        window.resize(1366, 738);
        QCOMPARE(window.size(), QSize(1366, 738));
        QCoreApplication::processEvents();
        save(window.grab(), QStringLiteral("main-window-1366x738.png"), window.size());
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "tst_Screenshots.moc"
