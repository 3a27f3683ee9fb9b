// Saving and opening a 10-minute stereo multitrack project through the main
// window's commands against the project file's own save and load of the same
// tracks in the same run: the window adds no copies of the audio. Opening in
// a fresh, shown window (its pages painted after) is also measured for its
// peak memory against the decoded lists, for that project and for eight
// 5-minute stereo tracks, whose save from that window is measured too.

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/ShellPrompts.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "project/ProjectFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Gives up the open project whenever the window asks, so loads can repeat.
class DiscardingPrompts : public ShellPrompts {
public:
    QMessageBox::StandardButton question(QWidget*, const QString&, const QString&,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton) override
    {
        return QMessageBox::Discard;
    }
    void warning(QWidget*, const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        failed = true;
    }
    bool failed = false;
};

class BenchWindow : public MainWindow {
public:
    MultiTrackEditorPage* page() const { return multiTrackPage; }
};

} // namespace

// Opens `path` in a fresh, shown window and prints the peak resident memory
// the opening and the paints after it added to the window's own; then the
// peak that saving it from the window adds to what the window holds.
int openOnly(const QString& path, const std::shared_ptr<DiscardingPrompts>& prompts)
{
    BenchWindow window;
    window.setPrompts(prompts);
    window.resize(1600, 900);
    window.show();
    QCoreApplication::processEvents();
    const qint64 before = Bench::residentBytes();
    if (!Bench::resetPeakResidentBytes())
        return 1;
    QMetaObject::invokeMethod(&window, "loadProject", Q_ARG(QString, path));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    window.repaint();
    const qint64 peak = Bench::peakResidentBytes();
    std::printf("opening added %lld\n", static_cast<long long>(peak - before));

    const QString savedPath = path + QStringLiteral(".saved.cdw");
    const qint64 beforeSave = Bench::residentBytes();
    if (!Bench::resetPeakResidentBytes())
        return 1;
    bool saved = false;
    QMetaObject::invokeMethod(&window, "saveProject", Q_RETURN_ARG(bool, saved), Q_ARG(QString, savedPath));
    std::printf("saving added %lld\n", static_cast<long long>(Bench::peakResidentBytes() - beforeSave));
    std::fflush(stdout);
    QFile::remove(savedPath);
    return prompts->failed || !saved || window.page()->tracks.empty() ? 1 : 0;
}

struct WindowPeaks {
    qint64 opening = -1;
    qint64 saving = -1;
};

