#pragma once
// A track's volume envelope as both clip lanes show and edit it: the gain
// scale of the clip band (0 at its bottom, 1.5 at its top), hit tests,
// drawing, and the press-drag-release gesture on one point. The lanes emit
// the signals; this keeps the points ordered and never reads past the end
// of the vector when it changes under a gesture.

#include "multitrack/TimelineMapping.h"
#include "project/ProjectTypes.h"

#include <QMetaType>
#include <QPoint>
#include <vector>

class QPainter;

Q_DECLARE_METATYPE(std::vector<EnvelopePoint>)

namespace ClipLaneEnvelope {

// The clip band of a lane: y = BandMargin to height - BandMargin.
constexpr int BandMargin = 8;
constexpr double MaxValue = 1.5;
// A point answers presses within this many pixels in x and in y.
constexpr int PointGrab = 8;

// (H - 16) * (1 - clamp(value / 1.5, 0, 1)) + 8; callers truncate it.
double valueToY(float value, int laneHeight);
// clamp(1 - (y - 8) / (H - 16), 0, 1) * 1.5.
float yToValue(int y, int laneHeight);

// First point within PointGrab of pos, -1 for none.
int hitTestPoint(const std::vector<EnvelopePoint>& points, const TimelineMapping& mapping,
                 int laneHeight, const QPoint& pos);

// The envelope line across a lane of the given size (a dashed line at the
// track volume when there are no points) and its point circles; dragPoint
// is drawn larger.
void draw(QPainter& painter, const TrackData& track, const TimelineMapping& mapping, int width,
          int height, int dragPoint);

// Inserts {time, value} in front of the first point at or after time;
// returns its index.
int insertPoint(std::vector<EnvelopePoint>& points, double time, float value);

} // namespace ClipLaneEnvelope

// One envelope gesture of a lane: grab a point, drag it between its
// neighbours, release; or add a point, or erase one, in one step.
class ClipLaneEnvelopeEditor {
public:
    struct Edit {
        std::vector<EnvelopePoint> before;
        std::vector<EnvelopePoint> after;
    };

    int dragPoint() const { return point; }
    bool dragging() const { return point >= 0; }

    // Grabs the point under pos and keeps a copy of the whole envelope.
    bool grab(const TrackData& track, const TimelineMapping& mapping, int laneHeight,
              const QPoint& pos);
    // Moves the grabbed point to (max(0, time), value in 0..1.5), held
    // between its neighbours' times. False (and the gesture ends) when the
    // point is no longer in the envelope.
    bool dragTo(TrackData& track, double time, float value);
    // Sorts the envelope and ends the gesture; edit gets the copy taken at
    // the grab and the envelope now. False when no gesture was running.
    bool release(TrackData& track, Edit& edit);
    // Ends a gesture without an edit.
    void cancel();

    // Adds a point at time >= 0; false (nothing changed) for an earlier time.
    static bool addPoint(TrackData& track, double time, float value, Edit& edit);
    // Erases point index; false when it does not exist.
    static bool erasePoint(TrackData& track, int index, Edit& edit);

private:
    int point = -1;
    std::vector<EnvelopePoint> beforeEdit;
};
