#pragma once
// What the host offers a plug-in's editor view on Linux: the frame that
// answers its resize requests and the run loop that calls its file-descriptor
// and timer handlers on the GUI thread (Qt socket notifiers and timers).
// Everything still registered is dropped when the view is detached.

#include "plugins/VST3Interfaces.h"

#include <atomic>
#include <functional>
#include <vector>

class QSocketNotifier;
class QTimer;

class VST3PlugFrame final : public vst::IPlugFrame, public vst::IRunLoop {
public:
    // Created with one reference, which its creator gives back with release().
    VST3PlugFrame();

    vst::tresult queryInterface(const vst::TUID queried, void** obj) override;
    vst::uint32 addRef() override;
    vst::uint32 release() override;

    // IPlugFrame: asks the owner to resize, then tells the view its new size.
    vst::tresult resizeView(vst::IPlugView* view, vst::ViewRect* newSize) override;

    // IRunLoop
    vst::tresult registerEventHandler(vst::IEventHandler* handler, int fd) override;
    vst::tresult unregisterEventHandler(vst::IEventHandler* handler) override;
    vst::tresult registerTimer(vst::ITimerHandler* handler, vst::uint64 milliseconds) override;
    vst::tresult unregisterTimer(vst::ITimerHandler* handler) override;

    // The owner's resize, given width and height; false refuses the size.
    void setResizeHandler(std::function<bool(int, int)> handler) { resizeHandler = std::move(handler); }
    // Drops every handler and timer still registered; none is called after.
    void unregisterAll();
    int registeredCount() const;
    // How many times handlers and timers have been called.
    int callCount() const { return calls; }

private:
    ~VST3PlugFrame();

    struct EventEntry {
        vst::IEventHandler* handler;
        int fd;
        QSocketNotifier* notifier;
    };
    struct TimerEntry {
        vst::ITimerHandler* handler;
        QTimer* timer;
    };

    std::atomic<int> refCount{1};
    std::function<bool(int, int)> resizeHandler;
    std::vector<EventEntry> events;
    std::vector<TimerEntry> timers;
    int calls = 0;
};
