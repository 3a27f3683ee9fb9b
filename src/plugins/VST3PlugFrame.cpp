#include "VST3PlugFrame.h"

#include "plugins/PluginLog.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kMaxEditorSide = 1 << 15;

// Notifiers and timers may be dropped from inside their own signal, so they
// are disconnected at once and deleted when control is back in the event loop.
template <class T>
void retire(T* object)
{
    object->disconnect();
    object->deleteLater();
}

} // namespace

VST3PlugFrame::VST3PlugFrame() = default;

VST3PlugFrame::~VST3PlugFrame()
{
    unregisterAll();
}

vst::tresult VST3PlugFrame::queryInterface(const vst::TUID queried, void** obj)
{
    if (!obj)
        return vst::kInvalidArgument;
    if (vst::FUnknown::iid.matches(queried) || vst::IPlugFrame::iid.matches(queried)) {
        addRef();
        *obj = static_cast<vst::IPlugFrame*>(this);
        return vst::kResultOk;
    }
    if (vst::IRunLoop::iid.matches(queried)) {
        addRef();
        *obj = static_cast<vst::IRunLoop*>(this);
        return vst::kResultOk;
    }
    *obj = nullptr;
    return vst::kNoInterface;
}

vst::uint32 VST3PlugFrame::addRef()
{
    return vst::uint32(refCount.fetch_add(1) + 1);
}

vst::uint32 VST3PlugFrame::release()
{
    const int left = refCount.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return vst::uint32(std::max(left, 0));
}

vst::tresult VST3PlugFrame::resizeView(vst::IPlugView* view, vst::ViewRect* newSize)
{
    if (!view || !newSize)
        return vst::kInvalidArgument;
    const long long width = (long long)newSize->right - newSize->left;
    const long long height = (long long)newSize->bottom - newSize->top;
    if (width < 1 || height < 1 || width > kMaxEditorSide || height > kMaxEditorSide)
        return vst::kInvalidArgument;
    if (!resizeHandler || !resizeHandler(int(width), int(height)))
        return vst::kResultFalse;
    view->onSize(newSize);
    return vst::kResultOk;
}

vst::tresult VST3PlugFrame::registerEventHandler(vst::IEventHandler* handler, int fd)
{
    if (!handler || fd < 0)
        return vst::kInvalidArgument;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this, handler, fd] {
        ++calls;
        try {
            handler->onFDIsSet(fd);
        } catch (...) {
            PluginLog::error("VST3PlugFrame: plugin event handler failed");
        }
    });
    events.push_back({handler, fd, notifier});
    return vst::kResultOk;
}

vst::tresult VST3PlugFrame::unregisterEventHandler(vst::IEventHandler* handler)
{
    const auto removed = std::remove_if(events.begin(), events.end(), [handler](const EventEntry& entry) {
        if (entry.handler != handler)
            return false;
        retire(entry.notifier);
        return true;
    });
    if (removed == events.end())
        return vst::kInvalidArgument;
    events.erase(removed, events.end());
    return vst::kResultOk;
}

vst::tresult VST3PlugFrame::registerTimer(vst::ITimerHandler* handler, vst::uint64 milliseconds)
{
    if (!handler)
        return vst::kInvalidArgument;
    auto* timer = new QTimer;
    timer->setInterval(int(std::clamp<vst::uint64>(milliseconds, 1, 60000)));
    QObject::connect(timer, &QTimer::timeout, timer, [this, handler] {
        ++calls;
        try {
            handler->onTimer();
        } catch (...) {
            PluginLog::error("VST3PlugFrame: plugin timer failed");
        }
    });
    timer->start();
    timers.push_back({handler, timer});
    return vst::kResultOk;
}

vst::tresult VST3PlugFrame::unregisterTimer(vst::ITimerHandler* handler)
{
    const auto removed = std::remove_if(timers.begin(), timers.end(), [handler](const TimerEntry& entry) {
        if (entry.handler != handler)
            return false;
        entry.timer->stop();
        retire(entry.timer);
        return true;
    });
    if (removed == timers.end())
        return vst::kInvalidArgument;
    timers.erase(removed, timers.end());
    return vst::kResultOk;
}

void VST3PlugFrame::unregisterAll()
{
    for (const EventEntry& entry : events)
        retire(entry.notifier);
    for (const TimerEntry& entry : timers) {
        entry.timer->stop();
        retire(entry.timer);
    }
    events.clear();
    timers.clear();
}

int VST3PlugFrame::registeredCount() const
{
    return int(events.size() + timers.size());
}
