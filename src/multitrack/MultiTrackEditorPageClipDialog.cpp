// Editing one audio clip's material in the single-track editor, inside a
// modal dialog of the multitrack page. An accepted result replaces the
// clip's sample lists and rate as one undo step; the clip keeps its place,
// its fades, and its trims while they leave some of the new material.

#include "multitrack/MultiTrackEditorPage.h"

#include "editor/AudioEditorPage.h"
#include "multitrack/ClipEditDialog.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "project/TrackCommands.h"

#include <QDebug>
#include <QUndoStack>

#include <cmath>

namespace {

// Trims stay within the new material. Trims that would leave none of it
// are dropped: the clip shows all of it rather than vanish from the lane.
void fitTrims(AudioClip& clip)
{
    const double length = double(clip.samples.size()) / clip.sampleRate;
    const bool usable = std::isfinite(clip.audioStart) && std::isfinite(clip.audioEnd)
        && clip.audioStart >= 0.0 && clip.audioEnd >= 0.0;
    if (!usable || clip.audioStart + clip.audioEnd >= length) {
        clip.audioStart = 0.0;
        clip.audioEnd = 0.0;
    }
}

} // namespace

void MultiTrackEditorPage::editAudioClip(int trackIndex, int clipIndex)
{
    if (trackIndex < 0 || trackIndex >= int(tracks.size()) || clipIndex < 0)
        return;
    const TrackData& track = tracks[size_t(trackIndex)];
    if (track.isMidi() || clipIndex >= int(track.audioClips.size())
        || track.audioClips[size_t(clipIndex)].samples.isEmpty())
        return;
    if (refusedWhileRecording(trackIndex, "clip edit"))
        return;
    const AudioClip original = track.audioClips[size_t(clipIndex)]; // shares the lists

    ClipEditDialog dialog(track.name, original, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    AudioEditorPage* editor = dialog.editor();
    // The clip takes the edited material, never an effect's preview shown on it.
    editor->endPreview();
    // The dialog ran the event loop: the clip must still be the one edited.
    if (trackIndex >= int(tracks.size()) || clipIndex >= int(tracks[size_t(trackIndex)].audioClips.size())
        || tracks[size_t(trackIndex)].audioClips[size_t(clipIndex)].samples.constData()
            != original.samples.constData()) {
        qDebug() << "MultiTrackEditorPage: the edited clip changed meanwhile; edit dropped";
        return;
    }
    if (editor->samples.isEmpty() || editor->sampleRate < 1)
        return; // a clip without material could not be seen or selected again
    std::vector<AudioClip>& clips = tracks[size_t(trackIndex)].audioClips;
    AudioClip& clip = clips[size_t(clipIndex)];
    if (editor->samples == clip.samples && editor->stereoSamples == clip.stereoSamples
        && editor->sampleRate == clip.sampleRate)
        return; // accepted unchanged
    std::vector<AudioClip> before{clip};
    clip.samples = editor->samples;
    // Mono material leaves no stereo copy behind to disagree with it.
    clip.stereoSamples = editor->stereoSamples;
    clip.sampleRate = editor->sampleRate;
    fitTrims(clip);
    undoStack->push(new TrackClipsSnapshotCommand(this, trackIndex, clipIndex, std::move(before), 1,
                                                  QStringLiteral("编辑音频")));
    updateRuler();
    repaintLane(trackIndex);
}
