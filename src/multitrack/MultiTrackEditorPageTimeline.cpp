// Zoom around an anchor, the playhead read-out, the beat grid and the
// page's marker list with its undoable add and remove.

#include "multitrack/MultiTrackEditorPage.h"

#include "multitrack/ClipLaneWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineMapping.h"
#include "multitrack/TimelineRulerWidget.h"
#include "project/TrackCommands.h"

#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {

// Markers closer than this to the playhead count as already there.
constexpr double MarkerTolerance = 0.001;
const QColor MarkerColor(255, 165, 0);
// Read-outs are written for times up to this; later ones read as this.
constexpr double LongestReadout = 1.0e6 * 3600.0;

qint64 wholeUnits(double value)
{
    if (!(value > 0.0))
        return 0;
    return qint64(std::min(value, LongestReadout * 1000.0));
}

QString padded(qint64 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0'));
}

void sortByTime(std::vector<TimelineMarker>& list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const TimelineMarker& a, const TimelineMarker& b) { return a.time < b.time; });
}

} // namespace

void MultiTrackEditorPage::applyZoom(double zoom, int anchorX)
{
    if (std::isnan(zoom))
        return;
    const double old = zoomLevel;
    const double next = std::max(minimumZoom(), std::min(zoom, MaxZoom));
    if (qFuzzyCompare(next, old))
        return;
    zoomLevel = next;
    if (anchorX >= 0 && old * 100.0 > 0.0) {
        // The time under the anchor stays under it.
        const double anchored = anchorX / (old * 100.0) + viewStartSec;
        viewStartSec = anchored - anchorX / (next * 100.0);
    }
    if (viewStartSec < 0.0)
        viewStartSec = 0.0;
    forEachLane([this](auto* lane) {
        lane->setZoomLevel(zoomLevel);
        lane->setViewStartSec(viewStartSec);
    });
    ruler->setZoomLevel(zoomLevel);
    ruler->setViewStartSec(viewStartSec);
    updateRuler();
    const QSignalBlocker blocker(hScrollBar);
    hScrollBar->setValue(int(std::min(viewStartSec * 1000.0, double(hScrollBar->maximum()))));
}

void MultiTrackEditorPage::updateTimeLabel(double sec)
{
    if (rulerModeCombo->currentIndex() == 1) {
        const double beats = sec * bpm / 60.0;
        const qint64 whole = wholeUnits(beats);
        const qint64 bar = whole / 4 + 1;
        const qint64 beat = whole - (whole / 4) * 4 + 1;
        const qint64 hundredths = std::isfinite(beats) && beats > 0.0 ? qint64((beats - double(whole)) * 100.0) : 0;
        timeLabel->setText(QStringLiteral("第 %1.%2 小节  %3拍")
                               .arg(bar)
                               .arg(beat)
                               .arg(padded(std::clamp<qint64>(hundredths, 0, 99), 2)));
        return;
    }
    timeLabel->setText(clockText(sec));
}

QString MultiTrackEditorPage::clockText(double sec)
{
    const qint64 ms = wholeUnits(sec * 1000.0);
    const qint64 hours = ms / 3600000;
    const qint64 minutes = (ms / 60000) % 60;
    const qint64 seconds = (ms / 1000) % 60;
    const qint64 millis = ms - (ms / 1000) * 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(padded(hours, 2), padded(minutes, 2), padded(seconds, 2), padded(millis, 3));
}

double MultiTrackEditorPage::snapToGrid(double sec) const
{
    return TimelineMapping::snapToBeat(sec, bpm);
}

void MultiTrackEditorPage::setMarkers(const std::vector<TimelineMarker>& list)
{
    markers = list;
    sortByTime(markers);
    ruler->setMarkers(markers);
}

void MultiTrackEditorPage::syncMarkersToRuler()
{
    ruler->setMarkers(markers);
}

void MultiTrackEditorPage::addMarkerAtPlayhead()
{
    const double playhead = playheadPosition();
    const bool taken = std::any_of(markers.begin(), markers.end(), [playhead](const TimelineMarker& m) {
        return std::abs(m.time - playhead) < MarkerTolerance;
    });
    if (taken)
        return;
    const std::vector<TimelineMarker> before = markers;
    TimelineMarker marker;
    marker.time = playhead;
    marker.label = QStringLiteral("M%1").arg(markers.size() + 1);
    marker.color = MarkerColor;
    markers.push_back(marker);
    sortByTime(markers);
    undoStack->push(new MarkerSnapshotCommand(&markers, before, markers, QStringLiteral("添加标记")));
    ruler->setMarkers(markers);
}

void MultiTrackEditorPage::removeMarker(int index)
{
    if (index < 0 || index >= int(markers.size()))
        return;
    const std::vector<TimelineMarker> before = markers;
    markers.erase(markers.begin() + index);
    undoStack->push(new MarkerSnapshotCommand(&markers, before, markers, QStringLiteral("删除标记")));
    ruler->setMarkers(markers);
}
