// Project files: saving and loading a 10-minute stereo project against the
// base64 command line on the same audio bytes; an 8-track project (5-minute
// stereo tracks) opened and saved with its time against a plain base64
// decode of the same audio bytes and its peak memory against the decoded
// lists; and an hour-long stereo project that must round-trip.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"
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

std::vector<TrackData> stereoProject(double seconds, double tone = 1.0)
{
    const qsizetype frames = qsizetype(seconds * 44100);
    AudioClip clip;
    clip.samples.resize(frames);
    clip.stereoSamples.resize(frames * 2);
    for (qsizetype i = 0; i < frames; ++i) {
        const float l = 0.5f * float(std::sin(i * 0.0627 * tone));
        const float r = 0.4f * float(std::sin(i * 0.0314 * tone + 1.0));
        clip.stereoSamples[2 * i] = l;
        clip.stereoSamples[2 * i + 1] = r;
        clip.samples[i] = (l + r) * 0.5f;
    }
    std::vector<TrackData> tracks(1);
    tracks[0].name = QStringLiteral("take");
    tracks[0].audioClips.push_back(clip);
    return tracks;
}

constexpr int kTracks = 8;
constexpr double kTrackSeconds = 300.0;

// Eight 5-minute tracks, each one clip with a mono and a stereo list.
std::vector<TrackData> eightTrackProject()
{
    std::vector<TrackData> tracks;
    for (int t = 0; t < kTracks; ++t) {
        std::vector<TrackData> one = stereoProject(kTrackSeconds, 1.0 + 0.1 * t);
        one[0].name = QStringLiteral("track %1").arg(t + 1);
        tracks.push_back(std::move(one[0]));
    }
    return tracks;
}

qint64 listBytes(const std::vector<TrackData>& tracks)
{
    qint64 bytes = 0;
    for (const TrackData& track : tracks) {
        for (const AudioClip& clip : track.audioClips)
            bytes += (clip.samples.size() + clip.stereoSamples.size()) * qint64(sizeof(float));
    }
    return bytes;
}

quint64 audioChecksum(const std::vector<TrackData>& tracks)
{
    quint64 hash = 1469598103934665603ull;
    auto add = [&](const QList<float>& list) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(list.constData());
        for (qsizetype i = 0; i < list.size() * 4; i += 64) // a sample of every 16th
            hash = (hash ^ bytes[i]) * 1099511628211ull;
        hash = (hash ^ quint64(list.size())) * 1099511628211ull;
    };
    for (const TrackData& track : tracks) {
        for (const AudioClip& clip : track.audioClips) {
            add(clip.samples);
            add(clip.stereoSamples);
        }
    }
    return hash;
}

// The raw float bytes the project embeds (mono, left, right), for the reference.
bool writeRawChannels(const AudioClip& clip, const QString& path, bool append = false)
{
    QFile file(path);
    if (!file.open(append ? QIODevice::Append : QIODevice::WriteOnly))
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

// Runs this program in a fresh process and returns the number it prints
// (a peak resident memory).
qint64 childNumber(const QStringList& args)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toLongLong();
}

// Loads a project in a fresh process and returns its peak resident memory.
qint64 peakMemoryOfLoad(const QString& path)
{
    return childNumber({"--load-only", path});
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
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--load-only")) {
        ProjectData data;
        const bool ok = ProjectFile::load(args[2], data) == ProjectFile::LoadResult::Loaded;
        std::printf("%lld\n", static_cast<long long>(Bench::peakResidentBytes()));
        return ok ? 0 : 1;
    }
    if (args.size() == 3 && args[1] == QLatin1String("--save-only")) {
        // The peak while saving counts from the moment the lists exist.
        const auto tracks = eightTrackProject();
        if (!Bench::resetPeakResidentBytes())
            return 1;
        const bool ok = ProjectFile::save(args[2], "eight-tracks", tracks, {}, 0, 1, {})
                        == ProjectFile::SaveResult::Saved;
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
        allOk &= Bench::report("save 10-minute stereo project", save, encode,
                               "base64 -w0: the same audio bytes to a file", 2.0);

        ProjectData loaded;
        const double load = Bench::timeBest([&] {
            loaded = ProjectData();
            ProjectFile::load(projectPath, loaded);
        });
        const double decode = Bench::timeCommand(
            "sh", {"-c", QString("base64 -d '%1' > /dev/null").arg(encodedPath)});
        allOk &= Bench::report("load 10-minute stereo project", load, decode,
                               "base64 -d: the same audio bytes, discarded", 2.0);
        if (loaded.tracks.empty() || !sameAudio(loaded.tracks[0].audioClips[0], tracks[0].audioClips[0])) {
            std::printf("load 10-minute stereo project: audio differs after the round trip\n");
            allOk = false;
        }
    }

    QFile::remove(rawPath);
    QFile::remove(encodedPath);
    QFile::remove(projectPath);

    // Eight 5-minute stereo tracks: opening costs the decoded lists and
    // about the time of decoding their Base64; saving streams.
    {
        const QString eightPath = dir + "/eight-tracks.cdw";
        const QString eightRaw = dir + "/eight-tracks.raw";
        const QString eightEncoded = dir + "/eight-tracks.b64";
        qint64 decoded = 0;
        quint64 checksum = 0;
        {
            const auto tracks = eightTrackProject();
            decoded = listBytes(tracks);
            checksum = audioChecksum(tracks);
            for (size_t t = 0; t < tracks.size(); ++t) {
                if (!writeRawChannels(tracks[t].audioClips[0], eightRaw, t > 0))
                    return 1;
            }
            if (ProjectFile::save(eightPath, "eight-tracks", tracks, {}, 0, 1, {}) != ProjectFile::SaveResult::Saved)
                return 1;
        }
        if (!Bench::ensureInput(eightEncoded, "sh", {"-c", QString("base64 -w0 '%1' > '%2'").arg(eightRaw, eightEncoded)}))
            return 1;
        QFile::remove(eightRaw);

        bool same = true;
        ProjectData loaded;
        const double load = Bench::timeBest([&] {
            loaded = ProjectData();
            same &= ProjectFile::load(eightPath, loaded) == ProjectFile::LoadResult::Loaded;
        }, 2);
        same &= audioChecksum(loaded.tracks) == checksum;
        loaded = ProjectData();
        const double decode = Bench::timeCommand(
            "sh", {"-c", QString("base64 -d '%1' > /dev/null").arg(eightEncoded)}, 2);
        std::printf("%-48s file %.2f GB | decoded lists %.2f GB%s\n", "8 x 5 min stereo project",
                    QFileInfo(eightPath).size() / 1e9, decoded / 1e9, same ? "" : " | AUDIO DIFFERS");
        allOk &= same;
        allOk &= Bench::report("open 8-track project (ProjectFile::load)", load, decode,
                               "base64 -d: the same audio bytes, discarded", 1.2);
        allOk &= Bench::reportMemory("peak while opening 8-track project", peakMemoryOfLoad(eightPath),
                                     decoded, "decoded lists", 1.1);
        // The writer holds one block of text besides the lists.
        allOk &= Bench::reportMemory("peak while saving 8-track project",
                                     childNumber({"--save-only", eightPath}), decoded, "lists (+1 block)", 1.1);
        QFile::remove(eightEncoded);
        QFile::remove(eightPath);
    }

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
        allOk &= Bench::reportMemory("peak while opening the one-hour project", hourPeak, listBytes(tracks),
                                     "decoded lists", 1.1);
        QFile::remove(hourPath);
    }
    return allOk ? 0 : 1;
}
