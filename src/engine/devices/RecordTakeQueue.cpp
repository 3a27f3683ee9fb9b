#include "engine/devices/RecordTakeQueue.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

RecordTakeQueue::RecordTakeQueue(QObject* parent)
    : QObject(parent)
    , timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &RecordTakeQueue::drain);
}

RecordTakeQueue::~RecordTakeQueue()
{
    accepting.store(false);
    stopSpill();
}

void RecordTakeQueue::start(qsizetype capacity, Sink target, int drainMs)
{
    accepting.store(false);
    stopSpill();
    capacity = std::max<qsizetype>(capacity, 1);
    if (capacity != size) {
        ring.reset(new float[size_t(capacity)]);
        size = capacity;
    }
    written.store(0);
    read.store(0);
    dropped.store(0);
    {
        const std::lock_guard<std::mutex> lock(spillMutex);
        spill.clear();
    }
    handing.clear();
    sink = std::move(target);
    stopping = false;
    spiller = std::thread([this] { runSpill(); });
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

void RecordTakeQueue::spillRing()
{
    const std::uint64_t w = written.load(std::memory_order_acquire);
    std::uint64_t r = read.load(std::memory_order_relaxed);
    if (r == w)
        return;
    const std::lock_guard<std::mutex> lock(spillMutex);
    while (r < w) {
        const size_t at = size_t(r % std::uint64_t(size));
        const size_t count = size_t(std::min<std::uint64_t>(w - r, std::uint64_t(size) - at));
        try {
            spill.insert(spill.end(), ring.get() + at, ring.get() + at + count);
        } catch (const std::bad_alloc&) {
            return; // left in the ring: it fills, and what does not fit is counted
        }
        r += count;
        // Only now may the producer write over what was taken.
        read.store(r, std::memory_order_release);
    }
}

void RecordTakeQueue::runSpill()
{
    std::unique_lock<std::mutex> lock(wakeMutex);
    while (!stopping) {
        lock.unlock();
        spillRing();
        lock.lock();
        wake.wait_for(lock, std::chrono::milliseconds(kSpillIntervalMs), [this] { return stopping; });
    }
    lock.unlock();
    spillRing(); // what came before the stop
}

void RecordTakeQueue::stopSpill()
{
    if (!spiller.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(wakeMutex);
        stopping = true;
    }
    wake.notify_all();
    spiller.join();
}

void RecordTakeQueue::drain()
{
    if (!sink)
        return;
    {
        const std::lock_guard<std::mutex> lock(spillMutex);
        handing.swap(spill);
    }
    if (!handing.empty())
        sink(handing.data(), qsizetype(handing.size()));
    handing.clear();
}

void RecordTakeQueue::finish()
{
    accepting.store(false);
    stopSpill();
    drain();
    timer->stop();
    if (sink && dropped.load() > 0)
        qWarning() << "RecordTakeQueue: dropped" << dropped.load()
                   << "samples the spill thread did not take in time";
    sink = nullptr;
}
