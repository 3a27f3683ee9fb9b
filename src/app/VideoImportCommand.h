#pragma once
// Imports the sound of a video file into an editor and opens the preview
// window for its picture. It keeps the demuxer of the last import and its
// preview; a new import, and its own destruction, remove the preview before
// the demuxer the preview's decode thread reads.

#include "app/CommandFeedback.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class AudioEditorPage;
class MultiTrackEditorPage;
class VideoDemuxer;
class VideoPlayerDialog;
class QWidget;

// Where an import's sound and preview go: the main window fills it for the
// page that is showing.
struct VideoImportTarget {
    // The sound: the mono mix, interleaved stereo (empty for a mono source),
    // the rate and the file's base name. Empty when placed, else why not.
    std::function<QString(const QList<float>& mono, const QList<float>& stereo, int sampleRate,
                          const QString& name)>
        placeAudio;
    // Hands the new preview window to the editors.
    std::function<void(VideoPlayerDialog* dialog)> attachPreview;

    // The sound into the page that shows: a new audio track of the multitrack
    // page, or the single-track page's lists (stereo when there is stereo).
    // The preview goes to both pages; on the multitrack page the new track
    // shows its video button.
    static VideoImportTarget forPages(AudioEditorPage* audioEditor, MultiTrackEditorPage* multiTrack,
                                      bool multiTrackShowing);
};

class VideoImportCommand : public QObject {
    Q_OBJECT
public:
    // `window` becomes the parent of the demuxer and of the preview window.
    VideoImportCommand(QWidget* window, CommandFeedback feedback);
    ~VideoImportCommand() override;

    // True when the sound was imported; failures have been shown through the feedback.
    bool importFile(const QString& path, const VideoImportTarget& target);

    VideoDemuxer* demuxer() const;
    VideoPlayerDialog* preview() const;

private:
    // The preview first (its thread reads the demuxer), then the demuxer.
    void release();
    void fail(const QString& text);

    QWidget* window;
    CommandFeedback feedback;
    QPointer<VideoDemuxer> videoDemuxer;
    QPointer<VideoPlayerDialog> videoPlayerDialog;
};
