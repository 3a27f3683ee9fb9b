// The multitrack page's track list: adding, removing and clearing tracks,
// the rows that show them, and pushing the ruler range, playhead and zoom
// to every row.

#include "multitrack/MultiTrackEditorPage.h"

#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/ClipRateConversion.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/ProjectSampleRate.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "plugins/AudioPluginBridge.h"
#include "project/TrackCommands.h"
#include "video/VideoPlayerDialog.h"

#include <QDebug>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QColor TrackColorPalette[] = {QColor(0x3a, 0x86, 0xff), QColor(0xff, 0x00, 0x55),
                                    QColor(0x00, 0xf2, 0xff), QColor(0xff, 0xcc, 0x00),
                                    QColor(0x72, 0x09, 0xb7), QColor(0xff, 0x9f, 0x1c),
                                    QColor(0x00, 0xd2, 0x6a), QColor(0xff, 0x66, 0xcc)};
constexpr double MinZoom = 0.01;
// The lane viewport counts as laid out from this width.
constexpr int MinViewportWidth = 101;
// Where the view jumps to when the playhead leaves its middle 80 %.
constexpr double FollowMargin = 0.1;
constexpr double FollowLead = 0.3;

int clampedMilliseconds(double seconds)
{
    const double ms = seconds * 1000.0;
    if (!(ms > 0.0))
        return 0;
    return ms >= double(INT_MAX) ? INT_MAX : int(ms);
}

} // namespace

int MultiTrackEditorPage::countTracksOfType(TrackType type) const
{
    return int(std::count_if(tracks.begin(), tracks.end(),
                             [type](const TrackData& t) { return t.type == type; }));
}

bool MultiTrackEditorPage::rateSettled() const
{
    const bool audio = std::any_of(tracks.begin(), tracks.end(),
                                   [](const TrackData& t) { return !t.audioClips.empty(); });
    // A running take is recorded and played at the project's rate too.
    return sampleRateChosen || audio || takeRunning() || !pluginBridge->loadedPluginIds().empty();
}

qint64 MultiTrackEditorPage::rateConversionBytes(const QList<float>& samples,
                                                 const QList<float>& stereoSamples, int rate) const
{
    if (samples.isEmpty() || ProjectSampleRate::accepts(rate))
        return 0;
    return ClipRateConversion::convertedBytes(samples.size(), stereoSamples.size(), rate,
                                              projectSampleRate);
}

bool MultiTrackEditorPage::addTrack(TrackType type, const QList<float>& samples, int rate,
                                   const QString& name, const QList<float>& stereoSamples)
{
    // Material at a tiny rate grows by the rate ratio: sized before it is made.
    const qint64 conversionBytes = rateConversionBytes(samples, stereoSamples, rate);
    if (conversionBytes > 0 && !OfflineRender::fitsInMemory(conversionBytes)) {
        qWarning() << "MultiTrackEditorPage: bringing an import from" << rate << "Hz to"
                   << projectSampleRate << "Hz needs" << conversionBytes
                   << "bytes, more than available; nothing added";
        return false;
    }
    const int count = int(tracks.size());
    TrackData track;
    track.type = type;
    track.name = name.isEmpty() ? QStringLiteral("轨道 %1").arg(count + 1) : name;
    track.color = TrackColorPalette[count & 7];
    track.volume = 0.8f;
    track.midiChannel = type == MidiTrack ? countTracksOfType(MidiTrack) & 15 : 0;
    track.pluginId = -1;
    const int rateBefore = projectSampleRate;
    if (!samples.isEmpty()) {
        AudioClip clip;
        clip.samples = samples;
        clip.stereoSamples = stereoSamples;
        clip.sampleRate = rate;
        if (!ProjectSampleRate::accepts(rate)) {
            // The project cannot run at this rate: the material comes at the
            // project's rate.
            qDebug() << "MultiTrackEditorPage: resampling an import from" << rate << "Hz to"
                     << projectSampleRate << "Hz";
            clip.samples = ClipRateConversion::resampleMono(samples, rate, projectSampleRate);
            clip.stereoSamples = ClipRateConversion::resampleStereo(stereoSamples, rate, projectSampleRate);
            clip.sampleRate = projectSampleRate;
        } else if (!rateSettled()) {
            // Nobody chose the project's rate and nothing depends on it yet:
            // it takes the material's.
            setSampleRate(rate);
        }
        // Material without a usable rate cannot be placed in time at all.
        if (!clip.samples.isEmpty())
            track.audioClips.push_back(clip);
        else
            qWarning() << "MultiTrackEditorPage: no clip for material at" << rate << "Hz";
    }
    appendTrack(std::move(track));
    updateRuler();
    auto* command = new AddTrackCommand(this, QStringLiteral("添加轨道"));
    if (projectSampleRate != rateBefore)
        command->setRateChange(rateBefore, projectSampleRate);
    undoStack->push(command);
    return true;
}

