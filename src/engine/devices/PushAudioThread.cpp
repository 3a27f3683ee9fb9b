#include "engine/devices/PushAudioThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// How long the application's end waits for the thread to close what it holds.
constexpr unsigned long kEndWaitMs = 100;

PushAudioThread* inUse = nullptr; // never freed

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
