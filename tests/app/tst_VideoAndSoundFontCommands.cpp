// The video import and SoundFont commands without the menus: where the sound
// and the preview go, what replaces what on a second import, what each
// failure shows, and that a SoundFont that does not load leaves the loaded
// one in place.

#include "app/MainWindow.h"
#include "app/SoundFontLoadCommand.h"
#include "app/VideoImportCommand.h"
#include "editor/AudioEditorPage.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "video/VideoDecodeThread.h"
#include "video/VideoDemuxer.h"
#include "video/VideoPlayerDialog.h"

#include "TestSupport.h"
#include "VideoTestMedia.h"

#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUndoStack>
#include <QtTest/QtTest>

using namespace VideoTestMedia;

namespace {

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

// Opens the window's pages and its video import to the test.
class VideoWindow : public MainWindow {
public:
    using MainWindow::audioEditorPage;
    using MainWindow::multiTrackPage;
    using MainWindow::stackedWidget;
    using MainWindow::videoImport;
};

// Everything a command showed, in order.
struct Shown {
    QStringList lines;

    CommandFeedback feedback()
    {
        CommandFeedback f;
        f.showLoading = [this](const QString& text) { lines << "loading " + text; };
        f.hideLoading = [this] { lines << "hidden"; };
        f.warn = [this](const QString& title, const QString& text) { lines << title + ": " + text; };
        f.showStatus = [this](const QString& text, int ms) {
            lines << QStringLiteral("status %1 (%2)").arg(text).arg(ms);
        };
        return f;
    }
};

} // namespace

