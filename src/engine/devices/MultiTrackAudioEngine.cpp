#include "engine/devices/MultiTrackAudioEngine.h"

#include "engine/devices/DeviceBlock.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace {

using TrackSlot = MultiTrackAudioEngine::TrackSlot;

// The pan law's centre gain, in single precision as the mix has always used.
constexpr float kCentreGain = 0.707f;
// Frames mixed at a time: the two accumulators stay in the first-level cache.
constexpr int kMixFrames = 1024;
// How long the pace is read after a late request before it counts as the
// device's steady pace again.
constexpr double kSettleSeconds = 1.0;
// Shorter gaps are taken for the jitter of the device's requests.
constexpr double kMinGapSeconds = 0.005;
// How much slower than the machine's a device's clock may run (2000 ppm):
// the steady pace follows it, but not a stretch of late requests.
constexpr double kMaxClockDrift = 0.002;
// How often a held output stream is asked whether its server is still there.
constexpr std::chrono::milliseconds kHeldOutputCheck{1000};
// How long a start waits for a sound server before it goes on in the background.
constexpr std::chrono::milliseconds kServerStartWait{100};
// How long a held stream stays open for the next engine's to open.
constexpr std::chrono::milliseconds kHandOverLimit{5000};

bool soloMode(const std::vector<TrackSlot>& tracks)
{
    return std::any_of(tracks.begin(), tracks.end(), [](const TrackSlot& s) { return s.solo; });
}

bool audible(const TrackSlot& slot, bool solo)
{
    return !slot.muted && (!solo || slot.solo) && slot.samples && slot.sampleCount > 0
        && std::isfinite(slot.startTime);
}

// The timeline frame of samples[0]. Sample indices are whole frames from
// here, so consecutive output frames read consecutive samples.
std::int64_t startFrame(double startTime, int sampleRate)
{
    const double frame = std::clamp(startTime * sampleRate, -4.0e18, 4.0e18);
    return std::llround(frame);
}

// Mixes frames [first, first + frames) of the timeline into interleaved
// stereo out, clamped to [-1, 1]. For each frame the slots are summed in
// order, exactly as a per-frame loop over the slots would.
void mixFrames(const std::vector<TrackSlot>& tracks, bool solo, std::int64_t first, int frames,
               int sampleRate, float masterVolume, float* out)
{
    float left[kMixFrames];
    float right[kMixFrames];
    for (int done = 0; done < frames; done += kMixFrames) {
        const int n = std::min(kMixFrames, frames - done);
        const std::int64_t blockStart = first + done;
        std::fill(left, left + n, 0.0f);
        std::fill(right, right + n, 0.0f);
        for (const TrackSlot& slot : tracks) {
            if (!audible(slot, solo))
                continue;
            // Frames i of this block with 0 <= blockStart + i - offset < sampleCount.
            const std::int64_t offset = startFrame(slot.startTime, sampleRate);
            const std::int64_t lo = std::max<std::int64_t>(0, offset - blockStart);
            const std::int64_t hi = std::min<std::int64_t>(n, offset + slot.sampleCount - blockStart);
            if (lo >= hi)
                continue;
            const float gainL = slot.pan <= 0.0f ? 1.0f : 1.0f - slot.pan;
            const float gainR = slot.pan >= 0.0f ? 1.0f : 1.0f + slot.pan;
            const float coefL = kCentreGain * gainL;
            const float coefR = kCentreGain * gainR;
            const float volume = slot.volume;
            const float* __restrict src = slot.samples + (blockStart + lo - offset);
            float* __restrict l = left + lo;
            float* __restrict r = right + lo;
            const int count = int(hi - lo);
            for (int i = 0; i < count; ++i) {
                const float s = src[i] * volume;
                l[i] += coefL * s;
                r[i] += coefR * s;
            }
        }
        float* __restrict o = out + 2 * std::size_t(done);
        for (int i = 0; i < n; ++i) {
            o[2 * i] = std::clamp(left[i] * masterVolume, -1.0f, 1.0f);
            o[2 * i + 1] = std::clamp(right[i] * masterVolume, -1.0f, 1.0f);
        }
    }
}

} // namespace

// What the device's threads reach of the engine, for as long as the engine
// lives: a sound server's stream may outlive it on its own thread.
struct MultiTrackAudioEngine::DeviceLink {
    std::atomic<MultiTrackAudioEngine*> engine{nullptr};
    AudioBlockFence fence; // brackets each device block's use of engine
    std::mutex mutex; // the device call thread's use of engine
    // Counts the starts asked for: only the last one's failure stops playing.
    std::atomic<std::uint64_t> starts{0};

