#pragma once
// Hands the input blocks of a recording from the audio thread to the GUI
// thread. The record callback copies each block into a single-producer,
// single-consumer ring: no allocation, no lock, never a wait. A timer on the
// GUI thread drains the ring, oldest samples first, into a sink that appends
// them to the take and repaints; only the GUI thread touches the take.
//
// A block that does not fit (the GUI stalled for longer than the ring holds)
// is dropped whole and counted, so what arrives is always in order.
//
// Use:
//   queue->start(rate * 60, [&](const float* s, qsizetype n) { append(s, n); });
//   engine->setRecordCallback([queue](const float* in, int n) { queue->push(in, n); });
//   ... engine stopped and its stream closed (no push can follow) ...
//   queue->finish(); // the last samples reach the sink here

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

class RecordTakeQueue : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(const float* samples, qsizetype count)>;
    static constexpr int kDefaultDrainMs = 25;

    explicit RecordTakeQueue(QObject* parent = nullptr);
    ~RecordTakeQueue() override;

    // GUI thread, while no producer runs: empties the ring, makes room for
    // `capacity` samples (at least one) and drains into `sink` every drainMs.
    void start(qsizetype capacity, Sink sink, int drainMs = kDefaultDrainMs);
    // Producer thread: queues count samples, all or none; false when they do
    // not fit, when the queue is not started or for no samples.
    bool push(const float* samples, int count) noexcept;
    // GUI thread: hands everything queued so far to the sink.
    void drain();
    // GUI thread, once the producer can no longer push: a last drain, then
    // the timer stops and the sink is released.
    void finish();

    bool isActive() const { return sink != nullptr; }
    qsizetype capacity() const { return size; }
    // Samples refused since start because the ring was full.
    qint64 droppedSamples() const { return dropped.load(std::memory_order_relaxed); }

private:
    std::unique_ptr<float[]> ring;
    qsizetype size = 0;
    // Running totals: the producer advances `written`, the consumer `read`.
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> read{0};
    std::atomic<qint64> dropped{0};
    std::atomic<bool> accepting{false};
    Sink sink;
    QTimer* timer = nullptr;
};
