// The pitch analysis behind the pitch-correction dialog runs on a worker
// thread: on long material it takes seconds, and the window must keep
// painting with its loading overlay turning. User input made meanwhile is
// dropped, so nothing can change the material or act once it is done.

#include "editor/AudioEditorPage.h"

#include "dialogs/PitchCorrectionSession.h"
#include "widgets/WorkerWait.h"

std::unique_ptr<PitchCorrectionSession> AudioEditorPage::analysePitch()
{
    const QList<float> list = samples;
    const int rate = sampleRate;
    std::unique_ptr<PitchCorrectionSession> session;
    WorkerWait::run([&] { session = std::make_unique<PitchCorrectionSession>(list, rate); });
    return session;
}
