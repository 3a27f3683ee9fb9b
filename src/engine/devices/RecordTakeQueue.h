#pragma once
// Hands the input blocks of a recording from the audio thread to the GUI
// thread. The record callback copies each block into a single-producer,
// single-consumer SampleRing: no allocation, no lock, never a wait. A spill thread
// of the queue's own empties the ring every few milliseconds into a list in
// memory that grows as needed, so a GUI thread that stalls for any time
// loses no input. A timer on the GUI thread drains that list, oldest samples
// first, into a sink that appends them to the take and repaints; only the
// GUI thread touches the take.
//
// A block that does not fit the ring (the spill thread itself did not run
// for as long as the ring holds) is dropped whole and counted, so what
// arrives is always in order; the owner tells the user at the end of the take.
//
// Use:
//   queue->start(60.0, rate, 1, [&](const float* s, qsizetype n) { append(s, n); });
//   engine->setRecordCallback([queue](const float* in, int n) { queue->push(in, n); });
//   ... engine stopped and its stream closed (no push can follow) ...
//   queue->finish(); // the last samples reach the sink here

#include "engine/devices/SampleRing.h"

#include <QObject>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QTimer;

class RecordTakeQueue : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(const float* samples, qsizetype count)>;
    static constexpr int kDefaultDrainMs = 25;
    // How often the spill thread empties the ring.
    static constexpr int kSpillIntervalMs = 2;

    explicit RecordTakeQueue(QObject* parent = nullptr);
    ~RecordTakeQueue() override;

    // GUI thread, while no producer runs: empties the ring and sizes it to
    // hold `seconds` of input at `rate` frames a second of `channels`
    // samples each (how long input can wait for the spill thread), starts
    // the spill thread and drains into `sink` every drainMs.
    void start(double seconds, int rate, int channels, Sink sink, int drainMs = kDefaultDrainMs);
    // Producer thread: queues count samples, all or none; false when they do
    // not fit, when the queue is not started or for no samples.
    bool push(const float* samples, int count) noexcept;
    // GUI thread: hands everything the spill thread took off the ring so far
    // to the sink.
    void drain();
    // GUI thread, once the producer can no longer push: the spill thread
    // takes the rest and ends, a last drain, then the timer stops and the
    // sink is released.
    void finish();

    bool isActive() const { return sink != nullptr; }
    qsizetype capacity() const { return ring.capacity(); }
    // Samples refused since start because the ring was full.
    qint64 droppedSamples() const { return dropped.load(std::memory_order_relaxed); }
    // When the input began on the steady clock (nanoseconds), at `rate`
    // samples a second; 0 before any block. No block arrives before its last
    // sample was taken, but a busy machine hands the first ones over late:
    // of what each of the first blocks allows (its arrival less the input up
    // to its end), the earliest.
    qint64 inputBeganNs(int rate) const;
    // Samples offered since start, kept or not.
    qint64 offeredSamples() const { return offered.load(std::memory_order_acquire); }
    // A stretch in which the device delivered no input and did not make up
    // for it afterwards (a source suspended meanwhile): the input after it
    // came that much later than its place in the offered samples says.
    // Input merely handed over late (a busy machine) catches up within a
    // second and is none.
    struct InputStall {
        qint64 atSample = 0; // offered before it
        qint64 samples = 0; // how long it lasted, in samples
    };
    // GUI thread, after finish(): the stalls of the take, oldest first.
    std::vector<InputStall> inputStalls() const;
    // GUI thread, at a stop at untilNs on the steady clock: waits a moment
    // (up to kStopWaitMs after untilNs) for the input up to then that the device still
    // holds (a busy machine runs its thread late), and returns the seconds of
    // it that have not come by then; 0 for no more than the blocks' jitter.
    // Measured against the pace the blocks kept in the last second or so, so
    // that input a stalled device never delivered earlier in the take (a
    // sink suspended meanwhile) is not waited for.
    static constexpr int kStopWaitMs = 100;
    double inputMissingAtStop(qint64 untilNs) const;

private:
    // How much of the input up to untilNs has not been offered yet
    // (nanoseconds); about a block's worth counts as nothing missing.
    qint64 inputShortfallNs(qint64 untilNs) const;
    double samplesPerSecond() const { return double(rateOfStart) * channelsOfStart; }
    // Spill thread: moves what the ring holds to the spill list.
    void spillRing();
    void runSpill();
    void stopSpill();

    // Filled by the producer, emptied by the spill thread.
    SampleRing ring;
    std::atomic<qint64> dropped{0};
    std::atomic<qint64> offered{0};
    // The blocks' pace: for each block its arrival less the input offered
    // up to its end, as time. Its least value over the last half second and
    // the half second before, kept by the producer.
    static constexpr qint64 kPaceBucketNs = 500000000;
    // The jitter of a block's arrival that still counts as on time.
    static constexpr qint64 kShortfallSlackNs = 5000000;
    // Input missing at a stop that is not told: the jitter of the blocks.
    static constexpr double kMissingToleranceSec = 0.02;
    int rateOfStart = 0; // set at start, before any push
    int channelsOfStart = 0;
    qint64 paceBucketStartNs = 0; // producer only
    qint64 lastPushNs = 0; // producer only
    std::atomic<qint64> paceFloorNs{0};
    std::atomic<qint64> previousPaceFloorNs{0};
    std::atomic<qint64> lastBlockLengthNs{0};
    // Stalls: a block after a pause longer than kStallGapNs opens one; the
    // least pace of the blocks in the second after it, less the pace before,
    // is how long the input stood. Producer only until finish().
    static constexpr qint64 kStallGapNs = 50000000;
    static constexpr qint64 kStallSettleNs = 1000000000;
    static constexpr qint64 kMinStallNs = 20000000;
    static constexpr int kMaxStalls = 256;
    void closeStall();
    std::array<InputStall, kMaxStalls> stalls{};
    int stallCount = 0;
    bool stallOpen = false;
    qint64 stallAt = 0;
    qint64 stallUntilNs = 0;
    qint64 stallPaceBefore = 0;
    qint64 stallLeastPace = 0;
    // The first blocks offered since start, kept or not: when each arrived
    // and the samples offered up to its end, published by timedBlocks.
    static constexpr int kTimedBlocks = 512;
    std::array<qint64, kTimedBlocks> blockArrivalNs{};
    std::array<qint64, kTimedBlocks> blockEnd{};
    std::atomic<int> timedBlocks{0};
    std::atomic<bool> accepting{false};

    // Taken off the ring, waiting for the GUI thread; under spillMutex.
    std::vector<float> spill;
    std::mutex spillMutex;
    // The GUI thread's side of the hand-over, kept to reuse its memory.
    std::vector<float> handing;

    std::thread spiller;
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopping = false; // under wakeMutex

    Sink sink;
    QTimer* timer = nullptr;
};