    void startFailed(std::uint64_t start)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (MultiTrackAudioEngine* target = engine.load(); target && starts == start)
            target->playing = false;
    }
    // The output of start `start` went away with its device: playback ends
    // where its sound stopped, what the device held then never heard.
    void outputWentAway(std::uint64_t start)
    {
        std::lock_guard<std::mutex> lock(mutex);
        MultiTrackAudioEngine* target = engine.load();
        if (!target || starts != start || !target->playing)
            return;
        target->playing = false;
        target->fence.waitForRunningBlock(); // the position moves no more
        target->position = std::max(target->position - target->latencyFrames, target->resumedAt.load());
        target->outputLost = true;
        qWarning() << "MultiTrackAudioEngine: the audio device or sound server went away; playback ends";
    }
    void opened(std::int64_t latency)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            streamOpened = true;
            if (MultiTrackAudioEngine* target = engine.load())
                target->latencyFrames = latency;
        }
        openedChanged.notify_all();
    }
    void waitUntilOpened(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex);
        openedChanged.wait_for(lock, limit, [this] { return streamOpened; });
    }

private:
    std::condition_variable openedChanged;
    bool streamOpened = false; // under mutex
};

MultiTrackAudioEngine::MultiTrackAudioEngine()
    : MultiTrackAudioEngine(DeviceCallRouter::createRtAudio("MultiTrackAudioEngine"))
{
}

MultiTrackAudioEngine::MultiTrackAudioEngine(std::unique_ptr<AudioDeviceBackend> backend)
    : router(std::move(backend), "MultiTrackAudioEngine"), link(std::make_shared<DeviceLink>())
{
    link->engine = this;
}

MultiTrackAudioEngine::~MultiTrackAudioEngine()
{
    shutdown();
    // No block or device call reaches the engine any more; a sound server's
    // stream closes on its own thread, which nobody waits for.
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->engine = nullptr;
    }
    link->fence.waitForRunningBlock();
    router.release();
}

bool MultiTrackAudioEngine::initialize(int rate, int frames)
{
    sampleRate = rate;
    bufferSize = frames;
    return true;
}

void MultiTrackAudioEngine::setTracks(const std::vector<TrackSlot>& tracks)
{
    trackSlots = tracks;
    publishSlots();
}

void MultiTrackAudioEngine::updateTrackSlot(int index, const TrackSlot& slot)
{
    if (index < 0 || index >= int(trackSlots.size()))
        return;
    trackSlots[std::size_t(index)] = slot;
    publishSlots();
}

void MultiTrackAudioEngine::publishSlots()
{
    // Copied here, with the ids, so the audio thread only swaps a pointer;
    // the list it leaves is freed here too.
    liveSlots.replace(std::make_unique<std::vector<TrackSlot>>(trackSlots), fence);
}

bool MultiTrackAudioEngine::openOutput(AudioDeviceBackend& device, DeviceLink& link, int rate,
                                       int frames, bool quiet)
{
    // A stream whose server went away, while it played or while it stood
    // stopped, is closed, and the devices listed anew.
    if (device.isStreamOpen()) {
        if (device.stoppedStreamAnswers())
            return true;
        device.closeStream();
    }
    if (device.getDeviceCount() == 0) {
        if (!quiet)
            qWarning() << "MultiTrackAudioEngine: No audio device found";
        return false;
    }
    AudioDeviceBackend::StreamParameters output;
    output.deviceId = device.getDefaultOutputDevice();
    output.nChannels = 2;
    output.firstChannel = 0;
    unsigned int blockFrames = DeviceBlock::framesAt(frames, rate);
    const auto result = device.openStream(&output, nullptr, unsigned(std::max(rate, 0)), &blockFrames,
                                          &MultiTrackAudioEngine::streamCallback, &link);
    if (result != AudioDeviceBackend::Result::NoError) {
        if (!quiet)
            qWarning().noquote() << "MultiTrackAudioEngine: openStream failed:"
                                 << QString::fromStdString(device.getErrorText());
        return false;
    }
    link.opened(device.outputLatencyFrames());
    return true;
}

