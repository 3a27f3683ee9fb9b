#include "multitrack/ClipLaneEnvelope.h"

#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const QColor LineColor(0x00, 0xff, 0x80, 180);
const QColor PointFill(0x00, 0xff, 0x80);
constexpr double LineWidth = 1.5;
constexpr int PointRadius = 5;
constexpr int DragPointRadius = 6;
// Segments are cut this far outside the lane, so the raster engine never
// sees the huge coordinates of points far off screen.
constexpr double ClipMargin = 16.0;

int pointY(float value, int laneHeight)
{
    return int(ClipLaneEnvelope::valueToY(value, laneHeight));
}

// Appends the part of segment a-b with left <= x <= right to line.
void appendClipped(QVector<QPointF>& line, QPointF a, QPointF b, double left, double right)
{
    if (a.x() > b.x())
        std::swap(a, b);
    if (b.x() < left || a.x() > right)
        return;
    const auto at = [&](double x) {
        const double dx = b.x() - a.x();
        const double y = dx > 0.0 ? a.y() + (b.y() - a.y()) * (x - a.x()) / dx : a.y();
        return QPointF(x, y);
    };
    const QPointF from = a.x() < left ? at(left) : a;
    const QPointF to = b.x() > right ? at(right) : b;
    if (line.isEmpty() || line.last() != from)
        line.append(from);
    line.append(to);
}

} // namespace

namespace ClipLaneEnvelope {

double valueToY(float value, int laneHeight)
{
    const double band = laneHeight - 2 * BandMargin;
    double share = double(value) / MaxValue;
    share = std::isnan(share) ? 0.0 : std::clamp(share, 0.0, 1.0);
    return band * (1.0 - share) + BandMargin;
}

float yToValue(int y, int laneHeight)
{
    const double band = laneHeight - 2 * BandMargin;
    if (band <= 0.0)
        return 0.0f;
    const double share = std::clamp(1.0 - (y - BandMargin) / band, 0.0, 1.0);
    return float(share * MaxValue);
}

int hitTestPoint(const std::vector<EnvelopePoint>& points, const TimelineMapping& mapping,
                 int laneHeight, const QPoint& pos)
{
    for (std::size_t i = 0; i < points.size(); ++i) {
        const int x = mapping.secondsToX(points[i].time);
        const int y = pointY(points[i].value, laneHeight);
        if (std::abs(pos.x() - x) <= PointGrab && std::abs(pos.y() - y) <= PointGrab)
            return int(i);
    }
    return -1;
}

void draw(QPainter& painter, const TrackData& track, const TimelineMapping& mapping, int width,
          int height, int dragPoint)
{
    const std::vector<EnvelopePoint>& points = track.volumeEnvelope;
    painter.save();
    painter.setBrush(Qt::NoBrush);
    if (points.empty()) {
        QPen dashed(LineColor, LineWidth, Qt::DashLine);
        painter.setPen(dashed);
        const int y = pointY(track.volume, height);
        painter.drawLine(QPointF(0, y), QPointF(width, y));
        painter.restore();
        return;
    }

    // The line runs from the lane's left edge (or the first point) through
    // every point to the right edge (or the last point).
    QVector<QPointF> corners;
    corners.reserve(int(points.size()) + 2);
    const auto xy = [&](const EnvelopePoint& p) {
        return QPointF(mapping.secondsToX(p.time), pointY(p.value, height));
    };
    const QPointF first = xy(points.front());
    if (first.x() > 0)
        corners.append(QPointF(0, first.y()));
    for (const EnvelopePoint& p : points)
        corners.append(xy(p));
    const QPointF last = xy(points.back());
    if (last.x() < width)
        corners.append(QPointF(width, last.y()));

    const double left = -ClipMargin, right = width + ClipMargin;
    QVector<QPointF> line;
    if (corners.size() == 1)
        corners.append(corners.first());
    for (int i = 1; i < corners.size(); ++i) {
        QVector<QPointF> piece;
        appendClipped(piece, corners[i - 1], corners[i], left, right);
        if (piece.isEmpty())
            continue;
        // Segments run left to right in time order; one flipped by an
        // unsorted envelope is drawn on its own.
        if (!line.isEmpty() && line.last() != piece.first()) {
            painter.setPen(QPen(LineColor, LineWidth));
            painter.drawPolyline(line.constData(), int(line.size()));
            line.clear();
        }
        for (const QPointF& p : piece)
            if (line.isEmpty() || line.last() != p)
                line.append(p);
    }
    painter.setPen(QPen(LineColor, LineWidth));
    if (line.size() == 1)
        line.append(line.first());
    if (!line.isEmpty())
        painter.drawPolyline(line.constData(), int(line.size()));

    painter.setBrush(PointFill);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const QPointF p = xy(points[i]);
        if (p.x() <= -9 || p.x() > width + 8)
            continue;
        const bool dragged = int(i) == dragPoint;
        const int r = dragged ? DragPointRadius : PointRadius;
        painter.setPen(QPen(Qt::white, dragged ? 2.0 : 1.5));
        painter.drawEllipse(QRect(int(p.x()) - r, int(p.y()) - r, 2 * r, 2 * r));
    }
    painter.restore();
}

