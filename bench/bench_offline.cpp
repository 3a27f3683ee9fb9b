// Offline processing on 10 minutes of 44.1 kHz mono audio against outside
// tools on the same data in the same run: noise reduction (sox noisered),
// a five-band equaliser (sox equalizer ×5), the compressor (sox compand),
// tempo detection (aubio tempo, also compared for agreement on click tracks
// from 60 to 180 BPM) and YIN pitch analysis (aubiopitch -p yin).

#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "audio/AudioProcessor.h"
#include "audio/dsp/YinPitchDetector.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kRate = 44100;
constexpr int kMinutes = 10;

QList<float> noiseBed(qsizetype count, float amplitude, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<float> out(count);
    for (float& v : out)
        v = amplitude * float(random.generateDouble() * 2.0 - 1.0);
    return out;
}

// Noise throughout, a 1 kHz tone after the first second.
QList<float> noisyTone(qsizetype count)
{
    QList<float> out = noiseBed(count, 0.05f, 1);
    for (qsizetype i = kRate; i < count; ++i)
        out[i] += 0.3f * float(std::sin(2.0 * M_PI * 1000.0 * double(i) / kRate));
    return out;
}

// Short decaying noise bursts on the beats over a faint noise bed (a track
// of pure digital silence between clicks stops aubio's beat tracker).
QList<float> clickTrack(double bpm, double seconds)
{
    const qsizetype count = qsizetype(seconds * kRate);
    QList<float> out = noiseBed(count, 0.01f, 2);
    QRandomGenerator random(3);
    const double period = 60.0 / bpm * kRate;
    const int clickLength = kRate / 50;
    for (double beat = 0.0; beat < count; beat += period) {
        const qsizetype at = qsizetype(std::llround(beat));
        for (int i = 0; i < clickLength && at + i < count; ++i) {
            const float envelope = std::exp(-5.0f * float(i) / clickLength);
            out[at + i] += 0.8f * envelope * float(random.generateDouble() * 2.0 - 1.0);
        }
    }
    return out;
}

// A sung-like line: half-second notes between A2 and A4 with two harmonics
// and short breaths of silence.
QList<float> melody(qsizetype count)
{
    QList<float> out(count, 0.0f);
    const int notes[] = {45, 48, 52, 55, 57, 60, 64, 67, 69, 64, 60, 57};
    const qsizetype noteLength = kRate / 2;
    double phase = 0.0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype note = i / noteLength;
        if (i % noteLength > noteLength * 9 / 10)
            continue;
        const double hz = 440.0 * std::pow(2.0, (notes[note % 12] - 69) / 12.0);
        phase += 2.0 * M_PI * hz / kRate;
        out[i] = float(0.4 * std::sin(phase) + 0.15 * std::sin(2 * phase) + 0.08 * std::sin(3 * phase));
    }
    return out;
}

bool writeRaw(const QString& path, const QList<float>& data)
{
    return Bench::writeRawFloats(path, data);
}

QStringList rawInput(const QString& path)
{
    return Bench::soxRawMonoInput(path, kRate);
}

// Writes the list as a 32-bit float WAV through sox, for tools that need a
// real file.
bool writeWav(const QString& path, const QList<float>& data)
{
    const QString raw = path + ".f32";
    if (!writeRaw(raw, data))
        return false;
    QProcess sox;
    sox.start("sox", rawInput(raw) << "-e" << "floating-point" << path);
    const bool ok = sox.waitForFinished(-1) && sox.exitCode() == 0;
    QFile::remove(raw);
    return ok;
}

