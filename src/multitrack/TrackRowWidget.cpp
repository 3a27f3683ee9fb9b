#include "multitrack/TrackRowWidget.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/PianoRollDialog.h"
#include "multitrack/TrackHeaderWidget.h"
#include "plugins/AudioPluginBridge.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace {

// The plug-ins the bridge has loaded, in id order, with their names.
std::vector<TrackInstrumentList::Plugin> loadedInstrumentPlugins(AudioPluginBridge* bridge)
{
    std::vector<TrackInstrumentList::Plugin> plugins;
    if (!bridge)
        return plugins;
    for (int id : bridge->loadedPluginIds())
        plugins.emplace_back(id, QString::fromStdString(bridge->pluginName(id)));
    return plugins;
}

} // namespace

TrackRowWidget::TrackRowWidget(QWidget* parent)
    : TrackRowWidget(parent, nullptr, nullptr)
{
}

TrackRowWidget::TrackRowWidget(QWidget* parent, QWidget* headerColumn, QWidget* laneColumn)
    : QWidget(parent)
    , laneParent(laneColumn ? laneColumn : this)
{
    trackHeader = new TrackHeaderWidget(headerColumn ? headerColumn : this);
}

TrackRowWidget::~TrackRowWidget()
{
    closePianoRolls();
}

ClipLaneWidget* TrackRowWidget::lane() const
{
    if (midiClipLane)
        return midiClipLane;
    return audioClipLane;
}

void TrackRowWidget::setTrackData(TrackData* value, int index, SF2Sampler* sf2,
                                  PianoSampler* piano, AudioPluginBridge* bridge)
{
    track = value;
    trackIndex = index;
    sf2Sampler = sf2;
    pianoSampler = piano;
    pluginBridge = bridge;
    if (track) {
        trackHeader->setName(track->name);
        trackHeader->setColor(track->color);
        trackHeader->setVolume(track->volume);
        trackHeader->setMuted(track->muted);
        trackHeader->setSolo(track->solo);
        trackHeader->setArmed(track->armed);
    }
    connectHeader();
    if (track && track->isMidi())
        bindMidiLane();
    else
        bindAudioLane();
    // The row is never shown: the focus it takes goes to its lane, whose
    // keys delete the clip clicked there.
    setFocusProxy(lane());
}

void TrackRowWidget::connectHeader()
{
    // Each writes only while a track is bound and reports the change either way.
    connect(trackHeader, &TrackHeaderWidget::nameChanged, this, [this](const QString& name) {
        if (track)
            track->name = name;
        emit trackChanged();
    });
    connect(trackHeader, &TrackHeaderWidget::volumeChanged, this, [this](float volume) {
        if (track)
            track->volume = volume;
        emit trackChanged();
    });
    connect(trackHeader, &TrackHeaderWidget::muteToggled, this, [this](bool muted) {
        if (track)
            track->muted = muted;
        emit trackChanged();
    });
    connect(trackHeader, &TrackHeaderWidget::soloToggled, this, [this](bool solo) {
        if (track)
            track->solo = solo;
        emit trackChanged();
    });
    connect(trackHeader, &TrackHeaderWidget::armToggled, this, [this](bool armed) {
        if (track)
            track->armed = armed;
        emit trackChanged();
    });
    connect(trackHeader, &TrackHeaderWidget::removeRequested, this,
            [this] { emit removeRequested(trackIndex); });
}

void TrackRowWidget::connectLane(ClipLaneWidget* lane)
{
    connect(lane, &ClipLaneWidget::playheadMoved, this, &TrackRowWidget::playheadMoved);
    connect(lane, &ClipLaneWidget::clicked, this, [this] { emit trackSelected(trackIndex); });
    connect(lane, &ClipLaneWidget::clipTrimmed, this, &TrackRowWidget::trackChanged);
    connect(lane, &ClipLaneWidget::scissorClicked, this, &TrackRowWidget::scissorClicked);
    connect(lane, &ClipLaneWidget::clipDragStarted, this, &TrackRowWidget::clipDragStarted);
    connect(lane, &ClipLaneWidget::clipDragMoved, this, &TrackRowWidget::clipDragMoved);
    connect(lane, &ClipLaneWidget::clipDragFinished, this, &TrackRowWidget::clipDragFinished);
}

