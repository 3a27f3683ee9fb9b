// Editor windows without an X server (offscreen): nothing is attached and
// nothing crashes; closes are reported once; the owner forgets a window
// before it is deleted. The run loop offered to plug-in views calls their
// handlers and drops them on request.

#include "PluginTestSupport.h"

#include "plugins/AudioPluginBridge.h"
#include "plugins/VST3PlugFrame.h"
#include "plugins/VST3PluginInstance.h"
#include "plugins/ui/PluginEditorWindows.h"
#include "plugins/ui/VST3EditorWindow.h"

#include <QtTest/QtTest>

#include <unistd.h>

using namespace PluginTestSupport;

namespace {

// A plug-in's handler object: counts its calls and may unregister itself.
class Handler final : public vst::IEventHandler, public vst::ITimerHandler {
public:
    vst::tresult queryInterface(const vst::TUID, void** obj) override
    {
        *obj = nullptr;
        return vst::kNoInterface;
    }
    vst::uint32 addRef() override { return 1; }
    vst::uint32 release() override { return 1; }
    void onFDIsSet(int fd) override
    {
        char byte = 0;
        if (read(fd, &byte, 1) == 1)
            ++fdCalls;
    }
    void onTimer() override
    {
        ++timerCalls;
        if (loop && timerCalls == 3)
            loop->unregisterTimer(this); // from inside its own call
    }
    vst::IRunLoop* loop = nullptr;
    int fdCalls = 0;
    int timerCalls = 0;
};

// A view that only counts the sizes it is given.
class View final : public vst::IPlugView {
public:
    vst::tresult queryInterface(const vst::TUID, void** obj) override
    {
        *obj = nullptr;
        return vst::kNoInterface;
    }
    vst::uint32 addRef() override { return 1; }
    vst::uint32 release() override { return 1; }
    vst::tresult isPlatformTypeSupported(vst::FIDString) override { return vst::kResultOk; }
    vst::tresult attached(void*, vst::FIDString) override { return vst::kResultOk; }
    vst::tresult removed() override { return vst::kResultOk; }
    vst::tresult onWheel(float) override { return vst::kResultOk; }
    vst::tresult onKeyDown(vst::TChar, vst::int16, vst::int16) override { return vst::kResultOk; }
    vst::tresult onKeyUp(vst::TChar, vst::int16, vst::int16) override { return vst::kResultOk; }
    vst::tresult getSize(vst::ViewRect*) override { return vst::kResultFalse; }
    vst::tresult onSize(vst::ViewRect*) override
    {
        ++sizes;
        return vst::kResultOk;
    }
    vst::tresult onFocus(vst::TBool) override { return vst::kResultOk; }
    vst::tresult setFrame(vst::IPlugFrame*) override { return vst::kResultOk; }
    vst::tresult canResize() override { return vst::kResultOk; }
    vst::tresult checkSizeConstraint(vst::ViewRect*) override { return vst::kResultOk; }
    int sizes = 0;
};

} // namespace

class PluginEditorWindowsTest : public QObject {
    Q_OBJECT

private slots:
    void offscreenWindowAttachesNothing()
    {
        CallLog log;
        auto instance = std::make_shared<VST3PluginInstance>();
        QVERIFY(instance->load(bundle("CdwGain"), 44100, 512));
        auto* window = new VST3EditorWindow(instance, "Cdw Gain");
        QCOMPARE(window->pluginId, -1);
        QCOMPARE(window->size(), QSize(800, 600));
        QSignalSpy closed(window, &VST3EditorWindow::windowClosed);
        PluginTestSupport::ErrorCapture errors;
        window->show();
        QTRY_VERIFY(window->isExposed());
        QVERIFY(errors.text().contains("VST3EditorWindow: Failed to get an X11 window from QWindow"));
        QVERIFY(!window->isAttached());
        QCOMPARE(log.count("view attached"), 0);
        window->close();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(closed.first().first().toInt(), -1);
        window->show();
        window->hide();
        QCOMPARE(closed.count(), 2);
        delete window;
        QCOMPARE(closed.count(), 2);
        QVERIFY(instance->isLoaded()); // the window only let go of it
    }

