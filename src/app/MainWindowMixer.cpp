// The mixer page: View > "调音台" shows it or leaves it, and each strip's
// volume, pan, mute and solo change is written into the multitrack page's
// track. The insert-slot requests of the strips have no receiver.

#include "app/MainWindow.h"

#include "editor/AudioEditorPage.h"
#include "multitrack/MixerPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"

#include <QAction>
#include <QSignalBlocker>
#include <QStackedWidget>

void MainWindow::connectMixer()
{
    connect(actions.mixer, &QAction::triggered, this, &MainWindow::toggleMixer);
    connect(mixerPage, &MixerPage::trackVolumeChanged, this, [this](int index, float volume) {
        applyMixerChange(index, [volume](TrackData& track) { track.volume = volume; });
    });
    connect(mixerPage, &MixerPage::trackPanChanged, this, [this](int index, float pan) {
        applyMixerChange(index, [pan](TrackData& track) { track.pan = pan; });
    });
    connect(mixerPage, &MixerPage::trackMuteChanged, this, [this](int index, bool muted) {
        applyMixerChange(index, [muted](TrackData& track) { track.muted = muted; });
    });
    connect(mixerPage, &MixerPage::trackSoloChanged, this, [this](int index, bool solo) {
        applyMixerChange(index, [solo](TrackData& track) { track.solo = solo; });
    });
}

void MainWindow::toggleMixer()
{
    // Leaving the mixer leads to the page of the project, wherever the mixer
    // was opened from: a single-track project saves only its own page, so it
    // is kept off the multitrack page.
    if (stackedWidget->currentWidget() == mixerPage) {
        if (projectType == QLatin1String("single"))
            stackedWidget->setCurrentWidget(audioEditorPage);
        else
            stackedWidget->setCurrentWidget(multiTrackPage);
        return;
    }
    // The mixer reads the page's track list (given once, at start-up).
    mixerPage->refreshFromData();
    stackedWidget->setCurrentWidget(mixerPage);
}

void MainWindow::refreshMixerIfShowing()
{
    if (stackedWidget->currentWidget() == mixerPage)
        mixerPage->refreshFromData();
}

void MainWindow::applyMixerChange(int trackIndex, const std::function<void(TrackData&)>& write)
{
    std::vector<TrackData>& tracks = multiTrackPage->tracks;
    if (trackIndex < 0 || trackIndex >= int(tracks.size()))
        return;
    TrackData& track = tracks[size_t(trackIndex)];
    write(track);
    // The header shows the track as the mixer left it; its own signals stay
    // quiet, so its slider's percent steps do not overwrite the volume.
    if (trackIndex < int(multiTrackPage->rows.size())) {
        TrackHeaderWidget* header = multiTrackPage->rows[size_t(trackIndex)]->header();
        const QSignalBlocker blocker(header);
        header->setVolume(track.volume);
        header->setMuted(track.muted);
        header->setSolo(track.solo);
    }
    multiTrackPage->updateEngineTrackSlot(trackIndex);
}
