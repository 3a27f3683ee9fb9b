// The video import and SoundFont commands without the menus: where the sound
// and the preview go, what replaces what on a second import, what each
// failure shows, and that a SoundFont that does not load leaves the loaded
// one in place.

#include "app/SoundFontLoadCommand.h"
#include "app/VideoImportCommand.h"
#include "editor/AudioEditorPage.h"
#include "engine/instruments/SF2Sampler.h"
#include "video/VideoDecodeThread.h"
#include "video/VideoDemuxer.h"
#include "video/VideoPlayerDialog.h"

#include "TestSupport.h"
#include "VideoTestMedia.h"

#include <QPointer>
#include <QtTest/QtTest>

using namespace VideoTestMedia;

namespace {

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

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
        QVERIFY(make(path("first.mkv"), pattern("320x240", 1) + stereoTone(1)
                                            + QStringList{"-c:v", "mpeg4", "-c:a", "flac"}));
        QVERIFY(make(path("second.mkv"), pattern("160x120", 1) + stereoTone(0.5)
                                             + QStringList{"-c:v", "mpeg4", "-c:a", "flac"}));
        QVERIFY(make(path("sound.mp4"), stereoTone(1) + QStringList{"-c:a", "aac"}));
        QVERIFY(make(path("silent.mp4"), pattern("160x120", 1) + QStringList{"-c:v", "mpeg4"}));
        QVERIFY(writeFile(path("broken.mov"), QByteArray(5000, '\x11')));
    }

    void importsSoundAndHandsThePreviewOver()
    {
        QWidget window;
        AudioEditorPage page(&window);
        Shown shown;
        auto* command = new VideoImportCommand(&window, shown.feedback());
        QList<VideoPlayerDialog*> handed;
        VideoImportTarget target = VideoImportTarget::audioEditor(&page);
        const auto toPage = target.attachPreview;
        target.attachPreview = [&](VideoPlayerDialog* dialog) {
            handed << dialog;
            toPage(dialog);
        };

        QVERIFY(command->importFile(path("first.mkv"), target));
        QCOMPARE(shown.lines, (QStringList{"loading 导入视频...",
                                           "status 已导入视频音频: first.mkv (3000)", "hidden"}));
        QCOMPARE(page.sampleRate, 44100);
        QCOMPARE(page.stereoSamples.size(), 2 * 44100);
        QCOMPARE(page.samples.size(), 44100);
        QPointer<VideoPlayerDialog> first = command->preview();
        QPointer<VideoDemuxer> firstDemuxer = command->demuxer();
        QPointer<VideoDecodeThread> firstThread = first->decodeThread();
        QCOMPARE(handed, QList<VideoPlayerDialog*>{first});
        QVERIFY(first->isVisible());
        QCOMPARE(first->parentWidget(), &window);

        // A second import removes the first preview, its thread and its demuxer.
        QVERIFY(command->importFile(path("second.mkv"), target));
        QVERIFY(first.isNull() && firstThread.isNull() && firstDemuxer.isNull());
        QCOMPARE(page.samples.size(), 22050);
        QCOMPARE(handed.size(), 2);
        QCOMPARE(command->preview()->size(), QSize(160, 120));

        // A preview the user closed is gone by the next import.
        QPointer<VideoPlayerDialog> second = command->preview();
        second->close();
        QTRY_VERIFY(second.isNull());
        QVERIFY(command->importFile(path("first.mkv"), target));
        QCOMPARE(handed.size(), 3);

        // Sound without a picture: imported, no preview.
        QVERIFY(command->importFile(path("sound.mp4"), target));
        QVERIFY(!command->preview());
        QCOMPARE(handed.size(), 3);
        QVERIFY(command->demuxer());

        // The window's destruction removes the preview before the demuxer.
        QVERIFY(command->importFile(path("first.mkv"), target));
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
        target.placeAudio = [&](const QList<float>&, const QList<float>&, int, const QString&) { ++placed; };
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
        SoundFontLoadCommand command(shown.feedback(), [&](const QString& file) {
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
