#include "engine/devices/RecordTakeQueue.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <cstring>

RecordTakeQueue::RecordTakeQueue(QObject* parent)
    : QObject(parent)
    , timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &RecordTakeQueue::drain);
}

RecordTakeQueue::~RecordTakeQueue() = default;

void RecordTakeQueue::start(qsizetype capacity, Sink target, int drainMs)
{
    accepting.store(false);
    capacity = std::max<qsizetype>(capacity, 1);
    if (capacity != size) {
        ring.reset(new float[size_t(capacity)]);
        size = capacity;
    }
    written.store(0);
    read.store(0);
    dropped.store(0);
    sink = std::move(target);
    timer->start(std::max(drainMs, 1));
    accepting.store(true, std::memory_order_release);
}

bool RecordTakeQueue::push(const float* samples, int count) noexcept
{
    if (!samples || count < 1 || !accepting.load(std::memory_order_acquire))
        return false;
    const std::uint64_t w = written.load(std::memory_order_relaxed);
    const std::uint64_t used = w - read.load(std::memory_order_acquire);
    if (std::uint64_t(count) > std::uint64_t(size) - used) {
        dropped.fetch_add(count, std::memory_order_relaxed);
        return false;
    }
    const size_t at = size_t(w % std::uint64_t(size));
    const size_t first = std::min(size_t(count), size_t(size) - at);
    std::memcpy(ring.get() + at, samples, first * sizeof(float));
    std::memcpy(ring.get(), samples + first, (size_t(count) - first) * sizeof(float));
    written.store(w + std::uint64_t(count), std::memory_order_release);
    return true;
}

void RecordTakeQueue::drain()
{
    if (!sink)
        return;
    const std::uint64_t w = written.load(std::memory_order_acquire);
    std::uint64_t r = read.load(std::memory_order_relaxed);
    while (r < w) {
        const size_t at = size_t(r % std::uint64_t(size));
        const size_t count = size_t(std::min<std::uint64_t>(w - r, std::uint64_t(size) - at));
        sink(ring.get() + at, qsizetype(count));
        r += count;
        // Only now may the producer write over what the sink has read.
        read.store(r, std::memory_order_release);
    }
}

void RecordTakeQueue::finish()
{
    accepting.store(false);
    drain();
    timer->stop();
    if (sink && dropped.load() > 0)
        qWarning() << "RecordTakeQueue: dropped" << dropped.load()
                   << "samples the GUI thread did not take in time";
    sink = nullptr;
}
