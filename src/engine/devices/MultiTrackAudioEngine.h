#pragma once
// The multitrack mixing engine: mixes mono track buffers placed on a timeline
// into one stereo device stream with per-track volume, pan, mute and solo, and
// renders the same mix offline. Users poll the playing flag.
//
// On a sound server the device stream, once open, stays open (stopped while
// nothing plays) until shutdown: a PulseAudio server with no stream has
// rendered up to two seconds ahead, and a stream opened at the press would be
// heard, and input opened then would arrive, that much later. Before each
// start or resume the held stream is asked whether its server is still the
// one it opened on; one that went away meanwhile is opened anew. While
// nothing plays it is also asked every second, so a stream lost with its
// server is opened again as soon as a server answers: a stream opened on a
// server that has just started is heard only after what it rendered ahead.
//
// A sound server's stream is opened, started, stopped and closed on a
// thread of its own (DeviceCallThread): a server that is slow to answer
// never holds the caller. A start waits for it a short while only; one
// still under way then counts as playing, and playing drops if it fails.
// Asking the held stream costs no round trip (SoundServerWatch).

#include "engine/devices/AudioDeviceBackend.h"
#include "engine/devices/AudioThreadHandoff.h"
#include "engine/devices/DeviceCallRouter.h"

#include <QList>
#include <QObject>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class MultiTrackAudioEngine : public QObject {
    Q_OBJECT
public:
    struct TrackSlot {
        const float* samples = nullptr; // not owned; mono, at the engine's rate
        std::int64_t sampleCount = 0; // renders of long timelines pass 2^31 frames
        double startTime = 0.0; // seconds on the timeline of samples[0]
        float volume = 0.8f;
        float pan = 0.0f; // -1 left .. +1 right
        bool muted = false;
        bool solo = false;
        std::int64_t reserved = 0;
        std::string id;
    };

    // A stretch in which the device ran out of mix and played nothing for
    // this stream: everything after it was heard that much later than due.
    struct PlaybackGap {
        double at = 0.0; // seconds on the timeline where the sound stopped
        double seconds = 0.0;
    };

    MultiTrackAudioEngine();
    // Runs on the given device back end; null behaves as no device at all.
    explicit MultiTrackAudioEngine(std::unique_ptr<AudioDeviceBackend> backend);
    ~MultiTrackAudioEngine() override;

    bool initialize(int sampleRate, int bufferSize);

    // The audio thread takes the new slots at its next block: once the call
    // returns, no block reads the previous slots or their buffers any more.
    void setTracks(const std::vector<TrackSlot>& tracks);
    void updateTrackSlot(int index, const TrackSlot& slot);
    // The slots as last set or updated (GUI thread).
    const std::vector<TrackSlot>& currentSlots() const { return trackSlots; }

    // Keeps a device stream open ahead of playback on a sound server, opened
    // in the background; false, quietly, on a device of its own.
    bool prepareOutput();
    // Whether it plays on a sound server (rather than a device of its own).
    bool isOnSoundServer() const { return router.onSoundServer(); }
    bool startPlayback(double startSeconds);
    void stopPlayback();
    // Stops playback and closes the device stream.
    void shutdown();
    // A held stream closed after this call closes only once `next` holds
    // one: a server left without a stream renders seconds ahead again.
    void keepOutputUntilHeldBy(const MultiTrackAudioEngine& next);
    void pausePlayback();
    void resumePlayback();
    // The position mixed so far, ahead of what is heard by the device's buffer.
    double getPlaybackPosition() const;
    // The position being heard: the mix less what the device still holds.
    double heardPosition() const;
    // Seconds of mix the open device holds ahead of what is heard.
    double outputLatency() const;
    // The gaps found since playback last started or resumed, oldest first,
    // the latest as far as it is known yet (it settles within a second of
    // its end). A gap is a request later than the device's buffer covers,
    // after which the device refilled its buffer and kept its pace that
    // much later; a late request the buffer covered, and a device clock a
    // little slower than the machine's, are none.
    std::vector<PlaybackGap> playbackGaps() const;
    // How many gaps were found since then: playbackGaps() keeps the first
    // kMaxGaps of them only.
    int playbackGapCount() const { return gapCount.load() + gapsBeyond.load(); }
    bool isPlaying() const { return playing.load(); }
    // Whether playback ended because its output went away with the device or
    // the sound server (until the next start): the position then stands
    // where the sound stopped.
    bool wasOutputLost() const { return outputLost.load(); }
    int getSampleRate() const { return sampleRate; }

    // Interleaved stereo, 2 x totalFrames values, frame 0 at timeline time 0.
    bool renderOffline(const std::vector<TrackSlot>& tracks, int totalFrames, int sampleRate,
                       QList<float>& out);
    // Frames [firstFrame, firstFrame + frames) of the same mix into `out`
    // (2 x frames values): a long mix made a block at a time is value for
    // value the mix made at once.
    void renderOfflineRange(const std::vector<TrackSlot>& tracks, std::int64_t firstFrame, int frames,
                            int sampleRate, float* out) const;

    // The audio thread's work for one block of interleaved stereo output. The
    // device callback calls it; so may a test.
    void processBlock(float* output, int frames);
    // The same for a block the device asked for at nowNs on the steady clock:
    // a test scripts the device's pace with it.
    void processBlockAt(float* output, int frames, std::int64_t nowNs);

