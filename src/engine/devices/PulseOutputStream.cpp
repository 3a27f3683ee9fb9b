#include "engine/devices/PulseOutputStream.h"

#include "engine/devices/DeviceBlock.h"
#include "engine/devices/SampleRing.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {
// Blocks the server holds ahead of what is heard, as the device engines' streams do.
constexpr int kServerBlocks = 4;
constexpr int kBlockFramesAt44100 = 512;

enum State { Connecting, Playing, Ended };
} // namespace

// What the stream's thread shares with its owner; the thread keeps it after
// the owner has let the stream go.
struct PulseOutputStream::Shared {
    SampleRing ring;
    pa_sample_spec spec{};
    int blockFrames = 0;
    QByteArray clientName;
    std::atomic<int> state{Connecting};
    std::atomic<bool> stopping{false};
    // A pulled stream's renderer; the owner's stop clears it.
    bool pulled = false;
    std::mutex renderLock;
    Renderer render;

    void run();
    void fillBlock(std::vector<float>& block);
    // Fills `block` with what the ring holds, silence after it.
    void takeBlock(std::vector<float>& block);
};

void PulseOutputStream::Shared::run()
{
    pa_buffer_attr buffer;
    buffer.maxlength = uint32_t(-1);
    buffer.tlength = uint32_t(pa_frame_size(&spec) * size_t(blockFrames) * kServerBlocks);
    buffer.prebuf = uint32_t(-1);
    buffer.minreq = uint32_t(-1);
    buffer.fragsize = uint32_t(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, clientName.isEmpty() ? nullptr : clientName.constData(),
                                      PA_STREAM_PLAYBACK, nullptr, "Playback", &spec, nullptr, &buffer, &error);
    if (!stream) {
        qWarning() << "PulseOutputStream: no stream:" << pa_strerror(error);
        state = Ended;
        return;
    }
    state = Playing;
    std::vector<float> block(2 * size_t(blockFrames));
    while (!stopping) {
        fillBlock(block);
        // Returns once the server has room for it: the server paces the loop.
        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &error) < 0) {
            qWarning() << "PulseOutputStream: the stream ended:" << pa_strerror(error);
            break;
        }
    }
    state = Ended;
    pa_simple_free(stream);
}

void PulseOutputStream::Shared::fillBlock(std::vector<float>& block)
{
    if (!pulled) {
        takeBlock(block);
        return;
    }
    const std::lock_guard<std::mutex> lock(renderLock);
    if (render)
        render(block.data(), blockFrames);
    else
        std::fill(block.begin(), block.end(), 0.0f);
}

void PulseOutputStream::Shared::takeBlock(std::vector<float>& block)
{
    size_t filled = 0;
    qsizetype count = 0;
    while (filled < block.size()) {
        const float* queued = ring.front(count);
        if (!queued)
            break;
        const size_t taken = std::min(block.size() - filled, size_t(count));
        std::copy_n(queued, taken, block.begin() + std::ptrdiff_t(filled));
        ring.release(qsizetype(taken));
        filled += taken;
    }
    std::fill(block.begin() + std::ptrdiff_t(filled), block.end(), 0.0f);
}

PulseOutputStream::~PulseOutputStream()
{
    stop();
}

bool PulseOutputStream::start(int sampleRate, int bufferFrames)
{
    return open(sampleRate, bufferFrames, {});
}

bool PulseOutputStream::startPulling(int sampleRate, Renderer render)
{
    return render && open(sampleRate, 0, std::move(render));
}

bool PulseOutputStream::open(int sampleRate, int bufferFrames, Renderer render)
{
    stop();
    auto opened = std::make_shared<Shared>();
    opened->spec.format = PA_SAMPLE_FLOAT32NE;
    opened->spec.rate = uint32_t(std::max(sampleRate, 0));
    opened->spec.channels = 2;
    if (!pa_sample_spec_valid(&opened->spec))
        return false;
    opened->blockFrames = int(DeviceBlock::framesAt(kBlockFramesAt44100, sampleRate));
    // With what the server holds, as much as the caller asked for.
    const int ringFrames = std::max(bufferFrames - opened->blockFrames * kServerBlocks, opened->blockFrames);
    opened->ring.reset(2 * qsizetype(ringFrames));
    opened->pulled = bool(render);
    opened->render = std::move(render);
    opened->clientName = QCoreApplication::applicationName().toUtf8();
    try {
        std::thread([opened] { opened->run(); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    shared = std::move(opened);
    return true;
}

void PulseOutputStream::stop()
{
    if (!shared)
        return;
    shared->stopping = true;
    {
        const std::lock_guard<std::mutex> lock(shared->renderLock);
        shared->render = nullptr;
    }
    shared.reset();
}

bool PulseOutputStream::isActive() const
{
    return shared && shared->state != Ended;
}

int PulseOutputStream::framesFree() const
{
    return shared && shared->state == Playing ? int(shared->ring.space() / 2) : 0;
}

bool PulseOutputStream::write(const float* stereo, int frames)
{
    return shared && frames > 0 && shared->ring.push(stereo, 2 * frames);
}
