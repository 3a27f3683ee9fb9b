#include "video/VideoPlayerDialog.h"

#include <cmath>

namespace {

// Positions closer than this to the last one are not worth a new frame.
constexpr double SyncThresholdSeconds = 0.04;

} // namespace

VideoPlayerDialog::VideoPlayerDialog(VideoDemuxer* demuxer, QWidget* parent)
    : QDialog(parent)
    , demuxer(demuxer)
{
    setAttribute(Qt::WA_DeleteOnClose);
}

void VideoPlayerDialog::syncPosition(double seconds)
{
    if (std::abs(seconds - lastSyncedPosition) < SyncThresholdSeconds)
        return;
    lastSyncedPosition = seconds;
    update();
}

void VideoPlayerDialog::syncPlay()
{
    playing = true;
}

void VideoPlayerDialog::syncPause()
{
    playing = false;
}
