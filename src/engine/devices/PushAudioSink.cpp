#include "engine/devices/PushAudioSink.h"

#include "engine/devices/PulseOutputStream.h"
#include "engine/devices/PushAudioThread.h"
#include "engine/devices/StereoPcmConverter.h"

#include <QAudioSink>
#include <QDebug>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace {

enum State { Opening, Open, Ended };

// How often the device's thread hands frames over and notes the device's room unasked.
constexpr int kFeedIntervalMs = 10;

} // namespace

// What the caller and the device's thread share; the thread keeps it after
// the caller let the output go.
struct PushAudioSink::Shared {
    Shared(PushAudioThread* on, int frames) : thread(on), capacityFrames(frames) {}

    PushAudioThread* const thread; // where the output lives
    const int capacityFrames;
    std::mutex mutex;
    std::vector<short> queued; // under the mutex: written, not yet handed to the device
    std::atomic<int> state{Opening};
    std::atomic<int> rate{0};
    std::atomic<qint64> deviceRoom{0}; // frames the device had room for after the last hand-over
    std::atomic<bool> feedQueued{false};
    std::condition_variable settled; // the output opened or ended
    Device* device = nullptr; // the device thread's alone

    // From Opening only; returns whether it moved.
    bool settle(State to)
    {
        int opening = Opening;
        const bool moved = state.compare_exchange_strong(opening, to);
        { const std::lock_guard<std::mutex> lock(mutex); }
        settled.notify_all();
        return moved;
    }
};

// The output itself; made, used and deleted on the device's thread.
class PushAudioSink::Device : public QObject {
public:
    explicit Device(std::shared_ptr<Shared> state) : shared(std::move(state)) {}

    void open(int sampleRate, int bufferFrames);
    // Hands what is queued over, as much as the device has room for.
    void feed();
    void close();

private:
    void openOutput(int sampleRate, int bufferFrames);
    bool openOwnStream(int sampleRate, int bufferFrames);
    void write(const short* stereo, int frames);

    std::shared_ptr<Shared> shared;
    QAudioSink* sink = nullptr;
    // The sink deletes its push device when the stream fails (the sound
    // server went away, for one): the pointer must not outlive it.
    QPointer<QIODevice> io;
    PulseOutputStream ownStream; // used only where Qt's sink did not start
    StereoPcmConverter converter;
    QByteArray converted;
    std::vector<short> taken;
    QTimer timer;
    bool closed = false;
};

void PushAudioSink::Device::open(int sampleRate, int bufferFrames)
{
    // Qt's sound layer may wait here for a server that answers nothing, or
    // for good for one that went away meanwhile.
    shared->thread->openBegins();
    openOutput(sampleRate, bufferFrames);
    shared->thread->openEnded();
}

void PushAudioSink::Device::openOutput(int sampleRate, int bufferFrames)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        qWarning() << "PushAudioSink: no audio output device";
        shared->settle(Ended);
        return;
    }
    bool preferred = false;
    const QAudioFormat format = chooseFormat(device, sampleRate, &preferred);
    converter = StereoPcmConverter(format);
    if (!format.isValid() || !converter.isValid()) {
        qWarning() << "PushAudioSink: the output offers no usable format";
        shared->settle(Ended);
        return;
    }
    if (preferred)
        qDebug() << "PushAudioSink: the output does not take" << sampleRate << "Hz; it plays at"
                 << format.sampleRate() << "Hz";
    sink = new QAudioSink(device, format);
    sink->setBufferSize(qsizetype(bufferFrames) * converter.bytesPerFrame());
    io = sink->start();
    if (!io) {
        delete std::exchange(sink, nullptr); // runs events: a close may come meanwhile
        if (closed || shared->state == Ended)
            return;
        if (!openOwnStream(format.sampleRate(), bufferFrames)) {
            qWarning() << "PushAudioSink: the output did not start";
            shared->settle(Ended);
            return;
        }
    }
    shared->rate = format.sampleRate();
    if (!shared->settle(Open))
        return; // stopped meanwhile: the close is queued
    connect(&timer, &QTimer::timeout, this, &Device::feed);
    timer.start(kFeedIntervalMs);
    feed();
}

bool PushAudioSink::Device::openOwnStream(int sampleRate, int bufferFrames)
{
    if (!ownStream.start(sampleRate, bufferFrames))
        return false;
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Float);
    converter = StereoPcmConverter(format);
    qDebug() << "PushAudioSink: Qt's audio sink did not start; playing on a PulseAudio stream of its own";
    return true;
}

