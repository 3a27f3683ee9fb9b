#include "engine/devices/SoundServerWatch.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

#include <QDebug>

namespace {

// How long the first attempt may take before the watch is handed out.
constexpr std::chrono::milliseconds kFirstAttemptLimit{1000};

// One request's answer, set on libpulse's thread.
struct Reply {
    SoundServerWatch* watch = nullptr;
    bool answered = false;
};

} // namespace

SoundServerWatch& SoundServerWatch::instance()
{
    // Never destroyed: streams and their threads may outlive any static.
    static SoundServerWatch* watch = [] {
        auto* made = new SoundServerWatch();
        made->reachable(kFirstAttemptLimit);
        return made;
    }();
    return *watch;
}

SoundServerWatch::SoundServerWatch()
{
    loop = pa_threaded_mainloop_new();
    if (loop && pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
    if (!loop)
        qWarning() << "SoundServerWatch: libpulse's thread could not be started";
}

void SoundServerWatch::connectLocked()
{
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Calderwyn Studio watch");
    if (!context) {
        std::lock_guard<std::mutex> lock(mutex);
        attempting = false;
        return;
    }
    pa_context_set_state_callback(context, &SoundServerWatch::onStateChanged, this);
    // Never starting a server of its own: only one that runs counts.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::lock_guard<std::mutex> lock(mutex);
        attempting = false;
    }
    changed.notify_all();
}

void SoundServerWatch::onStateChanged(pa_context* context, void* userData)
{
    auto* self = static_cast<SoundServerWatch*>(userData);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        self->connections.fetch_add(1);
        self->isConnected = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->isConnected = false;
        break;
    default:
        return; // still connecting
    }
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->attempting = false;
    }
    self->changed.notify_all();
}

bool SoundServerWatch::reachable(std::chrono::milliseconds patience)
{
    if (!loop)
        return false;
    if (isConnected)
        return true;
    pa_threaded_mainloop_lock(loop);
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        start = !attempting && !isConnected;
        if (start)
            attempting = true;
    }
    if (start)
        connectLocked();
    pa_threaded_mainloop_unlock(loop);
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, patience, [&] { return !attempting; });
    return isConnected;
}

bool SoundServerWatch::connecting()
{
    std::lock_guard<std::mutex> lock(mutex);
    return attempting && !isConnected;
}

void SoundServerWatch::onServerInfo(pa_context*, const pa_server_info*, void* userData)
{
    auto* reply = static_cast<Reply*>(userData);
    {
        std::lock_guard<std::mutex> lock(reply->watch->mutex);
        reply->answered = true;
    }
    reply->watch->changed.notify_all();
}

bool SoundServerWatch::answers(std::chrono::milliseconds patience)
{
    if (!loop || !isConnected)
        return false;
    Reply reply;
    reply.watch = this;
    pa_threaded_mainloop_lock(loop);
    pa_operation* request = context && pa_context_get_state(context) == PA_CONTEXT_READY
        ? pa_context_get_server_info(context, &SoundServerWatch::onServerInfo, &reply)
        : nullptr;
    pa_threaded_mainloop_unlock(loop);
    if (!request)
        return false;
    bool answered = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, patience, [&] { return reply.answered || !isConnected; });
        answered = reply.answered;
    }
    // Under the loop's lock no answer can arrive any more once cancelled.
    pa_threaded_mainloop_lock(loop);
    if (pa_operation_get_state(request) == PA_OPERATION_RUNNING)
        pa_operation_cancel(request);
    pa_operation_unref(request);
    pa_threaded_mainloop_unlock(loop);
    return answered;
}
