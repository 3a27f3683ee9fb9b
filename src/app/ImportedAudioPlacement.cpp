#include "app/ImportedAudioPlacement.h"

#include "editor/AudioEditorPage.h"
#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/MultiTrackEditorPage.h"

namespace ImportedAudioPlacement {

QString place(AudioEditorPage* audioEditor, MultiTrackEditorPage* multiTrack, bool multiTrackShowing,
              const QList<float>& mono, const QList<float>& stereo, int sampleRate, const QString& name)
{
    if (multiTrackShowing) {
        if (!multiTrack->addTrack(TrackType::AudioTrack, mono, sampleRate, name, stereo))
            return OfflineRender::tooLargeText(multiTrack->rateConversionBytes(mono, stereo, sampleRate),
                                               QStringLiteral("导入"));
        return {};
    }
    audioEditor->startNewHistory();
    if (stereo.isEmpty())
        audioEditor->loadAudioSamples(mono, sampleRate);
    else
        audioEditor->loadStereoAudioSamples(stereo, sampleRate);
    return {};
}

} // namespace ImportedAudioPlacement