void MultiTrackEditorPage::addMidiTrack(const QString& name, std::vector<MidiNote> notes,
                                        double clipLength)
{
    const int count = int(tracks.size());
    const int midiCount = countTracksOfType(MidiTrack);
    TrackData track;
    track.type = MidiTrack;
    track.name = name.isEmpty() ? QStringLiteral("MIDI轨 %1").arg(midiCount + 1) : name;
    track.color = TrackColorPalette[count & 7];
    track.volume = 0.8f;
    track.midiChannel = midiCount & 15;
    track.pluginId = -1;
    MidiClip clip;
    clip.id = 0;
    clip.notes = std::move(notes);
    clip.start = 0.0;
    clip.duration = clipLength;
    track.midiClips.push_back(std::move(clip));
    appendTrack(std::move(track));
    updateRuler();
    undoStack->push(new AddTrackCommand(this, QStringLiteral("添加MIDI轨道")));
}

void MultiTrackEditorPage::appendTrack(TrackData track)
{
    const TrackData* oldAddress = tracks.data();
    tracks.push_back(std::move(track));
    // Only a reallocation moves the tracks the rows point at: re-pointing
    // every row on each add would make adding many tracks quadratic.
    if (tracks.data() != oldAddress)
        rebindTrackRows();
    createTrackRow(int(tracks.size()) - 1);
}

void MultiTrackEditorPage::removeTrack(int index)
{
    if (index < 0 || index >= int(tracks.size()))
        return;
    // A take finds its clip by track index: it ends before tracks move.
    if (isRecording)
        stopTake();
    if (isPlaying)
        onStop();
    const TrackData copy = tracks[size_t(index)];
    destroyTrackRow(index);
    tracks.erase(tracks.begin() + index);
    rebindTrackRows();
    updateRuler();
    undoStack->push(new RemoveTrackCommand(this, index, copy, QStringLiteral("删除轨道")));
}

void MultiTrackEditorPage::clearTracks()
{
    if (isRecording)
        stopTake();
    if (isPlaying)
        onStop();
    for (int i = int(rows.size()) - 1; i >= 0; --i)
        destroyTrackRow(i);
    tracks.clear();
    midiRenderCache.clear();
    audioRenderCache.clear();
    renderSources.clear();
    markers.clear();
    selectedTrack = -1;
    undoStack->clear();
    updateRuler();
    // The next project starts at its beginning: the ruler, the read-out and
    // the lanes to come agree on the playhead, and stop returns there.
    playStartSec = 0.0;
    hScrollBar->setValue(0);
    syncPlayheadAll(0.0);
}

