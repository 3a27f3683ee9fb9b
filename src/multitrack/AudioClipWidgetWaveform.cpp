// The waveform inside a clip body: one minimum/maximum column per pixel
// (read from the clip's peak indexes) or, below one frame a pixel, the
// samples joined by segments; stereo material in two lanes, left above
// right.

#include "multitrack/AudioClipWidget.h"

#include <QFont>
#include <QLineF>
#include <QPainter>
#include <QVector>
#include <algorithm>
#include <cmath>

namespace {

const QColor LaneLineColor(0x3c, 0x3c, 0x50);
const QColor LaneLabelColor(0x78, 0x78, 0x8c);

// The part of the clip's inner area within the lane.
struct Span {
    double visibleLeft, visibleRight;
};

// One channel of the clip laid out in the inner area.
struct ChannelLane {
    ClipPeakCache::Channel channel;
    qsizetype first = 0;     // first frame shown
    qsizetype limit = 0;     // frames at and past this are not read
    qsizetype frames = 0;    // n: the frames the inner width stands for
    double x0 = 0, iw = 0;   // inner area left and width
    double centre = 0, scale = 0;
};

double sampleY(const ChannelLane& lane, float value)
{
    if (!std::isfinite(value))
        value = 0.0f;
    return lane.centre - lane.scale * std::clamp(value, -1.0f, 1.0f);
}

// Columns p of the inner area: the frames first + trunc(f*p) up to
// first + trunc(f*(p+1)); each line runs from the largest to the smallest
// value, both starting at 0, so a column always reaches the centre line.
void drawColumns(QPainter& painter, const ChannelLane& lane, ClipPeakCache& peaks,
                 const Span& span, const QColor& colour)
{
    ClipPeakCache::Columns layout;
    layout.first = lane.first;
    layout.limit = lane.limit;
    layout.framesPerColumn = double(lane.frames) / lane.iw;
    const qint64 from = qint64(std::trunc(span.visibleLeft - lane.x0));
    const qint64 to = qint64(std::min(std::trunc(span.visibleRight - lane.x0), std::trunc(lane.iw)));
    if (from >= to)
        return;
    const ClipPeakCache::Extremes extremes = peaks.columnExtremes(lane.channel, layout, from, to);
    QVector<QLineF> lines;
    lines.reserve(int(to - from));
    for (qint64 p = from; p < to; ++p) {
        const double x = lane.x0 + double(p);
        lines.append(QLineF(x, sampleY(lane, extremes.hi[p - from]), x,
                            sampleY(lane, extremes.lo[p - from])));
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(colour, 1));
    painter.drawLines(lines);
    painter.restore();
}

// Fewer frames than pixels: frame k sits at x0 + iw * k / n and neighbours
// are joined. Segments ending left of the visible span are skipped, and
// the first one ending past it stops the drawing.
void drawSegments(QPainter& painter, const ChannelLane& lane, const Span& span,
                  const QColor& colour)
{
    const qsizetype n = lane.frames;
    if (n < 2)
        return;
    const double step = lane.iw / double(n);
    const auto xAt = [&](qsizetype k) { return lane.x0 + lane.iw * double(k) / double(n); };
    const auto value = [&](qsizetype k) {
        const qsizetype frame = lane.first + k;
        return frame < lane.limit ? lane.channel.values[frame * lane.channel.stride] : 0.0f;
    };
    // Start a segment before the first one that can reach the span.
    const double left = span.visibleLeft;
    qsizetype k = qsizetype(std::max(0.0, std::floor((left - lane.x0) / step) - 1.0));
    QPolygonF line;
    for (; k + 1 < n; ++k) {
        const double xRight = xAt(k + 1);
        if (xRight < left)
            continue;
        if (xRight > span.visibleRight)
            break;
        if (line.isEmpty())
            line.append(QPointF(xAt(k), sampleY(lane, value(k))));
        line.append(QPointF(xRight, sampleY(lane, value(k + 1))));
    }
    if (line.size() < 2)
        return;
    painter.setPen(QPen(colour, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
}

void drawLaneLine(QPainter& painter, double x0, double iw, double y, int laneWidth)
{
    const double left = std::max(x0, -1.0);
    const double right = std::min(x0 + iw, laneWidth + 1.0);
    if (left >= right)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(LaneLineColor, 1));
    painter.drawLine(QLineF(left, y, right, y));
    painter.restore();
}

} // namespace

void AudioClipWidget::drawClipWaveform(QPainter& painter, const QRectF& r, const AudioClip& clip)
{
    if (!hasMaterial(clip))
        return;
    const qsizetype frames = clip.samples.size();
    const double rate = clip.sampleRate;
    const double firstFrame = std::trunc(clip.audioStart * rate);
    if (!(firstFrame >= 0.0))
        return;
    double lastFrame = double(frames) - std::trunc(clip.audioEnd * rate);
    if (!(firstFrame < lastFrame))
        return;
    lastFrame = std::min(lastFrame, double(frames));
    if (!(firstFrame < lastFrame))
        return;
    const qsizetype first = qsizetype(firstFrame);
    const qsizetype last = qsizetype(lastFrame);

    const double x0 = r.x() + 4, y0 = r.y() + 4;
    const double iw = r.width() - 8, ih = r.height() - 8;
    if (iw <= 2 || ih <= 2)
        return;
    Span span;
    span.visibleLeft = std::max(0.0, x0);
    span.visibleRight = std::min(x0 + iw, double(width()));
    if (span.visibleLeft >= span.visibleRight)
        return;

    QColor colour = wave;
    colour.setAlpha(160);
    const qsizetype n = last - first;
    const bool columns = double(n) / iw >= 1.0;
    const auto drawLane = [&](ChannelLane lane) {
        lane.first = first;
        lane.frames = n;
        lane.x0 = x0;
        lane.iw = iw;
        lane.limit = std::min({last, frames, lane.channel.count});
        if (columns)
            drawColumns(painter, lane, peaks, span, colour);
        else
            drawSegments(painter, lane, span, colour);
    };

    const bool stereo = !clip.stereoSamples.isEmpty() && clip.stereoSamples.size() >= 2 * last;
    if (!stereo) {
        ChannelLane lane;
        lane.channel = ClipPeakCache::monoChannel(clip.samples);
        lane.centre = y0 + ih / 2;
        lane.scale = ih / 2;
        drawLane(lane);
        return;
    }

    drawLaneLine(painter, x0, iw, y0 + ih / 2, width());
    painter.setPen(LaneLabelColor);
    painter.setFont(QFont(QStringLiteral("Arial"), 7));
    painter.drawText(QPointF(x0 + 1, y0 + 8), QStringLiteral("L"));
    painter.drawText(QPointF(x0 + 1, y0 + ih / 2 + 8), QStringLiteral("R"));
    for (int channel = 0; channel < 2; ++channel) {
        ChannelLane lane;
        lane.channel = ClipPeakCache::stereoChannel(clip.stereoSamples, channel);
        lane.centre = y0 + channel * ih / 2 + ih / 4;
        lane.scale = ih / 4;
        drawLane(lane);
        drawLaneLine(painter, x0, iw, lane.centre, width());
    }
}

std::vector<ClipPeakCache::Prepared> AudioClipWidget::preparePeaks(const TrackData& track)
{
    // The lanes drawClipWaveform draws: left and right of a stereo list that
    // covers the clip, else the mono list.
    std::vector<ClipPeakCache::Prepared> prepared;
    for (const AudioClip& clip : track.audioClips) {
        if (!hasMaterial(clip))
            continue;
        if (!clip.stereoSamples.isEmpty() && clip.stereoSamples.size() >= 2 * clip.samples.size()) {
            prepared.push_back(ClipPeakCache::prepare(ClipPeakCache::stereoChannel(clip.stereoSamples, 0)));
            prepared.push_back(ClipPeakCache::prepare(ClipPeakCache::stereoChannel(clip.stereoSamples, 1)));
        } else {
            prepared.push_back(ClipPeakCache::prepare(ClipPeakCache::monoChannel(clip.samples)));
        }
    }
    return prepared;
}

void AudioClipWidget::adoptPeaks(std::vector<ClipPeakCache::Prepared>&& prepared)
{
    for (ClipPeakCache::Prepared& one : prepared)
        peaks.adopt(std::move(one));
}
