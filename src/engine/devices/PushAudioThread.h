#pragma once
// The thread the push outputs' devices (see PushAudioSink) are opened, fed
// and closed on, with an event loop for Qt's sinks. One serves the whole
// application (Qt's sound layer keeps its server connection, and tries a
// lost server again, on the thread that first used it), except that a new
// one takes over from one stuck for good: Qt's sink waits for ever for a
// stream whose server went away while it was opening (a stopped server that
// is then killed), and holds its thread.

#include <atomic>
#include <cstdint>
#include <functional>

class QObject;
class SoundServerWatch;

class PushAudioThread {
public:
    // From the GUI thread: the thread new outputs go to.
    static PushAudioThread* current();

    // Queues a call; calls run in the order queued.
    void post(std::function<void()> call);
    // On the thread: a device's open begins, and has ended.
    void openBegins();
    void openEnded();
    // An open under way for a while on a server connection that has ended:
    // nothing queued after it runs any more.
    bool stuck() const;

private:
    PushAudioThread();
    static void endCurrent();

    QObject* home = nullptr;
    std::atomic<std::int64_t> openingSinceMs{0}; // 0: no open under way
    std::atomic<std::uint64_t> openingConnection{0};
    std::atomic<const SoundServerWatch*> watch{nullptr};
};
