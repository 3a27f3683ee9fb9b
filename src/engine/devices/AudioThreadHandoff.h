#pragma once
// Safe hand-over between the GUI thread and an audio callback thread without
// locking the audio thread: a fence that lets the GUI wait until the block
// that is running has ended, and a callback slot built on it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

// The audio thread brackets each block with blockBegins()/blockEnds(); an odd
// count means a block is running.
class AudioBlockFence {
public:
    void blockBegins() noexcept { counter.fetch_add(1); }
    void blockEnds() noexcept { counter.fetch_add(1); }

    // GUI thread: returns once the block running at the time of the call, if
    // any, has ended. Whatever was published before the call is seen by every
    // later block. Never call it from inside a block.
    void waitForRunningBlock() const
    {
        const std::uint64_t seen = counter.load();
        if ((seen & 1u) == 0)
            return;
        for (int spin = 0; counter.load() == seen; ++spin) {
            if (spin < 64)
                std::this_thread::yield();
            else
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

    class Scope {
    public:
        explicit Scope(AudioBlockFence& fence) : fence(fence) { fence.blockBegins(); }
        ~Scope() { fence.blockEnds(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        AudioBlockFence& fence;
    };

private:
    std::atomic<std::uint64_t> counter{0};
};

// A function object that the GUI thread replaces while the audio thread may
// be calling it: a block sees the old or the new one whole, and the old one is
// destroyed only after the block that may be calling it has ended, so its
// owner may free what it used once replace() returns.
template <typename Function>
class AudioCallbackSlot {
public:
    AudioCallbackSlot() = default;
    AudioCallbackSlot(const AudioCallbackSlot&) = delete;
    AudioCallbackSlot& operator=(const AudioCallbackSlot&) = delete;
    ~AudioCallbackSlot() { delete current.load(); }

    // GUI thread; an empty function clears the slot.
    void replace(Function function, const AudioBlockFence& fence)
    {
        Function* fresh = function ? new Function(std::move(function)) : nullptr;
        Function* old = current.exchange(fresh);
        if (old) {
            fence.waitForRunningBlock();
            delete old;
        }
    }

    // Audio thread, inside a block: the function to call, or null.
    const Function* get() const noexcept { return current.load(); }

private:
    std::atomic<Function*> current{nullptr};
};
