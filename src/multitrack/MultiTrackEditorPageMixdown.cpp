// The mixdown for export: every track rendered as playback renders it
// (audio tracks flattened, MIDI tracks tempo-scaled and rendered by the
// SoundFont or the piano) and mixed offline by the mixing engine into
// interleaved stereo, from time 0 to the end of the last clip.

#include "multitrack/MultiTrackEditorPage.h"

#include "common/ParallelRanges.h"
#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/TrackFlattening.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The latest clip end of a track as it plays (a MIDI track tempo-scaled).
double playedEnd(const TrackData& track)
{
    double end = 0.0;
    auto take = [&end](double clipEnd) {
        if (std::isfinite(clipEnd))
            end = std::max(end, clipEnd);
    };
    for (const AudioClip& clip : track.audioClips)
        take(clip.end());
    for (const MidiClip& clip : track.midiClips)
        take(clip.end());
    return end;
}

} // namespace

bool MultiTrackEditorPage::renderMixdown(QList<float>& out, int& rate)
{
    rate = projectSampleRate;
    if (tracks.empty())
        return false;

    // MIDI tracks are held at their source tempo: scaled as they play, once.
    std::vector<TrackData> scaledMidi(tracks.size());
    double length = 0.0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].isMidi()) {
            scaledMidi[i] = tempoScaledTrack(tracks[i]);
            length = std::max(length, playedEnd(scaledMidi[i]));
        } else {
            length = std::max(length, playedEnd(tracks[i]));
        }
    }
    if (!(length > 0.0))
        return false;
    if (length > OfflineRender::kMaxTrackSeconds) {
        qWarning() << "MultiTrackEditorPage: mixdown cut to" << OfflineRender::kMaxTrackSeconds << "s of"
                   << length << "s";
        length = OfflineRender::kMaxTrackSeconds;
    }
    const int frames = int(OfflineRender::framesAt(length, rate, INT_MAX / 2));

    const bool soundFont = sf2Sampler.isLoaded();
    const bool piano = pianoSampler.sampleCount() > 0;
    // The renders stay alive until the mix is done: the slots point into them.
    std::vector<QList<float>> renders(tracks.size());
    std::vector<MultiTrackAudioEngine::TrackSlot> mixSlots(tracks.size());
    // Audio tracks do not depend on each other: flattened side by side.
    std::vector<size_t> audioTracks;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].isMidi() && !tracks[i].audioClips.empty())
            audioTracks.push_back(i);
    }
    const qint64 audioCount = qint64(audioTracks.size());
    ParallelRanges::run(audioCount, ParallelRanges::partsFor(audioCount, 1),
                        [&](int, qint64 begin, qint64 end) {
                            for (qint64 k = begin; k < end; ++k) {
                                const size_t i = audioTracks[size_t(k)];
                                renders[i] = flattenAudioTrack(tracks[i], rate);
                            }
                        });
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TrackData& track = tracks[i];
        QList<float>& render = renders[i];
        if (track.isMidi()) {
            if (soundFont)
                render = sf2Sampler.renderTrack(scaledMidi[i], rate);
            else if (piano)
                render = pianoSampler.renderTrack(scaledMidi[i], rate);
            scaledMidi[i] = TrackData();
            if (track.envelopeEnabled && !track.volumeEnvelope.empty())
                applyEnvelope(render.data(), render.size(), rate, track.volumeEnvelope);
        }
        MultiTrackAudioEngine::TrackSlot& slot = mixSlots[i];
        slot.startTime = 0.0;
        // A render with the envelope in it mixes at unity, as in playback; an
        // envelope without points leaves the track's volume in force.
        slot.volume = track.envelopeEnabled && !track.volumeEnvelope.empty() ? 1.0f : track.volume;
        slot.pan = track.pan;
        slot.muted = track.muted;
        slot.solo = track.solo;
        if (!render.isEmpty()) {
            slot.samples = render.constData();
            slot.sampleCount = int(std::min<qsizetype>(render.size(), INT_MAX));
        }
    }
    out = QList<float>(); // a list the caller passed in goes before the mix is made
    return engine->renderOffline(mixSlots, frames, rate, out);
}
