#pragma once
// The preview window of an imported video, kept in step with the editors'
// playhead through syncPosition, syncPlay and syncPause. It deletes itself
// when closed.

#include <QDialog>

class VideoDemuxer;

class VideoPlayerDialog : public QDialog {
    Q_OBJECT
public:
    VideoPlayerDialog(VideoDemuxer* demuxer, QWidget* parent);

    void syncPosition(double seconds);
    void syncPlay();
    void syncPause();

    double syncedPosition() const { return lastSyncedPosition; }
    bool isPlaying() const { return playing; }

private:
    VideoDemuxer* demuxer = nullptr; // not owned
    double lastSyncedPosition = 0.0;
    bool playing = false;
};
