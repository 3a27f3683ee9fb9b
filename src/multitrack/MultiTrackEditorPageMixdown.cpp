// The mixdown for export: every track rendered as playback renders it
// (audio tracks flattened, MIDI tracks tempo-scaled and rendered by the
// SoundFont or the piano) and mixed offline by the mixing engine into
// interleaved stereo, from time 0 to the end of the last clip.
//
// Audio tracks are flattened a block at a time straight into the mix, so
// the render holds the result and a small working set rather than a copy
// of every track; the values are those of mixing whole flattened tracks.
// The render is sized before anything is allocated: one the machine cannot
// hold is refused, and material past the longest render is cut there; the
// caller is told either way.

#include "multitrack/MultiTrackEditorPage.h"

#include "common/ParallelRanges.h"
#include "common/SampleMemory.h"
#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/TrackFlattening.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace {

// Frames of one block of the mix: each thread holds one block per audio track.
constexpr int kMixBlockFrames = 8192;

// The latest clip end of a track as it plays (a MIDI track tempo-scaled),
// limited to the longest render; `cut` is set when something lies past it.
// A MIDI track running on past the limit ends where its render does: a
// second after its last note there.
double playedEnd(const TrackData& track, int rate, bool& cut)
{
    double end = 0.0;
    bool past = false;
    auto take = [&](double clipStart, double clipEnd) {
        if (!std::isfinite(clipEnd))
            return;
        if (clipStart >= OfflineRender::kMaxTrackSeconds || clipEnd > OfflineRender::kMaxTrackSeconds)
            past = true;
        if (clipStart < OfflineRender::kMaxTrackSeconds)
            end = std::max(end, std::min(clipEnd, OfflineRender::kMaxTrackSeconds));
    };
    for (const AudioClip& clip : track.audioClips)
        take(clip.start, clip.end());
    for (const MidiClip& clip : track.midiClips)
        take(clip.start, clip.end());
    cut = cut || past;
    if (past && track.isMidi())
        return double(OfflineRender::trackFrames(track, rate)) / rate;
    return end;
}

// A start time whose frame, as the mixing engine rounds it, is exactly `frame`.
double startTimeOf(qint64 frame, int rate)
{
    double seconds = double(frame) / rate;
    while (std::llround(seconds * rate) < frame)
        seconds = std::nextafter(seconds, HUGE_VAL);
    while (std::llround(seconds * rate) > frame)
        seconds = std::nextafter(seconds, -HUGE_VAL);
    return seconds;
}

} // namespace

