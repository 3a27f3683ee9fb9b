// Pictures of the splash screen and the main window with the program's style
// sheet, written to <build>/screenshots/ for people to look at.

#include "app/AppInfo.h"
#include "app/MainWindow.h"
#include "app/SplashScreen.h"
#include "app/StartUp.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

QString screenshotDir()
{
    const QByteArray binary = qgetenv("CDW_BINARY_DIR");
    const QString base = binary.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(binary);
    return base + QStringLiteral("/screenshots");
}

// Saves the picture and checks it is not one flat colour.
void save(const QPixmap& pixmap, const QString& name, const QSize& expectedSize)
{
    QCOMPARE(pixmap.size(), expectedSize);
    const QImage image = pixmap.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() > 8, qPrintable(name));
    QVERIFY(QDir().mkpath(screenshotDir()));
    const QString path = screenshotDir() + QLatin1Char('/') + name;
    QVERIFY2(pixmap.save(path, "PNG"), qPrintable(path));
    QVERIFY(QImage(path).size() == expectedSize);
    qInfo("Screenshots: wrote %s", qPrintable(path));
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
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "tst_Screenshots.moc"
