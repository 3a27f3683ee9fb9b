#include "multitrack/MultiTrackEditorPage.h"

#include "engine/devices/AudioEngine.h"
#include "engine/devices/LiveAudioPlayer.h"
#include "engine/devices/Metronome.h"
#include "engine/devices/SoundServerWatch.h"
#include "engine/midi/MidiInput.h"
#include "engine/midi/MidiRecorder.h"
#include "multitrack/ClipLaneWidget.h"
#include "multitrack/MultiTrackEditorPageStyles.h"
#include "multitrack/ProjectSampleRate.h"
#include "multitrack/TrackRowWidget.h"
#include "plugins/AudioPluginBridge.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QUndoStack>

namespace {

constexpr int PlaybackTickMs = 50;
constexpr int MidiConnectIntervalMs = 1000;

} // namespace

MultiTrackEditorPage::MultiTrackEditorPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MultiTrackEditorPage"));
    setFocusPolicy(Qt::StrongFocus);

    undoStack = new QUndoStack(this);
    // The commands refresh no view: after every undo and redo the lanes,
    // the ruler and its markers show the tracks again.
    connect(undoStack, &QUndoStack::indexChanged, this, [this] {
        updateRuler();
        // One repaint request per lane for a whole run of steps (a MIDI file
        // adds a track per step): asking every lane on each step is quadratic.
        if (lanesRepaintQueued)
            return;
        lanesRepaintQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                lanesRepaintQueued = false;
                forEachLane([](ClipLaneWidget* lane) { lane->update(); });
            },
            Qt::QueuedConnection);
    });
    replaceEngine();
    pluginBridge = new AudioPluginBridge();
    pluginBridge->initialize(projectSampleRate, EngineBufferFrames);

    playbackTimer = new QTimer(this);
    playbackTimer->setInterval(PlaybackTickMs);
    connect(playbackTimer, &QTimer::timeout, this, &MultiTrackEditorPage::onPlaybackTimer);
    // Asks nothing that waits: a frozen server holds no tick.
    serverFollowTimer = new QTimer(this);
    serverFollowTimer->setInterval(1000);
    connect(serverFollowTimer, &QTimer::timeout, this, [this] {
        followSoundServer(std::chrono::milliseconds(0));
        if (engine->isOnSoundServer())
            serverFollowTimer->stop();
    });

    liveKeyChannels.fill(-1);
    midiInput = new MidiInput(this);
    liveAudioPlayer = new LiveAudioPlayer(this);
    midiRecorder = new MidiRecorder(this);
    // Emitted on the MIDI thread: delivered queued, in order, on this one.
    connect(midiInput, &MidiInput::noteOnReceived, this, &MultiTrackEditorPage::onMidiNoteOn);
    connect(midiInput, &MidiInput::noteOffReceived, this, &MultiTrackEditorPage::onMidiNoteOff);

    metronome = new Metronome(this);
    metronomeEnabled = false;

    setupUi();
    connectEditingControls();
    connectRecordingControls();
    loadPiano();

    midiConnectTimer = new QTimer(this);
    connect(midiConnectTimer, &QTimer::timeout, this, [this] {
        if (!midiConnected && midiInput->autoConnect())
            midiConnected = true;
        if (midiConnected)
            midiConnectTimer->stop();
    });
    midiConnectTimer->start(MidiConnectIntervalMs);
}

MultiTrackEditorPage::~MultiTrackEditorPage()
{
    // The live output and the metronome are children, deleted last, but they
    // play the instruments and plug-ins that go before: they stop first,
    // while the page is whole (stopping an output lets events run, and no
    // key that arrives meanwhile may start the output again).
    midiInput->disconnect(this);
    goingAway = true; // keys already queued arrive while the output stops
    liveAudioPlayer->stop();
    metronome->stop();
    playbackTimer->stop();
    midiConnectTimer->stop();
    // The stack's clearing when Qt deletes it must not reach a page half gone.
    undoStack->disconnect(this);
    if (recordEngine) {
        recordEngine->stopRecording();
        recordEngine->shutdown();
        delete recordEngine;
        recordEngine = nullptr;
    }
    engine->stopPlayback();
    engine->shutdown();
    delete engine;
    engine = nullptr;
    // Plug-in editor windows show plug-ins of the bridge.
    closePluginEditors();
    pluginBridge->shutdown();
    delete pluginBridge;
    pluginBridge = nullptr;
    // Rows point into `tracks`: they go before it (their widgets with Qt parenthood).
    for (TrackRowWidget* row : rows)
        row->rebindTrackData(nullptr);
}

