// The File menu's imports and exports: where imported audio goes, what each
// export writes, MIDI timing on import, and the failures a user sees.

#include "app/AudioExport.h"
#include "app/MainWindow.h"
#include "app/MidiImport.h"
#include "app/ProjectDocument.h"
#include "app/StartUp.h"
#include "app/ShellPrompts.h"
#include "app/VideoFiles.h"
#include "audio/AudioProcessor.h"
#include "audio/codecs/SampleConversion.h"
#include "editor/AudioEditorPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "project/SampleListCommands.h"
#include "widgets/LoadingOverlay.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "VideoTestMedia.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

using ProbeWindow = ShellProbeWindow;

struct Decoded {
    bool ok = false;
    QList<float> mono;
    QList<float> stereo;
    int rate = 0;
};

Decoded decode(const QString& path)
{
    AudioProcessor processor;
    Decoded out;
    out.ok = processor.loadAudioFile(path);
    out.mono = processor.samples;
    out.stereo = processor.stereoSamples;
    out.rate = processor.sampleRate;
    return out;
}

// A stereo ramp whose channels differ, so that a mix is told from either side.
QList<float> stereoRamp(int frames)
{
    QList<float> list;
    for (int i = 0; i < frames; ++i)
        list << float(i % 200) / 400.0f << -float(i % 50) / 100.0f;
    return list;
}

// `frames` of stereoRamp as a 16-bit stereo WAV at `rate`; the path, or empty
// when it could not be written.
QString writeRampWav(const QString& path, int frames, int rate)
{
    AudioProcessor writer;
    return writer.saveAudioFile(path, stereoRamp(frames), rate, 2, 16) ? path : QString();
}

// A one-track Standard MIDI File at `bpm`, 96 ticks a beat: middle C from
// beat 1 for half a beat.
QString writeMidiFile(const QString& path, double bpm)
{
    const quint32 micros = quint32(60000000.0 / bpm);
    QByteArray track = QByteArray::fromHex("00ff5103");
    track += char(micros >> 16);
    track += char(micros >> 8);
    track += char(micros);
    track += QByteArray::fromHex("6090" "3c64" "3080" "3c00" "00ff2f00");
    QByteArray file = QByteArray::fromHex("4d546864" "00000006" "0000" "0001" "0060" "4d54726b");
    const quint32 size = quint32(track.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file += char(size >> shift);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file + track) != file.size() + track.size())
        return {};
    return path;
}

// A format-1 file of `count` tracks at 120 BPM, each with one note.
QString writeManyTrackMidiFile(const QString& path, int count)
{
    QByteArray file = QByteArray::fromHex("4d546864" "00000006" "0001") + char(count >> 8) + char(count);
    file += QByteArray::fromHex("0060");
    for (int i = 0; i < count; ++i)
        file += QByteArray::fromHex("4d54726b" "0000000c" "00903c64" "30803c00" "00ff2f00");
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size() ? path : QString();
}

// Gain of `db` through the single-track page's dialog with `press` ("预览" leaves it open).
void gainThroughDialog(AudioEditorPage* page, double db, const QString& press)
{
    page->showGainDialog();
    auto* dialog = page->findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly).last();
    dialog->findChild<QDoubleSpinBox*>()->setValue(db);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == press)
            button->click();
}

} // namespace

class ImportExportCommandsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;
    QTemporaryDir files;

