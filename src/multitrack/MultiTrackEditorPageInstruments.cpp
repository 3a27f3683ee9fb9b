// The instruments of the multitrack page: the SoundFont kept in a
// "soundfonts" folder beside the program, the MIDI keyboard heard at once
// through the instrument of the armed (else the selected) MIDI track or the
// piano (and handed to a running MIDI take), and the MIDI device dialog.

#include "multitrack/MultiTrackEditorPage.h"

#include "common/SaveFileCommit.h"
#include "common/WriteErrorMessages.h"
#include "engine/devices/LiveAudioPlayer.h"
#include "engine/midi/MidiInput.h"
#include "engine/midi/MidiRecorder.h"
#include "engine/ui/MidiDeviceDialog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

namespace {

constexpr qint64 CopyChunkBytes = 1 << 20;

// Copies a file through a temporary file in the destination's folder and a
// rename, so the destination is the old file or the whole new one, on the
// disk. `error` gets the errno of a failed write (0 when none is known).
bool copyReplacing(const QString& from, const QString& to, int& error)
{
    error = 0;
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QSaveFile target(to);
    errno = 0;
    if (!target.open(QIODevice::WriteOnly)) {
        error = errno;
        return false;
    }
    QByteArray chunk;
    while (!(chunk = source.read(CopyChunkBytes)).isEmpty()) {
        errno = 0;
        if (target.write(chunk) != chunk.size()) {
            error = errno;
            target.cancelWriting();
            return false;
        }
    }
    if (source.error() != QFileDevice::NoError) {
        target.cancelWriting();
        return false;
    }
    return SaveFileCommit::commit(target, &error);
}

const char* flag(bool value)
{
    return value ? "true" : "false";
}

} // namespace

QString MultiTrackEditorPage::sf2Directory() const
{
    if (!soundFontFolder.isEmpty())
        return soundFontFolder;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/soundfonts");
}

void MultiTrackEditorPage::setSoundFontFolder(const QString& folder)
{
    soundFontFolder = folder;
}

bool MultiTrackEditorPage::loadSoundFont(const QString& path)
{
    ++soundFontLoads;
    const bool loaded = sf2Sampler.loadSoundFont(path);
    // The tracks choose among the new font's presets (or the piano without one).
    refreshInstrumentLists();
    // The keys sound where onMidiNoteOn sends them from now on.
    if (liveAudioPlayer->isRunning())
        useLiveInstrument();
    return loaded;
}

bool MultiTrackEditorPage::copyAndLoadSoundFont(const QString& path, QString* note)
{
    if (note)
        note->clear();
    if (path.isEmpty())
        return false;
    // Loading unloads the current font first: a file that does not load is
    // tried on its own, and neither reaches the folder nor the instrument.
    if (!SF2Sampler().loadSoundFont(path))
        return false;

    const QString folder = sf2Directory();
    errno = 0;
    const bool folderMade = QDir().mkpath(folder);
    int error = errno;
    const QString destination = folder + QLatin1Char('/') + QFileInfo(path).fileName();
    const QString chosen = QFileInfo(path).canonicalFilePath();
    if (!chosen.isEmpty() && chosen == QFileInfo(destination).canonicalFilePath()) {
        // Already the folder's copy. It becomes the newest, the one that
        // loads at the next start.
        QFile file(path);
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
        return loadSoundFont(path);
    }
    QString loadPath = path;
    if (folderMade && copyReplacing(path, destination, error)) {
        qDebug() << "MultiTrackEditorPage: SF2 copied to" << destination;
        loadPath = destination;
    } else {
        qWarning() << "MultiTrackEditorPage: failed to copy SF2 to app dir:" << path << "->" << destination
                   << (error ? qt_error_string(error) : QString());
    }
    const bool loaded = loadSoundFont(loadPath);
    // The next start loads what the folder holds, not this font: said.
    if (loaded && loadPath == path && note)
        *note = WriteErrorMessages::withReason(tr("无法复制到音色库文件夹: %1").arg(folder), error);
    return loaded;
}

void MultiTrackEditorPage::scanAndLoadExistingSf2()
{
    const QDir folder(sf2Directory());
    if (!folder.exists())
        return;
    // The newest is the one the user chose last; an unreadable one is passed over.
    const QFileInfoList fonts = folder.entryInfoList({QStringLiteral("*.sf2")}, QDir::Files, QDir::Time);
    for (const QFileInfo& font : fonts) {
        qDebug() << "MultiTrackEditorPage: auto-loading SF2 from app dir:" << font.absoluteFilePath();
        if (loadSoundFont(font.absoluteFilePath()))
            return;
    }
}

