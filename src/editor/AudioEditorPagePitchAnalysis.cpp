// The pitch analysis behind the pitch-correction dialog runs on a worker
// thread: on long material it takes seconds, and the window must keep
// painting with its loading overlay turning. User input waits until the
// analysis is done, so nothing can change the material meanwhile.

#include "editor/AudioEditorPage.h"

#include "dialogs/PitchCorrectionSession.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

std::unique_ptr<PitchCorrectionSession> AudioEditorPage::analysePitch()
{
    const QList<float> list = samples;
    const int rate = sampleRate;
    QFutureWatcher<std::shared_ptr<PitchCorrectionSession>> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(
        [list, rate] { return std::make_shared<PitchCorrectionSession>(list, rate); }));
    if (!watcher.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    const std::shared_ptr<PitchCorrectionSession> session = watcher.result();
    return std::make_unique<PitchCorrectionSession>(std::move(*session));
}