void TrackRowWidget::bindAudioLane()
{
    // An audio row never shows the instrument list or the VST3 button.
    audioClipLane = new AudioClipWidget(laneParent);
    audioClipLane->setTrackData(track);
    connectLane(audioClipLane);
    connect(audioClipLane, &AudioClipWidget::clipDoubleClicked, this,
            &TrackRowWidget::clipDoubleClicked);
    connect(audioClipLane, &AudioClipWidget::deleteAudioClip, this,
            &TrackRowWidget::deleteAudioClip);
}

void TrackRowWidget::bindMidiLane()
{
    trackHeader->setInstrumentVisible(true);
    fillInstrumentList();

    midiClipLane = new MidiClipWidget(laneParent);
    midiClipLane->setTrackData(track);

    connect(trackHeader, &TrackHeaderWidget::instrumentChanged, this,
            &TrackRowWidget::onInstrumentChanged);
    connect(trackHeader, &TrackHeaderWidget::vst3EditorToggled, this,
            [this](bool open) { emit vst3EditorToggled(trackIndex, open); });
    connectLane(midiClipLane);
    connect(midiClipLane, &MidiClipWidget::clipDoubleClicked, this,
            &TrackRowWidget::onMidiClipDoubleClicked);
    connect(midiClipLane, &MidiClipWidget::deleteClipRequested, this,
            &TrackRowWidget::deleteMidiClip);
    connect(midiClipLane, &MidiClipWidget::clipCreated, this, &TrackRowWidget::onMidiClipCreated);
}

void TrackRowWidget::fillInstrumentList()
{
    TrackInstrumentList::Sources sources;
    sources.plugins = loadedInstrumentPlugins(pluginBridge);
    sources.soundFontLoaded = sf2Sampler && sf2Sampler->isLoaded();
    if (sources.soundFontLoaded)
        sources.presetNames = sf2Sampler->getPresetNames();
    sources.pianoAvailable = pianoSampler && pianoSampler->sampleCount() > 0;
    instruments = std::make_unique<TrackInstrumentList>(sources);

    trackHeader->setInstrumentList(instruments->entries(), instruments->currentEntry(*track));
    if (track->pluginId >= 0)
        trackHeader->setVst3ButtonVisible(true);
    else if (sources.soundFontLoaded)
        sf2Sampler->selectPreset(track->midiChannel, track->instrumentIndex);
}

void TrackRowWidget::refreshInstrumentList()
{
    if (!track || !midiClipLane)
        return;
    // Refilling the list must not read as a choice of the user's.
    const QSignalBlocker quiet(trackHeader);
    if (track->pluginId < 0) {
        trackHeader->setVst3ButtonVisible(false);
        trackHeader->setVst3ButtonChecked(false);
    }
    fillInstrumentList();
}

void TrackRowWidget::onInstrumentChanged(int entry)
{
    if (!track || !instruments)
        return;
    const TrackInstrumentList::Choice choice = instruments->choose(entry);
    if (!choice.valid)
        return;
    track->pluginId = choice.pluginId;
    track->instrumentIndex = choice.instrumentIndex;
    // The open rolls audition with the track's instrument.
    for (PianoRollDialog* roll : pianoRolls())
        roll->setTrackInstrument(track->midiChannel, track->instrumentIndex);
    if (choice.pluginId >= 0) {
        trackHeader->setVst3ButtonVisible(true);
        if (pluginBridge)
            pluginBridge->activatePlugin(choice.pluginId);
    } else {
        trackHeader->setVst3ButtonVisible(false);
        trackHeader->setVst3ButtonChecked(false);
        if (sf2Sampler && sf2Sampler->isLoaded())
            sf2Sampler->selectPreset(track->midiChannel, track->instrumentIndex);
    }
    emit trackChanged();
}

