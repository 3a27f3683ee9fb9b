#include "multitrack/PianoRollDialog.h"

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/PreviewPlaybackDevice.h"

#include <QAudioDevice>
#include <QDebug>
#include <QMediaDevices>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int DefaultPreviewRate = 44100;

// The roll whose output renders the shared instruments' voices (GUI thread only).
PianoRollDialog* voicesRoll = nullptr;

} // namespace

PianoRollDialog::PianoRollDialog(MidiClip* editedClip, const QColor& color, SF2Sampler* sf2,
                                 PianoSampler* piano, QWidget* parent)
    : QDialog(parent), clip(editedClip), clipColor(color), sampler(sf2), pianoSampler(piano)
{
    setWindowTitle(tr("Piano Roll"));
    resize(960, 640);
    setMinimumSize(600, 400);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    scrollToNotes();
    startPreviewRenderer();
}

PianoRollDialog::~PianoRollDialog()
{
    if (voicesRoll == this)
        voicesRoll = nullptr;
    stopPreviewRenderer();
    if (sampler)
        sampler->allNotesOff();
    if (pianoSampler)
        pianoSampler->allNotesOff();
}

void PianoRollDialog::setPlayheadPosition(double seconds)
{
    playheadSeconds = seconds;
    update();
}

void PianoRollDialog::detachClip()
{
    clip = nullptr;
    dragMode = NoDrag;
    moveNoteIndex = -1;
    resizeNoteIndex = -1;
    velocityDragging = false;
    selectedNotes.clear();
    stopPreviewRenderer();
    if (sampler)
        sampler->allNotesOff();
    if (pianoSampler)
        pianoSampler->allNotesOff();
    soundingKey = -1;
    soundingOn.clear();
    update();
}

// ---- geometry

QRect PianoRollDialog::rulerArea() const
{
    return QRect(QPoint(KeyColumnWidth, 0), QPoint(width() - 1, RulerHeight - 1));
}

QRect PianoRollDialog::gridArea() const
{
    return QRect(QPoint(KeyColumnWidth, RulerHeight),
                 QPoint(width() - 1, height() - VelocityPanelHeight - BottomStripHeight - 1));
}

QRect PianoRollDialog::pianoKeyArea() const
{
    return QRect(QPoint(0, RulerHeight),
                 QPoint(KeyColumnWidth - 1, height() - VelocityPanelHeight - BottomStripHeight - 1));
}

QRect PianoRollDialog::velocityArea() const
{
    return QRect(QPoint(KeyColumnWidth, height() - VelocityPanelHeight - BottomStripHeight),
                 QPoint(width() - 1, height() - BottomStripHeight - 1));
}

int PianoRollDialog::beatToX(double beat) const
{
    return int(zoomX * (beat - scrollBeat) * PixelsPerBeat) + KeyColumnWidth;
}

double PianoRollDialog::xToBeat(int x) const
{
    return scrollBeat + (x - KeyColumnWidth) / (PixelsPerBeat * zoomX);
}

int PianoRollDialog::pitchToY(int pitch) const
{
    return int(zoomY * (TopPitch - pitch) * PixelsPerRow) - scrollY + RulerHeight;
}

int PianoRollDialog::rowHeight() const
{
    return int(PixelsPerRow * zoomY);
}

int PianoRollDialog::yToPitch(int y) const
{
    const int row = rowHeight();
    if (row == 0)
        return 0;
    return TopPitch - (y + scrollY - RulerHeight) / row;
}

void PianoRollDialog::snapToGrid(double& beat)
{
    beat = std::round(beat * 4.0) / 4.0;
}

double PianoRollDialog::visibleBeats() const
{
    return (width() - KeyColumnWidth) / (PixelsPerBeat * zoomX);
}

void PianoRollDialog::setTrackInstrument(int channel, int preset)
{
    auditionChannel = std::clamp(channel, 0, 15);
    auditionPreset = preset;
}

