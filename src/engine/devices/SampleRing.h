#pragma once
// A single-producer, single-consumer ring of samples: the producer neither
// allocates, locks nor waits. Running totals of what was written and read
// give what the ring holds; a block is queued whole or not at all, so what
// the consumer takes is always in order.

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <memory>

class SampleRing {
public:
    // While neither side runs: empties the ring and makes room for
    // `capacity` samples (at least one).
    void reset(qsizetype capacity);
    qsizetype capacity() const { return size; }

    // Producer: queues count samples, all or none; false when they do not
    // fit beside what the ring holds, or for no samples.
    bool push(const float* samples, int count) noexcept;
    // Producer: how many samples a push takes now.
    qsizetype space() const;

    // Consumer: the oldest samples held that lie in one piece (at most up to
    // the ring's end), their number in `count`; null when the ring is empty.
    const float* front(qsizetype& count) const;
    // Consumer: frees the first `count` samples front() gave; only then may
    // the producer write over them.
    void release(qsizetype count);

private:
    std::unique_ptr<float[]> ring;
    qsizetype size = 0;
    // The producer advances `written`, the consumer `read`.
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> read{0};
};
