// Project files: saving and loading a 10-minute stereo project against the
// base64 command line on the same audio bytes, peak memory while loading,
// and an hour-long stereo project that must round-trip.

#include "BenchSupport.h"
#include "project/ProjectFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::vector<TrackData> stereoProject(double seconds)
{
    const qsizetype frames = qsizetype(seconds * 44100);
    AudioClip clip;
    clip.samples.resize(frames);
    clip.stereoSamples.resize(frames * 2);
    for (qsizetype i = 0; i < frames; ++i) {
        const float l = 0.5f * float(std::sin(i * 0.0627));
        const float r = 0.4f * float(std::sin(i * 0.0314 + 1.0));
        clip.stereoSamples[2 * i] = l;
        clip.stereoSamples[2 * i + 1] = r;
        clip.samples[i] = (l + r) * 0.5f;
    }
    std::vector<TrackData> tracks(1);
    tracks[0].name = QStringLiteral("take");
    tracks[0].audioClips.push_back(clip);
    return tracks;
}

// The raw float bytes the project embeds (mono, left, right), for the reference.
bool writeRawChannels(const AudioClip& clip, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(reinterpret_cast<const char*>(clip.samples.constData()), clip.samples.size() * 4);
    for (int channel = 0; channel < 2; ++channel) {
        QList<float> one(clip.stereoSamples.size() / 2);
        for (qsizetype i = 0; i < one.size(); ++i)
            one[i] = clip.stereoSamples[2 * i + channel];
        file.write(reinterpret_cast<const char*>(one.constData()), one.size() * 4);
    }
    return file.error() == QFileDevice::NoError;
}

// Loads a project in a fresh process and returns its peak resident memory.
qint64 peakMemoryOfLoad(const QString& path)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--load-only", path});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toLongLong();
}

bool sameAudio(const AudioClip& a, const AudioClip& b)
{
    return a.samples.size() == b.samples.size() && a.stereoSamples.size() == b.stereoSamples.size()
           && std::memcmp(a.samples.constData(), b.samples.constData(), a.samples.size() * 4) == 0
           && std::memcmp(a.stereoSamples.constData(), b.stereoSamples.constData(),
                          a.stereoSamples.size() * 4) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--load-only")) {
        ProjectData data;
        const bool ok = ProjectFile::load(args[2], data) == ProjectFile::LoadResult::Loaded;
        std::printf("%lld\n", static_cast<long long>(Bench::peakResidentBytes()));
        return ok ? 0 : 1;
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    const QString dir = Bench::workDir();
    const QString projectPath = dir + "/ten-minutes.cdw";
    const QString rawPath = dir + "/ten-minutes.raw";
    const QString encodedPath = dir + "/ten-minutes.b64";
    bool allOk = true;

    {
        const auto tracks = stereoProject(600.0);
        if (!writeRawChannels(tracks[0].audioClips[0], rawPath))
            return 1;
        const double save = Bench::timeBest([&] {
            ProjectFile::save(projectPath, "ten-minutes", tracks, {}, 0, 1, {});
        });
        const double encode = Bench::timeCommand(
            "sh", {"-c", QString("base64 -w0 '%1' > '%2'").arg(rawPath, encodedPath)});
        allOk &= Bench::report("save 10-minute stereo project", save, encode, "base64 encode", 2.0);

        ProjectData loaded;
        const double load = Bench::timeBest([&] {
            loaded = ProjectData();
            ProjectFile::load(projectPath, loaded);
        });
        const double decode = Bench::timeCommand(
            "sh", {"-c", QString("base64 -d '%1' > /dev/null").arg(encodedPath)});
        allOk &= Bench::report("load 10-minute stereo project", load, decode, "base64 decode", 2.0);
        if (loaded.tracks.empty() || !sameAudio(loaded.tracks[0].audioClips[0], tracks[0].audioClips[0])) {
            std::printf("load 10-minute stereo project: audio differs after the round trip\n");
            allOk = false;
        }
    }

    const double fileSize = double(QFileInfo(projectPath).size());
    const qint64 peak = peakMemoryOfLoad(projectPath);
    const double memoryRatio = peak > 0 ? peak / fileSize : -1;
    std::printf("%-48s peak %8.1f MB | file %8.1f MB | ratio %6.2f (goal <= 3.00) %s\n",
                "memory while loading 10-minute project", peak / 1e6, fileSize / 1e6, memoryRatio,
                memoryRatio > 0 && memoryRatio <= 3.0 ? "OK" : "HIGH");
    allOk &= memoryRatio > 0 && memoryRatio <= 3.0;
    QFile::remove(rawPath);
    QFile::remove(encodedPath);

    // One hour of stereo audio: saved, reopened and compared.
    {
        const QString hourPath = dir + "/one-hour.cdw";
        const auto tracks = stereoProject(3600.0);
        QElapsedTimer timer;
        timer.start();
        const bool saved =
            ProjectFile::save(hourPath, "one-hour", tracks, {}, 0, 1, {}) == ProjectFile::SaveResult::Saved;
        const double saveSeconds = timer.nsecsElapsed() / 1e9;
        const qint64 hourPeak = peakMemoryOfLoad(hourPath);
        timer.restart();
        ProjectData loaded;
        const bool reopened = saved && ProjectFile::load(hourPath, loaded) == ProjectFile::LoadResult::Loaded
                              && !loaded.tracks.empty()
                              && sameAudio(loaded.tracks[0].audioClips[0], tracks[0].audioClips[0]);
        const double loadSeconds = timer.nsecsElapsed() / 1e9;
        const double hourSize = double(QFileInfo(hourPath).size());
        std::printf("%-48s %s | file %.2f GB | save %.1f s | load %.1f s | load peak %.2f GB (%.2fx file)\n",
                    "one-hour stereo project round trip", reopened ? "exact" : "FAILED", hourSize / 1e9,
                    saveSeconds, loadSeconds, hourPeak / 1e9, hourPeak / hourSize);
        allOk &= reopened;
        QFile::remove(hourPath);
    }
    QFile::remove(projectPath);
    return allOk ? 0 : 1;
}