void PianoRollDialog::scrollToNotes()
{
    // Middle C for an empty clip.
    int low = MiddleC;
    int high = MiddleC;
    double firstBeat = 0.0;
    if (clip && !clip->notes.empty()) {
        low = TopPitch;
        high = BottomPitch;
        firstBeat = secondsToBeats(clip->notes.front().start);
        for (const MidiNote& note : clip->notes) {
            low = std::min(low, std::clamp(note.pitch, BottomPitch, TopPitch));
            high = std::max(high, std::clamp(note.pitch, BottomPitch, TopPitch));
            firstBeat = std::min(firstBeat, secondsToBeats(note.start));
        }
    }
    // The notes' rows centred in the grid; the highest at its top when they
    // are more than it holds.
    const int top = int(zoomY * (TopPitch - high) * PixelsPerRow);
    const int bottom = int(zoomY * (TopPitch - low + 1) * PixelsPerRow);
    const int gridHeight = gridArea().height();
    const int maxScroll = std::max(0, int(RowCount * PixelsPerRow * zoomY) - gridHeight);
    scrollY = std::clamp(std::min(top, (top + bottom - gridHeight) / 2), 0, maxScroll);
    // From the bar of the first note.
    scrollBeat = std::floor(std::max(0.0, firstBeat) / 4.0) * 4.0;
    clampScroll();
}

void PianoRollDialog::clampScroll()
{
    if (!clip)
        return;
    const double clipBeats = secondsToBeats(clip->duration);
    scrollBeat = std::max(0.0, std::min(scrollBeat, clipBeats - visibleBeats()));
}

int PianoRollDialog::noteLeft(const MidiNote& note) const
{
    return beatToX(secondsToBeats(note.start));
}

int PianoRollDialog::noteRight(const MidiNote& note) const
{
    return beatToX(secondsToBeats(note.start + note.duration));
}

bool PianoRollDialog::validNote(int index) const
{
    return clip && index >= 0 && index < int(clip->notes.size());
}

std::vector<int> PianoRollDialog::notesInRowAt(int y) const
{
    std::vector<int> found;
    if (!clip)
        return found;
    const int row = rowHeight();
    // Last first: the note drawn on top answers first.
    for (int i = int(clip->notes.size()) - 1; i >= 0; --i) {
        const int top = pitchToY(clip->notes[size_t(i)].pitch);
        if (y >= top && y < top + row)
            found.push_back(i);
    }
    return found;
}

int PianoRollDialog::hitTestNote(const QPoint& pos) const
{
    for (int i : notesInRowAt(pos.y())) {
        const MidiNote& note = clip->notes[size_t(i)];
        if (pos.x() >= noteLeft(note) && pos.x() <= noteRight(note))
            return i;
    }
    return -1;
}

int PianoRollDialog::hitTestNoteEdge(const QPoint& pos) const
{
    for (int i : notesInRowAt(pos.y())) {
        const MidiNote& note = clip->notes[size_t(i)];
        if (std::abs(pos.x() - noteRight(note)) <= EdgeGrabPixels)
            return 2 * i + 1;
        if (std::abs(pos.x() - noteLeft(note)) <= EdgeGrabPixels)
            return 2 * i;
    }
    return -1;
}

int PianoRollDialog::velocityAt(int y) const
{
    const double fraction = 1.0 - double(y - velocityArea().top()) / VelocityPanelHeight;
    return std::clamp(int(fraction * 127.0), 1, 127);
}

// ---- auditions

AuditionInstrument PianoRollDialog::heardInstrument() const
{
    return AuditionInstrument(sampler, pianoSampler, auditionChannel, auditionPreset);
}

void PianoRollDialog::keepInstrumentAtOutputRate()
{
    // Only when the device refused the instrument's own rate: the live
    // output on the same device then runs at that rate too.
    const AuditionInstrument heard = heardInstrument();
    if (outputRate > 0 && heard.isUsable() && heard.sampleRate() != outputRate)
        heard.setSampleRate(outputRate);
}