    void ownerForgetsAClosedWindowFirst()
    {
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        const int id = bridge.loadPlugin(bundle("CdwGain"));
        PluginEditorWindows windows;
        QVERIFY(!windows.open(bridge, id + 1));
        QVERIFY(windows.open(bridge, id));
        QVERIFY(windows.open(bridge, id)); // shown again, not a second window
        QPointer<VST3EditorWindow> window = windows.window(id);
        QVERIFY(window);
        QCOMPARE(window->title(), QStringLiteral("Cdw Gain"));
        QCOMPARE(window->pluginId, id);
        QList<bool> stillListed;
        connect(&windows, &PluginEditorWindows::editorClosed, this,
                [&](int closedId) { stillListed << windows.isOpen(closedId); });
        window->close();
        QCOMPARE(stillListed, QList<bool>{false});
        QVERIFY(!windows.isOpen(id));
        QTRY_VERIFY(!window); // deleted afterwards
        // The bridge may drop the plug-in while a window holds it.
        QVERIFY(windows.open(bridge, id));
        bridge.shutdown();
        windows.closeAll();
        QVERIFY(!windows.isOpen(id));
    }

    void runLoopCallsAndDropsHandlers()
    {
        auto* frame = new VST3PlugFrame;
        void* loopObject = nullptr;
        QCOMPARE(frame->queryInterface(vst::IRunLoop::iid.bytes, &loopObject), vst::kResultOk);
        auto* loop = static_cast<vst::IRunLoop*>(loopObject);
        Handler handler;
        handler.loop = loop;
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        QCOMPARE(loop->registerEventHandler(&handler, fds[0]), vst::kResultOk);
        QCOMPARE(loop->registerTimer(&handler, 5), vst::kResultOk);
        QCOMPARE(loop->registerEventHandler(nullptr, fds[0]), vst::kInvalidArgument);
        QCOMPARE(frame->registeredCount(), 2);
        QCOMPARE(write(fds[1], "x", 1), ssize_t(1));
        QTRY_COMPARE(handler.fdCalls, 1);
        QTRY_COMPARE(handler.timerCalls, 3);
        QCOMPARE(frame->registeredCount(), 1); // the timer went from inside its call
        QVERIFY(frame->callCount() >= 4);
        frame->unregisterAll();
        QCOMPARE(frame->registeredCount(), 0);
        QCOMPARE(write(fds[1], "y", 1), ssize_t(1));
        QTest::qWait(50);
        QCOMPARE(handler.fdCalls, 1);
        QCOMPARE(loop->unregisterTimer(&handler), vst::kInvalidArgument);

        // Resize requests go to the owner, then back to the view as its size.
        QSize asked;
        frame->setResizeHandler([&](int w, int h) {
            asked = QSize(w, h);
            return true;
        });
        vst::ViewRect rect{10, 10, 330, 250};
        View view;
        QCOMPARE(frame->resizeView(nullptr, &rect), vst::kInvalidArgument);
        QCOMPARE(frame->resizeView(&view, &rect), vst::kResultOk);
        QCOMPARE(asked, QSize(320, 240));
        QCOMPARE(view.sizes, 1);
        vst::ViewRect inverted{0, 0, -5, 100};
        QCOMPARE(frame->resizeView(&view, &inverted), vst::kInvalidArgument);
        frame->setResizeHandler([](int, int) { return false; });
        QCOMPARE(frame->resizeView(&view, &rect), vst::kResultFalse);
        QCOMPARE(view.sizes, 1);
        loop->release();
        frame->release();
        close(fds[0]);
        close(fds[1]);
    }
};

QTEST_MAIN(PluginEditorWindowsTest)
#include "tst_PluginEditorWindows.moc"
