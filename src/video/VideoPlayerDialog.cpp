#include "video/VideoPlayerDialog.h"

#include "video/VideoDecodeThread.h"
#include "video/VideoDemuxer.h"

#include <QCloseEvent>
#include <QDebug>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Positions closer than this to the last one are not worth a new frame.
constexpr double SyncThresholdSeconds = 0.04;
const QSize MaxWindowSize(640, 480);

// The video's size scaled down (never up) to fit the largest window.
QSize windowSizeFor(int width, int height)
{
    if (width < 1 || height < 1)
        return MaxWindowSize;
    const double scale = std::min(double(MaxWindowSize.width()) / width,
                                  double(MaxWindowSize.height()) / height);
    if (scale >= 1.0)
        return {width, height};
    return {int(scale * width), int(scale * height)};
}

} // namespace

VideoPlayerDialog::VideoPlayerDialog(VideoDemuxer* demuxer, QWidget* parent)
    : QDialog(parent)
    , demuxer(demuxer)
{
    setWindowTitle(tr("视频预览"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(demuxer ? windowSizeFor(demuxer->getVideoWidth(), demuxer->getVideoHeight())
                   : MaxWindowSize);
    if (demuxer) {
        const QImage first = demuxer->decodeFrameAt(0.0);
        if (!first.isNull())
            currentFrame = first;
        thread = new VideoDecodeThread(demuxer, this);
        thread->start();
    }
}

VideoPlayerDialog::~VideoPlayerDialog()
{
    // The thread reads the demuxer: it has ended before this returns.
    if (thread)
        thread->stopAndWait();
}

void VideoPlayerDialog::syncPosition(double seconds)
{
    if (!std::isfinite(seconds) || std::abs(seconds - lastSyncedPosition) < SyncThresholdSeconds)
        return;
    lastSyncedPosition = seconds;
    if (!thread)
        return;
    thread->updatePlaybackTime(seconds);
    const QImage frame = thread->takeLatestFrame();
    if (frame.isNull())
        return;
    currentFrame = frame;
    scaledFrame = currentFrame.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    update();
}

void VideoPlayerDialog::syncPlay()
{
    if (!thread)
        return;
    thread->requestSeek(lastSyncedPosition);
    thread->setPaused(false);
}

void VideoPlayerDialog::syncPause()
{
    if (thread)
        thread->setPaused(true);
}

void VideoPlayerDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), Qt::black);
    if (scaledFrame.isNull() && currentFrame.isNull()) {
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, tr("无视频画面"));
        return;
    }
    if (scaledFrame.isNull())
        scaledFrame = currentFrame.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    painter.drawImage((width() - scaledFrame.width()) / 2, (height() - scaledFrame.height()) / 2,
                      scaledFrame);
}

void VideoPlayerDialog::closeEvent(QCloseEvent* event)
{
    qDebug() << "[VideoPlayerDialog] 窗口关闭";
    event->accept();
}
