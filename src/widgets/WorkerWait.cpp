#include "widgets/WorkerWait.h"

#include "widgets/UserInputDropper.h"

#include <QEventLoop>
#include <QThread>

#include <memory>

namespace WorkerWait {

void run(const std::function<void()>& work)
{
    const UserInputDropper dropping;
    // A thread of its own: the shared pool may be busy with background
    // views, and this wait would queue behind them.
    std::unique_ptr<QThread> worker(QThread::create(work));
    QEventLoop waiting;
    QObject::connect(worker.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    worker->start();
    if (!worker->isFinished())
        waiting.exec();
    worker->wait();
}

} // namespace WorkerWait
