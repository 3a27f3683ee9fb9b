#pragma once
// Safe hand-over between the GUI thread and an audio callback thread without
// locking the audio thread: a fence that lets the GUI wait until the block
// that is running has ended, and a value and a callback slot built on it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
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

// A value that the GUI thread replaces while the audio thread may be reading
// it: the new one is built on the GUI thread and published by swapping a
// pointer, so the audio thread neither allocates nor frees. A block sees the
// old or the new value whole; the old one is destroyed on the GUI thread
// only after the block that may be reading it has ended, so its owner may
// free what it referred to once replace() returns.
template <typename Value>
class AudioThreadValue {
public:
    AudioThreadValue() = default;
    AudioThreadValue(const AudioThreadValue&) = delete;
    AudioThreadValue& operator=(const AudioThreadValue&) = delete;
    ~AudioThreadValue() { delete current.load(); }

    // GUI thread; null clears the value.
    void replace(std::unique_ptr<Value> value, const AudioBlockFence& fence)
    {
        Value* old = current.exchange(value.release());
        if (old) {
            fence.waitForRunningBlock();
            delete old;
        }
    }

    // Audio thread, inside a block: the value, or null. It stays valid until
    // the block ends.
    const Value* get() const noexcept { return current.load(); }

private:
    std::atomic<Value*> current{nullptr};
};

// A function object that the GUI thread replaces while the audio thread may
// be calling it (see AudioThreadValue).
template <typename Function>
class AudioCallbackSlot {
public:
    // GUI thread; an empty function clears the slot.
    void replace(Function function, const AudioBlockFence& fence)
    {
        value.replace(function ? std::make_unique<Function>(std::move(function)) : nullptr, fence);
    }

    // Audio thread, inside a block: the function to call, or null.
    const Function* get() const noexcept { return value.get(); }

    // GUI thread (the thread that replaces): a copy of the function set now,
    // empty when none is.
    Function copy() const
    {
        const Function* function = value.get();
        return function ? *function : Function();
    }

private:
    AudioThreadValue<Function> value;
};
