// Plug-in editor windows on a real X server: the test starts its own Xvfb
// (CI has no display). The test plug-in's view is attached to the window's
// X11 id; a real zam-plugins editor opens, runs through our run loop and
// leaves nothing registered when closed.

#include "PluginTestSupport.h"
#include "TestSupport.h"

#include "plugins/VST3PlugFrame.h"
#include "plugins/VST3PluginInstance.h"
#include "plugins/ui/VST3EditorWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QtTest>

using namespace PluginTestSupport;

namespace {

// The number of child windows X reports under a window.
int childWindows(WId window)
{
    QByteArray text;
    if (!TestSupport::runCommand("xwininfo", {"-children", "-id", QString::number(window)}, &text, 10000))
        return -1;
    const QRegularExpressionMatch match = QRegularExpression("(\\d+) child").match(QString::fromLatin1(text));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

int colourCount(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 5)
        for (int x = 0; x < image.width(); x += 5)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

} // namespace

class VST3EditorWindowX11Test : public QObject {
    Q_OBJECT

    bool haveServer;

public:
    explicit VST3EditorWindowX11Test(bool server) : haveServer(server) {}

private slots:
    void initTestCase()
    {
        if (!haveServer) {
            if (TestSupport::serversRequired())
                QFAIL("Xvfb did not start (scripts/install-deps.sh --tests installs it)");
            QSKIP("needs Xvfb");
        }
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void attachesTheViewToTheWindow()
    {
        CallLog log;
        auto instance = std::make_shared<VST3PluginInstance>();
        QVERIFY(instance->load(bundle("CdwGain"), 44100, 512));
        VST3EditorWindow window(instance, "Cdw Gain \u589e\u76ca");
        QCOMPARE(window.title(), QStringLiteral("Cdw Gain \u589e\u76ca"));
        window.pluginId = 7;
        QSignalSpy closed(&window, &VST3EditorWindow::windowClosed);
        window.show();
        QTRY_VERIFY(window.isAttached());
        QCOMPARE(log.count(QStringLiteral("view attached %1 X11EmbedWindowID").arg(window.winId())), 1);
        QCOMPARE(log.count("view setFrame set runloop=1"), 1);
        QTRY_COMPARE(window.size(), QSize(400, 300));
        QCOMPARE(log.count("controller createView"), 1); // later exposes attach nothing more

        window.close();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(closed.first().first().toInt(), 7);
        QVERIFY(!window.isAttached());
        QVERIFY(!instance->isEditorOpen());
        QCOMPARE(log.count("view removed"), 1);

        // Shown again it attaches a fresh view; hidden, it detaches and says so once.
        window.show();
        QTRY_VERIFY(window.isAttached());
        window.hide();
        QCOMPARE(closed.count(), 2);
        QCOMPARE(log.count("view removed"), 2);
    }

    void viewWithoutSizeKeepsTheDefault()
    {
        auto instance = std::make_shared<VST3PluginInstance>();
        QVERIFY(instance->load(bundle("CdwZeroView"), 44100, 512));
        VST3EditorWindow window(instance, "zero");
        window.show();
        QTRY_VERIFY(window.isAttached());
        QCOMPARE(window.size(), QSize(800, 600));
    }

    void realEditorRunsInTheWindow()
    {
        const std::string path = "/usr/lib/vst3/ZamComp.vst3";
        if (!QFileInfo::exists(QString::fromStdString(path))) {
            if (TestSupport::serversRequired())
                QFAIL("zam-plugins is not installed");
            QSKIP("needs zam-plugins");
        }
        auto instance = std::make_shared<VST3PluginInstance>();
        QVERIFY(instance->load(path, 44100, 512));
        VST3EditorWindow window(instance, "ZamComp");
        window.show();
        QTRY_VERIFY(window.isAttached());
        QTRY_VERIFY_WITH_TIMEOUT(childWindows(window.winId()) >= 1, 10000);
        QVERIFY(window.plugFrame()->registeredCount() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.plugFrame()->callCount() > 0, 10000);

        // The editor draws itself through those calls.
        QPixmap shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = window.screen()->grabWindow(window.winId()), colourCount(shot.toImage()) > 8),
                                 10000);
        QVERIFY(TestSupport::saveScreenshot(shot, "vst3-editor-window.png"));

        window.close();
        QVERIFY(!window.isAttached());
        QCOMPARE(window.plugFrame()->registeredCount(), 0);
        const int calls = window.plugFrame()->callCount();
        QTest::qWait(100);
        QCOMPARE(window.plugFrame()->callCount(), calls);
        instance->unload();
    }
};

int main(int argc, char** argv)
{
    const bool server = TestSupport::startPrivateXServer();
    if (server)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    VST3EditorWindowX11Test test(server);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_VST3EditorWindowX11.moc"
