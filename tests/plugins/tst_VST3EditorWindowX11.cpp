// Plug-in editor windows on a real X server: the test starts its own Xvfb
// (CI has no display). The test plug-in's view is attached to the window's
// X11 id; a real zam-plugins editor opens, runs through our run loop and
// leaves nothing registered when closed, and its knobs reach the processor.

#include "Lv2ReferenceHost.h"
#include "PluginTestSupport.h"
#include "PrivateUserFolders.h"
#include "TestSupport.h"

#include "plugins/VST3PlugFrame.h"
#include "plugins/VST3PluginInstance.h"
#include "plugins/ui/VST3EditorWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QtTest>

#include <dlfcn.h>

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

// Wheel notches as a user gives them, through the X server's test extension
// (opened at run time, so the test needs no X headers).
class FakePointer {
public:
    FakePointer()
    {
        void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        void* xtst = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11 || !xtst)
            return;
        const auto openDisplay = reinterpret_cast<void* (*)(const char*)>(dlsym(x11, "XOpenDisplay"));
        closeDisplay = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XCloseDisplay"));
        flush = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XFlush"));
        motion = reinterpret_cast<int (*)(void*, int, int, int, unsigned long)>(dlsym(xtst, "XTestFakeMotionEvent"));
        button = reinterpret_cast<int (*)(void*, unsigned, int, unsigned long)>(dlsym(xtst, "XTestFakeButtonEvent"));
        if (openDisplay && closeDisplay && flush && motion && button)
            display = openDisplay(nullptr);
    }
    ~FakePointer()
    {
        if (display)
            closeDisplay(display);
    }
    bool isValid() const { return display != nullptr; }
    void wheelUp(const QPoint& at, int steps)
    {
        motion(display, -1, at.x(), at.y(), 0);
        for (int i = 0; i < 2 * steps; ++i)
            button(display, 4, i % 2 == 0, 0);
        flush(display);
    }

private:
    void* display = nullptr;
    int (*closeDisplay)(void*) = nullptr;
    int (*flush)(void*) = nullptr;
    int (*motion)(void*, int, int, int, unsigned long) = nullptr;
    int (*button)(void*, unsigned, int, unsigned long) = nullptr;
};

std::vector<float> parameterValues(VST3PluginInstance& instance)
{
    std::vector<float> values;
    for (int i = 0; i < instance.getParameterCount(); ++i)
        values.push_back(instance.getParameter(i));
    return values;
}

// The plain value a zam plug-in's saved state holds for a key (NUL-separated
// key and value texts); NaN when missing.
double stateValue(VST3PluginInstance& instance, const QString& path, const QByteArray& key)
{
    QFile file(path);
    if (!instance.saveState(path.toStdString()) || !file.open(QIODevice::ReadOnly))
        return std::nan("");
    const QList<QByteArray> fields = file.readAll().split('\0');
    const qsizetype at = fields.indexOf(key);
    return at >= 0 && at + 1 < fields.size() ? fields[at + 1].toDouble() : std::nan("");
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

    void realEditorEditsReachTheProcessor()
    {
        // A knob of the plug-in's own editor turned with the wheel while
        // blocks are processed: the processor's state takes the value the
        // controller reports, and the two talk without complaint.
        const std::string path = "/usr/lib/vst3/ZamComp.vst3";
        if (!QFileInfo::exists(QString::fromStdString(path))) {
            if (TestSupport::serversRequired())
                QFAIL("zam-plugins is not installed");
            QSKIP("needs zam-plugins");
        }
        FakePointer pointer;
        if (!pointer.isValid())
            QSKIP("needs the X test extension (libXtst)");
        PluginTestSupport::ErrorCapture errors;
        auto instance = std::make_shared<VST3PluginInstance>();
        QVERIFY(instance->load(path, 44100, 512));
        VST3EditorWindow window(instance, "ZamComp");
        window.show();
        QTRY_VERIFY(window.isAttached());
        QTRY_VERIFY_WITH_TIMEOUT(childWindows(window.winId()) >= 1, 10000);
        QVERIFY(instance->isActive());
        std::vector<float> left(512), right(512);
        float* channels[2] = {left.data(), right.data()};
        const auto processSome = [&] {
            for (int block = 0; block < 4; ++block)
                instance->process(channels, channels, 2, 512);
        };
        processSome();

        // Turn the wheel over the editor until a value moves.
        const std::vector<float> before = parameterValues(*instance);
        int moved = -1;
        for (int y = 10; y < window.height() && moved < 0; y += 20) {
            for (int x = 10; x < window.width() && moved < 0; x += 20) {
                pointer.wheelUp(window.mapToGlobal(QPoint(x, y)), 3);
                QTest::qWait(30);
                processSome();
                const std::vector<float> now = parameterValues(*instance);
                for (size_t i = 0; i < now.size() && moved < 0; ++i)
                    moved = now[i] != before[i] ? int(i) : -1;
            }
        }
        QVERIFY2(moved >= 0, "no control of the editor answered the wheel");
        QTest::qWait(100);
        processSome();
        const QString title = QString::fromStdString(instance->getParameterName(moved));
        const float normalized = instance->getParameter(moved);
        window.close();

        // The range and state key the LV2 build of the same plug-in states.
        const auto ports = Lv2Reference::readPorts("/usr/lib/lv2/ZamComp.lv2/ZamComp_dsp.ttl");
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const auto& p) { return p.name == title; });
        QVERIFY2(port != ports.end(), qPrintable(title));
        QTemporaryDir dir;
        const double plain = stateValue(*instance, dir.filePath("state"), port->symbol.toUtf8());
        const double expected = port->minimum + normalized * (port->maximum - port->minimum);
        QVERIFY2(std::fabs(plain - expected) < 1e-3 * std::max(1.0, std::fabs(expected)),
                 qPrintable(QString("%1: state %2, editor %3").arg(title).arg(plain).arg(expected)));
        instance->unload();
        QVERIFY2(!errors.text().contains("nullptr"), qPrintable(errors.text()));
    }
};

int main(int argc, char** argv)
{
    // Left last, after the application (see TestMain.h).
    PrivateUserFolders folders(argv[0]);
    const bool server = TestSupport::startPrivateXServer();
    if (server)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    VST3EditorWindowX11Test test(server);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_VST3EditorWindowX11.moc"