bool MultiTrackAudioEngine::prepareOutput()
{
    if (!router.onSoundServer())
        return false;
    holdingOutput = true;
    if (!playing)
        setIdleCalls(false);
    const std::shared_ptr<DeviceLink> target = link;
    const int rate = sampleRate;
    const int frames = bufferSize;
    router.post([target, rate, frames](AudioDeviceBackend& device) {
        if (!device.isStreamRunning())
            openOutput(device, *target, rate, frames, true);
    });
    return true;
}

void MultiTrackAudioEngine::setIdleCalls(bool whilePlaying)
{
    if (!router.onSoundServer())
        return;
    const std::shared_ptr<DeviceLink> target = link;
    if (whilePlaying) {
        const std::uint64_t start = link->starts;
        router.watchForLoss([target, start] { target->outputWentAway(start); });
        return;
    }
    if (!holdingOutput) {
        router.setIdleCall({}, kHeldOutputCheck);
        return;
    }
    const int rate = sampleRate;
    const int frames = bufferSize;
    router.setIdleCall([target, rate, frames](AudioDeviceBackend& device) {
        // A playing stream is the device thread's, unless it was lost with its server.
        if (!device.isStreamRunning() || device.isStreamLost())
            openOutput(device, *target, rate, frames, true);
    }, kHeldOutputCheck);
}

bool MultiTrackAudioEngine::startDevice()
{
    if (!router.hasDevice()) {
        qWarning() << "MultiTrackAudioEngine: No audio device found";
        return false;
    }
    // Set before the stream can start; a start that fails takes it back.
    outputLost = false;
    playing = true;
    const std::uint64_t start = ++link->starts;
    const std::shared_ptr<DeviceLink> target = link;
    const int rate = sampleRate;
    const int frames = bufferSize;
    auto failed = std::make_shared<std::atomic<bool>>(false);
    router.run([target, rate, frames, start, failed](AudioDeviceBackend& device) {
        bool started = openOutput(device, *target, rate, frames, false);
        if (started && device.startStream() != AudioDeviceBackend::Result::NoError) {
            qWarning().noquote() << "MultiTrackAudioEngine: startStream failed:"
                                 << QString::fromStdString(device.getErrorText());
            device.closeStream();
            started = false;
        }
        if (!started) {
            *failed = true;
            target->startFailed(start);
        }
    }, kServerStartWait);
    if (*failed)
        return false;
    setIdleCalls(true);
    return true;
}

bool MultiTrackAudioEngine::startPlayback(double startSeconds)
{
    stopPlayback();
    const double frame = startSeconds * sampleRate;
    position = std::isfinite(frame) ? std::int64_t(std::clamp(frame, -4.0e18, 4.0e18)) : 0;
    resumedAt = position.load();
    gapCount = 0; // no block runs: stopPlayback waited for it
    gapsBeyond = 0;
    paceAfresh = true;
    if (!startDevice())
        return false;
    qDebug() << "MultiTrackAudioEngine: Playback started from" << startSeconds << "s (RtAudio)";
    return true;
}

void MultiTrackAudioEngine::stopPlayback()
{
    playing = false;
    paused = false;
    setIdleCalls(false);
    // A device of its own is left to others; a server's stays open for the next start.
    const bool close = !router.onSoundServer();
    router.run([close](AudioDeviceBackend& device) {
        if (device.isStreamRunning())
            device.stopStream();
        if (close && device.isStreamOpen())
            device.closeStream();
    }, std::chrono::milliseconds(0));
    fence.waitForRunningBlock();
    // Only now: a block still running would otherwise move it on again.
    position = 0;
    qDebug() << "MultiTrackAudioEngine: Playback stopped";
}

void MultiTrackAudioEngine::keepOutputUntilHeldBy(const MultiTrackAudioEngine& next)
{
    if (!router.onSoundServer() || !next.router.onSoundServer())
        return;
    const std::shared_ptr<DeviceLink> successor = next.link;
    router.post([successor](AudioDeviceBackend&) { successor->waitUntilOpened(kHandOverLimit); });
}

void MultiTrackAudioEngine::shutdown()
{
    holdingOutput = false;
    stopPlayback();
    // The stream calls back with the link until it is closed, which may be
    // after the engine is gone: the close keeps the link alive.
    router.run([keep = link](AudioDeviceBackend& device) {
        if (device.isStreamOpen())
            device.closeStream();
    }, std::chrono::milliseconds(0));
}

