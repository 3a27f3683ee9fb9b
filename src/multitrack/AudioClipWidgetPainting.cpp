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
#include <cstring>

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

// Bit for bit, so fields that are not numbers still compare equal.
bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

} // namespace

void AudioClipWidget::paintEvent(QPaintEvent* event)
{
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    hoverAtPaint = rect().contains(cursor) ? hitTestClip(cursor) : -1;
    std::vector<double> key = pictureKey();
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (!sameBits(key, pictureKeyValues) || picture.size() != pixels
        || picture.devicePixelRatio() != ratio) {
        // Opaque: the lane fill covers it, and copying it needs no blending.
        picture = QImage(pixels, QImage::Format_RGB32);
        picture.setDevicePixelRatio(ratio);
        drawPicture();
        pictureKeyValues = std::move(key);
    }
    QPainter painter(this);
    painter.drawImage(event->rect(), picture, QRectF(QPointF(event->rect().topLeft()) * ratio,
                                                     QSizeF(event->rect().size()) * ratio));
    painter.setRenderHint(QPainter::Antialiasing);
    drawPlayhead(painter);
}

void AudioClipWidget::drawPicture()
{
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBackground(painter);
    if (track && !track->audioClips.empty())
        drawClips(painter);
    else
        drawEmptyState(painter);
    if (envelopeShown && track)
        drawEnvelope(painter);
    dropUnusedPeaks();
}

std::vector<double> AudioClipWidget::pictureKey() const
{
    // Doubles hold every value exactly (addresses included: they stay
    // below 2^53).
    std::vector<double> key = {double(width()),
                               double(height()),
                               mapping.viewStartSec(),
                               mapping.zoom(),
                               double(wave.rgba()),
                               double(envelopeShown),
                               double(selected),
                               double(trimClip),
                               double(fadeDragClip),
                               double(hoverAtPaint),
                               double(envelope.dragPoint()),
                               double(quintptr(track))};
    if (!track)
        return key;
    key.push_back(track->volume);
    for (const AudioClip& clip : track->audioClips) {
        key.insert(key.end(), {clip.start, clip.audioStart, clip.audioEnd, clip.fadeIn,
                               clip.fadeOut, double(clip.fadeInCurve), double(clip.fadeOutCurve),
                               double(clip.sampleRate)});
        ClipPeakCache::appendSignature(ClipPeakCache::monoChannel(clip.samples), key);
        if (!clip.stereoSamples.isEmpty()) {
            ClipPeakCache::appendSignature(ClipPeakCache::stereoChannel(clip.stereoSamples, 0), key);
            ClipPeakCache::appendSignature(ClipPeakCache::stereoChannel(clip.stereoSamples, 1), key);
        } else {
            key.push_back(0.0);
        }
    }
    key.push_back(-1.0);
    if (envelopeShown) {
        for (const EnvelopePoint& point : track->volumeEnvelope)
            key.insert(key.end(), {point.time, double(point.value)});
    }
    return key;
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

        if (i == trimClip || i == fadeDragClip || i == hoverAtPaint)
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
                           envelope.dragPoint());
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