WindowPeaks peaksOfOpening(const QString& path)
{
    WindowPeaks peaks;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--open-only", path});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return peaks;
    // The window logs to the same stream.
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("opening added "))
            peaks.opening = line.mid(14).trimmed().toLongLong();
        if (line.startsWith("saving added "))
            peaks.saving = line.mid(13).trimmed().toLongLong();
    }
    return peaks;
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto prompts = std::make_shared<DiscardingPrompts>();
    if (app.arguments().size() == 3 && app.arguments()[1] == QLatin1String("--open-only"))
        return openOnly(app.arguments()[2], prompts);

    const qsizetype frames = qsizetype(600.0 * 44100);
    QList<float> mono(frames);
    QList<float> stereo(frames * 2);
    for (qsizetype i = 0; i < frames; ++i) {
        const float l = 0.5f * float(std::sin(double(i) * 0.0627));
        const float r = 0.4f * float(std::sin(double(i) * 0.0314 + 1.0));
        stereo[2 * i] = l;
        stereo[2 * i + 1] = r;
        mono[i] = (l + r) * 0.5f;
    }

    BenchWindow source;
    source.setPrompts(prompts);
    source.openNewProject(QStringLiteral("multi"), 44100, 16, false);
    source.page()->addTrack(TrackType::AudioTrack, mono, 44100, QStringLiteral("take"), stereo);
    mono.clear();
    stereo.clear();

    const QString dir = Bench::workDir();
    const QString windowFile = dir + QStringLiteral("/shell-window.cdw");
    const QString directFile = dir + QStringLiteral("/shell-direct.cdw");
    ProjectSettings settings;
    settings.bitDepth = 16;

    // Turn about, best of several: a busy machine slows both alike.
    constexpr int Rounds = 5;
    double windowSave = 1e9, directSave = 1e9, windowLoad = 1e9, directLoad = 1e9;
    BenchWindow target;
    target.setPrompts(prompts);
    for (int round = 0; round < Rounds; ++round) {
        directSave = std::min(directSave, Bench::timeBest([&] {
            if (ProjectFile::save(directFile, QStringLiteral("shell-direct"), source.page()->tracks,
                                  settings, 0.0, 1.0, source.page()->markers)
                != ProjectFile::SaveResult::Saved)
                prompts->failed = true;
        }, 1));
        windowSave = std::min(windowSave, Bench::timeBest([&] {
            bool saved = false;
            QMetaObject::invokeMethod(&source, "saveProject", Q_RETURN_ARG(bool, saved),
                                      Q_ARG(QString, windowFile));
            if (!saved)
                prompts->failed = true;
        }, 1));
        directLoad = std::min(directLoad, Bench::timeBest([&] {
            ProjectData data;
            if (ProjectFile::load(directFile, data) != ProjectFile::LoadResult::Loaded)
                prompts->failed = true;
        }, 1));
        windowLoad = std::min(windowLoad, Bench::timeBest([&] {
            QMetaObject::invokeMethod(&target, "loadProject", Q_ARG(QString, windowFile));
        }, 1));
    }
    const bool loaded = target.page()->tracks.size() == 1
                        && target.page()->tracks[0].audioClips[0].samples.size() == frames;

    bool ok = !prompts->failed && loaded;
    ok &= Bench::report(QStringLiteral("save 10 min stereo project from the window"), windowSave, directSave,
                        QStringLiteral("ProjectFile::save"), 1.2);
    ok &= Bench::report(QStringLiteral("open 10 min stereo project in the window"), windowLoad, directLoad,
                        QStringLiteral("ProjectFile::load"), 1.2);
    const qint64 lists = qint64(frames) * 3 * qint64(sizeof(float));
    ok &= Bench::reportMemory(QStringLiteral("peak opening it in a fresh window"),
                              peaksOfOpening(windowFile).opening, lists, QStringLiteral("decoded lists"), 1.1);
    QFile::remove(windowFile);
    QFile::remove(directFile);

    // Eight 5-minute stereo tracks, written by the project file itself.
    const QString eightFile = dir + QStringLiteral("/shell-eight.cdw");
    const qsizetype trackFrames = qsizetype(300.0 * 44100);
    qint64 eightLists = 0;
    {
        std::vector<TrackData> tracks(8);
        for (size_t t = 0; t < tracks.size(); ++t) {
            AudioClip clip;
            clip.samples.resize(trackFrames);
            clip.stereoSamples.resize(trackFrames * 2);
            for (qsizetype i = 0; i < trackFrames; ++i) {
                const float l = 0.5f * float(std::sin(double(i) * 0.0627 * (1.0 + 0.1 * double(t))));
                const float r = 0.4f * float(std::sin(double(i) * 0.0314 + 1.0));
                clip.stereoSamples[2 * i] = l;
                clip.stereoSamples[2 * i + 1] = r;
                clip.samples[i] = (l + r) * 0.5f;
            }
            eightLists += (clip.samples.size() + clip.stereoSamples.size()) * qint64(sizeof(float));
            tracks[t].name = QStringLiteral("track %1").arg(t + 1);
            tracks[t].audioClips.push_back(clip);
        }
        if (ProjectFile::save(eightFile, QStringLiteral("shell-eight"), tracks, settings, 0.0, 1.0, {})
            != ProjectFile::SaveResult::Saved)
            ok = false;
    }
    const WindowPeaks eight = peaksOfOpening(eightFile);
    ok &= Bench::reportMemory(QStringLiteral("peak opening 8 x 5 min in a fresh window"), eight.opening,
                              eightLists, QStringLiteral("decoded lists"), 1.1);
    // Saving holds the lists the page has, and adds one block of text.
    ok &= Bench::reportMemory(QStringLiteral("peak saving 8 x 5 min from the window"),
                              eight.saving < 0 ? -1 : eightLists + eight.saving, eightLists,
                              QStringLiteral("lists (+1 block)"), 1.1);
    QFile::remove(eightFile);
    return ok ? 0 : 1;
}
