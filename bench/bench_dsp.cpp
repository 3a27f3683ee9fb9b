// Pitch shift and time stretch of 60 s of 44.1 kHz mono against rubberband
// (default settings) and sox (pitch, tempo) on the same samples in the same
// run. Ours is timed in memory; the tools include reading and writing their
// files.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "audio/dsp/PitchShiftProcessor.h"
#include "audio/dsp/TimeStretchProcessor.h"

#include <QCoreApplication>
#include <QFile>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kFrames = std::size_t(60) * kRate;

// A chord with vibrato over a little noise: many spectral peaks that move.
std::vector<float> testSignal()
{
    std::vector<float> out(kFrames);
    std::uint32_t seed = 1;
    const double notes[] = {220.0, 277.18, 329.63, 440.0, 554.37};
    for (std::size_t i = 0; i < kFrames; ++i) {
        const double t = double(i) / kRate;
        double v = 0.0;
        for (double f : notes)
            v += 0.12 * std::sin(2.0 * M_PI * f * t + 0.8 * std::sin(2.0 * M_PI * 5.0 * t));
        seed = seed * 1103515245u + 12345u;
        v += 0.02 * (double((seed >> 8) & 0xFFFF) / 32768.0 - 1.0);
        out[i] = float(v);
    }
    return out;
}

bool writeWav(const QString& path, const std::vector<float>& data)
{
    const QString raw = path + QStringLiteral(".raw");
    QFile file(raw);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint64 bytes = qint64(data.size() * sizeof(float));
    if (file.write(reinterpret_cast<const char*>(data.data()), bytes) != bytes)
        return false;
    file.close();
    return Bench::timeCommand("sox", {"-t", "f32", "-r", QString::number(kRate), "-c", "1", raw,
                                      "-e", "floating-point", path},
                              1)
        >= 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    const std::vector<float> signal = testSignal();
    const QString input = Bench::workDir() + QStringLiteral("/dsp-60s.wav");
    const QString output = Bench::workDir() + QStringLiteral("/dsp-out.wav");
    if (!writeWav(input, signal)) {
        std::printf("cannot write the input file with sox\n");
        return 1;
    }

    bool allOk = true;
    std::vector<float> out(2 * kFrames);
    double checksum = 0.0;

    struct Shift {
        float semitones;
        bool required;  // the goal; the octaves are printed for information
    };
    for (const Shift shift : {Shift{1.0f, true}, Shift{12.0f, false}, Shift{-12.0f, false}}) {
        PitchShiftProcessor shifter;
        shifter.setSampleRate(kRate);
        shifter.setPitch(shift.semitones);
        const double ours = Bench::timeBest([&] {
            shifter.processOffline(signal.data(), out.data(), kFrames);
            checksum += out[kFrames / 2];
        });
        const QString name = QStringLiteral("pitch shift %1%2 semitone(s), 60 s")
                                 .arg(shift.semitones > 0 ? "+" : "")
                                 .arg(double(shift.semitones));
        const double rubberband = Bench::timeCommand(
            "rubberband", {"-q", "-p", QString::number(shift.semitones), input, output});
        const double sox =
            Bench::timeCommand("sox", {input, output, "pitch", QString::number(100 * shift.semitones)});
        const bool ok = Bench::report(name, ours, rubberband, "rubberband -p: read WAV, shift, write WAV", 1.0)
            & Bench::report(name, ours, sox, "sox pitch: read WAV, shift, write WAV", 1.0);
        if (shift.required)
            allOk &= ok;
    }

    {
        TimeStretchProcessor stretcher;
        stretcher.setStretchRatio(2.0f);
        const double ours = Bench::timeBest([&] {
            stretcher.processOffline(signal.data(), out.data(), kFrames, 2 * kFrames);
            checksum += out[kFrames];
        });
        const QString name = QStringLiteral("time stretch x2, 60 s");
        const double rubberband = Bench::timeCommand("rubberband", {"-q", "-t", "2", input, output});
        const double sox = Bench::timeCommand("sox", {input, output, "tempo", "0.5"});
        allOk &= Bench::report(name, ours, rubberband, "rubberband -t 2: read WAV, stretch, write WAV", 1.0);
        allOk &= Bench::report(name, ours, sox, "sox tempo 0.5: read WAV, stretch, write WAV", 1.0);
    }

    std::printf("checksum %g\n", checksum);
    QFile::remove(output);
    return allOk ? 0 : 1;
}
