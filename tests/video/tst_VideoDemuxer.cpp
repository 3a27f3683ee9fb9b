// Opening videos, extracting their audio against ffmpeg's own decode of the
// same files, decoding frames at known colours and times, and surviving
// damaged or hostile files (run under the sanitizers).

#include "video/VideoDemuxer.h"
#include "video/VideoFrameConverter.h"

#include "TestSupport.h"
#include "VideoTestMedia.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QtTest/QtTest>

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

using namespace VideoTestMedia;

namespace {

QList<float> ffmpegAudio(const QString& path, int channels)
{
    QByteArray raw;
    if (!TestSupport::runCommand("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0:a",
                                            "-ac", QString::number(channels), "-f", "f32le", "-"},
                                 &raw))
        return {};
    QList<float> out(raw.size() / 4);
    std::memcpy(out.data(), raw.constData(), size_t(out.size()) * 4);
    return out;
}

// A frame of one colour: every byte of every plane set to `value`.
AVFrame* flatFrame(int format, int width, int height, uint8_t value)
{
    AVFrame* frame = av_frame_alloc();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0)
        return frame;
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane)
        std::memset(frame->buf[plane]->data, value, frame->buf[plane]->size);
    return frame;
}

bool sameBits(const QList<float>& a, const QList<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.constData(), b.constData(), size_t(a.size()) * 4) == 0;
}

QString lastError(const QSignalSpy& spy)
{
    return spy.isEmpty() ? QString() : spy.last().at(0).toString();
}

} // namespace

