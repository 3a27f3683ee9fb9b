#pragma once
// The preview window of an imported video, kept in step with the editors'
// playhead through syncPosition, syncPlay and syncPause. Its decode thread
// reads the demuxer, so the window must be destroyed (not merely closed)
// before the demuxer is. It deletes itself when closed.

#include <QDialog>
#include <QImage>

class VideoDecodeThread;
class VideoDemuxer;

class VideoPlayerDialog : public QDialog {
    Q_OBJECT
public:
    VideoPlayerDialog(VideoDemuxer* demuxer, QWidget* parent);
    ~VideoPlayerDialog() override;

    void syncPosition(double seconds);
    void syncPlay();
    void syncPause();

    double syncedPosition() const { return lastSyncedPosition; }
    VideoDecodeThread* decodeThread() const { return thread; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    VideoDemuxer* demuxer = nullptr; // not owned
    VideoDecodeThread* thread = nullptr;
    QImage currentFrame;
    QImage scaledFrame;
    double lastSyncedPosition = 0.0;
};