int insertPoint(std::vector<EnvelopePoint>& points, double time, float value)
{
    const auto at = std::find_if(points.begin(), points.end(),
                                 [time](const EnvelopePoint& p) { return p.time >= time; });
    EnvelopePoint point;
    point.time = time;
    point.value = value;
    return int(points.insert(at, point) - points.begin());
}

} // namespace ClipLaneEnvelope

bool ClipLaneEnvelopeEditor::grab(const TrackData& track, const TimelineMapping& mapping,
                                  int laneHeight, const QPoint& pos)
{
    const int hit = ClipLaneEnvelope::hitTestPoint(track.volumeEnvelope, mapping, laneHeight, pos);
    if (hit < 0)
        return false;
    point = hit;
    beforeEdit = track.volumeEnvelope;
    return true;
}

bool ClipLaneEnvelopeEditor::dragTo(TrackData& track, double time, float value)
{
    std::vector<EnvelopePoint>& points = track.volumeEnvelope;
    if (point < 0 || point >= int(points.size())) {
        cancel();
        return false;
    }
    double t = std::isnan(time) ? 0.0 : std::max(0.0, time);
    const float v = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, float(ClipLaneEnvelope::MaxValue));
    const std::size_t i = std::size_t(point);
    const double next = i + 1 < points.size() ? points[i + 1].time : 1e9;
    const double previous = i > 0 ? points[i - 1].time : 0.0;
    t = std::min(t, next);
    t = std::max(t, previous);
    points[i].time = t;
    points[i].value = v;
    return true;
}

bool ClipLaneEnvelopeEditor::release(TrackData& track, Edit& edit)
{
    if (point < 0)
        return false;
    std::vector<EnvelopePoint>& points = track.volumeEnvelope;
    std::stable_sort(points.begin(), points.end(),
                     [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.time < b.time; });
    point = -1;
    edit.before = std::move(beforeEdit);
    edit.after = points;
    beforeEdit.clear();
    return true;
}

void ClipLaneEnvelopeEditor::cancel()
{
    point = -1;
    beforeEdit.clear();
}

bool ClipLaneEnvelopeEditor::addPoint(TrackData& track, double time, float value, Edit& edit)
{
    if (!(time >= 0.0) || !std::isfinite(time))
        return false;
    edit.before = track.volumeEnvelope;
    ClipLaneEnvelope::insertPoint(track.volumeEnvelope, time, value);
    edit.after = track.volumeEnvelope;
    return true;
}

bool ClipLaneEnvelopeEditor::erasePoint(TrackData& track, int index, Edit& edit)
{
    std::vector<EnvelopePoint>& points = track.volumeEnvelope;
    if (index < 0 || index >= int(points.size()))
        return false;
    edit.before = points;
    points.erase(points.begin() + index);
    edit.after = points;
    return true;
}