private:
    struct DeviceLink;
    static int streamCallback(void* output, void* input, unsigned int frames, double streamTime,
                              unsigned int status, void* userData);
    // Opens the stream unless it is open; `quiet` leaves out the warnings of a failure.
    static bool openOutput(AudioDeviceBackend& device, DeviceLink& link, int rate, int frames,
                           bool quiet);

    void publishSlots();
    // Audio thread: follows the pace of the device's requests (see the .cpp).
    void followPace(std::int64_t first, int frames, std::int64_t nowNs);
    // Audio thread: publishes, updates or takes back the latest gap.
    void showGap(double seconds);
    // Opens the stream if need be and starts it; false when it failed.
    bool startDevice();
    // What the device thread does while no call waits: while playing, looks
    // whether the output was lost; else holds the output (prepareOutput).
    void setIdleCalls(bool whilePlaying);

    DeviceCallRouter router; // where the device calls run
    std::shared_ptr<DeviceLink> link; // what the device's threads reach of the engine
    // The GUI thread's copy, which updateTrackSlot edits; each change hands
    // a fresh copy of it to the audio thread.
    std::vector<TrackSlot> trackSlots;
    AudioThreadValue<std::vector<TrackSlot>> liveSlots;
    float masterVolume = 1.0f;
    std::atomic<bool> playing{false};
    std::atomic<bool> outputLost{false};
    bool holdingOutput = false; // prepareOutput was asked
    std::atomic<std::int64_t> position{0};
    // Where playback last started or resumed: nothing before it is heard.
    std::atomic<std::int64_t> resumedAt{0};
    std::atomic<std::int64_t> latencyFrames{0}; // set where the stream opens
    bool paused = false;
    static constexpr int kMaxGaps = 64;
    struct GapSlot {
        std::atomic<std::int64_t> atFrame{0};
        std::atomic<double> seconds{0.0}; // the latest gap's changes while it settles
    };
    std::array<GapSlot, kMaxGaps> gaps; // written by the audio thread below gapCount
    std::atomic<int> gapCount{0};
    std::atomic<int> gapsBeyond{0}; // found after the slots were full
    // Set by each start and resume: the audio thread takes the pace afresh.
    std::atomic<bool> paceAfresh{true};
    struct Pace {
        std::int64_t startNs = 0;
        std::int64_t startFrame = 0;
        std::int64_t lastNs = 0;
        double last = 0.0; // how far the request before trailed its due time
        double level = 0.0; // how far a request at the device's steady pace trails
        bool levelSeen = false;
        bool late = false; // a request came later than half the buffer lasts
        bool refilling = false; // ... and the requests since came back to back
        bool refilled = false; // ... and the device ran dry: a gap
        bool shown = false; // ... published as the last gap
        bool shownBeyond = false; // ... counted beyond the slots
        std::int64_t atFrame = 0; // where the late request began
        std::int64_t sinceNs = 0; // when it came
        double before = 0.0; // the level before it
        double burst = 0.0; // how far the back-to-back requests after it caught up
        double settled = 0.0; // the least trailing at the device's pace since
    } pace; // audio thread only
    int sampleRate = 44100;
    int bufferSize = 512; // frames of a device block at 44100 Hz (see DeviceBlock)
    AudioBlockFence fence;
};
