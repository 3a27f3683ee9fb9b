#include "engine/instruments/OfflineRenderLimits.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace OfflineRender {

double trackEnd(const TrackData& track)
{
    double end = 0.0;
    if (track.isMidi()) {
        for (const MidiClip& clip : track.midiClips) {
            const double clipEnd = clip.start + clip.duration;
            if (std::isfinite(clipEnd))
                end = std::max(end, clipEnd);
        }
    } else {
        for (const AudioClip& clip : track.audioClips) {
            const double clipEnd = clip.end();
            if (std::isfinite(clipEnd))
                end = std::max(end, clipEnd);
        }
    }
    return end;
}

qint64 trackFrames(const TrackData& track, int sampleRate)
{
    if (!acceptsRate(sampleRate))
        return 0;
    const double end = trackEnd(track);
    if (!(end > 0.0))
        return 0;
    if (end <= kMaxTrackSeconds)
        return sampleRate + qint64(end * sampleRate);
    // Cut at the limit, and the silence of clips running on past it is not
    // rendered: the render ends a second after its last note has sounded
    // (a note sounds for at least half a second).
    double last = 0.0;
    for (const MidiClip& clip : track.midiClips) {
        for (const MidiNote& note : clip.notes) {
            const double start = noteStartSeconds(clip.start, note);
            if (start >= 0.0 && start < kMaxTrackSeconds)
                last = std::max(last, start + std::max(note.duration, 0.5) + 1.0);
        }
    }
    return qint64(std::min(last, kMaxTrackSeconds) * sampleRate);
}

qint64 firstNoteFrame(const TrackData& track, int sampleRate, qint64 frames)
{
    qint64 first = frames;
    for (const MidiClip& clip : track.midiClips) {
        for (const MidiNote& note : clip.notes) {
            const double start = noteStartSeconds(clip.start, note);
            if (start >= 0.0 && note.velocity > 0)
                first = std::min(first, framesAt(start, sampleRate, frames));
        }
    }
    return first;
}

qint64 renderBytesFromFirstNote(const TrackData& track, int sampleRate)
{
    const qint64 frames = trackFrames(track, sampleRate);
    return (frames - firstNoteFrame(track, sampleRate, frames)) * qint64(sizeof(float));
}

double noteStartSeconds(double clipStart, const MidiNote& note)
{
    const double start = clipStart + note.start;
    if (!std::isfinite(start) || start < 0.0 || !std::isfinite(note.duration) || note.duration < 0.0
        || note.pitch < 0 || note.pitch > 127)
        return -1.0;
    return start;
}

qint64 truncated(double value, qint64 limit)
{
    if (!(value > 0.0))
        return 0;
    return value < double(limit) ? qint64(value) : limit;
}

qint64 availableBytes()
{
    QFile info(QStringLiteral("/proc/meminfo"));
    if (!info.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : info.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:")) {
            bool ok = false;
            const qint64 kib = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kib * 1024 : -1;
        }
    }
    return -1;
}

bool fitsInMemory(qint64 bytes)
{
    const qint64 available = availableBytes();
    // A margin stays free for the program and the system around the render.
    return available < 0 || bytes <= available / 4 * 3;
}

QString tooLargeText(qint64 bytes, const QString& work)
{
    const double gigabytes = double(bytes) / (1024.0 * 1024.0 * 1024.0);
    return QStringLiteral("%1需要约 %2 GB 内存，超出了本机可用的内存，无法%1。").arg(work).arg(gigabytes, 0, 'f', 1);
}

} // namespace OfflineRender