void TrackRowWidget::onMidiClipCreated(double startSec, double durationSec)
{
    if (!track)
        return;
    // The append may move the clips the open rolls edit.
    closePianoRolls();
    MidiClip clip;
    clip.id = int(track->midiClips.size());
    clip.start = startSec;
    clip.duration = durationSec;
    track->midiClips.push_back(clip);
    if (midiClipLane)
        midiClipLane->update();
    emit trackChanged();
}

void TrackRowWidget::onMidiClipDoubleClicked(int clipIndex)
{
    if (!track || clipIndex < 0 || clipIndex >= int(track->midiClips.size()))
        return;
    auto* roll = new PianoRollDialog(&track->midiClips[size_t(clipIndex)], track->color, sf2Sampler,
                                     pianoSampler, this);
    roll->setTrackInstrument(track->midiChannel, track->instrumentIndex);
    // A closed roll goes at once: it must not outlive the clip it edits.
    roll->setAttribute(Qt::WA_DeleteOnClose);
    openRolls.emplace_back(roll);
    connect(roll, &QDialog::finished, this, [this, roll] {
        roll->detachClip();
        forgetPianoRoll(roll);
        if (midiClipLane)
            midiClipLane->update();
        emit trackChanged();
    });
    roll->show();
}

void TrackRowWidget::forgetPianoRoll(PianoRollDialog* roll)
{
    openRolls.erase(std::remove_if(openRolls.begin(), openRolls.end(),
                                   [roll](const QPointer<PianoRollDialog>& open) {
                                       return open.isNull() || open == roll;
                                   }),
                    openRolls.end());
}

std::vector<PianoRollDialog*> TrackRowWidget::pianoRolls() const
{
    std::vector<PianoRollDialog*> rolls;
    for (const QPointer<PianoRollDialog>& roll : openRolls) {
        if (roll)
            rolls.push_back(roll);
    }
    return rolls;
}

void TrackRowWidget::closePianoRolls()
{
    const std::vector<QPointer<PianoRollDialog>> rolls = std::move(openRolls);
    openRolls.clear();
    for (const QPointer<PianoRollDialog>& roll : rolls) {
        if (!roll)
            continue;
        roll->disconnect(this);
        roll->detachClip();
        delete roll.data();
    }
}

void TrackRowWidget::setPianoRollPlayhead(double sec)
{
    const double held = midiClipLane ? sec / midiClipLane->timeScale() : sec;
    for (const QPointer<PianoRollDialog>& roll : openRolls) {
        if (roll)
            roll->setPlayheadPosition(held);
    }
}

void TrackRowWidget::updateIndex(int index)
{
    trackIndex = index;
}

void TrackRowWidget::rebindTrackData(TrackData* value)
{
    if (!value)
        closePianoRolls();
    track = value;
    if (midiClipLane)
        midiClipLane->setTrackData(track);
    if (audioClipLane)
        audioClipLane->setTrackData(track);
}

void TrackRowWidget::setSelected(bool value)
{
    selected = value;
    trackHeader->setSelectedLook(value);
    if (value) {
        setFocusPolicy(Qt::StrongFocus);
        setFocus(Qt::OtherFocusReason);
    } else {
        setFocusPolicy(Qt::NoFocus);
    }
}

void TrackRowWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit trackSelected(trackIndex);
    QWidget::mousePressEvent(event);
}

void TrackRowWidget::keyPressEvent(QKeyEvent* event)
{
    const bool removeKey = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (removeKey && (event->modifiers() & Qt::ShiftModifier)) {
        emit removeRequested(trackIndex);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TrackRowWidget::contextMenuEvent(QContextMenuEvent* event)
{
    emit trackSelected(trackIndex);
    QMenu menu(this);
    QAction* remove = menu.addAction(QStringLiteral("删除轨道"));
    if (menu.exec(event->globalPos()) == remove)
        emit removeRequested(trackIndex);
    event->accept();
}