void PushAudioSink::Device::feed()
{
    if (closed || shared->state != Open)
        return;
    qint64 room = 0;
    if (sink) {
        // A stream whose sound server went away answers -1 for its room
        // before Qt hears of the loss; Qt 6.4 keeps its PulseAudio lock after
        // a write to such a stream fails, and hangs when it then lets the
        // connection go: it is written no more.
        const qint64 free = io ? sink->bytesFree() : -1;
        if (free < 0) {
            shared->state = Ended;
            return;
        }
        room = free / converter.bytesPerFrame();
    } else if (ownStream.isActive()) {
        room = ownStream.framesFree();
    } else {
        shared->state = Ended;
        return;
    }
    qsizetype frames = 0;
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        std::vector<short>& queued = shared->queued;
        frames = std::min<qsizetype>(room, qsizetype(queued.size() / 2));
        const auto end = queued.begin() + 2 * frames;
        taken.assign(queued.begin(), end);
        queued.erase(queued.begin(), end);
    }
    shared->deviceRoom = room - frames;
    if (frames > 0)
        write(taken.data(), int(frames));
}

void PushAudioSink::Device::write(const short* stereo, int frames)
{
    const char* bytes = reinterpret_cast<const char*>(stereo);
    const qsizetype size = qsizetype(frames) * converter.bytesPerFrame();
    if (!converter.isPassThrough()) {
        if (converted.size() < size)
            converted.resize(size);
        converter.convert(stereo, frames, converted.data());
        bytes = converted.constData();
    }
    if (io)
        io->write(bytes, size);
    else
        ownStream.write(reinterpret_cast<const float*>(bytes), frames);
}

void PushAudioSink::Device::close()
{
    if (closed)
        return;
    closed = true;
    shared->state = Ended;
    timer.stop();
    io = nullptr;
    // Taken before it goes: deleting Qt's sink runs events of this thread,
    // and a close that comes meanwhile must find nothing left to delete.
    if (QAudioSink* closing = std::exchange(sink, nullptr)) {
        closing->stop();
        delete closing;
    }
    ownStream.stop();
    deleteLater();
}

PushAudioSink::~PushAudioSink()
{
    stop();
}

QAudioFormat PushAudioSink::chooseFormat(const QAudioDevice& device, int sampleRate, bool* usedPreferred)
{
    QAudioFormat wanted;
    wanted.setSampleRate(sampleRate);
    wanted.setChannelCount(2);
    wanted.setSampleFormat(QAudioFormat::Int16);
    const bool supported = device.isFormatSupported(wanted);
    if (usedPreferred)
        *usedPreferred = !supported;
    return supported ? wanted : device.preferredFormat();
}

bool PushAudioSink::start(int sampleRate, int bufferFrames)
{
    stop();
    if (sampleRate <= 0 || bufferFrames <= 0)
        return false;
    auto opening = std::make_shared<Shared>(PushAudioThread::current(), bufferFrames);
    opening->thread->post([opening, sampleRate, bufferFrames] {
        if (opening->state == Ended)
            return; // stopped before its turn came
        opening->device = new Device(opening);
        opening->device->open(sampleRate, bufferFrames);
    });
    shared = std::move(opening);
    return true;
}

void PushAudioSink::stop()
{
    // Taken first: a stop that runs meanwhile finds nothing to stop.
    std::shared_ptr<Shared> closing = std::exchange(shared, nullptr);
    if (!closing)
        return;
    closing->state = Ended;
    closing->thread->post([closing] {
        if (Device* device = std::exchange(closing->device, nullptr))
            device->close();
    });
}

bool PushAudioSink::waitUntilOpen(std::chrono::milliseconds limit) const
{
    if (!shared)
        return false;
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->settled.wait_for(lock, limit, [this] { return shared->state != Opening; });
    return shared->state == Open;
}

bool PushAudioSink::isStarted() const
{
    // Nothing of an output on a stuck thread runs any more.
    return shared && shared->state != Ended && !shared->thread->stuck();
}

int PushAudioSink::sampleRate() const
{
    return shared ? shared->rate.load() : 0;
}

qint64 PushAudioSink::bytesFree() const
{
    if (!shared || shared->state != Open)
        return 0;
    qint64 queuedFrames = 0;
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        queuedFrames = qint64(shared->queued.size() / 2);
    }
    const qint64 room = std::min<qint64>(shared->deviceRoom, shared->capacityFrames) - queuedFrames;
    return std::max<qint64>(room, 0) * bytesPerFrame();
}

qint64 PushAudioSink::write(const short* stereo, int frames)
{
    if (!shared || frames < 1 || shared->state != Open)
        return 0;
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        std::vector<short>& queued = shared->queued;
        if (qsizetype(queued.size() / 2) + frames > shared->capacityFrames)
            return 0;
        queued.insert(queued.end(), stereo, stereo + 2 * qsizetype(frames));
    }
    // One hand-over queued at a time: it takes all that came before it runs.
    if (!shared->feedQueued.exchange(true)) {
        shared->thread->post([fed = shared] {
            fed->feedQueued = false;
            if (fed->device)
                fed->device->feed();
        });
    }
    return qint64(frames) * bytesPerFrame();
}