void MultiTrackEditorPage::createTrackRow(int index)
{
    if (index < 0 || index >= int(tracks.size()) || index > int(rows.size()))
        return;
    // Rows below move down: the engine's slots would no longer match them.
    if (isPlaying && index < int(rows.size()))
        onStop();
    const double playhead = playheadPosition();

    // The row itself only takes keys; its header and lane are made in the
    // columns, so they take their styles once.
    auto* row = new TrackRowWidget(this, headerContainer, clipContainer);
    row->setGeometry(0, 0, 0, 0);
    row->setTrackData(&tracks[size_t(index)], index, &sf2Sampler, &pianoSampler, pluginBridge);
    headerLayout->insertWidget(index, row->header());
    clipLayout->insertWidget(index, row->lane());
    rows.insert(rows.begin() + index, row);
    if (selectedTrack >= index)
        ++selectedTrack;
    connectRow(row);

    // A longer project may lower the zoom's lower bound and so the zoom of
    // every lane; otherwise only the new lane needs it.
    ClipLaneWidget* lane = row->lane();
    if (std::max(minimumZoom(), std::min(zoomLevel, MaxZoom)) != zoomLevel) {
        syncZoomAll();
    } else {
        lane->setZoomLevel(zoomLevel);
        updateRuler();
    }
    lane->setShowEnvelope(envelopeButton->isChecked());
    lane->setViewStartSec(viewStartSec);
    lane->setPlayheadPosition(playhead);
    lane->setToolMode(toolMode);
    lane->setSnapEnabled(snapEnabled);
    lane->setSnapBpm(bpm);
    if (MidiClipWidget* midiLane = row->midiLane())
        midiLane->setTimeScale(midiTimeScale());
}

void MultiTrackEditorPage::connectRow(TrackRowWidget* row)
{
    connect(row, &TrackRowWidget::playheadMoved, this, &MultiTrackEditorPage::syncPlayheadAll);
    connect(row, &TrackRowWidget::removeRequested, this, &MultiTrackEditorPage::removeTrack);
    connect(row, &TrackRowWidget::trackSelected, this, &MultiTrackEditorPage::onRowSelected);
    connectRowActions(row);
}

void MultiTrackEditorPage::onRowSelected(int index)
{
    if (index < 0 || index >= int(rows.size()))
        return;
    for (size_t j = 0; j < rows.size(); ++j)
        rows[j]->setSelected(int(j) == index);
    selectedTrack = index;
}

void MultiTrackEditorPage::destroyTrackRow(int index)
{
    if (index < 0 || index >= int(rows.size()))
        return;
    // Every removal passes here: the engine must not play a track that goes.
    if (isPlaying)
        onStop();
    TrackRowWidget* row = rows[size_t(index)];
    QWidget* header = row->header();
    QWidget* lane = row->lane();
    headerLayout->removeWidget(header);
    if (lane)
        clipLayout->removeWidget(lane);
    delete header;
    delete lane;
    rows.erase(rows.begin() + index);
    delete row;
    if (selectedTrack == index)
        selectedTrack = -1;
    else if (selectedTrack > index)
        --selectedTrack;
}

double MultiTrackEditorPage::projectLength() const
{
    double length = 0.0;
    const double midiScale = midiTimeScale();
    for (const TrackData& track : tracks) {
        for (const AudioClip& clip : track.audioClips) {
            const double end = clip.end();
            if (std::isfinite(end))
                length = std::max(length, end);
        }
        for (const MidiClip& clip : track.midiClips) {
            const double end = clip.end() * midiScale;
            if (std::isfinite(end))
                length = std::max(length, end);
        }
    }
    return length;
}

int MultiTrackEditorPage::laneViewportWidth() const
{
    return clipScrollArea ? clipScrollArea->viewport()->width() : 0;
}

