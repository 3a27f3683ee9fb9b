#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include "audio/dsp/VectorState.h"
#include "common/ParallelRanges.h"

#include <QProcess>
#include <algorithm>

#include <cstdio>
#include <limits>
#include <memory>

namespace Bench {

double timeBest(const std::function<void()>& fn, int repeats)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < std::max(repeats, 1); ++i) {
        QElapsedTimer timer;
        timer.start();
        fn();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

double timeCommand(const QString& program, const QStringList& args, int repeats)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < std::max(repeats, 1); ++i) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        process.start(program, args);
        const bool ok = process.waitForStarted(10000) && process.waitForFinished(-1)
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        const double seconds = timer.nsecsElapsed() / 1e9;
        clearUpperVectorState();
        if (!ok)
            return -1.0;
        best = std::min(best, seconds);
    }
    return best;
}

namespace {

qint64 statusBytes(const QByteArray& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

qint64 peakResidentBytes()
{
    return statusBytes("VmHWM:");
}

qint64 residentBytes()
{
    return statusBytes("VmRSS:");
}

bool resetPeakResidentBytes()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

bool reportMemory(const QString& name, qint64 ours, qint64 reference,
                  const QString& referenceName, double goalRatio)
{
    const double mb = 1048576.0;
    if (ours < 0 || reference <= 0) {
        std::printf("%-48s memory could not be measured\n", qPrintable(name));
        std::fflush(stdout);
        return false;
    }
    const double ratio = double(ours) / double(reference);
    const bool ok = ratio <= goalRatio;
    // Small figures with decimals, so that they do not all print as 1 MB.
    const int decimals = std::max(ours, reference) < 100 * mb ? 2 : 0;
    std::printf("%-48s ours %7.*f MB | %-28s %7.*f MB | ratio %6.2f (goal <= %.2f) %s\n",
                qPrintable(name), decimals, ours / mb, qPrintable(referenceName), decimals,
                reference / mb, ratio, goalRatio, ok ? "OK" : "TOO MUCH");
    std::fflush(stdout);
    return ok;
}

bool report(const QString& name, double ours, double reference, const QString& referenceName,
            double goalRatio)
{
    if (reference <= 0.0) {
        std::printf("%-48s ours %8.3f s | reference %s unavailable\n", qPrintable(name), ours,
                    qPrintable(referenceName));
        std::fflush(stdout);
        return false;
    }
    const double ratio = ours / reference;
    const bool ok = ratio <= goalRatio;
    // Short times in milliseconds, so that they do not print as zero.
    const bool shortTimes = std::max(ours, reference) < 0.1;
    const double scale = shortTimes ? 1e3 : 1.0;
    const char* unit = shortTimes ? "ms" : "s";
    std::printf("%-48s ours %8.3f %s | %-28s %8.3f %s | ratio %6.2f (goal <= %.2f) %s\n",
                qPrintable(name), ours * scale, unit, qPrintable(referenceName), reference * scale,
                unit, ratio, goalRatio, ok ? "OK" : "SLOW");
    std::fflush(stdout);
    return ok;
}

PlainMixTrack::PlainMixTrack(const float* samples, float volume, float pan)
    : samples(samples)
    , left(volume * std::min(1.0f, 1.0f - pan))
    , right(volume * std::min(1.0f, 1.0f + pan))
{
}

double timePlainMix(const std::vector<PlainMixTrack>& tracks, qsizetype frames, MixOrder order,
                    int parts, int repeats)
{
    static volatile float kept = 0.0f; // the result is used, so the loop stays
    constexpr qint64 kRun = 2048;      // frames that stay in cache
    return timeBest([&] {
        // Left unset, as an offline mix leaves it: each part's first track
        // sets its frames, and the parts touch their own pages first.
        std::unique_ptr<float[]> out(new float[2 * size_t(frames)]);
        const qint64 runs = (frames + kRun - 1) / kRun;
        ParallelRanges::run(runs, parts, [&](int, qint64 firstRun, qint64 endRun) {
            const size_t begin = size_t(firstRun * kRun);
            const size_t end = size_t(std::min<qint64>(endRun * kRun, frames));
            const auto add = [&](const PlainMixTrack& track, size_t from, size_t to) {
                float* mix = out.get() + 2 * from;
                const float* in = track.samples + from;
                const float toLeft = track.left, toRight = track.right;
                if (&track == &tracks.front()) {
                    for (size_t i = 0; i < to - from; ++i) {
                        mix[2 * i] = in[i] * toLeft;
                        mix[2 * i + 1] = in[i] * toRight;
                    }
                } else {
                    for (size_t i = 0; i < to - from; ++i) {
                        mix[2 * i] += in[i] * toLeft;
                        mix[2 * i + 1] += in[i] * toRight;
                    }
                }
            };
            if (order == MixOrder::RunsOfFrames) {
                for (size_t from = begin; from < end; from += size_t(kRun))
                    for (const PlainMixTrack& track : tracks)
                        add(track, from, std::min(from + size_t(kRun), end));
            } else {
                for (const PlainMixTrack& track : tracks)
                    add(track, begin, end);
            }
        });
        if (frames > 0 && !tracks.empty())
            kept = kept + out[size_t(frames)];
    }, repeats);
}

bool writeRawFloats(const QString& path, const QList<float>& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto bytes = qint64(data.size() * qsizetype(sizeof(float)));
    return file.write(reinterpret_cast<const char*>(data.constData()), bytes) == bytes;
}

QStringList soxRawMonoInput(const QString& path, int sampleRate)
{
    return {"-t", "raw", "-e", "floating-point", "-b", "32", "-r", QString::number(sampleRate),
            "-c", "1", path};
}

QString workDir()
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/bench-data");
    QDir().mkpath(dir);
    return dir;
}

bool ensureInput(const QString& path, const QString& program, const QStringList& args)
{
    if (QFile::exists(path))
        return true;
    std::printf("making %s\n", qPrintable(path));
    std::fflush(stdout);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForStarted() && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit
           && p.exitCode() == 0;
}

} // namespace Bench
