// Drawing of the audio clip lane: clip bodies, fades, trim handles,
// selection, the volume envelope and the playhead.

#include "multitrack/AudioClipWidget.h"
#include "multitrack/ClipLanePainting.h"

#include <QCursor>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

constexpr int Band = ClipLaneEnvelope::BandMargin;
// Shapes that reach far past the lane are cut this far outside it; what is
// drawn inside stays the same.
constexpr double OffLaneMargin = 20.0;

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

// r cut horizontally to the lane's width plus a margin on each side.
QRectF cutToLane(const QRectF& r, int width)
{
    const double left = std::max(r.left(), -OffLaneMargin);
    const double right = std::min(r.right(), width + OffLaneMargin);
    return QRectF(left, r.top(), std::max(0.0, right - left), r.height());
}

} // namespace

void AudioClipWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    exposed = event->rect();
    drawBackground(painter);
    if (track && !track->audioClips.empty())
        drawClips(painter);
    else
        drawEmptyState(painter);
    if (envelopeShown && track)
        drawEnvelope(painter);
    drawPlayhead(painter);
    dropUnusedPeaks();
}

void AudioClipWidget::drawBackground(QPainter& painter)
{
    ClipLanePainting::drawBackground(painter, rect());
}

void AudioClipWidget::drawEmptyState(QPainter& painter)
{
    ClipLanePainting::drawEmptyState(painter, rect(),
                                     QStringLiteral("音频轨 - 点击录制或导入音频文件"));
}

void AudioClipWidget::drawClips(QPainter& painter)
{
    const int w = width();
    const int h = height();
    // The clip under the mouse shows its trim handles.
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    const int underCursor = rect().contains(cursor) ? hitTestClip(cursor) : -1;

    const std::vector<AudioClip>& clips = track->audioClips;
    for (std::size_t n = 0; n < clips.size(); ++n) {
        const int i = int(n);
        const AudioClip& clip = clips[n];
        const double x1 = mapping.secondsToXF(clip.start);
        const double x2 = mapping.secondsToXF(clip.start + visibleLength(clip));
        if (x2 < 0 || x1 > w)
            continue;
        const QRectF r(x1, Band, x2 - x1, h - 2 * Band);

        painter.setPen(QPen(wave, 1.5));
        painter.setBrush(withAlpha(wave, 60));
        painter.drawRoundedRect(cutToLane(r, w), 6, 6);
        painter.setBrush(Qt::NoBrush);

        drawClipWaveform(painter, r, clip);
        drawClipFades(painter, r, clip);

        if (i == trimClip || i == fadeDragClip || i == underCursor)
            ClipLanePainting::drawTrimHandles(painter, x1, x2, w, h);

        if (i == selected) {
            painter.setPen(QPen(QColor(0x00, 0xf2, 0xff, 200), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(cutToLane(r.adjusted(1, 1, -1, -1), w), 5, 5);
        }
    }
}

void AudioClipWidget::drawClipFades(QPainter& painter, const QRectF& r, const AudioClip& clip)
{
    const int laneWidth = width();
    const double pixelsPerSecond = mapping.pixelsPerSecond();
    // w = min(trunc(fade * px/s), trunc(clip width)); nothing at 2 px or less.
    const auto fadeWidth = [&](double fade) {
        if (!(fade > 0.0))
            return 0.0;
        return std::min(std::trunc(fade * pixelsPerSecond), std::trunc(r.width()));
    };
    const QColor shade(0, 0, 0, 120);
    const QColor clear(0, 0, 0, 0);
    const QPen curvePen(QColor(255, 255, 255, 100), 1.5);

    // One fade region from left to left + w: the shade grows toward the
    // clip's outer edge, the curve shows the gain across it.
    const auto drawFade = [&](double left, double w, bool fadeIn, int curve) {
        QLinearGradient gradient(left, 0, left + w, 0);
        gradient.setColorAt(0, fadeIn ? shade : clear);
        gradient.setColorAt(1, fadeIn ? clear : shade);
        const QRectF region = cutToLane(QRectF(left, Band, w, r.height()), laneWidth);
        if (region.width() > 0)
            painter.fillRect(region, gradient);

        // Only the points near the lane are built; the rest would be clipped.
        const double firstK = std::clamp(std::floor(-OffLaneMargin - left), 0.0, w);
        const double lastK = std::clamp(std::ceil(laneWidth + OffLaneMargin - left), 0.0, w);
        if (firstK >= lastK)
            return;
        QPolygonF line;
        line.reserve(int(lastK - firstK) + 1);
        for (double k = firstK; k <= lastK; ++k) {
            const float t = std::clamp(float(k) / float(w), 0.0f, 1.0f);
            const double gain = fadeCurveGain(curve, t);
            const double y = r.bottom() - r.height() * (fadeIn ? gain : 1.0 - gain);
            line.append(QPointF(left + k, y));
        }
        painter.setPen(curvePen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(line);
    };

    const double inWidth = fadeWidth(clip.fadeIn);
    if (inWidth > 2)
        drawFade(r.left(), inWidth, true, clip.fadeInCurve);
    const double outWidth = fadeWidth(clip.fadeOut);
    if (outWidth > 2)
        drawFade(r.right() - outWidth, outWidth, false, clip.fadeOutCurve);
}

void AudioClipWidget::drawEnvelope(QPainter& painter)
{
    ClipLaneEnvelope::draw(painter, *track, mapping, width(), height(),
                           envelopeEditor.dragPoint());
}

void AudioClipWidget::drawPlayhead(QPainter& painter)
{
    ClipLanePainting::drawPlayhead(painter, secondsToX(playhead), width(), height());
}

void AudioClipWidget::dropUnusedPeaks()
{
    if (!track) {
        peaks.clear();
        return;
    }
    std::vector<const float*> live;
    live.reserve(track->audioClips.size() * 3);
    for (const AudioClip& clip : track->audioClips) {
        live.push_back(clip.samples.constData());
        if (!clip.stereoSamples.isEmpty()) {
            live.push_back(clip.stereoSamples.constData());
            live.push_back(clip.stereoSamples.constData() + 1);
        }
    }
    peaks.retain(live);
}
