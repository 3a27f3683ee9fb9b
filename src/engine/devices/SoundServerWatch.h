#pragma once
// Whether the default PulseAudio server is there, known without asking it:
// one connection of our own stays open, and libpulse's thread sees its end
// at once when the server quits or is killed. Nothing is sent while idle; a
// server not connected is tried again only when someone asks (reachable).
// Used by RtAudioBackend on the PulseAudio API; safe from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_server_info;

class SoundServerWatch {
public:
    // The process's watch; its first attempt to connect has ended when it returns.
    static SoundServerWatch& instance();

    // False when libpulse could not be set up: nothing can be told then.
    bool isWatching() const { return loop != nullptr; }
    // Whether our connection stands (no round trip).
    bool connected() const { return isConnected.load(); }
    // Counts the connections made: what was opened under one count was
    // opened on that connection's server.
    std::uint64_t connection() const { return connections.load(); }
    // Connected, or connected by a new attempt within `patience`.
    bool reachable(std::chrono::milliseconds patience);
    // Whether an attempt to connect is under way: a server that takes the
    // connection but answers nothing (stopped, not gone) keeps it so.
    bool connecting();
    // Whether the server answers a small request within `patience`: a busy
    // server answers late, a frozen or gone one does not.
    bool answers(std::chrono::milliseconds patience);

private:
    SoundServerWatch();
    // Under the loop's lock: a new context for a new attempt.
    void connectLocked();
    static void onStateChanged(pa_context* context, void* watch);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* reply);

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr; // under the loop's lock
    std::atomic<bool> isConnected{false};
    std::atomic<std::uint64_t> connections{0};
    std::mutex mutex; // guards attempting and the replies' flags
    std::condition_variable changed;
    bool attempting = false;
};
