// Mixdown of the multitrack page: 8 and 32 audio tracks of 5 minutes at
// 44.1 kHz (one clip each, fades and an envelope on some), against the plain
// loop of the mixing benchmark summing the same mono material in memory with
// each track's volume and pan, fades and envelope into stereo, in the same
// run, as many times and on as many threads as ours mixes on. `sox -m` mixing the same material from raw float
// files into a discarded stereo stream is printed beside it as an outside
// figure only: it reads files, so it is no goal. Memory: the
// peak the mixdown adds beside the interleaved stereo result it returns
// (goal: at most 1.2x the result),
// and, for comparison, the peak of the former way of mixing, which kept a
// whole flattened copy of every track before mixing. Last, the 8 tracks
// exported through the main window's export commands (WAV, FLAC, MP3, and
// WAV of a mono project), whose peak beside the project's lists has the
// same goal.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "app/MainWindow.h"
#include "app/ShellActions.h"
#include "app/ShellPrompts.h"
#include "common/ParallelRanges.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackFlattening.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 300.0;

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

// `count` tracks of one 5-minute clip each; every fourth with fades and an envelope.
void buildProject(MultiTrackEditorPage& page, int count)
{
    for (int t = 0; t < count; ++t) {
        TrackData track;
        track.type = AudioTrack;
        track.volume = 0.7f;
        track.pan = -0.6f + 0.04f * t;
        AudioClip clip;
        clip.samples = material(t, qsizetype(kSeconds * kRate));
        clip.sampleRate = kRate;
        if (t % 4 == 0) {
            clip.fadeIn = 1.5;
            clip.fadeOut = 4.0;
            clip.fadeOutCurve = 2;
            track.envelopeEnabled = true;
            for (int p = 0; p <= 10; ++p)
                track.volumeEnvelope.push_back({p * kSeconds / 10, 0.4f + 0.05f * ((p + t) % 7)});
        }
        track.audioClips = {clip};
        page.tracks.push_back(track);
    }
}

// The former mixdown: every track flattened whole, then one offline render.
QList<float> wholeTrackMix(MultiTrackEditorPage& page, int frames)
{
    std::vector<QList<float>> renders;
    std::vector<MultiTrackAudioEngine::TrackSlot> mix;
    for (const TrackData& track : page.tracks) {
        renders.push_back(flattenAudioTrack(track, kRate));
        MultiTrackAudioEngine::TrackSlot slot;
        slot.samples = renders.back().constData();
        slot.sampleCount = int(renders.back().size());
        slot.volume = track.envelopeEnabled ? 1.0f : track.volume;
        slot.pan = track.pan;
        mix.push_back(slot);
    }
    QList<float> out;
    MultiTrackAudioEngine(nullptr).renderOffline(mix, frames, kRate, out);
    return out;
}

// Peak memory that fn adds to what the process holds now; -1 when unknown.
qint64 addedPeak(const std::function<void()>& fn)
{
    if (!Bench::resetPeakResidentBytes())
        return -1;
    const qint64 before = Bench::residentBytes();
    fn();
    return Bench::peakResidentBytes() - before;
}

