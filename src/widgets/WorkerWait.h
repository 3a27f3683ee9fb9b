#pragma once
// Long work behind the loading overlay: runs on a thread of its own while
// the event loop keeps turning (paints, timers, the overlay's spinner), and
// the user's input made meanwhile is dropped (see UserInputDropper), so the
// work's data stays as it was and nothing acts once it is done. Every such
// wait goes through here.
//
// `work` must not touch widgets or other GUI-thread objects; what it reads,
// nothing on the GUI thread may change until it returns.

#include <functional>

namespace WorkerWait {

// Returns once `work` has returned.
void run(const std::function<void()>& work);

} // namespace WorkerWait
