#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include "audio/dsp/VectorState.h"
#include "common/ParallelRanges.h"
#include "common/SampleMemory.h"
#include "project/ProjectTypes.h"

#include <QProcess>
#include <algorithm>
#include <cmath>

#include <cstdio>
#include <limits>

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

void PlainGainCurve::fill(qsizetype from, qsizetype to, float* gain) const
{
    // The envelope piece by piece between its points: a straight line each.
    for (qsizetype i = from; i < to;) {
        const auto next = std::upper_bound(envelope.begin(), envelope.end(), double(i),
                                           [](double frame, const auto& point) { return frame < point.first; });
        const qsizetype end =
            next == envelope.end() ? to : std::clamp(qsizetype(std::ceil(next->first)), i + 1, to);
        if (next == envelope.begin() || next == envelope.end()) {
            const float held = envelope.empty() ? 1.0f : next == envelope.begin() ? next->second : envelope.back().second;
            std::fill(gain + (i - from), gain + (end - from), held);
        } else {
            const auto& before = *(next - 1);
            const double slope = (next->second - before.second) / (next->first - before.first);
            for (qsizetype k = i; k < end; ++k)
                gain[k - from] = float(before.second + slope * (double(k) - before.first));
        }
        i = end;
    }
    for (qsizetype k = from; k < std::min(to, fadeIn); ++k)
        gain[k - from] *= float(fadeCurveGain(fadeInCurve, double(k) / double(fadeIn)));
    for (qsizetype k = std::max(from, frames - fadeOut); fadeOut > 0 && k < to; ++k)
        gain[k - from] *= float(1.0 - fadeCurveGain(fadeOutCurve, double(k - (frames - fadeOut)) / double(fadeOut)));
}

PlainMixTrack::PlainMixTrack(const float* samples, float volume, float pan, const PlainGainCurve* curve)
    : samples(samples)
    , left(volume * std::min(1.0f, 1.0f - pan))
    , right(volume * std::min(1.0f, 1.0f + pan))
    , curve(curve)
{
}

double timePlainMix(const std::vector<PlainMixTrack>& tracks, qsizetype frames, MixOrder order,
                    int parts, int repeats, QList<float>* result)
{
    static volatile float kept = 0.0f; // the result is used, so the loop stays
    constexpr qint64 kRun = 2048;      // frames that stay in cache
    return timeBest([&] {
        // Not zeroed, as the mixes leave theirs: each part's first track
        // sets its frames, and the parts touch their own pages first.
        QList<float> out = SampleMemory::uninitialized(2 * frames);
        const qint64 runs = (frames + kRun - 1) / kRun;
        ParallelRanges::run(runs, parts, [&](int, qint64 firstRun, qint64 endRun) {
            const size_t begin = size_t(firstRun * kRun);
            const size_t end = size_t(std::min<qint64>(endRun * kRun, frames));
            float gain[kRun];
            const auto add = [&](const PlainMixTrack& track, size_t from, size_t to) {
                float* mix = out.data() + 2 * from;
                const float* in = track.samples + from;
                const float toLeft = track.left, toRight = track.right;
                const bool first = &track == &tracks.front();
                for (size_t at = 0; at < to - from; at += size_t(kRun)) {
                    const size_t n = std::min(size_t(kRun), to - from - at);
                    if (track.curve)
                        track.curve->fill(qsizetype(from + at), qsizetype(from + at + n), gain);
                    if (track.curve && first) {
                        for (size_t i = at; i < at + n; ++i) {
                            mix[2 * i] = in[i] * gain[i - at] * toLeft;
                            mix[2 * i + 1] = in[i] * gain[i - at] * toRight;
                        }
                    } else if (track.curve) {
                        for (size_t i = at; i < at + n; ++i) {
                            mix[2 * i] += in[i] * gain[i - at] * toLeft;
                            mix[2 * i + 1] += in[i] * gain[i - at] * toRight;
                        }
                    } else if (first) {
                        for (size_t i = at; i < at + n; ++i) {
                            mix[2 * i] = in[i] * toLeft;
                            mix[2 * i + 1] = in[i] * toRight;
                        }
                    } else {
                        for (size_t i = at; i < at + n; ++i) {
                            mix[2 * i] += in[i] * toLeft;
                            mix[2 * i + 1] += in[i] * toRight;
                        }
                    }
                }
            };
            const auto clip = [&](size_t from, size_t to) {
                for (float* s = out.data() + 2 * from; s < out.data() + 2 * to; ++s)
                    *s = std::clamp(*s, -1.0f, 1.0f);
            };
            if (order == MixOrder::RunsOfFrames) {
                for (size_t from = begin; from < end; from += size_t(kRun)) {
                    const size_t to = std::min(from + size_t(kRun), end);
                    for (const PlainMixTrack& track : tracks)
                        add(track, from, to);
                    clip(from, to);
                }
            } else {
                for (const PlainMixTrack& track : tracks)
                    add(track, begin, end);
                clip(begin, end);
            }
        });
        if (frames > 0 && !tracks.empty())
            kept = kept + out[frames];
        if (result)
            *result = std::move(out);
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