void MultiTrackAudioEngine::pausePlayback()
{
    if (!playing) {
        // Ended by a lost output: the device thread holds the output again
        // rather than looking after a playback.
        if (outputLost) {
            router.run([](AudioDeviceBackend& device) {
                if (device.isStreamRunning())
                    device.stopStream();
            }, std::chrono::milliseconds(0));
            setIdleCalls(false);
        }
        return;
    }
    playing = false;
    paused = true;
    setIdleCalls(false);
    router.run([](AudioDeviceBackend& device) {
        if (device.isStreamRunning())
            device.stopStream();
    }, std::chrono::milliseconds(0));
    // A paused engine reads no slot buffer any more.
    fence.waitForRunningBlock();
    qDebug() << "MultiTrackAudioEngine: Paused";
}

void MultiTrackAudioEngine::resumePlayback()
{
    // Only a pause resumes; a stream whose server went away meanwhile is
    // opened again.
    if (playing || !paused)
        return;
    resumedAt = position.load();
    gapCount = 0;
    gapsBeyond = 0;
    paceAfresh = true;
    if (!startDevice())
        return;
    paused = false;
    qDebug() << "MultiTrackAudioEngine: Resumed";
}

double MultiTrackAudioEngine::getPlaybackPosition() const
{
    return sampleRate > 0 ? double(position.load()) / sampleRate : 0.0;
}

double MultiTrackAudioEngine::outputLatency() const
{
    return sampleRate > 0 ? double(latencyFrames) / sampleRate : 0.0;
}

double MultiTrackAudioEngine::heardPosition() const
{
    std::int64_t frame = position;
    if (playing)
        frame = std::max(frame - latencyFrames, resumedAt.load());
    return sampleRate > 0 ? double(frame) / sampleRate : 0.0;
}

bool MultiTrackAudioEngine::renderOffline(const std::vector<TrackSlot>& tracks, int totalFrames,
                                          int rate, QList<float>& out)
{
    const int frames = std::max(totalFrames, 0);
    out.resize(2 * qsizetype(frames));
    if (frames == 0)
        return true;
    if (rate < 1) {
        out.fill(0.0f);
        return true;
    }
    mixFrames(tracks, soloMode(tracks), 0, frames, rate, masterVolume, out.data());
    return true;
}

void MultiTrackAudioEngine::renderOfflineRange(const std::vector<TrackSlot>& tracks,
                                              std::int64_t firstFrame, int frames, int rate,
                                              float* out) const
{
    if (!out || frames <= 0)
        return;
    if (rate < 1) {
        std::fill(out, out + 2 * std::size_t(frames), 0.0f);
        return;
    }
    mixFrames(tracks, soloMode(tracks), firstFrame, frames, rate, masterVolume, out);
}

int MultiTrackAudioEngine::streamCallback(void* output, void*, unsigned int frames, double,
                                          unsigned int, void* userData)
{
    auto* link = static_cast<DeviceLink*>(userData);
    AudioBlockFence::Scope inBlock(link->fence);
    if (MultiTrackAudioEngine* engine = link->engine.load())
        engine->processBlock(static_cast<float*>(output), int(frames));
    else if (output)
        std::fill_n(static_cast<float*>(output), 2 * std::size_t(frames), 0.0f);
    return 0;
}

std::vector<MultiTrackAudioEngine::PlaybackGap> MultiTrackAudioEngine::playbackGaps() const
{
    const int count = gapCount.load(std::memory_order_acquire);
    std::vector<PlaybackGap> found;
    for (int i = 0; i < count && sampleRate > 0; ++i) {
        const GapSlot& slot = gaps[std::size_t(i)];
        found.push_back({double(slot.atFrame.load(std::memory_order_relaxed)) / sampleRate,
                         slot.seconds.load(std::memory_order_relaxed)});
    }
    return found;
}

void MultiTrackAudioEngine::showGap(double seconds)
{
    const int count = gapCount.load(std::memory_order_relaxed);
    if (pace.shown) {
        if (seconds >= kMinGapSeconds) {
            if (!pace.shownBeyond)
                gaps[std::size_t(count - 1)].seconds.store(seconds, std::memory_order_relaxed);
            return;
        }
        // The device caught up after all.
        if (pace.shownBeyond)
            gapsBeyond.fetch_sub(1, std::memory_order_relaxed);
        else
            gapCount.store(count - 1, std::memory_order_release);
        pace.shown = false;
    } else if (seconds >= kMinGapSeconds) {
        pace.shown = true;
        pace.shownBeyond = count >= kMaxGaps;
        if (pace.shownBeyond) {
            gapsBeyond.fetch_add(1, std::memory_order_relaxed); // counted, not kept
            return;
        }
        gaps[std::size_t(count)].atFrame.store(pace.atFrame, std::memory_order_relaxed);
        gaps[std::size_t(count)].seconds.store(seconds, std::memory_order_relaxed);
        gapCount.store(count + 1, std::memory_order_release);
    }
}