void MultiTrackEditorPage::loadPiano()
{
    const QString resourceDir = QStringLiteral(":/piano");
    if (QDir(resourceDir).exists()) {
        qDebug() << "PianoSampler: loading from Qt resources :/piano";
        pianoSampler.loadSampleLibraryFromResources(resourceDir);
    }
    if (pianoSampler.sampleCount() == 0) {
        const QString appDir = QCoreApplication::applicationDirPath();
        qDebug() << "PianoSampler: app dir =" << appDir;
        const QStringList candidates = {
            appDir + QStringLiteral("/rawfile/piano"),
            appDir + QStringLiteral("/../rawfile/piano"),
            appDir + QStringLiteral("/resources/piano"),
            QDir(appDir + QStringLiteral("/../../entry/src/main/cpp/resources/piano")).absolutePath(),
            QDir(appDir + QStringLiteral("/../../entry/src/main/resources/rawfile/piano")).absolutePath(),
        };
        for (const QString& dir : candidates) {
            const QDir folder(dir);
            const bool exists = folder.exists();
            qDebug() << "PianoSampler: trying" << dir << "exists=" << (exists ? "true" : "false");
            if (!exists || folder.entryList({QStringLiteral("*.mp3")}, QDir::Files).isEmpty())
                continue;
            qDebug() << "PianoSampler: loading from" << dir;
            pianoSampler.loadSampleLibrary(dir);
            break;
        }
    }
    qDebug() << "PianoSampler: pianoLoaded=" << (pianoSampler.sampleCount() > 0 ? "true" : "false");
}

void MultiTrackEditorPage::setSampleRate(int rate)
{
    if (rate == projectSampleRate)
        return;
    if (!ProjectSampleRate::accepts(rate)) {
        qWarning() << "MultiTrackEditorPage: ignoring sample rate" << rate;
        return;
    }
    // The engine goes away: stop the transport that drives it first. A take
    // ends too, kept at the rate it was recorded at (its playback and its
    // playhead stop with the engine).
    if (isRecording)
        stopTake();
    if (isPlaying)
        onStop();
    projectSampleRate = rate;
    replaceEngine();
    // The loaded plug-ins stay with the tracks that chose them, set up again
    // for the new rate.
    pluginBridge->setSampleRate(rate);
}

void MultiTrackEditorPage::chooseSampleRate(int rate)
{
    setSampleRate(rate);
    sampleRateChosen = true;
}

void MultiTrackEditorPage::setOutputDeviceFactory(AudioDeviceFactory factory)
{
    if (isRecording)
        stopTake();
    if (isPlaying)
        onStop();
    outputDeviceFactory = std::move(factory);
    replaceEngine();
}

void MultiTrackEditorPage::replaceEngine()
{
    if (engine)
        engine->stopPlayback();
    // The new output opens before the old one closes: a server left without
    // a stream for a moment renders seconds ahead again.
    auto* next = outputDeviceFactory ? new MultiTrackAudioEngine(outputDeviceFactory())
                                     : new MultiTrackAudioEngine();
    next->initialize(projectSampleRate, EngineBufferFrames);
    if (outputKept && next->prepareOutput() && engine)
        engine->keepOutputUntilHeldBy(*next);
    if (engine)
        engine->shutdown();
    delete engine;
    engine = next;
}

void MultiTrackEditorPage::followSoundServer(std::chrono::milliseconds patience)
{
    if (outputDeviceFactory || engine->isOnSoundServer() || isPlaying || isRecording)
        return;
    if (SoundServerWatch::instance().reachable(patience))
        replaceEngine();
}

void MultiTrackEditorPage::prepareOutput()
{
    outputKept = true;
    followSoundServer();
    engine->prepareOutput();
    // The output is held from when a server comes, not from the next press.
    if (!outputDeviceFactory && !engine->isOnSoundServer())
        serverFollowTimer->start();
}

void MultiTrackEditorPage::changeProjectSampleRate(int rate)
{
    setSampleRate(rate);
}

void MultiTrackEditorPage::forEachLane(const std::function<void(ClipLaneWidget*)>& visit) const
{
    for (TrackRowWidget* row : rows) {
        if (ClipLaneWidget* lane = row->lane())
            visit(lane);
    }
}

void MultiTrackEditorPage::restyleToggle(QPushButton* button, bool checked)
{
    button->setStyleSheet(QLatin1String(checked ? MultiTrackPageStyle::ToolActive : MultiTrackPageStyle::ToolIdle));
}

void MultiTrackEditorPage::onToolChanged(ToolMode mode)
{
    toolMode = mode;
    restyleToggle(scissorsButton, mode == Scissors);
    restyleToggle(moveButton, mode == Move);
    scissorsButton->setChecked(mode == Scissors);
    moveButton->setChecked(mode == Move);
    forEachLane([mode](auto* lane) { lane->setToolMode(int(mode)); });
}

void MultiTrackEditorPage::onTogglePcmCast()
{
    const bool checked = castButton->isChecked();
    castButton->setStyleSheet(QLatin1String(checked ? MultiTrackPageStyle::CastActive : MultiTrackPageStyle::CastIdle));
    castButton->setText(checked ? QStringLiteral("流转中") : QStringLiteral("音频流转"));
}

TrackRowBinding* MultiTrackEditorPage::trackRowAt(int index) const
{
    if (index < 0 || index >= int(rows.size()))
        return nullptr;
    return rows[size_t(index)];
}
