// Mixdown of the multitrack page: 8 tracks of 5 minutes (6 audio tracks with
// fades, crossfades and a volume envelope, 2 MIDI tracks through the
// SoundFont), against its own parts called directly in the same run:
// flattening and rendering the tracks, then the mixing engine's offline
// render. The mixdown should add no work of its own (goal: within 1.5x) and
// hold no more than the track renders and the stereo result (plus 20 %).

#include "BenchSupport.h"
#include "common/ParallelRanges.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackFlattening.h"

#include <QApplication>
#include <QFile>

#include <climits>
#include <cstdio>

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 300.0;
const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

QList<float> material(int seed, qsizetype frames)
{
    QList<float> samples(frames);
    quint32 state = 0x9e3779b9u * quint32(seed + 1);
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = float(int(state >> 9) - (1 << 22)) * (0.3f / float(1 << 22));
    }
    return samples;
}

void buildProject(MultiTrackEditorPage& page)
{
    for (int t = 0; t < 6; ++t) {
        TrackData track;
        track.type = AudioTrack;
        track.volume = 0.7f;
        track.pan = -0.6f + 0.25f * t;
        // Two clips overlapping by 2 s: fades, a crossfade and an envelope.
        AudioClip first;
        first.samples = material(2 * t, qsizetype(160 * kRate));
        first.sampleRate = kRate;
        first.fadeIn = 1.5;
        first.fadeInCurve = t % 4;
        AudioClip second = first;
        second.samples = material(2 * t + 1, qsizetype(142 * kRate));
        second.start = 158.0;
        second.fadeOut = 4.0;
        second.fadeOutCurve = (t + 1) % 4;
        track.audioClips = {first, second};
        track.envelopeEnabled = true;
        for (int p = 0; p <= 10; ++p)
            track.volumeEnvelope.push_back({p * kSeconds / 10, 0.4f + 0.05f * ((p + t) % 7)});
        page.tracks.push_back(track);
    }
    for (int t = 0; t < 2; ++t) {
        TrackData track;
        track.type = MidiTrack;
        track.midiChannel = t;
        track.instrumentIndex = t == 0 ? 0 : 40;
        MidiClip clip;
        clip.start = 0.0;
        clip.duration = kSeconds;
        for (double at = 0.0; at + 0.5 < kSeconds; at += 0.25) {
            MidiNote note;
            note.pitch = 48 + (int(at * 4) * (t ? 5 : 7)) % 36;
            note.start = at;
            note.duration = t ? 0.2 : 0.45;
            note.velocity = 60 + int(at * 4) % 60;
            clip.notes.push_back(note);
        }
        track.midiClips.push_back(clip);
        page.tracks.push_back(track);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!QFile::exists(kFont)) {
        std::printf("mixdown: needs Debian's timgm6mb-soundfont (%s)\n", qPrintable(kFont));
        return 1;
    }
    MultiTrackEditorPage page;
    if (!page.loadSoundFont(kFont))
        return 1;
    buildProject(page);
    std::printf("mixdown of 6 audio + 2 MIDI tracks of %.0f s at %d Hz\n", kSeconds, kRate);
    std::fflush(stdout);

    // Memory first, in a process that has made no renders yet.
    const bool peakReset = Bench::resetPeakResidentBytes();
    const qint64 before = Bench::residentBytes();
    qint64 mixBytes = 0;
    {
        QList<float> out;
        int rate = 0;
        if (!page.renderMixdown(out, rate))
            return 1;
        mixBytes = out.size() * qint64(sizeof(float));
    }
    const qint64 peak = Bench::peakResidentBytes() - before;

    // The parts alone: every track rendered and kept, then the engine's mix.
    qint64 renderBytes = 0;
    MultiTrackAudioEngine engine(nullptr);
    double checksum = 0.0;
    const double parts = Bench::timeBest([&] {
        const size_t count = page.tracks.size();
        std::vector<QList<float>> renders(count);
        // Audio tracks flattened side by side, as playback does.
        ParallelRanges::run(6, ParallelRanges::partsFor(6, 1), [&](int, qint64 begin, qint64 end) {
            for (qint64 i = begin; i < end; ++i)
                renders[size_t(i)] = flattenAudioTrack(page.tracks[size_t(i)], kRate);
        });
        for (size_t i = 6; i < count; ++i)
            renders[i] = page.soundFont().renderTrack(page.tempoScaledTrack(page.tracks[i]), kRate);
        std::vector<MultiTrackAudioEngine::TrackSlot> mix(count);
        renderBytes = 0;
        for (size_t i = 0; i < count; ++i) {
            const TrackData& track = page.tracks[i];
            mix[i].samples = renders[i].constData();
            mix[i].sampleCount = int(renders[i].size());
            mix[i].volume = track.isMidi() ? track.volume : 1.0f; // the envelope is in the audio
            mix[i].pan = track.pan;
            renderBytes += renders[i].size() * qint64(sizeof(float));
        }
        QList<float> out;
        engine.renderOffline(mix, int(kSeconds * kRate), kRate, out);
        checksum += out[out.size() / 2];
    });
    const double ours = Bench::timeBest([&] {
        QList<float> out;
        int rate = 0;
        page.renderMixdown(out, rate);
        checksum += out[out.size() / 2];
    });
    std::printf("(checksum %g)\n", checksum);
    bool ok = Bench::report(QStringLiteral("renderMixdown 8 tracks x 5 min"), ours, parts,
                            QStringLiteral("flatten/render + renderOffline"), 1.5);

    const qint64 budget = qint64(1.2 * double(renderBytes + mixBytes));
    const bool memoryOk = peakReset && peak <= budget;
    std::printf("%-48s peak %6.0f MB | renders %.0f MB + result %.0f MB + 20 %% = %.0f MB | %s\n",
                "renderMixdown memory", peak / 1048576.0, renderBytes / 1048576.0, mixBytes / 1048576.0,
                budget / 1048576.0,
                peakReset ? (memoryOk ? "OK" : "OVER") : "peak could not be reset");
    ok = ok && memoryOk;
    return ok ? 0 : 1;
}