class TestVideoDemuxer : public QObject, public MediaFolder {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(mediaReady(), "a temporary folder and ffmpeg make the test videos");
        // Video first, so the audio is the second stream.
        const QStringList videoThenTone = pattern("320x240", 2) + stereoTone(2)
                                          + QStringList{"-map", "0:v", "-map", "1:a", "-c:v", "mpeg4"};
        QVERIFY(make(path("flac.mkv"), videoThenTone + QStringList{"-c:a", "flac"}));
        QVERIFY(make(path("pcm.mov"), videoThenTone + QStringList{"-c:a", "pcm_s16le"}));
        QVERIFY(make(path("aac.mp4"), videoThenTone + QStringList{"-c:a", "aac"}));
        QVERIFY(make(path("opus.mkv"), videoThenTone + QStringList{"-c:a", "libopus"}));
        // Times that begin at 5 s, and sound that begins half a second after the picture.
        QVERIFY(make(path("late-start.mp4"),
                     videoThenTone + QStringList{"-c:a", "aac", "-output_ts_offset", "5"}));
        QVERIFY(make(path("late-sound.mp4"),
                     pattern("320x240", 2) + QStringList{"-itsoffset", "0.5"} + stereoTone(1.5)
                         + QStringList{"-map", "0:v", "-map", "1:a", "-c:v", "mpeg4", "-c:a", "aac"}));
        // Copies cut inside a packet (edit lists, Opus pre-skip), and sound before the picture.
        QVERIFY(make(path("cut.mp4"), {"-ss", "0.51", "-i", path("aac.mp4"), "-c", "copy"}));
        QVERIFY(make(path("cut.mkv"), {"-ss", "0.51", "-i", path("opus.mkv"), "-c", "copy"}));
        QVERIFY(make(path("early-sound.ts"),
                     pattern("320x240", 2) + QStringList{"-itsoffset", "-0.3"} + stereoTone(2)
                         + QStringList{"-map", "0:v", "-map", "1:a", "-c:v", "mpeg2video", "-c:a", "mp2"}));
        QVERIFY(make(path("surround.mkv"),
                     pattern("160x120", 1)
                         + QStringList{"-f", "lavfi", "-i",
                                       "aevalsrc=exprs=0.1|0.2|0.3|0.4|0.5|0.6:s=48000:d=1:c=5.1",
                                       "-c:v", "mpeg4", "-c:a", "flac"}));
        QVERIFY(make(path("mono.mkv"), pattern("160x120", 1)
                                           + QStringList{"-f", "lavfi", "-i",
                                                         "sine=frequency=300:sample_rate=22050:duration=1",
                                                         "-c:v", "mpeg4", "-c:a", "pcm_s16le"}));
        QVERIFY(make(path("video-only.mp4"), pattern("160x120", 1) + QStringList{"-c:v", "mpeg4"}));
        QVERIFY(makeColourFiles(dir.path()));
    }

    void extractsAudioExactly_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("channels"); // of the source
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("duration"); // as the container gives it
        QTest::newRow("FLAC in Matroska") << "flac.mkv" << 2 << 44100 << 2.0 << 2.0;
        QTest::newRow("PCM in QuickTime") << "pcm.mov" << 2 << 44100 << 2.0 << 2.0;
        // The first AAC packet lies before the start (encoder priming).
        QTest::newRow("AAC in MP4") << "aac.mp4" << 2 << 44100 << 2.0 << 2.0;
        QTest::newRow("Opus in Matroska") << "opus.mkv" << 2 << 48000 << 2.0 << 2.0;
        QTest::newRow("times from 5 s") << "late-start.mp4" << 2 << 44100 << 2.0 << 7.0;
        QTest::newRow("sound half a second late") << "late-sound.mp4" << 2 << 44100 << 1.5 << 2.0;
        QTest::newRow("AAC in MP4 cut inside a packet") << "cut.mp4" << 2 << 44100 << 1.0 << 1.5;
        QTest::newRow("Opus in Matroska cut inside a packet") << "cut.mkv" << 2 << 48000 << 1.0 << 1.5;
        QTest::newRow("sound before the picture") << "early-sound.ts" << 2 << 44100 << 2.0 << 2.3;
        QTest::newRow("5.1 FLAC in Matroska") << "surround.mkv" << 6 << 48000 << 1.0 << 1.0;
        QTest::newRow("mono PCM in Matroska") << "mono.mkv" << 1 << 22050 << 1.0 << 1.0;
        QTest::newRow("mono FLAC in Matroska") << "colours.mkv" << 1 << 44100 << 3.0 << 3.0;
        QTest::newRow("MP2 in MPEG-TS") << "colours.ts" << 1 << 44100 << 3.0 << 3.0;
    }

    void extractsAudioExactly()
    {
        QFETCH(QString, file);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(double, duration);
        const int outChannels = channels == 1 ? 1 : 2;
        const QList<float> expected = ffmpegAudio(path(file), outChannels);
        QVERIFY(expected.size() >= qsizetype(seconds * rate) * outChannels);
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path(file)));
        QVERIFY(demuxer.hasVideo() && demuxer.hasAudio());
        QCOMPARE(demuxer.getAudioChannels(), channels);
        // Twice: the second extraction starts from wherever the first left the input.
        for (int pass = 0; pass < 2; ++pass) {
            QList<float> mono, stereo;
            int extractedRate = 0;
            QVERIFY(demuxer.extractAudio(mono, stereo, extractedRate));
            QCOMPARE(extractedRate, rate);
            const QList<float>& all = outChannels == 2 ? stereo : mono;
            QCOMPARE(all.size(), expected.size());
            QVERIFY2(sameBits(all, expected), qPrintable(QString::number(pass)));
            QCOMPARE(stereo.isEmpty(), outChannels == 1);
            if (outChannels == 1)
                continue;
            QCOMPARE(mono.size(), stereo.size() / 2);
            for (qsizetype i = 0; i < mono.size(); ++i)
                QCOMPARE(mono[i], (stereo[2 * i] + stereo[2 * i + 1]) * 0.5f);
            demuxer.decodeFrameAt(seconds / 2);
        }
        QVERIFY(std::abs(demuxer.getDuration() - duration) < 0.2);
    }

    void downmixesToTwoChannelsAndKeepsMonoAlone()
    {
        VideoDemuxer surround;
        QVERIFY(surround.open(path("surround.mkv")));
        QCOMPARE(surround.getAudioChannels(), 6);
        QList<float> mono, stereo;
        int rate = 0;
        QVERIFY(surround.extractAudio(mono, stereo, rate));
        QCOMPARE(rate, 48000);
        QCOMPARE(stereo.size(), 2 * 48000);
        QCOMPARE(mono.size(), 48000);
        // Left and right each gather their own side's channels, not silence.
        QVERIFY(stereo[1000] > 0.1f && stereo[1001] > 0.1f && stereo[1000] != stereo[1001]);

        VideoDemuxer single;
        QVERIFY(single.open(path("mono.mkv")));
        QVERIFY(single.extractAudio(mono, stereo, rate));
        QCOMPARE(rate, 22050);
        QVERIFY(stereo.isEmpty());
        QVERIFY(sameBits(mono, ffmpegAudio(path("mono.mkv"), 1)));
    }

    void reportsWhatCannotBeRead_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("contents"); // written first unless empty and "keep" is set
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("error");
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator generator(7);
        for (char& c : noise)
            c = char(generator.bounded(256));
        QTest::newRow("missing file") << "missing.mp4" << QByteArray() << false << "无法打开文件: ";
        QTest::newRow("empty file") << "empty.mp4" << QByteArray("") << false << "无法打开文件: ";
        QTest::newRow("random bytes") << "noise.mkv" << noise << false << "无法打开文件: ";
        QTest::newRow("video only") << "video-only.mp4" << QByteArray() << true << "没有音频流";
        // Playlists under a video suffix must not reach other files.
        QTest::newRow("concat list")
            << "list.mp4" << QByteArray("ffconcat version 1.0\nfile 'flac.mkv'\n") << false
            << "无法打开文件: ";
        QTest::newRow("hls playlist")
            << "playlist.ts"
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:3\n#EXTINF:3,\ncolours.ts\n#EXT-X-ENDLIST\n")
            << false << "无法打开文件: ";
    }

    void reportsWhatCannotBeRead()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(bool, opens);
        QFETCH(QString, error);
        if (!contents.isNull())
            QVERIFY(writeFile(path(file), contents));
        VideoDemuxer demuxer;
        QSignalSpy errors(&demuxer, &VideoDemuxer::errorOccurred);
        QList<float> mono{1.0f}, stereo;
        int rate = 0;
        const bool opened = demuxer.open(path(file));
        if (opened)
            QVERIFY(!demuxer.extractAudio(mono, stereo, rate));
        QCOMPARE(opened, opens);
        QVERIFY2(lastError(errors).startsWith(error), qPrintable(lastError(errors)));
        QVERIFY(!demuxer.hasAudio());
        QVERIFY(demuxer.decodeFrameAt(0.0).isNull() == !demuxer.hasVideo());
    }

    void decodesFramesTimedFromTheStreamStart_data()
    {
        addColourFileRows();
    }

    void decodesFramesTimedFromTheStreamStart()
    {
        QFETCH(QString, file);
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path(file)));
        QCOMPARE(demuxer.getVideoWidth(), 320);
        QCOMPARE(demuxer.getVideoHeight(), 240);
        const QImage first = demuxer.decodeFrameAt(0.0);
        QCOMPARE(first.size(), QSize(320, 240));
        QCOMPARE(centreColour(first), 'r');
        double pts = -1;
        QCOMPARE(centreColour(demuxer.decodeNextFrame(pts)), 'r');
        QVERIFY2(std::abs(pts - 0.04) < 0.005, qPrintable(QString::number(pts)));

        // A seek lands on the key frame at or before the time (one every 0.2 s).
        QCOMPARE(centreColour(demuxer.decodeFrameAt(1.5)), 'g');
        demuxer.seekTo(2.5);
        QCOMPARE(centreColour(demuxer.decodeNextFrame(pts)), 'b');
        QVERIFY2(pts > 2.25 && pts <= 2.5, qPrintable(QString::number(pts)));

        // Past the end: the frames still held come out, then nothing.
        int frames = 0;
        while (!demuxer.decodeNextFrame(pts).isNull())
            ++frames;
        QCOMPARE(pts, -1.0);
        QVERIFY2(frames >= 10, qPrintable(QString::number(frames)));
        QVERIFY(std::abs(demuxer.getDuration() - 3.0) < 0.2);
    }

    void keepsTheSoundOfAPictureTooLarge()
    {
        // Over the size limit, but an ordinary file: its sound still comes.
        QVERIFY(make(path("huge.mp4"),
                     QStringList{"-f", "lavfi", "-i", "color=c=red:s=8200x4400:r=5:d=0.4"}
                         + stereoTone(0.4)
                         + QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}));
        VideoDemuxer demuxer;
        QSignalSpy errors(&demuxer, &VideoDemuxer::errorOccurred);
        QVERIFY(demuxer.open(path("huge.mp4")));
        QVERIFY(errors.isEmpty());
        QVERIFY(demuxer.pictureTooLarge() && !demuxer.hasVideo());
        QList<float> mono, stereo;
        int rate = 0;
        QVERIFY(demuxer.extractAudio(mono, stereo, rate));
        QVERIFY(sameBits(stereo, ffmpegAudio(path("huge.mp4"), 2)));
    }

    void findsTheOnlyKeyFrameOfAShortTransportStream()
    {
        // Ten frames in one group: the single key frame is the first packet.
        QVERIFY(make(path("ten.ts"), QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=1",
                                                 "-c:v", "mpeg2video", "-g", "12"}));
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path("ten.ts")));
        QVERIFY(!demuxer.decodeFrameAt(0.0).isNull());
        double pts = -1;
        QVERIFY(!demuxer.decodeNextFrame(pts).isNull());
        QVERIFY2(std::abs(pts - 0.1) < 0.005, qPrintable(QString::number(pts)));
        QVERIFY(!demuxer.decodeFrameAt(0.55).isNull());
    }

    void survivesDamagedAndChangingStreams()
    {
        // Cut in the middle of the file.
        const QByteArray whole = readFile(path("colours.mkv"));
        QVERIFY(writeFile(path("cut.mkv"), whole.left(whole.size() * 6 / 10)));
        VideoDemuxer cut;
        QVERIFY(cut.open(path("cut.mkv")));
        QList<float> mono, stereo;
        int rate = 0;
        QVERIFY(cut.extractAudio(mono, stereo, rate));
        QVERIFY(mono.size() > 22050 && mono.size() < 3 * 44100);
        double pts = -1;
        int frames = cut.decodeFrameAt(0.0).isNull() ? 0 : 1;
        while (!cut.decodeNextFrame(pts).isNull())
            ++frames;
        QVERIFY(frames > 10 && frames < 75);

        // Two transport streams back to back: the picture size and the audio
        // rate and channel count change where the second begins.
        QVERIFY(make(path("big.ts"), pattern("320x240", 1) + stereoTone(1)
                                         + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"}));
        QVERIFY(make(path("small.ts"),
                     pattern("160x120", 1)
                         + QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1",
                                       "-c:v", "mpeg2video", "-c:a", "mp2"}));
        QVERIFY(writeFile(path("changing.ts"), readFile(path("big.ts")) + readFile(path("small.ts"))));
        VideoDemuxer changing;
        QVERIFY(changing.open(path("changing.ts")));
        QVERIFY(changing.extractAudio(mono, stereo, rate));
        QCOMPARE(rate, 44100);
        QCOMPARE(stereo.size(), 2 * mono.size());
        // One second at 44.1 kHz and one at 48 kHz brought to 44.1 kHz.
        QVERIFY2(std::abs(mono.size() - 2 * 44100) < 4000, qPrintable(QString::number(mono.size())));
        QSet<QString> sizes;
        QImage image = changing.decodeFrameAt(0.0);
        for (; !image.isNull(); image = changing.decodeNextFrame(pts))
            sizes.insert(QStringLiteral("%1x%2").arg(image.width()).arg(image.height()));
        QCOMPARE(sizes, (QSet<QString>{"320x240", "160x120"}));

        // Transport streams with bytes overwritten (fixed seeds): damaged
        // tables can announce new streams while the audio is being read.
        const QByteArray clean = readFile(path("small.ts"));
        for (quint32 seed = 0; seed < 64; ++seed) {
            QByteArray damaged = clean;
            QRandomGenerator generator(seed);
            for (int i = 0; i < 200; ++i)
                damaged[generator.bounded(int(damaged.size()))] = char(generator.bounded(256));
            QVERIFY(writeFile(path("damaged.ts"), damaged));
            VideoDemuxer demuxer;
            QSignalSpy errors(&demuxer, &VideoDemuxer::errorOccurred);
            if (!demuxer.open(path("damaged.ts")))
                continue;
            if (demuxer.extractAudio(mono, stereo, rate))
                QVERIFY(stereo.isEmpty() || stereo.size() == 2 * mono.size());
            else
                QCOMPARE(errors.size(), 1);
            demuxer.decodeFrameAt(0.5);
        }
    }

    void decodesOddPixelFormats_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("codec");
        QTest::newRow("grey 16-bit") << "grey.mkv" << QStringList{"-c:v", "ffv1", "-pix_fmt", "gray16le"};
        QTest::newRow("10-bit 4:4:4") << "deep.mkv" << QStringList{"-c:v", "ffv1", "-pix_fmt", "yuv444p10le"};
        QTest::newRow("palette") << "palette.mkv" << QStringList{"-c:v", "png", "-pix_fmt", "pal8"};
        QTest::newRow("odd size") << "odd.mkv" << QStringList{"-c:v", "ffv1", "-s", "3x3"};
    }

    void decodesOddPixelFormats()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, codec);
        QVERIFY(make(path(file), QStringList{"-f", "lavfi", "-i", "color=c=0xC0C0C0:s=64x48:r=5:d=1"}
                                     + codec));
        VideoDemuxer demuxer;
        QVERIFY(demuxer.open(path(file)));
        const QImage image = demuxer.decodeFrameAt(0.0);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(demuxer.getVideoWidth(), demuxer.getVideoHeight()));
        // The palette version is dithered: its average is the colour.
        double grey = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                grey += qGray(image.pixel(x, y));
        grey /= double(image.width()) * image.height();
        QVERIFY2(std::abs(grey - 0xC0) < 12, qPrintable(QString::number(grey)));
    }

    void convertsEachFrameByItsOwnSizeAndFormat()
    {
        VideoFrameConverter converter;
        struct Case {
            int format;
            int width, height;
            uint8_t value;
            QSize size; // of the image, empty for none
            int grey;
        };
        const Case cases[] = {
            {AV_PIX_FMT_GRAY8, 64, 48, 200, {64, 48}, 200},
            {AV_PIX_FMT_RGB24, 300, 10, 90, {300, 10}, 90},    // wider, other format
            {AV_PIX_FMT_GRAY8, 3, 5, 30, {3, 5}, 30},          // smaller again
            {AV_PIX_FMT_GRAY8, 0, 48, 0, {}, 0},
            {AV_PIX_FMT_GRAY8, 64, -2, 0, {}, 0},
            {AV_PIX_FMT_NONE, 64, 48, 0, {}, 0},
            {9999, 64, 48, 0, {}, 0},
            {AV_PIX_FMT_VAAPI, 64, 48, 0, {}, 0},               // a hardware surface
            {AV_PIX_FMT_GRAY8, 100000, 100000, 0, {}, 0},       // no buffer behind it
        };
        for (const Case& c : cases) {
            AVFrame* frame = flatFrame(c.format, c.width, c.height, c.value);
            const QImage image = converter.convert(frame);
            av_frame_free(&frame);
            QCOMPARE(image.isNull(), c.size.isEmpty());
            if (!image.isNull()) {
                QCOMPARE(image.size(), c.size);
                QVERIFY(std::abs(qGray(image.pixel(image.width() - 1, image.height() - 1)) - c.grey) <= 1);
            }
        }
    }

    void forgedFrameSizesGiveNoPicture()
    {
        // A raw YUV stream that claims a 60000 x 60000 picture and holds a few bytes.
        QVERIFY(writeFile(path("forged.mkv"),
                          QByteArray("YUV4MPEG2 W60000 H60000 F25:1 Ip A1:1 C420jpeg\nFRAME\n")
                              + QByteArray(4096, '\x50')));
        VideoDemuxer demuxer;
        QSignalSpy errors(&demuxer, &VideoDemuxer::errorOccurred);
        if (!demuxer.open(path("forged.mkv"))) {
            QVERIFY(!lastError(errors).isEmpty());
            return;
        }
        QVERIFY(demuxer.decodeFrameAt(0.0).isNull());
        double pts = 0;
        QVERIFY(demuxer.decodeNextFrame(pts).isNull());
        QCOMPARE(pts, -1.0);
    }
};

QTEST_GUILESS_MAIN(TestVideoDemuxer)
#include "tst_VideoDemuxer.moc"
