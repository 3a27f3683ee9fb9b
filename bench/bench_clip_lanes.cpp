// Speed of the multitrack audio clip lane:
// - the repaint that playback asks for every 50 ms (the playhead moved) of a
//   1920 px lane holding one 1-hour stereo clip, against the same lane
//   holding a 1-minute clip, at the page's fit zoom and at zoom 1;
// - a full redraw after a zoom step (every column read again from the peak
//   index), 1-hour against 1-minute clip;
// - one playback frame of eight lanes of 10-minute stereo clips at the fit
//   zoom, goal under 16 ms, printed beside the 1-minute lane.
// The peak indexes are built by a first paint that is not timed.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"

#include "multitrack/AudioClipWidget.h"

#include <QApplication>
#include <QImage>
#include <QLoggingCategory>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int LaneWidth = 1920;

// A stereo clip of the given length: a decaying tone per beat on the left,
// its inverse on the right, the mono list their mean (filled from one
// period table, so long lists are cheap to make).
AudioClip stereoClip(qsizetype seconds)
{
    const qsizetype frames = seconds * Rate;
    std::vector<float> beat(Rate / 2);
    for (std::size_t i = 0; i < beat.size(); ++i) {
        const double t = double(i) / Rate;
        beat[i] = float(0.8 * std::exp(-6.0 * t) * std::sin(2.0 * M_PI * 220.0 * t));
    }
    AudioClip clip;
    clip.sampleRate = Rate;
    clip.samples = QList<float>(frames);
    clip.stereoSamples = QList<float>(2 * frames);
    float* mono = clip.samples.data();
    float* stereo = clip.stereoSamples.data();
    for (qsizetype i = 0; i < frames; ++i) {
        const float v = beat[std::size_t(i % qsizetype(beat.size()))];
        stereo[2 * i] = v;
        stereo[2 * i + 1] = -0.5f * v;
        mono[i] = 0.25f * v;
    }
    clip.fadeIn = 2.0;
    clip.fadeOut = 2.0;
    return clip;
}

// The page's lowest zoom for a project of this length in a lane this wide.
double fitZoom(double projectSeconds)
{
    return std::max(0.01, LaneWidth / (std::max(projectSeconds, 300.0) * 100.0));
}

struct LaneSet {
    std::vector<TrackData> tracks;
    std::vector<std::unique_ptr<AudioClipWidget>> lanes;

    LaneSet(const AudioClip& clip, int count, double zoom)
        : tracks(std::size_t(count))
    {
        for (TrackData& track : tracks) {
            track.color = QColor(0x3a, 0x86, 0xff);
            track.audioClips = {clip};
            track.volumeEnvelope = {{0.0, 1.0f}, {clip.playableLength(), 0.5f}};
            auto lane = std::make_unique<AudioClipWidget>();
            lane->resize(LaneWidth, 120);
            lane->setTrackData(&track);
            lane->setZoomLevel(zoom);
            lane->setShowEnvelope(true);
            lanes.push_back(std::move(lane));
        }
        paint(); // builds the peak indexes
    }

    void paint()
    {
        static QImage target(LaneWidth, 120, QImage::Format_RGB32);
        for (auto& lane : lanes)
            lane->render(&target);
    }

    // Zoom steps through twelve levels around `zoom`, so no column layout
    // is met again while its columns are still kept.
    double redrawSeconds(double zoom)
    {
        int step = 0;
        return Bench::timeBest([&] {
            for (int i = 0; i < 12; ++i, ++step) {
                for (auto& lane : lanes)
                    lane->setZoomLevel(zoom * (1.0 + 0.01 * (step % 12)));
                paint();
            }
        }, 3) / 12.0;
    }

    double paintSeconds()
    {
        return Bench::timeBest([&] {
            for (int i = 0; i < 10; ++i) {
                for (auto& lane : lanes)
                    lane->setPlayheadPosition(i * 0.05);
                paint();
            }
        }, 5) / 10.0;
    }
};

struct LaneTimes {
    double fit = 0.0, zoom1 = 0.0, redraw = 0.0;
};

LaneTimes laneTimes(const AudioClip& clip, double fit)
{
    LaneTimes times;
    LaneSet set(clip, 1, fit);
    times.fit = set.paintSeconds();
    set.lanes[0]->setZoomLevel(1.0);
    set.paint();
    times.zoom1 = set.paintSeconds();
    times.redraw = set.redrawSeconds(1.0);
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    bool ok = true;

    const LaneTimes minute = laneTimes(stereoClip(60), fitZoom(60));
    {
        const LaneTimes hour = laneTimes(stereoClip(3600), fitZoom(3600));
        ok &= Bench::report(QStringLiteral("lane repaint, 1 h stereo, fit zoom"), hour.fit,
                            minute.fit, QStringLiteral("same repaint, lane with a 1-minute clip, fit zoom"), 2.0);
        ok &= Bench::report(QStringLiteral("lane repaint, 1 h stereo, zoom 1"), hour.zoom1,
                            minute.zoom1, QStringLiteral("same repaint, lane with a 1-minute clip, zoom 1"), 2.0);
        ok &= Bench::report(QStringLiteral("lane redraw after zoom, 1 h stereo"), hour.redraw,
                            minute.redraw, QStringLiteral("same redraw, lane with a 1-minute clip"), 2.0);
    }
    {
        LaneSet eight(stereoClip(600), 8, fitZoom(600));
        const double frame = eight.paintSeconds();
        const double redraw = eight.redrawSeconds(fitZoom(600));
        std::printf("8 lanes of 10-min stereo clips, fit zoom, %d px: playback frame %.2f ms "
                    "(goal < 16 ms) %s, full redraw %.2f ms; 1-minute lane %.2f ms, "
                    "full redraw %.2f ms\n",
                    LaneWidth, frame * 1e3, frame < 0.016 ? "OK" : "SLOW", redraw * 1e3,
                    minute.fit * 1e3, minute.redraw * 1e3);
        std::fflush(stdout);
        ok &= frame < 0.016;
    }
    return ok ? 0 : 1;
}