int MultiTrackEditorPage::liveKeysTrack() const
{
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].isMidi() && tracks[i].armed)
            return int(i);
    }
    if (selectedTrack >= 0 && selectedTrack < int(tracks.size()) && tracks[size_t(selectedTrack)].isMidi())
        return selectedTrack;
    return -1;
}

int MultiTrackEditorPage::liveKeysChannel()
{
    if (!sf2Sampler.isLoaded())
        return -1;
    const int index = liveKeysTrack();
    if (index < 0) {
        if (pianoSampler.sampleCount() > 0)
            return -1;
        // No piano to fall back on: the SoundFont's first channel.
        if (sf2Sampler.currentPresetIndex(0) < 0)
            sf2Sampler.selectPreset(0, 0);
        return 0;
    }
    const TrackData& track = tracks[size_t(index)];
    const int channel = std::clamp(track.midiChannel, 0, 15);
    // Another track may share the channel with another preset.
    if (sf2Sampler.currentPresetIndex(channel) != track.instrumentIndex)
        sf2Sampler.selectPreset(channel, track.instrumentIndex);
    return channel;
}

void MultiTrackEditorPage::useLiveSource(bool soundFont)
{
    if (soundFont && liveAudioPlayer->soundFontSource() != &sf2Sampler) {
        qDebug() << "onMidiNoteOn: using SF2 sampler";
        liveAudioPlayer->setSf2Sampler(&sf2Sampler);
    } else if (!soundFont && liveAudioPlayer->pianoSource() != &pianoSampler) {
        qDebug() << "onMidiNoteOn: using Piano sampler, samples=" << pianoSampler.sampleCount();
        liveAudioPlayer->setPianoSampler(&pianoSampler);
    }
}

void MultiTrackEditorPage::useLiveInstrument()
{
    useLiveSource(liveKeysChannel() >= 0);
}

void MultiTrackEditorPage::showMidiDeviceDialog()
{
    MidiDeviceDialog dialog(midiInput, this);
    connect(&dialog, &MidiDeviceDialog::deviceSelected, this, [this] {
        useLiveInstrument();
        liveAudioPlayer->start(projectSampleRate);
        midiConnected = true;
    });
    connect(&dialog, &MidiDeviceDialog::disconnected, this, [this] {
        liveAudioPlayer->stop();
        midiConnected = false;
    });
    dialog.exec();
}

void MultiTrackEditorPage::onMidiNoteOn(int channel, int pitch, int velocity)
{
    qDebug() << "onMidiNoteOn: ch=" << channel << "pitch=" << pitch << "vel=" << velocity
             << "sf2Loaded=" << flag(sf2Sampler.isLoaded()) << "pianoLoaded=" << flag(pianoSampler.sampleCount() > 0)
             << "pianoSamples=" << pianoSampler.sampleCount()
             << "playerRunning=" << flag(liveAudioPlayer->isRunning());
    if (pitch < 0 || pitch > 127 || goingAway)
        return;
    const int heardOn = liveKeysChannel();
    useLiveSource(heardOn >= 0);
    if (!liveAudioPlayer->isRunning()) {
        liveAudioPlayer->start(projectSampleRate);
        midiConnected = true;
    }
    if (heardOn >= 0)
        sf2Sampler.noteOn(heardOn, pitch, velocity);
    else
        pianoSampler.noteOn(pitch, velocity);
    liveKeyChannels[size_t(pitch)] = heardOn;
    if (isMidiRecording)
        midiRecorder->handleNoteOn(pitch, velocity, recordingClockSec());
}

void MultiTrackEditorPage::onMidiNoteOff(int, int pitch)
{
    if (pitch < 0 || pitch > 127)
        return;
    const int heardOn = liveKeyChannels[size_t(pitch)];
    if (heardOn >= 0 && sf2Sampler.isLoaded())
        sf2Sampler.noteOff(heardOn, pitch);
    else
        pianoSampler.noteOff(pitch);
    liveKeyChannels[size_t(pitch)] = -1;
    if (isMidiRecording)
        midiRecorder->handleNoteOff(pitch, recordingClockSec());
}
