#include "app/ImportedAudioPlacement.h"

#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"

namespace ImportedAudioPlacement {

void place(AudioEditorPage* audioEditor, MultiTrackEditorPage* multiTrack, bool multiTrackShowing,
           const QList<float>& mono, const QList<float>& stereo, int sampleRate, const QString& name)
{
    if (multiTrackShowing) {
        multiTrack->addTrack(TrackType::AudioTrack, mono, sampleRate, name, stereo);
        return;
    }
    audioEditor->startNewHistory();
    if (stereo.isEmpty())
        audioEditor->loadAudioSamples(mono, sampleRate);
    else
        audioEditor->loadStereoAudioSamples(stereo, sampleRate);
}

} // namespace ImportedAudioPlacement
