// Single-track page: loading a 10-minute stereo file into the page (decode,
// the page's lists, all four views given the audio and the shown view
// painted) against decoding the same file alone, in the same run; for a WAV
// and an MP3 file. Then the page's peak memory with that file shown in each
// of its three views (waveform, spectrogram, both) against the decoded lists
// it holds (the stereo list and its mono mix). Last, the peak after ten
// whole-file gain steps on a 1-hour stereo file, whose undo history is held
// within its memory budget, against the decoded lists.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "audio/AudioProcessor.h"
#include "editor/AudioEditorPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QUndoStack>
#include <cstdio>

namespace {

constexpr int Seconds = 600;

bool makeInputs(const QString& wav, const QString& mp3)
{
    if (!QFileInfo::exists(wav)
        && QProcess::execute(QStringLiteral("sox"),
                             {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                              QString::number(Seconds), "sine", "220-880", "sine", "330",
                              "vol", "0.5"})
               != 0)
        return false;
    if (!QFileInfo::exists(mp3)
        && QProcess::execute(QStringLiteral("lame"), {"--quiet", "-b", "192", wav, mp3}) != 0)
        return false;
    return true;
}

bool benchFile(AudioEditorPage& page, const QString& path, const QString& label)
{
    const double decodeOnly = Bench::timeBest([&] {
        AudioProcessor processor;
        processor.loadAudioFile(path);
    });
    const double intoPage = Bench::timeBest([&] {
        AudioProcessor processor;
        processor.loadAudioFile(path);
        page.loadStereoAudioSamples(processor.stereoSamples, processor.sampleRate);
        page.repaint();
    });
    if (page.samples.size() != qsizetype(Seconds) * 44100) {
        std::printf("editor page: %s did not load\n", qPrintable(label));
        return false;
    }
    return Bench::report(QStringLiteral("load 10-min stereo %1 into the page").arg(label),
                         intoPage, decodeOnly, QStringLiteral("our decoder alone on the same file, no page"), 1.5);
}

// The page's own peak: the file is decoded first and only its stereo list
// kept, so the decoder's passing memory is not counted; the peak then runs
// from the resident memory before decoding.
bool benchMemory(const QString& path)
{
    AudioEditorPage page;
    page.resize(1600, 900);
    page.show();
    QCoreApplication::processEvents();
    const qint64 before = Bench::residentBytes();
    QList<float> stereo;
    int rate = 0;
    {
        AudioProcessor processor;
        processor.loadAudioFile(path);
        stereo = processor.stereoSamples;
        rate = processor.sampleRate;
    }
    if (!Bench::resetPeakResidentBytes()) {
        std::printf("editor page: the peak memory cannot be reset here\n");
        return false;
    }
    page.loadStereoAudioSamples(stereo, rate);
    auto* combo = page.findChild<QComboBox*>();
    for (int view = 0; view < 3; ++view) {
        combo->setCurrentIndex(view);
        page.repaint();
    }
    const qint64 peak = Bench::peakResidentBytes() - before;
    const qint64 decoded = (stereo.size() + stereo.size() / 2) * qint64(sizeof(float));
    return Bench::reportMemory(QStringLiteral("page peak, 10-min stereo in all views"), peak,
                               decoded, QStringLiteral("size of the decoded stereo and mono lists"), 2.0);
}

// Ten gain steps of -0.5 dB on a 1-hour stereo file at 44.1 kHz, through
// the gain dialog as a user applies them. The budget is a fixed 2 GB here,
// so that the figure does not depend on the machine (the program's default
// is a quarter of physical memory): the peak should stay near the lists,
// the budget and the one copy a step makes while it runs.
bool benchHistory()
{
    constexpr qint64 Frames = qint64(3600) * 44100;
    constexpr qint64 Budget = qint64(2) << 30;
    const qint64 before = Bench::residentBytes();
    if (!Bench::resetPeakResidentBytes()) {
        std::printf("editor page: the peak memory cannot be reset here\n");
        return false;
    }
    AudioEditorPage page;
    page.setHistoryBudget(Budget);
    {
        QList<float> stereo(2 * Frames);
        for (qint64 i = 0; i < Frames; ++i) {
            const float v = float(i % 441) / 441.0f - 0.5f;
            stereo[2 * i] = v;
            stereo[2 * i + 1] = -v;
        }
        page.loadStereoAudioSamples(stereo, 44100);
    }
    for (int step = 0; step < 10; ++step) {
        page.showGainDialog();
        QDialog* dialog = nullptr;
        for (QDialog* found : page.findChildren<QDialog*>())
            if (found->isVisible())
                dialog = found;
        if (!dialog)
            return false;
        dialog->findChild<QDoubleSpinBox*>()->setValue(-0.5);
        dialog->accept();
        // The finished dialog goes, as the event loop would delete it.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    const qint64 peak = Bench::peakResidentBytes() - before;
    const qint64 decoded = 3 * Frames * qint64(sizeof(float));
    std::printf("editor page: history after ten gain steps: %d kept, budget %lld MB\n",
                page.undoStack->count(), Budget >> 20);
    // Goal: the lists, the budget and one passing copy, with a little slack.
    const double goal = (2.0 * decoded + Budget) / decoded * 1.1;
    return Bench::reportMemory(QStringLiteral("page peak, ten gain steps on a 1-hour stereo file"),
                               peak, decoded, QStringLiteral("decoded stereo and mono lists"),
                               goal);
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The page's per-step timing lines would swamp the report.
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const QString wav = QDir(Bench::workDir()).filePath(QStringLiteral("editor-page-10min.wav"));
    const QString mp3 = QDir(Bench::workDir()).filePath(QStringLiteral("editor-page-10min.mp3"));
    if (!makeInputs(wav, mp3)) {
        std::printf("editor page: cannot make the input files (sox, lame)\n");
        return 1;
    }

    bool ok = benchMemory(wav);
    ok = benchHistory() && ok;
    {
        AudioEditorPage page;
        page.resize(1600, 900);
        page.show();
        ok = benchFile(page, wav, QStringLiteral("WAV")) && ok;
        ok = benchFile(page, mp3, QStringLiteral("MP3")) && ok;
    }
    return ok ? 0 : 1;
}