void PianoRollDialog::followInstrumentRate()
{
    // The live output may have moved the shared instrument to its own rate
    // since this output started: reopen at that rate rather than retune the
    // notes the live output is sounding.
    if (!previewDevice)
        return;
    const int rate = heardInstrument().sampleRate();
    if (!isPreviewRunning())
        qDebug() << "PianoRollDialog: the preview output was lost, opening it again";
    else if (rate > 0 && rate != outputRate)
        qDebug() << "PianoRollDialog: instrument now at" << rate << "Hz, reopening the preview output";
    else
        return;
    stopPreviewRenderer();
    startPreviewRenderer();
}

void PianoRollDialog::takeVoices()
{
    if (voicesRoll && voicesRoll != this && voicesRoll->previewDevice)
        voicesRoll->previewDevice->setDrawingVoices(false);
    voicesRoll = this;
    if (previewDevice)
        previewDevice->setDrawingVoices(true);
}

bool PianoRollDialog::previewDrawsVoices() const
{
    return previewDevice && previewDevice->drawsVoices();
}

void PianoRollDialog::auditionOn(int pitch, int velocity)
{
    followInstrumentRate();
    takeVoices();
    const AuditionInstrument heard = heardInstrument();
    heard.noteOn(pitch, velocity);
    soundingOn.insert_or_assign(pitch, heard);
}

void PianoRollDialog::auditionOff(int pitch)
{
    const auto sounding = soundingOn.find(pitch);
    if (sounding == soundingOn.end()) {
        heardInstrument().noteOff(pitch);
        return;
    }
    sounding->second.noteOff(pitch);
    soundingOn.erase(sounding);
}

// ---- preview output

bool PianoRollDialog::isPreviewRunning() const
{
    return ownOutput.isActive();
}

int PianoRollDialog::previewSampleRate() const
{
    return isPreviewRunning() ? outputRate : 0;
}

void PianoRollDialog::startPreviewRenderer()
{
    if (previewDevice)
        return;
    const bool pianoLoaded = pianoSampler && pianoSampler->sampleCount() > 0;
    qDebug() << "PianoRollDialog: starting preview renderer"
             << "sampler=" << (sampler ? "yes" : "no") << "pianoSampler=" << (pianoSampler ? "yes" : "no")
             << "pianoLoaded=" << (pianoLoaded ? "true" : "false");

    // Ask for the rate the heard instrument already runs at, so that notes
    // the live output is sounding with it keep their pitch.
    int wanted = heardInstrument().sampleRate();
    if (wanted <= 0)
        wanted = pianoSampler ? pianoSampler->sampleRate() : (sampler ? sampler->sampleRate() : DefaultPreviewRate);

    if (QMediaDevices::defaultAudioOutput().isNull()) {
        qWarning() << "PianoRollDialog: no audio output device, preview is silent";
        return;
    }
    // A stream of its own, not Qt's sink: Qt's sound layer lets its server
    // connection go on the thread the push outputs use, and a sink of this
    // thread locking that connection meanwhile aborts the program.
    if (!startOwnOutput(wanted)) {
        qWarning() << "PianoRollDialog: the audio output did not start, preview is silent";
        return;
    }
    keepInstrumentAtOutputRate();
    qDebug() << "PianoRollDialog: preview renderer started";
}

bool PianoRollDialog::startOwnOutput(int rate)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Float);
    auto* device = new PreviewPlaybackDevice(sampler, pianoSampler, format);
    device->setDrawingVoices(voicesRoll == this);
    device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    const bool started = ownOutput.startPulling(rate, [device](float* stereo, int frames) {
        device->readData(reinterpret_cast<char*>(stereo), qint64(frames) * device->bytesPerFrame());
    });
    if (!started) {
        delete device;
        return false;
    }
    previewDevice = device;
    outputRate = rate;
    return true;
}

void PianoRollDialog::stopPreviewRenderer()
{
    // The device goes once the stream renders no more.
    ownOutput.stop();
    delete std::exchange(previewDevice, nullptr);
    outputRate = 0;
}
