#include "engine/devices/RecordTakeQueue.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <thread>

namespace {

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

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

void RecordTakeQueue::start(double seconds, int rate, int channels, Sink target, int drainMs)
{
    accepting.store(false);
    stopSpill();
    const double samples = seconds * std::max(rate, 0) * std::max(channels, 0);
    ring.reset(std::isfinite(samples) ? qsizetype(std::llround(std::clamp(samples, 1.0, 1.0e12))) : 1);
    dropped.store(0);
    offered.store(0);
    timedBlocks.store(0);
    rateOfStart = std::max(rate, 0);
    channelsOfStart = std::max(channels, 0);
    paceBucketStartNs = 0;
    stallCount = 0;
    stallOpen = false;
    lastBlockLengthNs.store(0);
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
    const qint64 total = offered.load(std::memory_order_relaxed) + count;
    const qint64 now = steadyNowNs();
    if (const double perSecond = samplesPerSecond(); perSecond > 0.0) {
        const qint64 pace = now - qint64(double(total) * 1e9 / perSecond);
        if (stallOpen && (now >= stallUntilNs || now - lastPushNs > kStallGapNs))
            closeStall();
        if (stallOpen) {
            stallLeastPace = std::min(stallLeastPace, pace);
        } else if (paceBucketStartNs != 0 && now - lastPushNs > kStallGapNs) {
            stallOpen = true;
            stallAt = total - count;
            stallUntilNs = now + kStallSettleNs;
            stallPaceBefore = std::min(paceFloorNs.load(std::memory_order_relaxed),
                                       previousPaceFloorNs.load(std::memory_order_relaxed));
            stallLeastPace = pace;
        }
        // After a second without input (a device that stalled and did not
        // make up for it), the pace starts afresh.
        const bool afresh = paceBucketStartNs == 0 || now - lastPushNs > 2 * kPaceBucketNs;
        if (afresh || now - paceBucketStartNs >= kPaceBucketNs) {
            previousPaceFloorNs.store(afresh ? pace : paceFloorNs.load(std::memory_order_relaxed),
                                      std::memory_order_relaxed);
            paceFloorNs.store(pace, std::memory_order_relaxed);
            paceBucketStartNs = now;
        } else if (pace < paceFloorNs.load(std::memory_order_relaxed)) {
            paceFloorNs.store(pace, std::memory_order_relaxed);
        }
        lastBlockLengthNs.store(qint64(double(count) * 1e9 / perSecond), std::memory_order_relaxed);
        lastPushNs = now;
    }
    const int timed = timedBlocks.load(std::memory_order_relaxed);
    if (timed < kTimedBlocks) {
        blockArrivalNs[std::size_t(timed)] = now;
        blockEnd[std::size_t(timed)] = total;
        timedBlocks.store(timed + 1, std::memory_order_release);
    }
    offered.store(total, std::memory_order_release);
    if (ring.push(samples, count))
        return true;
    dropped.fetch_add(count, std::memory_order_relaxed);
    return false;
}

qint64 RecordTakeQueue::inputBeganNs(int rate) const
{
    const int timed = timedBlocks.load(std::memory_order_acquire);
    if (timed == 0 || rate < 1)
        return 0;
    qint64 began = 0;
    for (int i = 0; i < timed; ++i) {
        const qint64 allowed = blockArrivalNs[std::size_t(i)]
            - qint64(double(blockEnd[std::size_t(i)]) * 1e9 / rate);
        began = i == 0 ? allowed : std::min(began, allowed);
    }
    return began;
}

void RecordTakeQueue::closeStall()
{
    stallOpen = false;
    const qint64 stood = stallLeastPace - stallPaceBefore;
    if (stood < kMinStallNs)
        return;
    // The pace the input keeps from here on.
    paceFloorNs.store(stallLeastPace, std::memory_order_relaxed);
    previousPaceFloorNs.store(stallLeastPace, std::memory_order_relaxed);
    if (stallCount >= kMaxStalls)
        return;
    const qint64 frames = qint64(std::llround(double(stood) * 1e-9 * rateOfStart));
    stalls[std::size_t(stallCount++)] = {stallAt, frames * channelsOfStart};
}

std::vector<RecordTakeQueue::InputStall> RecordTakeQueue::inputStalls() const
{
    return std::vector<InputStall>(stalls.begin(), stalls.begin() + stallCount);
}

qint64 RecordTakeQueue::inputShortfallNs(qint64 untilNs) const
{
    const double perSecond = samplesPerSecond();
    if (perSecond <= 0.0 || offered.load(std::memory_order_acquire) == 0)
        return 0;
    const qint64 floor = std::min(paceFloorNs.load(std::memory_order_relaxed),
                                  previousPaceFloorNs.load(std::memory_order_relaxed));
    // Between two blocks the input not yet offered is at most the next block.
    const qint64 slack = lastBlockLengthNs.load(std::memory_order_relaxed) + kShortfallSlackNs;
    const qint64 due = untilNs - qint64(double(offeredSamples()) * 1e9 / perSecond);
    return std::max<qint64>(due - floor - slack, 0);
}

double RecordTakeQueue::inputMissingAtStop(qint64 untilNs) const
{
    // Counted from the press, so that what the stop did before does not add to it.
    const qint64 giveUpNs = untilNs + qint64(kStopWaitMs) * 1000000;
    while (inputShortfallNs(untilNs) > 0 && steadyNowNs() < giveUpNs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const double missing = double(inputShortfallNs(untilNs)) / 1e9;
    return missing > kMissingToleranceSec ? missing : 0.0;
}

void RecordTakeQueue::spillRing()
{
    qsizetype count = 0;
    if (!ring.front(count))
        return;
    const std::lock_guard<std::mutex> lock(spillMutex);
    // Two pieces at most: up to the ring's end, then on from its start.
    for (int piece = 0; piece < 2; ++piece) {
        const float* held = ring.front(count);
        if (!held)
            return;
        try {
            spill.insert(spill.end(), held, held + count);
        } catch (const std::bad_alloc&) {
            return; // left in the ring: it fills, and what does not fit is counted
        }
        ring.release(count);
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
    if (stallOpen) // the producer is done: the stall is as far as it is known
        closeStall();
    drain();
    timer->stop();
    if (sink && dropped.load() > 0)
        qWarning() << "RecordTakeQueue: dropped" << dropped.load()
                   << "samples the spill thread did not take in time";
    sink = nullptr;
}