// A device asks for each block once it has room for it, so at its steady
// pace each request trails its due time (the frames asked for so far counted
// as time) by the same amount, the level. The device runs dry only when a
// request comes later than what its buffer still holds lasts; it then asks
// for its buffer back to back and plays on from where it ran dry, so every
// later request trails by the gap too. A late request the buffer covered is
// caught up on and the level stays; a device that stood without running dry
// (a server starting the stream late) asks for no buffer at once, and a
// clock slower than the machine's moves the level slowly: neither is a gap.
void MultiTrackAudioEngine::followPace(std::int64_t first, int frames, std::int64_t nowNs)
{
    if (sampleRate < 1)
        return;
    const double block = double(frames) / sampleRate;
    // What the device still holds when it asks for the next block: a request
    // later than half of that is watched.
    const double held = latencyFrames > frames ? double(latencyFrames - frames) / sampleRate : block;
    if (paceAfresh.exchange(false)) {
        pace = Pace();
        pace.startNs = pace.lastNs = nowNs;
        pace.startFrame = first;
        pace.level = -held; // the earliest a steady request comes
    }
    const double sinceLast = double(nowNs - pace.lastNs) / 1e9;
    const double trailing = double(nowNs - pace.startNs) / 1e9 - double(first - pace.startFrame) / sampleRate;
    const double caughtUp = pace.last - trailing;
    pace.lastNs = nowNs;
    pace.last = trailing;
    // The first requests fill the device's buffer at once.
    if (first - pace.startFrame < latencyFrames + frames)
        return;
    const bool backToBack = sinceLast < block / 2;
    if (pace.late && !backToBack && trailing - pace.settled > held / 2) {
        // Late again: the gap before is as far as it was known.
        pace.level = pace.settled;
        pace.late = false;
    }
    if (!pace.late) {
        const bool seen = std::exchange(pace.levelSeen, true);
        if (trailing - pace.level <= held / 2) {
            pace.level = seen ? std::min(trailing, pace.level + kMaxClockDrift * sinceLast) : trailing;
            return;
        }
        pace.late = true;
        // A device left longer than its whole buffer lasts ran dry; so did
        // one that then asks for half of what it holds back to back.
        pace.refilled = sinceLast > double(std::max<std::int64_t>(latencyFrames, 2 * frames)) / sampleRate;
        pace.refilling = !pace.refilled;
        pace.shown = false;
        pace.atFrame = first;
        pace.sinceNs = nowNs;
        pace.before = pace.level;
        pace.burst = 0.0;
        pace.settled = std::numeric_limits<double>::infinity();
        return;
    }
    if (backToBack) {
        if (pace.refilling)
            pace.burst += caughtUp;
        return;
    }
    if (pace.refilling) {
        pace.refilling = false;
        pace.refilled = pace.burst >= held / 2;
    }
    pace.settled = std::min(pace.settled, trailing);
    if (pace.refilled)
        showGap(pace.settled - pace.before);
    if (double(nowNs - pace.sinceNs) / 1e9 >= kSettleSeconds) {
        pace.level = pace.settled;
        pace.late = false;
    }
}

void MultiTrackAudioEngine::processBlock(float* output, int frames)
{
    processBlockAt(output, frames,
                   std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
}

void MultiTrackAudioEngine::processBlockAt(float* output, int frames, std::int64_t nowNs)
{
    if (!output || frames <= 0)
        return;
    AudioBlockFence::Scope inBlock(fence);
    if (!playing) {
        std::fill(output, output + 2 * std::size_t(frames), 0.0f);
        return;
    }
    const std::vector<TrackSlot>* tracks = liveSlots.get();
    const std::int64_t first = position;
    followPace(first, frames, nowNs);
    if (tracks)
        mixFrames(*tracks, soloMode(*tracks), first, frames, sampleRate, masterVolume, output);
    else
        std::fill(output, output + 2 * std::size_t(frames), 0.0f);
    position += frames;
}
