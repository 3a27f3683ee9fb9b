#include "video/VideoDecodeThread.h"

#include "video/VideoDemuxer.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

constexpr int PausedWaitMs = 100;
constexpr int NoFrameWaitMs = 50;
// A frame is due when its time is at most this far past the clock.
constexpr double DueToleranceSeconds = 0.005;
// Frames further ahead of the clock than this are dropped without waiting.
constexpr double MaxAheadMs = 500.0;
constexpr unsigned long StopDeadlineMs = 3000;

} // namespace

VideoDecodeThread::VideoDecodeThread(VideoDemuxer* demuxer, QObject* parent)
    : QThread(parent)
    , demuxer(demuxer)
{
}

VideoDecodeThread::~VideoDecodeThread()
{
    stopAndWait();
}

void VideoDecodeThread::stopAndWait()
{
    requestStop();
    if (wait(StopDeadlineMs))
        return;
    qWarning() << "[VideoDecodeThread] still busy" << StopDeadlineMs
               << "ms after the stop request; waiting until it ends";
    wait();
}

void VideoDecodeThread::requestStop()
{
    QMutexLocker lock(&mutex);
    stopRequested = true;
    wakeUp.wakeOne();
}

void VideoDecodeThread::requestSeek(double seconds)
{
    // A time that is not a number (or infinite) would reach integer
    // conversions below; the request is dropped.
    if (!std::isfinite(seconds))
        return;
    QMutexLocker lock(&mutex);
    seekTarget = seconds;
    seekPending = true;
    wakeUp.wakeOne();
}

void VideoDecodeThread::setPaused(bool pause)
{
    paused = pause;
    if (!pause) {
        QMutexLocker lock(&mutex);
        wakeUp.wakeOne();
    }
}

void VideoDecodeThread::updatePlaybackTime(double seconds)
{
    // The clock stays where it was rather than comparing frames with NaN.
    if (!std::isfinite(seconds))
        return;
    playbackTime = seconds;
    QMutexLocker lock(&mutex);
    wakeUp.wakeOne();
}

QImage VideoDecodeThread::takeLatestFrame()
{
    QMutexLocker lock(&mutex);
    // The thread only ever replaces the image, never draws into it, so the
    // shared copy stays as it is.
    return latestFrame;
}

double VideoDecodeThread::latestFrameTime()
{
    QMutexLocker lock(&mutex);
    return latestTime;
}

void VideoDecodeThread::waitFor(int milliseconds)
{
    QMutexLocker lock(&mutex);
    if (!stopRequested)
        wakeUp.wait(&mutex, unsigned(milliseconds));
}

void VideoDecodeThread::run()
{
    qDebug() << "[VideoDecodeThread] started";
    while (!stopRequested) {
        if (paused) {
            waitFor(PausedWaitMs);
            continue;
        }
        if (seekPending) {
            double target = 0.0;
            {
                QMutexLocker lock(&mutex);
                target = seekTarget;
                seekPending = false;
            }
            demuxer->seekTo(target);
        }
        double pts = -1.0;
        const QImage frame = demuxer->decodeNextFrame(pts);
        if (frame.isNull()) {
            waitFor(NoFrameWaitMs);
            continue;
        }
        holdUntilDue(frame, pts);
    }
    qDebug() << "[VideoDecodeThread] stopped";
}

bool VideoDecodeThread::holdUntilDue(const QImage& frame, double pts)
{
    // A frame waited for is tested against the clock again after every
    // wake-up, and handed over only once the clock has reached it.
    while (!stopRequested && !seekPending) {
        const double now = playbackTime;
        if (pts <= now + DueToleranceSeconds) {
            QMutexLocker lock(&mutex);
            latestFrame = frame;
            latestTime = pts;
            return true;
        }
        const double aheadMs = (pts - now) * 1000.0;
        if (aheadMs >= MaxAheadMs)
            return false;
        waitFor(paused ? PausedWaitMs : std::max(1, int(aheadMs)));
    }
    return false;
}
