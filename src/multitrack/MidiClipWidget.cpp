#include "multitrack/MidiClipWidget.h"

#include "multitrack/ClipLanePainting.h"

#include <QCursor>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor PreviewTextColor(0xC8, 0xC8, 0xC8);
constexpr int Band = ClipLaneEnvelope::BandMargin;
// Shapes are cut to the lane plus this margin before they reach the painter.
constexpr double DrawMargin = 16.0;

// r limited horizontally to the drawable span, so far-off clips never hand
// huge coordinates to the painter.
QRectF visiblePart(const QRectF& r, int width)
{
    const double left = std::max(r.left(), -DrawMargin);
    const double right = std::min(r.right(), width + DrawMargin);
    return QRectF(QPointF(left, r.top()), QPointF(std::max(left, right), r.bottom()));
}

} // namespace

MidiClipWidget::MidiClipWidget(QWidget* parent)
    : ClipLaneWidget(parent)
{
}

void MidiClipWidget::setTrackData(TrackData* value)
{
    bindTrack(value);
}

void MidiClipWidget::setTimeScale(double factor)
{
    scale = std::isfinite(factor) && factor > 0.0 ? factor : 1.0;
    update();
}

int MidiClipWidget::clipCount() const
{
    return track ? int(track->midiClips.size()) : 0;
}

double MidiClipWidget::clipStart(int index) const
{
    return timelineStart(track->midiClips[size_t(index)]);
}

void MidiClipWidget::setClipStart(int index, double start)
{
    // The notes keep their clip-relative times, so they move with it.
    track->midiClips[size_t(index)].start = start / scale;
}

void MidiClipWidget::endLaneGestures(bool staleOnly)
{
    if (!staleOnly)
        creating = false;
    if (!staleOnly || !validClip(trimClip))
        trimClip = -1;
}

MidiClip* MidiClipWidget::clipAt(int index) const
{
    return validClip(index) ? &track->midiClips[size_t(index)] : nullptr;
}

std::pair<int, int> MidiClipWidget::clipSpanX(int index) const
{
    const MidiClip& clip = track->midiClips[size_t(index)];
    return {secondsToX(timelineStart(clip)), secondsToX(timelineEnd(clip))};
}

// ---- painting ----

void MidiClipWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    ClipLanePainting::drawBackground(painter, rect());
    if (track && !track->midiClips.empty())
        drawClips(painter);
    else
        drawEmptyState(painter);
    if (envelopeShown && track)
        drawEnvelope(painter);
    drawPlayhead(painter);
    if (creating)
        drawDragPreview(painter);
}

void MidiClipWidget::drawBackground(QPainter& painter)
{
    ClipLanePainting::drawBackground(painter, rect());
}

void MidiClipWidget::drawEmptyState(QPainter& painter)
{
    ClipLanePainting::drawEmptyState(painter, rect(),
                                     QStringLiteral("MIDI轨道 - 按住Alt键拖拽创建MIDI块"));
}

void MidiClipWidget::drawClips(QPainter& painter)
{
    const int w = width();
    const int h = height();
    // The clip under the mouse shows its trim handles.
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    const int hovered = rect().contains(cursor) ? hitTestClip(cursor) : -1;
    for (size_t i = 0; i < track->midiClips.size(); ++i) {
        const MidiClip& clip = track->midiClips[i];
        const int x1 = secondsToX(timelineStart(clip));
        const int x2 = secondsToX(timelineEnd(clip));
        if (x2 < 0 || x1 > w)
            continue;
        const QRectF r(x1, Band, double(x2) - x1, h - 2 * Band);
        const bool isSelected = int(i) == selected;
        QColor fill = wave;
        fill.setAlpha(isSelected ? 90 : 60);
        painter.setBrush(fill);
        painter.setPen(isSelected ? QPen(Qt::white, 2.5) : QPen(wave, 1.5));
        painter.drawRoundedRect(visiblePart(r, w), 6, 6);

        drawClipThumbnail(painter, r, clip);

        if (int(i) == trimClip || int(i) == hovered)
            ClipLanePainting::drawTrimHandles(painter, x1, x2, w, h);
    }
}

void MidiClipWidget::drawClipThumbnail(QPainter& painter, const QRectF& clipRect,
                                       const MidiClip& clip)
{
    if (clip.notes.empty() || !(clip.duration > 0.0))
        return;
    // Wide enough for the span of any two ints: a corrupt file may hold
    // pitches far outside 0..127.
    long long lo = 127;
    long long hi = 0;
    for (const MidiNote& note : clip.notes) {
        lo = std::min<long long>(lo, note.pitch);
        hi = std::max<long long>(hi, note.pitch);
    }
    const double x0 = clipRect.x() + 4;
    const double y0 = clipRect.y() + 4;
    const double iw = clipRect.width() - 8;
    const double ih = clipRect.height() - 8;
    const double rows = double(std::max(hi - lo, 0LL) + 1);
    const double rowHeight = std::max(ih / rows, 2.0);
    const int w = width();

    QColor fill = wave;
    fill.setAlpha(180);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    for (const MidiNote& note : clip.notes) {
        const double left = x0 + (note.start / clip.duration) * iw;
        const double top = y0 + (double(hi - note.pitch) / rows) * ih;
        const double noteWidth = std::max(iw * note.duration / clip.duration, 2.0);
        if (!std::isfinite(left) || !std::isfinite(noteWidth) || left > w + DrawMargin
            || left + noteWidth < -DrawMargin)
            continue;
        painter.drawRect(visiblePart(QRectF(left, top, noteWidth, rowHeight), w));
    }
    painter.restore();
}

void MidiClipWidget::drawEnvelope(QPainter& painter)
{
    ClipLaneEnvelope::draw(painter, *track, mapping, width(), height(), envelope.dragPoint());
}

void MidiClipWidget::drawPlayhead(QPainter& painter)
{
    ClipLanePainting::drawPlayhead(painter, secondsToX(playhead), width(), height());
}

void MidiClipWidget::drawDragPreview(QPainter& painter)
{
    const double lo = std::min(creationStart, creationEnd);
    const double hi = std::max(creationStart, creationEnd);
    const int x1 = secondsToX(lo);
    const int x2 = secondsToX(hi);
    const QRectF r = visiblePart(QRectF(x1, Band, double(x2) - x1, height() - 2 * Band), width());
    painter.save();
    QColor fill = wave;
    fill.setAlpha(30);
    painter.setBrush(fill);
    painter.setPen(QPen(wave, 1, Qt::DashLine));
    painter.drawRoundedRect(r, 6, 6);
    if (hi - lo >= MinCreatedSeconds) {
        painter.setPen(PreviewTextColor);
        painter.setFont(QFont(QStringLiteral("sans-serif"), 10));
        painter.drawText(r, Qt::AlignCenter, QStringLiteral("%1s").arg(hi - lo, 0, 'f', 1));
    }
    painter.restore();
}
