#include "engine/devices/PushAudioThread.h"

#include "engine/devices/SoundServerWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>

#include <chrono>

namespace {

// How long an open must have been under way, its server gone, to be taken as stuck.
constexpr std::int64_t kStuckAfterMs = 1000;
// How long the application's end waits for the thread to close what it holds.
constexpr unsigned long kEndWaitMs = 100;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PushAudioThread* inUse = nullptr; // never freed: a stuck one keeps its thread

} // namespace

PushAudioThread::PushAudioThread()
{
    auto* thread = new QThread;
    thread->setObjectName(QStringLiteral("PushAudioThread"));
    home = new QObject;
    home->moveToThread(thread);
    thread->start();
}

PushAudioThread* PushAudioThread::current()
{
    if (inUse && inUse->stuck()) {
        qWarning() << "PushAudioThread: Qt's sound layer waits for a server that went away; outputs open on a "
                      "new thread";
        // Ends should it ever come back, after what it holds.
        QThread* stuckThread = inUse->home->thread();
        inUse->post([stuckThread] { stuckThread->quit(); });
        inUse = nullptr;
    }
    if (!inUse) {
        static const bool ending = (qAddPostRoutine(endCurrent), true);
        Q_UNUSED(ending);
        inUse = new PushAudioThread;
    }
    return inUse;
}

void PushAudioThread::endCurrent()
{
    if (!inUse)
        return;
    // After the closes already queued. A thread that waits for a server
    // answering nothing is left to the process's end.
    QThread* thread = inUse->home->thread();
    inUse->post([thread] { thread->quit(); });
    thread->wait(QDeadlineTimer(kEndWaitMs));
}

void PushAudioThread::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(home, std::move(call), Qt::QueuedConnection);
}

void PushAudioThread::openBegins()
{
    // Made here, never on the GUI thread: its first attempt may wait a moment.
    const SoundServerWatch& server = SoundServerWatch::instance();
    watch = &server;
    openingConnection = server.connection();
    openingSinceMs = nowMs();
}

void PushAudioThread::openEnded()
{
    openingSinceMs = 0;
}

bool PushAudioThread::stuck() const
{
    const std::int64_t since = openingSinceMs;
    const SoundServerWatch* server = watch;
    if (since == 0 || !server || !server->isWatching() || nowMs() - since < kStuckAfterMs)
        return false;
    return !server->connected() || server->connection() != openingConnection;
}
