#include "app/VideoImportCommand.h"

#include "app/ImportedAudioPlacement.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "video/VideoDemuxer.h"
#include "video/VideoPlayerDialog.h"

#include <QFileInfo>
#include <QWidget>

#include <new>

VideoImportTarget VideoImportTarget::forPages(AudioEditorPage* audioEditor,
                                              MultiTrackEditorPage* multiTrack, bool multiTrackShowing)
{
    VideoImportTarget target;
    target.placeAudio = [audioEditor, multiTrack, multiTrackShowing](
                            const QList<float>& mono, const QList<float>& stereo, int sampleRate,
                            const QString& name) {
        return ImportedAudioPlacement::place(audioEditor, multiTrack, multiTrackShowing, mono, stereo,
                                             sampleRate, name);
    };
    target.attachPreview = [audioEditor, multiTrack, multiTrackShowing](VideoPlayerDialog* dialog) {
        audioEditor->setVideoPlayerDialog(dialog);
        multiTrack->setVideoPlayerDialog(dialog);
        if (multiTrackShowing)
            multiTrack->showVideoButtonOnTrack(int(multiTrack->tracks.size()) - 1);
    };
    return target;
}

VideoImportCommand::VideoImportCommand(QWidget* window, CommandFeedback feedback)
    : QObject(window)
    , window(window)
    , feedback(std::move(feedback))
{
}

VideoImportCommand::~VideoImportCommand()
{
    // The window's other children may be deleted after this one; the preview
    // must not outlive the demuxer it reads.
    release();
}

VideoDemuxer* VideoImportCommand::demuxer() const
{
    return videoDemuxer;
}

VideoPlayerDialog* VideoImportCommand::preview() const
{
    return videoPlayerDialog;
}

void VideoImportCommand::release()
{
    if (videoPlayerDialog) {
        videoPlayerDialog->close();
        // Destroyed now, not later: its thread stops before the demuxer goes.
        delete videoPlayerDialog;
    }
    delete videoDemuxer;
}

void VideoImportCommand::fail(const QString& text)
{
    feedback.hideLoading();
    if (!text.isEmpty())
        feedback.warn(tr("导入失败"), text);
    release();
}

bool VideoImportCommand::importFile(const QString& path, const VideoImportTarget& target)
{
    feedback.showLoading(tr("导入视频..."));
    release();

    auto* demuxer = new VideoDemuxer(window);
    videoDemuxer = demuxer;
    connect(demuxer, &VideoDemuxer::errorOccurred, this,
            [this](const QString& message) { feedback.warn(tr("视频导入失败"), message); });
    if (!demuxer->open(path)) {
        fail(QString());
        return false;
    }
    if (!demuxer->hasAudio()) {
        fail(tr("该视频文件没有音频轨道"));
        return false;
    }
    QList<float> mono;
    QList<float> stereo;
    int sampleRate = 0;
    bool extracted = false;
    try {
        extracted = demuxer->extractAudio(mono, stereo, sampleRate);
    } catch (const std::bad_alloc&) {
        fail(tr("内存不足，无法提取视频中的音频"));
        return false;
    }
    if (!extracted) {
        fail(tr("无法提取视频中的音频"));
        return false;
    }

    const QFileInfo file(path);
    const QString refused = target.placeAudio(mono, stereo, sampleRate, file.baseName());
    if (!refused.isEmpty()) {
        fail(refused);
        return false;
    }
    // A picture over the size limit gets no preview; the sound is imported all the same.
    if (demuxer->pictureTooLarge())
        feedback.showStatus(tr("已导入视频音频: %1（画面过大，不打开预览）").arg(file.fileName()), 5000);
    else
        feedback.showStatus(tr("已导入视频音频: %1").arg(file.fileName()), 3000);
    if (demuxer->hasVideo()) {
        auto* dialog = new VideoPlayerDialog(demuxer, window);
        videoPlayerDialog = dialog;
        target.attachPreview(dialog);
        dialog->show();
    }
    feedback.hideLoading();
    return true;
}
