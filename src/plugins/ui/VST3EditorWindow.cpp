#include "VST3EditorWindow.h"

#include "plugins/PluginLog.h"
#include "plugins/VST3PlugFrame.h"
#include "plugins/VST3PluginInstance.h"

#include <QExposeEvent>
#include <QGuiApplication>
#include <QScreen>

namespace {

constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;
// About the rate plug-in editors redraw their meters at.
constexpr int kControllerUpdateMs = 30;

void logInfo(const std::string& text)
{
    PluginLog::info("VST3EditorWindow: " + text);
}

} // namespace

VST3EditorWindow::VST3EditorWindow(std::shared_ptr<VST3PluginInstance> plugin, const std::string& title,
                                   QWindow* parent)
    : QWindow(parent), instance(std::move(plugin)), frame(new VST3PlugFrame)
{
    frame->setResizeHandler([this](int width, int height) {
        resize(width, height);
        return true;
    });
    setTitle(QString::fromUtf8(title.c_str()));
    setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
             Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    controllerUpdates.setInterval(kControllerUpdateMs);
    connect(&controllerUpdates, &QTimer::timeout, this, [this] {
        if (instance)
            instance->updateController();
    });
    resize(kDefaultWidth, kDefaultHeight);
    if (screen())
        centreOn(screen(), kDefaultWidth, kDefaultHeight);
    connect(this, &QWindow::visibleChanged, this, [this](bool visible) {
        if (visible) {
            closeReported = false;
            return;
        }
        detachPluginView();
        reportClosed();
    });
}

VST3EditorWindow::~VST3EditorWindow()
{
    // The base class hides the window as it goes; this part is gone by then.
    disconnect(this, &QWindow::visibleChanged, this, nullptr);
    detachPluginView();
    instance.reset();
    // A plug-in still holding the frame must not reach this window any more.
    frame->setResizeHandler(nullptr);
    frame->release();
}

void VST3EditorWindow::centreOn(const QScreen* target, int width, int height)
{
    const QRect area = target->availableGeometry();
    setPosition(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2);
}

void VST3EditorWindow::reportClosed()
{
    // A close also hides the window; its owner hears of it once.
    if (closeReported)
        return;
    closeReported = true;
    emit windowClosed(pluginId);
}

void VST3EditorWindow::attachPluginView()
{
    if (attached || !instance)
        return;
    // Only an X11 window can take a plug-in's view; other platforms (such as
    // offscreen) give ids that are not X11 windows.
    const QString platform = QGuiApplication::platformName();
    const WId handle = platform == QLatin1String("xcb") ? winId() : 0;
    if (handle == 0) {
        PluginLog::error("VST3EditorWindow: Failed to get an X11 window from QWindow (platform " +
                         platform.toStdString() + ")");
        return;
    }
    if (!instance->showEditor(reinterpret_cast<void*>(handle), frame))
        return;
    attached = true;
    controllerUpdates.start();
    logInfo("Plugin view attached to standalone window");

    int width = 0;
    int height = 0;
    if (!instance->getEditorSize(width, height))
        return;
    logInfo("Resizing to plugin view size: " + std::to_string(width) + "x" + std::to_string(height));
    resize(width, height);
    const QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    centreOn(target, width, height);
    logInfo("Centered on screen '" + target->name().toStdString() + "' at " + std::to_string(x()) + "," +
            std::to_string(y()));
}

void VST3EditorWindow::detachPluginView()
{
    if (!attached || !instance)
        return;
    controllerUpdates.stop();
    instance->hideEditor();
    attached = false;
    // Whatever the plug-in left registered is dropped with the view.
    frame->unregisterAll();
    logInfo("Plugin view detached");
}

void VST3EditorWindow::exposeEvent(QExposeEvent* event)
{
    QWindow::exposeEvent(event);
    if (isExposed() && !attached && instance)
        attachPluginView();
}

void VST3EditorWindow::resizeEvent(QResizeEvent* event)
{
    QWindow::resizeEvent(event);
}

void VST3EditorWindow::closeEvent(QCloseEvent* event)
{
    detachPluginView();
    reportClosed();
    QWindow::closeEvent(event);
}
