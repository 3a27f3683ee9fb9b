// The preview window and its decode thread on videos of known colours: the
// picture follows the playhead (also for MPEG-TS, whose times start late),
// play seeks to the playhead, and the thread ends cleanly when the window
// closes, even while it decodes or while a read blocks.

#include "video/VideoDecodeThread.h"
#include "video/VideoDemuxer.h"
#include "video/VideoPlayerDialog.h"

#include "TestSupport.h"
#include "VideoTestMedia.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QtTest/QtTest>

#include <atomic>
#include <limits>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace VideoTestMedia;

namespace {

char shownColour(VideoPlayerDialog& dialog)
{
    return centreColour(dialog.grab().toImage());
}

std::atomic<bool> stopDeadlineWarned{false};
QtMessageHandler previousHandler = nullptr;

void watchForStopDeadline(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("[VideoDecodeThread] still busy")))
        stopDeadlineWarned = true;
    previousHandler(type, context, text);
}

} // namespace

class TestVideoPlayerDialog : public QObject, public MediaFolder {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(mediaReady(), "a temporary folder and ffmpeg make the test videos");
        QVERIFY(makeColourFiles(dir.path()));
        QVERIFY(make(path("pattern.mkv"), pattern("320x240", 1) + QStringList{"-c:v", "mpeg4", "-q:v", "2"}));
        QVERIFY(make(path("hd.mkv"), pattern("1920x1080", 2) + QStringList{"-c:v", "mpeg4"}));
    }

    void fitsTheWindowToTheVideo_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("1920x1080 scaled down") << "hd.mkv" << QSize(640, 360);
        QTest::newRow("320x240 kept") << "pattern.mkv" << QSize(320, 240);
        QTest::newRow("no picture") << QString() << QSize(640, 480);
    }

    void fitsTheWindowToTheVideo()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        VideoDemuxer demuxer;
        QVERIFY(file.isEmpty() || demuxer.open(path(file)));
        VideoPlayerDialog dialog(&demuxer, nullptr);
        QCOMPARE(dialog.size(), size);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("视频预览"));
        QVERIFY(dialog.testAttribute(Qt::WA_DeleteOnClose));
        const QImage shown = dialog.grab().toImage();
        if (file.isEmpty()) {
            // Black with the white "no picture" text in the middle.
            QCOMPARE(shown.pixel(2, 2), qRgb(0, 0, 0));
            int light = 0;
            for (int x = 0; x < shown.width(); ++x)
                light += qGray(shown.pixel(x, shown.height() / 2)) > 128;
            QVERIFY(light > 0);
        } else {
            // The first frame fills the window: the pattern's white corner is at its corner.
            QVERIFY(qGray(shown.pixel(size.width() - 3, 2)) > 200);
        }
    }

    void followsThePlayhead_data()
    {
        addColourFileRows();
    }

    void followsThePlayhead()
    {
        QFETCH(QString, file);
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path(file)));
        VideoPlayerDialog dialog(&demuxer, nullptr);
        VideoDecodeThread* thread = dialog.decodeThread();
        dialog.show();
        QCOMPARE(shownColour(dialog), 'r');

        dialog.syncPlay();
        dialog.syncPosition(1.5);
        QTRY_VERIFY(thread->latestFrameTime() >= 1.46);
        QVERIFY(thread->latestFrameTime() <= 1.505);
        dialog.syncPosition(1.56);
        QCOMPARE(shownColour(dialog), 'g');

        // Moving back while paused shows nothing new until play seeks there.
        dialog.syncPause();
        dialog.syncPosition(0.5);
        QCOMPARE(shownColour(dialog), 'g');
        dialog.syncPlay();
        QTRY_VERIFY(thread->latestFrameTime() < 1.0);
        QVERIFY(thread->latestFrameTime() >= 0.3);
        dialog.syncPosition(0.56);
        QCOMPARE(shownColour(dialog), 'r');

        // Positions closer than 0.04 s to the last one change nothing.
        dialog.syncPosition(2.5);
        QTRY_VERIFY(thread->latestFrameTime() >= 2.46);
        const QImage before = dialog.grab().toImage();
        dialog.syncPosition(2.53);
        QCOMPARE(dialog.grab().toImage(), before);
        dialog.syncPosition(2.6);
        QCOMPARE(shownColour(dialog), 'b');
    }

    void ignoresTimesThatAreNotFinite()
    {
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path("colours.mkv")));
        VideoPlayerDialog dialog(&demuxer, nullptr);
        VideoDecodeThread* thread = dialog.decodeThread();
        dialog.syncPlay();
        dialog.syncPosition(1.0);
        QTRY_VERIFY(thread->latestFrameTime() >= 0.96);
        // Neither the clock nor a seek moves; no frame past the clock is shown.
        for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
            thread->updatePlaybackTime(bad);
            thread->requestSeek(bad);
            dialog.syncPosition(bad);
            dialog.syncPlay();
        }
        QTest::qWait(300);
        QVERIFY2(thread->latestFrameTime() <= 1.005, qPrintable(QString::number(thread->latestFrameTime())));
        dialog.syncPosition(2.0);
        QTRY_VERIFY(thread->latestFrameTime() >= 1.96);
        QCOMPARE(dialog.syncedPosition(), 2.0);
    }

    void showsADecodedFrame()
    {
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path("pattern.mkv")));
        VideoPlayerDialog dialog(&demuxer, nullptr);
        dialog.show();
        dialog.syncPlay();
        dialog.syncPosition(0.5);
        QTRY_VERIFY(dialog.decodeThread()->latestFrameTime() >= 0.46);
        dialog.syncPosition(0.55);
        QVERIFY(TestSupport::saveScreenshot(dialog.grab(), "video-preview.png"));
    }

    void closingStopsTheThreadWhileItDecodes()
    {
        auto* demuxer = new VideoDemuxer;
        QVERIFY(demuxer->open(path("hd.mkv")));
        QPointer<VideoPlayerDialog> dialog = new VideoPlayerDialog(demuxer, nullptr);
        QPointer<VideoDecodeThread> thread = dialog->decodeThread();
        dialog->show();
        // Every frame is due at once: the thread decodes without pause.
        dialog->syncPlay();
        dialog->syncPosition(100.0);
        QTRY_VERIFY(thread->latestFrameTime() > 0.0);
        QVERIFY(thread->isRunning());
        QElapsedTimer clock;
        clock.start();
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(thread.isNull());
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        delete demuxer;
    }

    void waitsForABlockedReadPastTheDeadline()
    {
        // A pipe that stays open after its data: the thread's read blocks.
        QVERIFY(make(path("long.ts"), pattern("160x120", 12) + QStringList{"-c:v", "mpeg2video"}));
        const QByteArray stream = readFile(path("long.ts"));
        const QByteArray pipePath = QFile::encodeName(path("pipe.ts"));
        QCOMPARE(::mkfifo(pipePath.constData(), 0600), 0);
        const int writer = ::open(pipePath.constData(), O_RDWR);
        QVERIFY(writer >= 0);
        std::thread feeder([&] {
            for (qsizetype done = 0; done < stream.size();) {
                const ssize_t n = ::write(writer, stream.constData() + done, size_t(stream.size() - done));
                if (n <= 0)
                    break;
                done += n;
            }
        });
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path("pipe.ts")));
        auto* dialog = new VideoPlayerDialog(&demuxer, nullptr);
        VideoDecodeThread* thread = dialog->decodeThread();
        dialog->syncPosition(1000.0);
        feeder.join();
        QTRY_VERIFY_WITH_TIMEOUT(thread->latestFrameTime() >= 11.0, 20000);
        // The frames near the end may still be on their way; only when no new
        // frame has come for a while is the thread waiting in its read.
        QElapsedTimer steady;
        steady.start();
        double lastSeen = thread->latestFrameTime();
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     const double now = thread->latestFrameTime();
                                     if (now != lastSeen) {
                                         lastSeen = now;
                                         steady.restart();
                                     }
                                     return steady.elapsed() >= 500;
                                 }()),
                                 20000);

        // Only once the window has given up waiting is the pipe closed.
        std::atomic<bool> destroyed{false};
        std::thread closer([&] {
            while (!stopDeadlineWarned && !destroyed)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(writer);
        });
        previousHandler = qInstallMessageHandler(watchForStopDeadline);
        QElapsedTimer clock;
        clock.start();
        delete dialog;
        const qint64 elapsed = clock.elapsed();
        destroyed = true;
        closer.join();
        qInstallMessageHandler(previousHandler);
        QVERIFY(stopDeadlineWarned);
        QVERIFY2(elapsed >= 3000, qPrintable(QString::number(elapsed)));
    }
};

QTEST_MAIN(TestVideoPlayerDialog)
#include "tst_VideoPlayerDialog.moc"