// aubio tempo prints "<bpm> bpm"; negative when it cannot run.
double aubioTempo(const QString& wav)
{
    QProcess aubio;
    aubio.start("aubio", {"tempo", wav});
    if (!aubio.waitForFinished(-1) || aubio.exitCode() != 0)
        return -1.0;
    return aubio.readAllStandardOutput().trimmed().split(' ').value(0).toDouble();
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    const QString dir = Bench::workDir();
    const qsizetype count = qsizetype(kMinutes) * 60 * kRate;
    bool allOk = true;
    // An optional argument runs one section: noise, eq, compressor, tempo, yin.
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    auto runs = [&](const char* section) { return only.isEmpty() || only == section; };

    std::printf("Offline processing on %d minutes of %d Hz mono audio\n", kMinutes, kRate);

    // ---- noise reduction ----
    if (runs("noise")) {
        const QList<float> signal = noisyTone(count);
        const QString raw = dir + "/noisy.f32";
        const QString noiseRaw = dir + "/noise.f32";
        const QString profile = dir + "/noise.prof";
        writeRaw(raw, signal);
        writeRaw(noiseRaw, signal.mid(0, kRate));
        QProcess::execute("sox", rawInput(noiseRaw) << "-n" << "noiseprof" << profile);

        AudioProcessor p;
        p.channels = 1;
        p.samples = signal;
        p.analyzeNoiseProfile(0, kRate);
        const QList<float> profileBins = p.noiseProfile;
        const double ours = Bench::timeBest([&] {
            p.samples = signal;
            p.samples.detach();
            p.applyNoiseReduction(0.5f);
        });
        const double sox = Bench::timeCommand("sox", rawInput(raw) << "-n" << "noisered" << profile << "0.5");
        allOk &= Bench::report("noise reduction (profile, amount 0.5)", ours, sox, "sox noisered 0.5: profile made beforehand, raw floats in, no output", 1.0);
    }

    // ---- five-band equaliser ----
    if (runs("eq")) {
        const QList<float> signal = noiseBed(count, 0.3f, 4);
        const QString raw = dir + "/eq.f32";
        writeRaw(raw, signal);
        const float freqs[] = {100, 500, 1000, 3000, 8000};
        const float gains[] = {3, -3, 6, -2, 4};
        const float qs[] = {1, 1, 1, 1, 1};
        const int types[] = {0, 0, 0, 0, 0};
        const bool enabled[] = {true, true, true, true, true};
        AudioProcessor p;
        p.channels = 1;
        const double ours = Bench::timeBest([&] {
            p.samples = signal;
            p.samples.detach();
            p.applyParametricEQ(freqs, gains, qs, types, enabled, 5);
        });
        QStringList args = rawInput(raw) << "-n";
        for (int b = 0; b < 5; ++b)
            args << "equalizer" << QString::number(freqs[b]) << QString::number(qs[b]) + "q"
                 << QString::number(gains[b]);
        const double sox = Bench::timeCommand("sox", args);
        allOk &= Bench::report("parametric EQ, five bells", ours, sox, "sox: the same five equalizer bells, raw floats in, no output", 1.0);
    }

    // ---- compressor ----
    if (runs("compressor")) {
        const QList<float> signal = noisyTone(count);
        const QString raw = dir + "/comp.f32";
        writeRaw(raw, signal);
        AudioProcessor p;
        p.channels = 1;
        const double ours = Bench::timeBest([&] {
            p.samples = signal;
            p.samples.detach();
            p.applyCompression(-20.0f, 4.0f, 10.0f, 100.0f, 0.0f, 6.0f);
        });
        // Ratio 4 above −20 dB with a 6 dB soft knee, attack 10 ms, release 100 ms.
        const double sox = Bench::timeCommand(
            "sox", rawInput(raw) << "-n" << "compand" << "0.01,0.1" << "6:-20,-20,0,-15" << "0"
                                 << "-90" << "0");
        allOk &= Bench::report("compressor (-20 dB, 4:1, knee 6)", ours, sox, "sox compand: same curve, raw floats in, no output", 1.0);
    }

    // ---- tempo ----
    if (runs("tempo")) {
        const QString wav = dir + "/clicks-120.wav";
        AudioProcessor p;
        p.channels = 1;
        p.samples = clickTrack(120.0, count / double(kRate));
        writeWav(wav, p.samples);
        AudioProcessor::TempoResult result;
        const double ours = Bench::timeBest([&] { result = p.detectTempo(); });
        const double aubio = Bench::timeCommand("aubio", {"tempo", wav});
        std::printf("  10-minute 120 BPM click track: ours %.2f BPM (confidence %.2f), aubio %.2f BPM\n",
                    result.bpm, result.confidence, aubioTempo(wav));
        allOk &= Bench::report("tempo detection", ours, aubio, "aubio tempo: reads the WAV, prints beats", 1.0);

        // Where aubio itself misses the true tempo the row is shown but not
        // counted against us.
        std::printf("  Agreement on 60 s click tracks (goal: within 2 BPM of aubio):\n");
        for (int bpm = 60; bpm <= 180; bpm += 15) {
            const QString trackWav = dir + QStringLiteral("/clicks-%1.wav").arg(bpm);
            AudioProcessor track;
            track.channels = 1;
            track.samples = clickTrack(bpm, 60.0);
            writeWav(trackWav, track.samples);
            const double mine = track.detectTempo().bpm;
            const double theirs = aubioTempo(trackWav);
            const bool agree = std::fabs(mine - theirs) <= 2.0;
            const bool oursRight = std::fabs(mine - bpm) <= 2.0;
            const bool theirsRight = std::fabs(theirs - bpm) <= 2.0;
            std::printf("    %3d BPM: ours %7.2f | aubio %7.2f | %s%s%s\n", bpm, mine, theirs,
                        agree ? "agree" : "DIFFER", oursRight ? "" : " (ours off the true tempo)",
                        theirsRight ? "" : " (aubio off the true tempo)");
            allOk &= agree || (oursRight && !theirsRight);
        }
    }

    // ---- YIN pitch analysis ----
    if (runs("yin")) {
        const QList<float> signal = melody(count);
        const QString wav = dir + "/melody.wav";
        writeWav(wav, signal);
        YinPitchDetector detector;
        detector.configure(kRate, 40.0f, 10.0f, 0.15f);
        size_t voiced = 0;
        const double ours = Bench::timeBest(
            [&] {
                const auto frames = detector.detect(signal.constData(), size_t(signal.size()));
                voiced = 0;
                for (const PitchFrame& f : frames)
                    voiced += f.frequency > 0.0f;
            },
            1);
        std::printf("  YIN: %zu voiced frames of %lld\n", voiced,
                    (long long)((count - detector.windowSize) / detector.hopSize + 1));
        const double aubio = Bench::timeCommand("aubiopitch", {"-p", "yin", "-i", wav}, 1);
        allOk &= Bench::report("YIN pitch analysis (40 ms window, 10 ms hop)", ours, aubio,
                               "aubiopitch -p yin: reads the WAV, prints each frame's pitch", 1.0);
    }

    std::printf("peak memory: %.0f MB\n", Bench::peakResidentBytes() / 1048576.0);
    return allOk ? 0 : 1;
}