bool MultiTrackEditorPage::renderMixdown(QList<float>& out, int& rate, QString* note)
{
    rate = projectSampleRate;
    if (note)
        note->clear();
    if (tracks.empty())
        return false;

    // MIDI tracks are held at their source tempo: scaled as they play, once.
    std::vector<TrackData> scaledMidi(tracks.size());
    double length = 0.0;
    bool cut = false;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].isMidi()) {
            scaledMidi[i] = tempoScaledTrack(tracks[i]);
            length = std::max(length, playedEnd(scaledMidi[i], rate, cut));
        } else {
            length = std::max(length, playedEnd(tracks[i], rate, cut));
        }
    }
    if (cut) {
        qWarning() << "MultiTrackEditorPage: mixdown cut at" << OfflineRender::kMaxTrackSeconds << "s";
        if (note)
            *note = QStringLiteral("工程超出了导出的最长时长（%1 小时）：只导出了此前的部分，之后的内容未包含在内。")
                        .arg(OfflineRender::kMaxTrackSeconds / 3600.0);
    }
    if (!(length > 0.0)) {
        if (note)
            note->clear(); // nothing before the limit either: nothing to export
        return false;
    }
    const qint64 frames =
        OfflineRender::framesAt(length, rate, qint64(OfflineRender::kMaxTrackSeconds * rate));

    // What the render takes besides the project's own lists, before any of it is allocated:
    // the renders and prepared clips held until the mix is done, then the larger of a
    // list that an instrument frees again after its track and the mix itself.
    const bool soundFont = sf2Sampler.isLoaded();
    const bool piano = pianoSampler.sampleCount() > 0;
    std::vector<std::unique_ptr<TrackFlattener>> flatteners(tracks.size());
    std::vector<size_t> audioTracks;
    qint64 held = 0;
    qint64 passing = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].isMidi()) {
            if (soundFont || piano) {
                const qint64 render = OfflineRender::renderBytesFromFirstNote(scaledMidi[i], rate);
                held += render;
                passing = std::max(passing, midiRenderBytes(scaledMidi[i], rate) - render);
            }
            continue;
        }
        if (tracks[i].audioClips.empty())
            continue;
        flatteners[i] = std::make_unique<TrackFlattener>(tracks[i], rate);
        if (flatteners[i]->frameCount() < 1)
            continue;
        audioTracks.push_back(i);
        held += flatteners[i]->preparedBytes();
    }
    const qint64 blocks = (frames + kMixBlockFrames - 1) / kMixBlockFrames;
    const int parts = ParallelRanges::partsFor(blocks, 4);
    const qint64 mixing = 2 * frames * qint64(sizeof(float))
        + qint64(parts) * qint64(audioTracks.size()) * kMixBlockFrames * qint64(sizeof(float));
    const qint64 bytes = held + std::max(passing, mixing);
    if (!OfflineRender::fitsInMemory(bytes)) {
        qWarning() << "MultiTrackEditorPage: mixdown needs" << bytes << "bytes, more than available";
        if (note)
            *note = OfflineRender::tooLargeText(bytes);
        return false;
    }

    // Clips of other rates are resampled once; the tracks do not depend on each other.
    const qint64 audioCount = qint64(audioTracks.size());
    ParallelRanges::run(audioCount, ParallelRanges::partsFor(audioCount, 1),
                        [&](int, qint64 begin, qint64 end) {
                            for (qint64 k = begin; k < end; ++k)
                                flatteners[audioTracks[size_t(k)]]->prepare();
                        });

    // The renders stay alive until the mix is done: the slots point into them.
    std::vector<QList<float>> renders(tracks.size());
    std::vector<MultiTrackAudioEngine::TrackSlot> mixSlots(tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TrackData& track = tracks[i];
        QList<float>& render = renders[i];
        qint64 first = 0;
        if (track.isMidi()) {
            // Rendered from its first note: the silence before it is not held.
            if (soundFont)
                render = sf2Sampler.renderTrack(scaledMidi[i], rate, &first);
            else if (piano)
                render = pianoSampler.renderTrack(scaledMidi[i], rate, &first);
            scaledMidi[i] = TrackData();
            if (track.envelopeEnabled && !track.volumeEnvelope.empty())
                applyEnvelopeFrom(render.data(), first, render.size(), rate, track.volumeEnvelope);
        }
        MultiTrackAudioEngine::TrackSlot& slot = mixSlots[i];
        slot.startTime = startTimeOf(first, rate);
        // A render with the envelope in it mixes at unity, as in playback; an
        // envelope without points leaves the track's volume in force.
        slot.volume = track.envelopeEnabled && !track.volumeEnvelope.empty() ? 1.0f : track.volume;
        slot.pan = track.pan;
        slot.muted = track.muted;
        slot.solo = track.solo;
        if (!render.isEmpty()) {
            slot.samples = render.constData();
            slot.sampleCount = render.size();
        }
    }

    out = QList<float>(); // a list the caller passed in goes before the mix is made
    out = SampleMemory::uninitialized(2 * frames);
    float* mix = out.data();
    // Each part mixes its own run of blocks with its own window per audio track.
    ParallelRanges::run(blocks, parts, [&](int, qint64 firstBlock, qint64 endBlock) {
        std::vector<MultiTrackAudioEngine::TrackSlot> blockSlots = mixSlots;
        std::vector<float> windows(audioTracks.size() * size_t(kMixBlockFrames));
        for (qint64 b = firstBlock; b < endBlock; ++b) {
            const qint64 from = b * kMixBlockFrames;
            const int n = int(std::min<qint64>(kMixBlockFrames, frames - from));
            for (size_t k = 0; k < audioTracks.size(); ++k) {
                const TrackFlattener& flattener = *flatteners[audioTracks[k]];
                MultiTrackAudioEngine::TrackSlot& slot = blockSlots[audioTracks[k]];
                // The track's frames of this block, as far as its whole buffer reaches.
                const qint64 count = std::min<qint64>(n, flattener.frameCount() - from);
                slot.samples = nullptr;
                slot.sampleCount = 0;
                if (count < 1)
                    continue;
                float* window = windows.data() + k * size_t(kMixBlockFrames);
                flattener.render(from, count, window);
                slot.samples = window;
                slot.sampleCount = count;
                slot.startTime = startTimeOf(from, rate);
            }
            engine->renderOfflineRange(blockSlots, from, n, rate, mix + 2 * from);
        }
    });
    return true;
}