private slots:
    void initTestCase()
    {
        QVERIFY(files.isValid());
        ShellTestSupport::prepareApplication(settingsDir, false);
    }

    // Audio goes to the single-track page whichever page shows, without
    // switching pages; a file that cannot be read says why.
    void importAudio()
    {
        const QString wav = writeRampWav(files.filePath(QStringLiteral("tone.wav")), 2205, 22050);
        QVERIFY(!wav.isEmpty());

        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.stackedWidget->setCurrentIndex(MainWindow::MixerPageIndex);
        window.prompts->files << wav;
        window.menuActions().importAudio->trigger();
        QCOMPARE(window.stackedWidget->currentIndex(), int(MainWindow::MixerPageIndex));
        const Decoded expected = decode(wav);
        QCOMPARE(window.audioEditorPage->stereoSamples, expected.stereo);
        QCOMPARE(window.audioEditorPage->samples, expected.mono);
        QCOMPARE(window.audioEditorPage->sampleRate, 22050);
        // The page took the file's rate: said.
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导入: tone.wav，项目采样率已设为 22050 Hz"));
        QCOMPARE(window.prompts->only(QStringLiteral("open")).title, QStringLiteral("导入音频/视频"));

        const QString bad = files.filePath(QStringLiteral("notes.txt"));
        window.prompts->files << bad;
        window.menuActions().importAudio->trigger();
        const auto failure = window.prompts->only(QStringLiteral("warning"));
        QCOMPARE(failure.title, QStringLiteral("导入失败"));
        QCOMPARE(failure.text, QStringLiteral("不支持的音频格式: txt"));
        QCOMPARE(window.audioEditorPage->stereoSamples, expected.stereo);

        // A video suffix in any case goes to the video import, not the audio reader.
        const QString video = files.filePath(QStringLiteral("clip.WEBM"));
        QFile junk(video);
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4000, '\x11')) == 4000);
        junk.close();
        window.prompts->files << video;
        window.menuActions().importAudio->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().title, QStringLiteral("视频导入失败"));
        QCOMPARE(window.audioEditorPage->stereoSamples, expected.stereo);
    }

    // A file that ends early imports what it holds, on either page, and says so.
    void importOfDamagedFileSaysSo()
    {
        const QString flac = files.filePath(QStringLiteral("cut.flac"));
        QVERIFY(AudioProcessor().saveAudioFile(flac, stereoRamp(44100 * 3), 44100, 2, 16));
        QFile file(flac);
        QVERIFY(file.resize(file.size() * 3 / 5));
        AudioProcessor direct;
        QVERIFY(direct.loadAudioFile(flac));
        QVERIFY(direct.damageNote().startsWith(QStringLiteral("文件不完整，已恢复 1.")));
        for (const char* kind : {"single", "multi"}) {
            ProbeWindow window;
            window.openNewProject(QString::fromLatin1(kind), 44100, 16, false);
            window.prompts->files << flac;
            window.menuActions().importAudio->trigger();
            QCOMPARE(window.statusBar()->currentMessage(), "已导入: cut.flac（" + direct.damageNote() + "）");
            const auto told = window.prompts->only(QStringLiteral("information"));
            QCOMPARE(told.title, QStringLiteral("导入"));
            QCOMPARE(told.text, "已导入: cut.flac\n" + direct.damageNote());
            QCOMPARE(window.multiTrackPage->tracks.size(), size_t(kind == QByteArray("multi") ? 1 : 0));
        }
    }

    // Imported audio replaces the page's material and its history: undoing
    // an edit of the earlier material must not cut into the new one.
    void importStartsANewHistory()
    {
        const QString wav = writeRampWav(files.filePath(QStringLiteral("new.wav")), 3000, 44100);
        QVERIFY(!wav.isEmpty());
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        AudioEditorPage* page = window.audioEditorPage;
        page->loadStereoAudioSamples(stereoRamp(2000), 44100);
        page->undoStack->push(new DeleteSelectionCommand(&page->samples, 100, 200, QStringLiteral("删除选区"),
                                                         &page->stereoSamples));
        window.prompts->files << wav;
        window.prompts->answers << QMessageBox::Discard; // the edit is given up
        window.menuActions().importAudio->trigger();
        page->undoStack->undo();
        const Decoded expected = decode(wav);
        QCOMPARE(page->samples, expected.mono);
        QCOMPARE(page->stereoSamples, expected.stereo);
        QCOMPARE(page->undoStack->count(), 0);
    }

    // New material replaces edits not saved only as the user says (the close
    // question's choices), audio and video alike; Undo follows the history; a
    // preview is neither saved nor exported.
    void importAsksBeforeReplacingEdits()
    {
        const QString first = writeRampWav(files.filePath(QStringLiteral("first.wav")), 3000, 44100);
        const QString video = files.filePath(QStringLiteral("sound.mkv"));
        QVERIFY(VideoTestMedia::make(video, VideoTestMedia::stereoTone(1) + QStringList{"-c:a", "flac"}));
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        AudioEditorPage* page = window.audioEditorPage;
        const auto importFirst = [&] {
            window.prompts->files << first;
            window.menuActions().importAudio->trigger();
        };
        importFirst(); // nothing edited: nothing asked
        gainThroughDialog(page, 6.0, QStringLiteral("应用"));
        QVERIFY(window.menuActions().undo->isEnabled());
        const QList<float> edited = page->stereoSamples;
        gainThroughDialog(page, 12.0, QStringLiteral("预览"));
        window.prompts->answers << QMessageBox::Cancel << QMessageBox::Save;
        importFirst();
        const QString project = files.filePath(QStringLiteral("edited.cdw"));
        window.prompts->files << project;
        window.importVideoFile(video);
        ProjectData saved;
        QVERIFY(ProjectDocument::load(project, saved).isEmpty());
        QCOMPARE(saved.tracks.at(0).audioClips.at(0).stereoSamples, edited);
        QVERIFY(!window.menuActions().undo->isEnabled());
        gainThroughDialog(page, 12.0, QStringLiteral("预览"));
        window.prompts->files << files.filePath(QStringLiteral("edited.wav"));
        window.menuActions().exportWav->trigger();
        QVERIFY(std::abs(decode(files.filePath(QStringLiteral("edited.wav"))).stereo.value(200)
                         - page->stereoSamples[200]) < 1e-4f);
        gainThroughDialog(page, 6.0, QStringLiteral("应用"));
        window.menuActions().saveProject->trigger();
        importFirst(); // saved: nothing asked
        gainThroughDialog(page, 6.0, QStringLiteral("应用"));
        window.prompts->answers << QMessageBox::Discard;
        importFirst();
        QCOMPARE(page->samples, decode(first).mono);
        QCOMPARE(window.prompts->boxes(QStringLiteral("question")).size(), 3);
    }

    // An import would replace the material a take is recorded into: it is
    // refused with a message; the take runs on and lands undoably.
    void importDuringATakeIsRefused()
    {
        CDW_REQUIRE_PULSE();
        const QString wav = writeRampWav(files.filePath(QStringLiteral("during-take.wav")), 3000, 22050);
        QVERIFY(!wav.isEmpty());
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        AudioEditorPage* page = window.audioEditorPage;
        page->loadStereoAudioSamples(stereoRamp(2000), 44100);
        page->startRecording();
        QVERIFY(page->recording());
        QTRY_VERIFY_WITH_TIMEOUT(page->recordedFrames() > 0, 10000);
        window.prompts->files << wav;
        window.menuActions().importAudio->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text,
                 QStringLiteral("录音中无法导入音频，请先停止录音"));
        QVERIFY(page->recording());
        page->stopRecording();
        QCOMPARE(page->undoStack->count(), 1);
        page->undoStack->undo();
        QCOMPARE(page->stereoSamples, stereoRamp(2000));
    }

    void videoSuffixes()
    {
        for (const char* name : {"a.mp4", "b.MKV", "c.Avi", "d.mov", "e.flv", "f.ts", "g.WEBM"})
            QVERIFY2(VideoFiles::isVideoFile(QString::fromLatin1(name)), name);
        for (const char* name : {"a.wav", "b.mp3", "mp4", "c.mp4.wav", "d.tsx"})
            QVERIFY2(!VideoFiles::isVideoFile(QString::fromLatin1(name)), name);
    }

    // Single-track exports: stereo to WAV and FLAC unless the page was made
    // mono, MP3 from the mono list; each file has the material's length.
    void exportSingleTrack()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text,
                 QStringLiteral("没有可导出的音频数据"));
        QVERIFY(window.prompts->boxes(QStringLiteral("save")).isEmpty());

        const QList<float> stereo = stereoRamp(4410);
        window.audioEditorPage->loadStereoAudioSamples(stereo, 44100);
        window.audioEditorPage->bitDepth = 24;
        const QString wav = files.filePath(QStringLiteral("out.wav"));
        window.prompts->files << wav;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导出: out.wav"));
        Decoded written = decode(wav);
        QVERIFY(written.ok);
        QCOMPARE(written.stereo.size(), stereo.size());
        for (int i = 0; i < stereo.size(); ++i)
            QVERIFY(std::abs(written.stereo[i] - stereo[i]) < 1e-6f);

        window.audioEditorPage->forceMono = 1;
        const QString flac = files.filePath(QStringLiteral("mono.flac"));
        window.prompts->files << flac;
        window.menuActions().exportFlac->trigger();
        written = decode(flac);
        QVERIFY(written.stereo.isEmpty());
        QCOMPARE(written.mono.size(), window.audioEditorPage->samples.size());

        const QString mp3 = files.filePath(QStringLiteral("out.mp3"));
        window.prompts->files << mp3;
        window.menuActions().exportMp3->trigger();
        written = decode(mp3);
        QVERIFY(written.ok);
        QCOMPARE(written.mono.size(), 4410);

        const QString unwritable = files.filePath(QStringLiteral("missing/out.wav"));
        window.prompts->files << unwritable;
        window.menuActions().exportWav->trigger();
        const auto failure = window.prompts->only(QStringLiteral("warning"));
        QCOMPARE(failure.title, QStringLiteral("导出失败"));
        QCOMPARE(failure.text, QStringLiteral("无法创建文件: %1").arg(unwritable));

        // Onto a full disk the old file stays, and the warning says why.
        TestSupport::SmallDisk disk(8 * 1024);
        if (disk.path().isEmpty())
            QSKIP("a full disk needs a small tmpfs, which only root may mount");
        const QString full = writeRampWav(disk.path() + QStringLiteral("/full.wav"), 441, 44100);
        const QByteArray before = TestSupport::fileBytes(full);
        window.prompts->files << full;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("无法写入文件: %1（磁盘空间不足）").arg(full));
        QVERIFY(!before.isEmpty() && TestSupport::fileBytes(full) == before);
        // Onto a read-only disk as well.
        QVERIFY(disk.makeReadOnly());
        window.prompts->files << full;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).last().text,
                 QStringLiteral("无法创建文件: %1（磁盘为只读）").arg(full));
    }

    // A name typed without a suffix, or with no audio suffix after its last
    // dot ("my song.v2"), gets the format's in the chooser, so the export is
    // written and the replace question names the real file.
    void exportNameWithoutSuffix()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.setPrompts(std::make_shared<ShellPrompts>());
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.audioEditorPage->loadStereoAudioSamples(stereoRamp(4410), 44100);
        QString typed = dir.filePath(QStringLiteral("gain6"));
        QStringList replaceQuestions;
        // The replace question is answered Yes, any other box OK.
        QTimer boxes;
        connect(&boxes, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                replaceQuestions << box->text();
                QAbstractButton* yes = box->button(QMessageBox::Yes);
                yes ? yes->click() : box->accept();
            }
        });
        boxes.start(20);
        const auto exportTyped = [&](QAction* command, const QString& written) {
            window.statusBar()->clearMessage();
            QTimer::singleShot(0, [&] {
                QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
                auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(typed);
                static_cast<QDialog*>(chooser)->accept();
            });
            command->trigger();
            QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导出: %1").arg(written));
            QVERIFY(decode(dir.filePath(written)).ok);
        };
        exportTyped(window.menuActions().exportWav, QStringLiteral("gain6.wav"));
        QVERIFY(replaceQuestions.isEmpty());
        exportTyped(window.menuActions().exportWav, QStringLiteral("gain6.wav"));
        // A name ending in a dot has no suffix either.
        typed = dir.filePath(QStringLiteral("gain6."));
        exportTyped(window.menuActions().exportWav, QStringLiteral("gain6.wav"));
        QCOMPARE(replaceQuestions.size(), 2);
        for (const QString& question : replaceQuestions)
            QVERIFY2(question.contains(QStringLiteral("gain6.wav")), qPrintable(question));
        typed = dir.filePath(QStringLiteral("my song.v2"));
        exportTyped(window.menuActions().exportFlac, QStringLiteral("my song.v2.flac"));
        // A known audio suffix still decides the format.
        typed = dir.filePath(QStringLiteral("gain6.WAV"));
        exportTyped(window.menuActions().exportFlac, QStringLiteral("gain6.WAV"));
    }

    // A long export writes on a worker: the overlay turns meanwhile.
    void exportKeepsTheOverlayTurning()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.audioEditorPage->loadAudioSamples(TestSupport::sineWave(440, 120.0, 44100), 44100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSet<int> angles;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (window.loadingOverlay->isVisible())
                angles << window.loadingOverlay->angle();
        });
        watch.start(10);
        const QString mp3 = files.filePath(QStringLiteral("long.mp3"));
        window.prompts->files << mp3;
        window.menuActions().exportMp3->trigger();
        watch.stop();
        QVERIFY2(angles.size() >= 2, qPrintable(QString::number(angles.size())));
        QCOMPARE(decode(mp3).mono.size(), 120 * 44100);
    }

    // One-channel exports of a stereo mixdown are its mix, not its
    // interleaved values read as mono.
    void mixdownChannels()
    {
        const QList<float> mixdown = {0.2f, 0.4f, -1.0f, 0.0f, 0.5f, 0.5f};
        const QList<float> mixed = {0.3f, -0.5f, 0.5f};
        using AudioExport::Format;
        const auto mp3 = AudioExport::fromMixdown(Format::Mp3, mixdown, 24, false);
        QCOMPARE(mp3.data, mixed);
        QCOMPARE(mp3.channels, 1);
        QCOMPARE(mp3.bits, 16);
        const auto monoWav = AudioExport::fromMixdown(Format::Wav, mixdown, 24, true);
        QCOMPARE(monoWav.data, mixed);
        QCOMPARE(monoWav.bits, 24);
        const auto flac = AudioExport::fromMixdown(Format::Flac, mixdown, 16, false);
        QCOMPARE(flac.data, mixdown);
        QCOMPARE(flac.channels, 2);

        // A mixdown handed over is mixed in its own memory, not copied.
        for (const bool monoProject : {false, true}) {
            QList<float> handed = mixdown;
            handed.detach();
            const float* memory = handed.constData();
            const auto request = AudioExport::fromMixdown(monoProject ? Format::Wav : Format::Mp3,
                                                          std::move(handed), 24, monoProject);
            QCOMPARE(request.data, mixed);
            QCOMPARE(request.data.constData(), memory);
        }
    }

    // Times at the file's tempo become times on the 120 BPM source axis.
    void midiTiming()
    {
        ImportedMidiTrack track;
        track.name = QStringLiteral("Lead");
        track.notes = {{60, 1.2, 0.6, 90}, {64, 0.0, 0.12, 100}};
        ImportedMidiTrack shortTrack;
        shortTrack.notes = {{70, 0.1, 0.1, 80}};
        const auto out = MidiImport::toSourceAxis({track, shortTrack}, 100.0, 120.0);
        QCOMPARE(out.size(), size_t(2));
        QCOMPARE(out[0].name, QStringLiteral("Lead"));
        QCOMPARE(out[0].notes[0].start, 1.0);
        QCOMPARE(out[0].notes[0].duration, 0.5);
        QCOMPARE(out[0].notes[0].velocity, 90);
        QCOMPARE(out[0].notes[1].duration, 0.1);
        QCOMPARE(out[0].clipLength, 1.5);
        QCOMPARE(out[1].clipLength, 0.5);
        QCOMPARE(MidiImport::toSourceAxis({track}, 0.0, 120.0)[0].notes[0].start, 1.2);
        QVERIFY(!MidiImport::tempoDiffers(120.1, 120.0));
        QVERIFY(MidiImport::tempoDiffers(119.8, 120.0));
    }

    // On the multitrack page audio becomes a new track named after the file.
    void importAudioAsTrack()
    {
        const QString wav = writeRampWav(files.filePath(QStringLiteral("drums.wav")), 4800, 48000);
        QVERIFY(!wav.isEmpty());
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 48000, 16, false);
        window.prompts->files << wav;
        window.menuActions().importAudio->trigger();
        MultiTrackEditorPage* page = window.multiTrackPage;
        QCOMPARE(page->tracks.size(), size_t(1));
        QCOMPARE(page->tracks[0].name, QStringLiteral("drums"));
        const Decoded expected = decode(wav);
        QCOMPARE(page->tracks[0].audioClips[0].stereoSamples, expected.stereo);
        QCOMPARE(page->tracks[0].audioClips[0].samples, expected.mono);
        QVERIFY(window.audioEditorPage->samples.isEmpty());

        // 2 000 000 samples at 1 Hz would come at 48 kHz as 357.6 GB: refused.
        const QString slow = files.filePath(QStringLiteral("slow.flac"));
        QVERIFY(AudioProcessor().saveAudioFile(slow, QList<float>(2000000, 0.25f), 1, 1, 16));
        window.prompts->files << slow;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: bringing"));
        window.menuActions().importAudio->trigger();
        const auto refusal = window.prompts->only(QStringLiteral("warning"));
        QCOMPARE(refusal.title + refusal.text,
                 QStringLiteral("导入失败导入需要约 357.6 GB 内存，超出了本机可用的内存，无法导入。"));
        QCOMPARE(page->tracks.size(), size_t(1));
    }

    // A new project's rate stays when the first import is at another: the
    // clip is brought to it. A rate nobody chose follows the import, said so.
    void firstImportKeepsTheChosenRate()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 48000, 16, false);
        window.prompts->files << writeRampWav(files.filePath(QStringLiteral("cd.wav")), 4410, 44100);
        window.menuActions().importAudio->trigger();
        QCOMPARE(window.multiTrackPage->sampleRate(), 48000);
        window.prompts->files << files.filePath(QStringLiteral("cd48.wav"));
        window.menuActions().exportWav->trigger();
        const Decoded exported = decode(files.filePath(QStringLiteral("cd48.wav")));
        QCOMPARE(exported.rate, 48000);
        QCOMPARE(exported.mono.size(), 4800);
        ProbeWindow unset;
        unset.stackedWidget->setCurrentWidget(unset.multiTrackPage);
        unset.menuActions().importAudio->setEnabled(true);
        unset.prompts->files << writeRampWav(files.filePath(QStringLiteral("dat.wav")), 4800, 48000);
        unset.menuActions().importAudio->trigger();
        QCOMPARE(unset.multiTrackPage->sampleRate(), 48000);
        QCOMPARE(unset.statusBar()->currentMessage(), QStringLiteral("已导入: dat.wav，项目采样率已设为 48000 Hz"));
    }

    // The mixdown of a 1 s clip at 0.5 s, as 16-bit WAV: 1.5 s of frames,
    // silence, then the clip at track volume 0.8 and the centre pan gain
    // 0.707 on both sides. MP3 and mono exports are its mix, at its length.
    void exportMixdown()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text,
                 QStringLiteral("没有可导出的音频数据"));

        QList<float> clip(44100);
        for (int i = 0; i < clip.size(); ++i)
            clip[i] = float(i % 441) / 441.0f - 0.5f;
        page->addTrack(TrackType::AudioTrack, clip, 44100, QStringLiteral("c"));
        page->tracks[0].audioClips[0].start = 0.5;
        const QString wav = files.filePath(QStringLiteral("mix.wav"));
        window.prompts->files << wav;
        window.menuActions().exportWav->trigger();
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导出: mix.wav"));
        const QByteArray bytes = TestSupport::fileBytes(wav);
        const int dataAt = bytes.indexOf("data") + 8;
        QVERIFY(dataAt > 8);
        QCOMPARE(bytes.size() - dataAt, 66150 * 2 * 2);
        const auto* pcm = reinterpret_cast<const qint16*>(bytes.constData() + dataAt);
        for (int frame = 0; frame < 66150; ++frame) {
            const float value = frame < 22050 ? 0.0f : clip[frame - 22050] * 0.8f * 0.707f;
            const qint32 expected = SampleConversion::toPcm16(value);
            if (pcm[2 * frame] != expected || pcm[2 * frame + 1] != expected)
                QFAIL(qPrintable(QStringLiteral("frame %1: %2 %3, expected %4")
                                     .arg(frame).arg(pcm[2 * frame]).arg(pcm[2 * frame + 1]).arg(expected)));
        }

        page->tracks[0].pan = 1.0f; // the right side only, so the mix is half of it
        const QString mp3 = files.filePath(QStringLiteral("mix.mp3"));
        window.prompts->files << mp3;
        window.menuActions().exportMp3->trigger();
        const Decoded decoded = decode(mp3);
        QVERIFY(decoded.ok);
        QCOMPARE(decoded.mono.size(), 66150);
        QVERIFY(decoded.stereo.isEmpty());

        page->mono = true;
        const QString flac = files.filePath(QStringLiteral("mono.flac"));
        window.prompts->files << flac;
        window.menuActions().exportFlac->trigger();
        const Decoded mono = decode(flac);
        QVERIFY(mono.stereo.isEmpty());
        QCOMPARE(mono.mono.size(), 66150);
        // (0 + right) / 2 at a frame of the clip.
        const float right = clip[1000] * 0.8f * 0.707f;
        QVERIFY(std::abs(mono.mono[22050 + 1000] - right / 2.0f) < 1e-4f);

        // A cancelled chooser writes nothing and leaves no overlay.
        window.menuActions().exportWav->trigger();
        QVERIFY(!window.loadingOverlay->isVisible());
        QCOMPARE(window.prompts->boxes(QStringLiteral("warning")).size(), 0);
    }

    // An export that leaves something out says so; one memory cannot hold
    // is refused with the reason, and nothing is written.
    void exportSaysWhatTheMixLeavesOut()
    {
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        window.multiTrackPage->addMidiTrack(QStringLiteral("m"), {MidiNote{60, 1.0, 1.0, 100}}, 1e12);
        const QString cut = files.filePath(QStringLiteral("cut.wav"));
        window.prompts->files << cut;
        window.menuActions().exportWav->trigger();
        const auto told = window.prompts->only(QStringLiteral("information"));
        QVERIFY2(told.text.startsWith(QStringLiteral("已导出: cut.wav\n")) && told.text.contains(QStringLiteral("24")),
                 qPrintable(told.text));
        QCOMPARE(decode(cut).mono.size(), 3 * 44100);

        // A day of 192 kHz stereo does not fit in memory here.
        ProbeWindow late;
        late.openNewProject(QStringLiteral("late"), 192000, 16, false);
        late.multiTrackPage->addTrack(TrackType::AudioTrack, QList<float>(9600, 0.5f), 192000,
                                      QStringLiteral("late"));
        late.multiTrackPage->tracks[0].audioClips[0].start = 23.5 * 3600.0;
        const QString refused = files.filePath(QStringLiteral("refused.wav"));
        late.prompts->files << refused;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: mixdown needs"));
        late.menuActions().exportWav->trigger();
        const auto refusal = late.prompts->only(QStringLiteral("information"));
        QVERIFY2(refusal.text.contains(QStringLiteral("内存")), qPrintable(refusal.text));
        QVERIFY(!QFile::exists(refused));
    }

    // Each imported file keeps its own timing: a second import at another
    // tempo does not re-time the first, and the tempo question names both.
    void midiImportKeepsEachFilesTiming()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;

        window.prompts->files << writeMidiFile(dir.filePath(QStringLiteral("a.mid")), 100.0);
        window.prompts->answers << QMessageBox::No;
        window.menuActions().importMidi->trigger();
        const auto question = window.prompts->only(QStringLiteral("question"));
        QCOMPARE(question.title, QStringLiteral("导入MIDI"));
        QCOMPARE(question.text, QStringLiteral("MIDI文件的 tempo 为 100.0 BPM，当前项目 tempo 为 120.0 BPM。\n"
                                               "是否将项目 tempo 设为 100.0 BPM？"));
        QCOMPARE(page->bpm, 120.0);
        QCOMPARE(page->midiSourceBpm, 120.0);
        // Beat 1 of the file (0.6 s at 100 BPM) is beat 1 of the 120 BPM axis.
        QCOMPARE(page->tracks[0].midiClips[0].notes[0].start, 0.5);
        QCOMPARE(page->tracks[0].midiClips[0].notes[0].duration, 0.25);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导入MIDI: a.mid (1条轨道)"));

        window.prompts->files << writeMidiFile(dir.filePath(QStringLiteral("b.mid")), 60.0);
        window.prompts->answers << QMessageBox::Yes;
        window.menuActions().importMidi->trigger();
        QCOMPARE(page->bpm, 60.0);
        QCOMPARE(page->bpmSpinBox->value(), 60.0);
        QCOMPARE(page->tracks.size(), size_t(2));
        QCOMPARE(page->tracks[0].midiClips[0].notes[0].start, 0.5);
        QCOMPARE(page->tracks[1].midiClips[0].notes[0].start, 0.5);
        // At 60 BPM both play their beat 1 one second in, where the second
        // file has it.
        QCOMPARE(page->tempoScaledTrack(page->tracks[1]).midiClips[0].notes[0].start, 1.0);
        QCOMPARE(page->tempoScaledTrack(page->tracks[0]).midiClips[0].notes[0].start, 1.0);

        // A tempo within 0.1 BPM asks nothing.
        window.prompts->files << writeMidiFile(dir.filePath(QStringLiteral("c.mid")), 60.05);
        window.menuActions().importMidi->trigger();
        QCOMPARE(window.prompts->boxes(QStringLiteral("question")).size(), 2);
        QCOMPARE(page->tracks.size(), size_t(3));
    }

    // A file tempo the tempo box cannot hold is offered as the tempo the
    // project takes, and at that tempo the file plays at its own speed.
    void midiTempoBeyondTheBox()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        MultiTrackEditorPage* page = window.multiTrackPage;
        // Imports a file at `fileBpm`, answering Yes to a tempo question,
        // and gives where its beat 1 plays.
        const auto importAt = [&](double fileBpm) {
            window.prompts->files << writeMidiFile(dir.filePath(QString::number(fileBpm) + ".mid"), fileBpm);
            window.prompts->answers << QMessageBox::Yes;
            window.menuActions().importMidi->trigger();
            return page->tempoScaledTrack(page->tracks.back()).midiClips[0].notes[0];
        };
        const auto asked = [&] { return window.prompts->boxes(QStringLiteral("question")).last().text; };

        MidiNote played = importAt(400.0);
        QCOMPARE(asked(), QStringLiteral("MIDI文件的 tempo 为 400.0 BPM，当前项目 tempo 为 120.0 BPM。\n"
                                         "是否将项目 tempo 设为 300.0 BPM？"));
        QCOMPARE(page->bpm, 300.0);
        QVERIFY2(std::abs(played.start - 0.15) < 1e-6, qPrintable(QString::number(played.start)));
        QVERIFY(std::abs(played.duration - 0.075) < 1e-6);

        played = importAt(10.0);
        QVERIFY(asked().endsWith(QStringLiteral("是否将项目 tempo 设为 20.0 BPM？")));
        QCOMPARE(page->bpm, 20.0);
        QVERIFY2(std::abs(played.start - 6.0) < 1e-6, qPrintable(QString::number(played.start)));

        // The box holds a tenth of a BPM: the notes are converted for the
        // tempo it takes, not for the file's unrounded one.
        played = importAt(60000000.0 / 469000.0);
        QVERIFY(asked().endsWith(QStringLiteral("是否将项目 tempo 设为 127.9 BPM？")));
        QCOMPARE(page->bpm, 127.9);
        QVERIFY2(std::abs(played.start - 0.469) < 1e-6, qPrintable(QString::number(played.start, 'g', 10)));
        importAt(10.0);
        QCOMPARE(page->bpm, 20.0);

        // Already at the tempo it would take: no question, its own speed.
        window.prompts->answers.clear();
        played = importAt(5.0);
        QCOMPARE(window.prompts->boxes(QStringLiteral("question")).size(), 4);
        QVERIFY2(std::abs(played.start - 12.0) < 1e-6, qPrintable(QString::number(played.start)));
    }

    // A file of thousands of tracks adds the first ones only, and says so.
    void midiTrackCap()
    {
        QTemporaryDir dir;
        ProbeWindow window;
        window.openNewProject(QStringLiteral("multi"), 44100, 16, false);
        window.prompts->files << writeManyTrackMidiFile(dir.filePath(QStringLiteral("many.mid")), 2000);
        window.menuActions().importMidi->trigger();
        const int cap = MidiImport::MaximumTracksPerFile;
        QCOMPARE(window.multiTrackPage->tracks.size(), size_t(cap));
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text, QStringLiteral("MIDI文件有 2000 条轨道，一个文件最多导入 %1 条；只导入了前 %1 条。").arg(cap));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导入MIDI: many.mid (%1条轨道)").arg(cap));
    }

    // Outside the multitrack page a MIDI file is refused; an unreadable one
    // is named.
    void midiImportOutsideMultitrack()
    {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("broken.mid"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("MThd nothing");
        file.close();

        ProbeWindow window;
        window.openNewProject(QStringLiteral("single"), 44100, 16, false);
        window.prompts->files << bad;
        window.menuActions().importMidi->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("warning")).text,
                 QStringLiteral("无法解析MIDI文件: broken.mid"));

        window.prompts->files << writeMidiFile(dir.filePath(QStringLiteral("good.mid")), 100.0);
        window.menuActions().importMidi->trigger();
        const auto refusal = window.prompts->only(QStringLiteral("information"));
        QCOMPARE(refusal.title, QStringLiteral("导入MIDI"));
        QCOMPARE(refusal.text, QStringLiteral("请先创建多轨项目再导入MIDI文件"));
    }
};

QTEST_MAIN(ImportExportCommandsTest)
#include "tst_ImportExportCommands.moc"
