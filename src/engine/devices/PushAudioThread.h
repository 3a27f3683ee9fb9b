#pragma once
// The thread the push outputs' devices (see PushAudioSink) are opened, fed
// and closed on, with an event loop for Qt's sinks. One serves the whole
// application: Qt's sound layer keeps its server connection, and tries a
// lost server again, on the thread that first used it.

#include <functional>

class QObject;

class PushAudioThread {
public:
    // From the GUI thread: the thread new outputs go to.
    static PushAudioThread* current();

    // Queues a call; calls run in the order queued.
    void post(std::function<void()> call);

private:
    PushAudioThread();
    static void endCurrent();

    QObject* home = nullptr;
};
