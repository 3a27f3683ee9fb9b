#pragma once
// Decodes the preview's frames ahead of the playback clock and keeps the
// latest one that is due. The GUI thread moves the clock, seeks, pauses and
// takes frames; only this thread touches the demuxer while it runs.

#include <QImage>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class VideoDemuxer;

class VideoDecodeThread : public QThread {
public:
    VideoDecodeThread(VideoDemuxer* demuxer, QObject* parent);
    // Stops the loop and waits for it: the thread is never destroyed while it runs.
    ~VideoDecodeThread() override;

    void requestStop();
    // Times that are not finite are ignored.
    void requestSeek(double seconds);
    void setPaused(bool paused);
    void updatePlaybackTime(double seconds);
    // A copy of the latest due frame (null when none has been due yet).
    QImage takeLatestFrame();
    // The time of that frame in seconds, -1 when there is none.
    double latestFrameTime();

    // Asks the loop to end and waits for it; after the deadline a warning is
    // logged and the wait goes on, since the demuxer call may still return.
    void stopAndWait();

protected:
    void run() override;

private:
    // Holds a decoded frame until the clock reaches it; false when it is
    // dropped (too far ahead, a seek came, or the thread stops).
    bool holdUntilDue(const QImage& frame, double pts);
    void waitFor(int milliseconds);

    VideoDemuxer* demuxer; // not owned; outlives the thread
    QMutex mutex;
    QWaitCondition wakeUp;
    // Set once and never cleared, so a stop asked for before the loop
    // starts still ends it.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> seekPending{false};
    std::atomic<bool> paused{false};
    std::atomic<double> seekTarget{0.0};
    std::atomic<double> playbackTime{0.0};
    QImage latestFrame;        // under the mutex
    double latestTime = -1.0;  // under the mutex
};
