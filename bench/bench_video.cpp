// Video import against the ffmpeg command line on the same files: the audio
// of a 10-minute video extracted to float, and 1080p frames decoded into
// preview images against ffmpeg decoding them with as many decoding threads
// as ours and converting them to the same 32-bit pixels.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"

#include "video/VideoDemuxer.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QString dir = Bench::workDir();
    const QString longVideo = dir + "/video10min.mp4";
    const QString hdVideo = dir + "/video1080p.mp4";
    if (!Bench::ensureInput(longVideo, "ffmpeg",
                            {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                             "testsrc=size=320x240:rate=25:duration=600", "-f", "lavfi", "-i",
                             "aevalsrc=exprs=0.4*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*330*t)"
                             ":s=44100:d=600",
                             "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-b:a", "192k",
                             longVideo})
        || !Bench::ensureInput(hdVideo, "ffmpeg",
                               {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                "testsrc2=size=1920x1080:rate=25:duration=10", "-c:v", "libx264",
                                "-preset", "fast", "-pix_fmt", "yuv420p", hdVideo}))
        return 1;

    bool allOk = true;
    bool ok = true;
    qsizetype samples = 0;
    const double oursAudio = Bench::timeBest([&] {
        VideoDemuxer demuxer;
        QList<float> mono, stereo;
        int rate = 0;
        ok = demuxer.open(longVideo) && demuxer.extractAudio(mono, stereo, rate) && ok;
        samples = mono.size();
    });
    const double refAudio = Bench::timeCommand(
        "ffmpeg", {"-v", "quiet", "-i", longVideo, "-map", "0:a", "-f", "f32le", "-y", "/dev/null"});
    allOk = Bench::report("extract audio (10 min video, AAC)", ok && samples > 0 ? oursAudio : 1e9,
                          refAudio, "ffmpeg: AAC to raw float, discarded", 1.2)
            && allOk;

    int frames = 0;
    const double oursFrames = Bench::timeBest([&] {
        VideoDemuxer demuxer;
        ok = demuxer.open(hdVideo) && ok;
        frames = demuxer.decodeFrameAt(0.0).isNull() ? 0 : 1;
        double pts = 0.0;
        while (!demuxer.decodeNextFrame(pts).isNull())
            ++frames;
    });
    const QString threads = QString::number(VideoDemuxer::videoDecodeThreads());
    const double refFrames = Bench::timeCommand(
        "ffmpeg", {"-v", "quiet", "-threads", threads, "-i", hdVideo, "-map", "0:v", "-filter_threads",
                   "1", "-pix_fmt", "bgra", "-f", "null", "-"});
    std::printf("decoded %d frames of 1080p into images\n", frames);
    allOk = Bench::report("decode 1080p frames to images (10 s)", ok && frames == 250 ? oursFrames : 1e9,
                          refFrames,
                          QStringLiteral("ffmpeg: %1 decoding threads, frames to BGRA, discarded")
                              .arg(threads),
                          1.0)
            && allOk;

    std::printf("peak resident memory: %.0f MB\n", Bench::peakResidentBytes() / 1e6);
    return allOk ? 0 : 1;
}