void MultiTrackEditorPage::updateRuler()
{
    const double length = projectLength();
    const double duration = std::max(length, MinRulerSeconds);

    // The ruler ends where the lanes do, not under their vertical scroll bar.
    const int width = laneViewportWidth();
    if (width >= MinViewportWidth)
        ruler->setMaximumWidth(width);

    // The view start can reach the end of the project less the visible span.
    const int visibleMs = std::max(1, clampedMilliseconds(width / (zoomLevel * 100.0)));
    const int durationMs = clampedMilliseconds(duration);
    const QSignalBlocker blocker(hScrollBar);
    hScrollBar->setMinimum(0);
    hScrollBar->setPageStep(visibleMs);
    hScrollBar->setSingleStep(std::max(1, visibleMs / 10));
    hScrollBar->setMaximum(std::max(0, durationMs - visibleMs));
    // A zoom or a shorter project must not leave the view where the scroll
    // bar cannot reach: the view comes back within its range.
    const double lastStart = hScrollBar->maximum() / 1000.0;
    if (!(viewStartSec >= 0.0 && viewStartSec <= lastStart)) {
        viewStartSec = std::clamp(std::isfinite(viewStartSec) ? viewStartSec : 0.0, 0.0, lastStart);
        forEachLane([this](auto* lane) { lane->setViewStartSec(viewStartSec); });
    }
    hScrollBar->setValue(clampedMilliseconds(viewStartSec));

    ruler->setDuration(duration);
    ruler->setViewStartSec(viewStartSec);
    ruler->setZoomLevel(zoomLevel);
    ruler->setMarkers(markers);

    // Nor may a new length leave the playhead past the project's end (0 for
    // an empty project), where play would start in silence off screen. A
    // running transport keeps its clock; a playhead put past the end stays
    // there until the length changes. The point Stop returns to follows the
    // same rule, also during playback, and so does the playhead at a pause;
    // a take's start stays, as its clock counts from there.
    if (length != rulerProjectLength) {
        rulerProjectLength = length;
        if (!takeRunning())
            playStartSec = std::min(playStartSec, length);
        // The ruler keeps showing it when the last lane has gone.
        const double playhead = std::max(playheadPosition(), ruler->playheadPosition());
        if (!(isPlaying || takeRunning()) && playhead > length)
            syncPlayheadAll(length);
        else if (isPlaying && playhead > length)
            endPassedWhilePlaying = true;
    }
}

void MultiTrackEditorPage::syncPlayheadAll(double sec)
{
    forEachLane([sec](auto* lane) { lane->setPlayheadPosition(sec); });
    for (TrackRowWidget* row : rows)
        row->setPianoRollPlayhead(sec);
    ruler->setPlayheadPosition(sec);
    updateTimeLabel(sec);
    if (videoDialog)
        videoDialog->syncPosition(sec);

    const int width = laneViewportWidth();
    if (!(isPlaying || isRecording) || width < MinViewportWidth)
        return;
    const double visible = width / (zoomLevel * 100.0);
    const double viewStart = hScrollBar->value() / 1000.0;
    if (sec < viewStart + FollowMargin * visible || sec > viewStart + visible - FollowMargin * visible) {
        const int target = clampedMilliseconds(std::max(sec - FollowLead * visible, 0.0));
        hScrollBar->setValue(std::clamp(target, 0, hScrollBar->maximum()));
    }
}

double MultiTrackEditorPage::minimumZoom() const
{
    const int width = laneViewportWidth();
    if (width < MinViewportWidth)
        return MinZoom;
    return std::max(MinZoom, width / (std::max(projectLength(), MinRulerSeconds) * 100.0));
}

void MultiTrackEditorPage::syncZoomAll()
{
    zoomLevel = std::max(minimumZoom(), std::min(zoomLevel, MaxZoom));
    forEachLane([this](auto* lane) { lane->setZoomLevel(zoomLevel); });
    ruler->setZoomLevel(zoomLevel);
    updateRuler();
}

void MultiTrackEditorPage::syncVerticalScroll()
{
    if (scrollSyncGuard)
        return;
    scrollSyncGuard = true;
    clipScrollArea->verticalScrollBar()->setValue(headerScrollArea->verticalScrollBar()->value());
    scrollSyncGuard = false;
}

void MultiTrackEditorPage::setVideoPlayerDialog(VideoPlayerDialog* dialog)
{
    // A QPointer forgets the window by itself when it is destroyed.
    videoDialog = dialog;
}

void MultiTrackEditorPage::showVideoButtonOnTrack(int index)
{
    if (index < 0 || index >= int(rows.size()))
        return;
    rows[size_t(index)]->header()->setVideoButtonVisible(true);
}

double MultiTrackEditorPage::playheadPosition() const
{
    if (rows.empty() || !rows.front()->lane())
        return 0.0;
    return rows.front()->lane()->playheadPosition();
}
