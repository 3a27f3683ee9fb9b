// Single-track page: loading a 10-minute stereo file into the page (decode,
// the page's lists, all four views given the audio and the shown view
// painted) against decoding the same file alone, in the same run; for a WAV
// and an MP3 file. Then the page's peak memory with that file shown in each
// of its three views (waveform, spectrogram, both) against the decoded lists
// it holds (the stereo list and its mono mix).

#include "BenchSupport.h"
#include "audio/AudioProcessor.h"
#include "editor/AudioEditorPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
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

} // namespace

int main(int argc, char** argv)
{
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
    {
        AudioEditorPage page;
        page.resize(1600, 900);
        page.show();
        ok = benchFile(page, wav, QStringLiteral("WAV")) && ok;
        ok = benchFile(page, mp3, QStringLiteral("MP3")) && ok;
    }
    return ok ? 0 : 1;
}