class TestVideoAndSoundFontCommands : public QObject, public MediaFolder {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(mediaReady(), "a temporary folder and ffmpeg make the test videos");
        // The window's settings go to this run's folder.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QVERIFY(make(path("first.mkv"), pattern("320x240", 1) + stereoTone(1)
                                            + QStringList{"-c:v", "mpeg4", "-c:a", "flac"}));
        QVERIFY(make(path("second.mkv"), pattern("160x120", 1) + stereoTone(0.5)
                                             + QStringList{"-c:v", "mpeg4", "-c:a", "flac"}));
        QVERIFY(make(path("sound.mp4"), stereoTone(1) + QStringList{"-c:a", "aac"}));
        QVERIFY(make(path("silent.mp4"), pattern("160x120", 1) + QStringList{"-c:v", "mpeg4"}));
        QVERIFY(writeFile(path("broken.mov"), QByteArray(5000, '\x11')));
    }

    void importsIntoThePageThatShows()
    {
        VideoWindow window;
        AudioEditorPage* editor = window.audioEditorPage;
        MultiTrackEditorPage* multiTrack = window.multiTrackPage;
        window.stackedWidget->setCurrentIndex(MainWindow::AudioEditorPageIndex);
        editor->undoStack->push(new QUndoCommand(QStringLiteral("an edit of earlier material")));
        window.importVideoFile(path("first.mkv"));
        // The new material starts a new history.
        QCOMPARE(editor->undoStack->count(), 0);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已导入视频音频: first.mkv"));
        QCOMPARE(editor->sampleRate, 44100);
        QCOMPARE(editor->stereoSamples.size(), 2 * 44100);
        QCOMPARE(editor->samples.size(), 44100);
        QVERIFY(multiTrack->tracks.empty());
        QPointer<VideoPlayerDialog> first = window.videoImport->preview();
        QPointer<VideoDemuxer> firstDemuxer = window.videoImport->demuxer();
        QPointer<VideoDecodeThread> firstThread = first->decodeThread();
        QVERIFY(first->isVisible());
        QCOMPARE(first->parentWidget(), &window);
        QCOMPARE(firstDemuxer->parent(), &window);
        // Both editors drive the preview.
        QVERIFY(QMetaObject::invokeMethod(editor, "onFastForwardClicked"));
        QCOMPARE(first->syncedPosition(), 1.0);
        multiTrack->syncPlayheadAll(0.5);
        QCOMPARE(first->syncedPosition(), 0.5);

        // A second import, on the multitrack page, removes the first preview,
        // its thread and its demuxer, and adds a track with its video button.
        window.stackedWidget->setCurrentIndex(MainWindow::MultiTrackPageIndex);
        window.importVideoFile(path("second.mkv"));
        QVERIFY(first.isNull() && firstThread.isNull() && firstDemuxer.isNull());
        QCOMPARE(multiTrack->tracks.size(), size_t(1));
        QCOMPARE(multiTrack->tracks[0].name, QStringLiteral("second"));
        QCOMPARE(multiTrack->tracks[0].audioClips.at(0).stereoSamples.size(), 2 * 22050);
        QCOMPARE(editor->samples.size(), 44100);
        QVERIFY(!multiTrack->rows[0]->header()->videoButton()->isHidden());
        QPointer<VideoPlayerDialog> second = window.videoImport->preview();
        QCOMPARE(second->size(), QSize(160, 120));

        // A preview the user closed is gone by the next import; sound without
        // a picture opens none and its track shows no video button.
        second->close();
        QTRY_VERIFY(second.isNull());
        window.importVideoFile(path("sound.mp4"));
        QVERIFY(!window.videoImport->preview());
        QCOMPARE(multiTrack->tracks.size(), size_t(2));
        QVERIFY(multiTrack->rows[1]->header()->videoButton()->isHidden());

        // The window goes with a preview open: the preview before its demuxer.
        window.importVideoFile(path("first.mkv"));
        QVERIFY(window.videoImport->preview());
    }

    // A picture too large to preview still gives its sound, and says why.
    void importsTheSoundOfAPictureTooLargeWithoutPreview()
    {
        QVERIFY(make(path("huge.mp4"),
                     QStringList{"-f", "lavfi", "-i", "color=c=red:s=8200x4400:r=5:d=0.4"} + stereoTone(0.4)
                         + QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}));
        QWidget window;
        Shown shown;
        VideoImportCommand command(&window, shown.feedback());
        qsizetype placedValues = 0;
        VideoImportTarget target;
        target.placeAudio = [&](const QList<float>&, const QList<float>& stereo, int, const QString&) {
            placedValues = stereo.size();
            return QString();
        };
        target.attachPreview = [](VideoPlayerDialog*) { QFAIL("no preview for this picture"); };
        QVERIFY(command.importFile(path("huge.mp4"), target));
        QVERIFY(placedValues >= 2 * 17640);
        QVERIFY(!command.preview());
        QCOMPARE(shown.lines, (QStringList{"loading 导入视频...",
                                           "status 已导入视频音频: huge.mp4（画面过大，不打开预览） (5000)",
                                           "hidden"}));
    }

    // Sound at 1 Hz that would be resampled to hundreds of gigabytes is refused.
    void soundTooLargeToResampleIsRefused()
    {
        QVERIFY(make(path("slow.mkv"), pattern("160x120", 0.4) + QStringList{"-f", "lavfi", "-i",
                "aevalsrc=exprs=0.25:s=1:d=2000000", "-c:v", "mpeg4", "-c:a", "flac"}));
        QWidget window;
        Shown shown;
        VideoImportCommand command(&window, shown.feedback());
        AudioEditorPage editor;
        MultiTrackEditorPage multiTrack;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: bringing"));
        QVERIFY(!command.importFile(path("slow.mkv"), VideoImportTarget::forPages(&editor, &multiTrack, true)));
        QVERIFY(multiTrack.tracks.empty() && !command.preview());
        QCOMPARE(shown.lines.filter(QRegularExpression("^导入失败: 导入需要约 .* GB 内存，.*无法导入。$")).size(), 1);
    }

    void failuresChangeNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("no sound") << "silent.mp4" << "导入失败: 该视频文件没有音频轨道";
        QTest::newRow("not a video") << "broken.mov" << "视频导入失败: 无法打开文件: ";
        QTest::newRow("missing") << "missing.mp4" << "视频导入失败: 无法打开文件: ";
    }

    void failuresChangeNothing()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QWidget window;
        Shown shown;
        VideoImportCommand command(&window, shown.feedback());
        int placed = 0;
        int previews = 0;
        VideoImportTarget target;
        target.placeAudio = [&](const QList<float>&, const QList<float>&, int, const QString&) {
            ++placed;
            return QString();
        };
        target.attachPreview = [&](VideoPlayerDialog*) { ++previews; };
        QVERIFY(command.importFile(path("first.mkv"), target));
        QPointer<VideoPlayerDialog> earlier = command.preview();

        shown.lines.clear();
        QVERIFY(!command.importFile(path(file), target));
        QCOMPARE(shown.lines.size(), 3);
        QCOMPARE(shown.lines.first(), QStringLiteral("loading 导入视频..."));
        QCOMPARE(shown.lines.count("hidden"), 1);
        QVERIFY2(shown.lines.filter(message).size() == 1, qPrintable(shown.lines.join(" | ")));
        QCOMPARE(placed, 1);
        QCOMPARE(previews, 1);
        QVERIFY(earlier.isNull());
        QVERIFY(!command.demuxer() && !command.preview());
    }

    void soundFontThatDoesNotLoadKeepsTheLoadedOne()
    {
        QVERIFY2(QFile::exists(kFont), "the test SoundFont comes with timgm6mb-soundfont");
        const QByteArray font = readFile(kFont);
        QVERIFY(writeFile(path("cut.sf2"), font.left(200000)));
        QVERIFY(writeFile(path("noise.sf2"), QByteArray(4096, 'x')));
        SF2Sampler sampler;
        Shown shown;
        int installs = 0;
        SoundFontLoadCommand command(shown.feedback(), [&](const QString& file, QString&) {
            ++installs;
            return sampler.loadSoundFont(file);
        }, nullptr);

        QVERIFY(command.load(kFont));
        QCOMPARE(shown.lines, (QStringList{"loading 加载音色库...", "hidden",
                                           "status 已加载音色库: TimGM6mb.sf2 (5000)"}));
        const QStringList presets = sampler.getPresetNames();
        QVERIFY(!presets.isEmpty());

        for (const QString& bad : {path("cut.sf2"), path("noise.sf2"), path("missing.sf2")}) {
            shown.lines.clear();
            QVERIFY(!command.load(bad));
            QCOMPARE(shown.lines, (QStringList{"loading 加载音色库...", "hidden",
                                               "加载失败: 无法加载音色库文件:\n" + bad}));
            QVERIFY(sampler.isLoaded());
            QCOMPARE(sampler.soundFontPath(), kFont);
            QCOMPARE(sampler.getPresetNames(), presets);
        }
        QCOMPARE(installs, 1);
        shown.lines.clear();
        QVERIFY(!command.load(QString()));
        QVERIFY(shown.lines.isEmpty());
    }
};

QTEST_MAIN(TestVideoAndSoundFontCommands)
#include "tst_VideoAndSoundFontCommands.moc"