bool run(int count)
{
    MultiTrackEditorPage page;
    buildProject(page, count);
    std::printf("\nmixdown of %d audio tracks of %.0f s at %d Hz\n", count, kSeconds, kRate);
    std::fflush(stdout);

    // The same material for sox, written once.
    QStringList soxArgs{QStringLiteral("-m")};
    for (int t = 0; t < count; ++t) {
        const QString path = Bench::workDir() + QStringLiteral("/mixdown-track-%1.f32").arg(t);
        if (QFile(path).size() != qint64(kSeconds * kRate) * 4
            && !Bench::writeRawFloats(path, page.tracks[size_t(t)].audioClips[0].samples))
            return false;
        soxArgs << Bench::soxRawMonoInput(path, kRate);
    }
    soxArgs << QStringList{"-c", "2", "-n"};

    qint64 mixBytes = 0;
    bool same = false;
    const qint64 peak = addedPeak([&] {
        QList<float> out;
        int rate = 0;
        if (page.renderMixdown(out, rate))
            mixBytes = out.size() * qint64(sizeof(float));
    });
    QList<float> formerOut;
    const qint64 formerPeak = addedPeak([&] { formerOut = wholeTrackMix(page, int(mixBytes / 8)); });
    {
        QList<float> out;
        int rate = 0;
        page.renderMixdown(out, rate);
        same = out == formerOut;
        formerOut = QList<float>();
    }
    QList<float> oursOut;
    const double ours = Bench::timeBest([&] {
        QList<float> out;
        int rate = 0;
        page.renderMixdown(out, rate);
        oursOut = std::move(out);
    });
    const double former = Bench::timeBest([&] { wholeTrackMix(page, int(mixBytes / 8)); }, 1);

    // The plain loop does the same work: the faded tracks' fades and
    // envelope (which stands in for the volume), the mix's centre gain, the
    // clipping, a fresh list; and as many runs as ours.
    std::vector<Bench::PlainGainCurve> curves(page.tracks.size());
    std::vector<Bench::PlainMixTrack> plain;
    for (size_t t = 0; t < page.tracks.size(); ++t) {
        const TrackData& track = page.tracks[t];
        const AudioClip& clip = track.audioClips[0];
        Bench::PlainGainCurve& curve = curves[t];
        if (track.envelopeEnabled) {
            curve.frames = clip.samples.size();
            curve.fadeIn = qsizetype(clip.fadeIn * kRate);
            curve.fadeInCurve = clip.fadeInCurve;
            curve.fadeOut = qsizetype(clip.fadeOut * kRate);
            curve.fadeOutCurve = clip.fadeOutCurve;
            for (const EnvelopePoint& point : track.volumeEnvelope)
                curve.envelope.emplace_back(point.time * kRate, point.value);
        }
        constexpr float CentreGain = 0.707f;
        plain.emplace_back(clip.samples.constData(), CentreGain * (track.envelopeEnabled ? 1.0f : track.volume),
                           track.pan, track.envelopeEnabled ? &curve : nullptr);
    }
    const qsizetype frames = qsizetype(kSeconds * kRate);
    const int threads = ParallelRanges::availableThreads();
    QList<float> plainOut;
    const double plainLoop =
        Bench::timePlainMix(plain, frames, Bench::MixOrder::RunsOfFrames, threads, 3, &plainOut);
    float difference = oursOut.size() == plainOut.size() ? 0.0f : 1e9f;
    for (qsizetype i = 0; i < oursOut.size() && i < plainOut.size(); ++i)
        difference = std::max(difference, std::fabs(oursOut[i] - plainOut[i]));
    oursOut = QList<float>();
    plainOut = QList<float>();
    const double sox = Bench::timeCommand(QStringLiteral("sox"), soxArgs, count > 8 ? 1 : 3);

    const QString name = QStringLiteral("renderMixdown %1 x 5 min").arg(count);
    bool ok = Bench::report(name, ours, plainLoop,
                            QStringLiteral("plain loop of the same mix (fades, envelopes), best of 3, %1 threads").arg(threads), 3.0);
    const bool sameMix = difference < 1e-4f;
    std::printf("%-48s the plain loop's mix differs from ours by at most %.2g %s\n", qPrintable(name),
                double(difference), sameMix ? "(the same mix)" : "(NOT THE SAME MIX)");
    if (sox > 0.0)
        std::printf("%-48s ours %8.3f s | sox -m, the same material from raw float files %8.3f s (outside figure, no goal)\n",
                    qPrintable(name), ours, sox);
    else
        std::printf("%-48s sox -m could not run (outside figure, no goal)\n", qPrintable(name));
    std::printf("%-48s ours %8.3f s | former whole-track mix %8.3f s | same output: %s\n",
                qPrintable(name), ours, former, same ? "yes" : "NO");
    const double mb = 1048576.0;
    const bool memoryOk = peak >= 0 && peak <= qint64(1.2 * double(mixBytes));
    std::printf("%-48s peak %6.0f MB | result %6.0f MB (goal <= %.0f MB) %s | former way %6.0f MB\n",
                qPrintable(name + QStringLiteral(" memory")), peak / mb, mixBytes / mb,
                1.2 * mixBytes / mb, peak < 0 ? "not measured" : (memoryOk ? "OK" : "OVER"),
                formerPeak / mb);
    std::fflush(stdout);
    return ok && memoryOk && same && sameMix;
}

// Answers the export's file chooser with `path`; any message box is a failure.
class ExportPrompts : public ShellPrompts {
public:
    QString saveFileName(QWidget*, const QString&, const QString&) override { return path; }
    void warning(QWidget*, const QString& title, const QString& text) override { fail(title, text); }
    void information(QWidget*, const QString& title, const QString& text) override { fail(title, text); }
    QString path;
    bool failed = false;

private:
    void fail(const QString& title, const QString& text)
    {
        std::printf("%s: %s\n", qPrintable(title), qPrintable(text));
        failed = true;
    }
};

class ExportWindow : public MainWindow {
public:
    MultiTrackEditorPage* page() const { return multiTrackPage; }
};

// Exports the 8-track project through the window's menu commands; the peak
// each export adds beside the project's lists against the interleaved mix.
bool runWindowExports()
{
    constexpr int Tracks = 8;
    auto prompts = std::make_shared<ExportPrompts>();
    ExportWindow window;
    window.setPrompts(prompts);
    window.openNewProject(QStringLiteral("multi"), kRate, 16, false);
    buildProject(*window.page(), Tracks);
    QCoreApplication::processEvents();
    const qint64 mixBytes = qint64(kSeconds * kRate) * 2 * qint64(sizeof(float));
    std::printf("\nexport of %d audio tracks of %.0f s from the main window\n", Tracks, kSeconds);

    struct Export {
        const char* name;
        QAction* action;
        const char* suffix;
        bool mono;
    };
    const ShellActions& actions = window.menuActions();
    const Export exports[] = {{"export WAV 16-bit", actions.exportWav, "wav", false},
                              {"export FLAC 16-bit", actions.exportFlac, "flac", false},
                              {"export MP3", actions.exportMp3, "mp3", false},
                              {"export WAV 16-bit, mono project", actions.exportWav, "wav", true}};
    bool ok = true;
    for (const Export& e : exports) {
        window.page()->mono = e.mono;
        prompts->path = Bench::workDir() + QStringLiteral("/window-export.") + QLatin1String(e.suffix);
        QFile::remove(prompts->path);
        const qint64 peak = addedPeak([&] { e.action->trigger(); });
        const bool written = QFileInfo(prompts->path).size() > 0 && !prompts->failed;
        QFile::remove(prompts->path);
        ok = Bench::reportMemory(QStringLiteral("%1, %2 x 5 min, peak").arg(QLatin1String(e.name)).arg(Tracks),
                                 peak, mixBytes, QStringLiteral("interleaved mix"), 1.2)
             && ok;
        if (!written) {
            std::printf("%s: nothing written\n", e.name);
            ok = false;
        }
    }
    window.page()->mono = false;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    bool ok = run(8);
    ok = run(32) && ok;
    ok = runWindowExports() && ok;
    return ok ? 0 : 1;
}
