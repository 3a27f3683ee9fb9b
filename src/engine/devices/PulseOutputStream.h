#pragma once
// A PulseAudio playback stream on a connection of its own, fed interleaved
// float stereo through a ring. Qt's audio layer keeps one connection for the
// whole process and, once a server has been away longer than its single
// retry, never connects again; a stream of this kind connects afresh at
// every start. Connecting, writing and closing all happen on a thread of its
// own, so a server that is slow or stalled never holds the caller's thread.

#include <functional>
#include <memory>

class PulseOutputStream {
public:
    ~PulseOutputStream();

    // Starts connecting a stream at sampleRate that holds about bufferFrames
    // frames ahead of what is heard; false for a rate no stream can take.
    // Whether it opens shows in isActive().
    bool start(int sampleRate, int bufferFrames);
    // Fills each block of `frames` frames (interleaved float stereo) on the
    // stream's thread just before it goes to the server.
    using Renderer = std::function<void(float* stereo, int frames)>;
    // As start, but pulled: `render` fills every block, about four blocks
    // (46 ms) ahead of what is heard; nothing is written.
    bool startPulling(int sampleRate, Renderer render);
    // Returns at once, or once a render under way has ended: none follows.
    // The stream's thread closes the stream.
    void stop();
    // Connecting or playing: false once the stream failed to open, its server
    // went away, or it was stopped.
    bool isActive() const;
    // Frames a write takes now; none until the stream plays.
    int framesFree() const;
    // Queues `frames` frames (2 × frames values), all or none.
    bool write(const float* stereo, int frames);

private:
    bool open(int sampleRate, int bufferFrames, Renderer render);

    struct Shared;
    std::shared_ptr<Shared> shared;
};
