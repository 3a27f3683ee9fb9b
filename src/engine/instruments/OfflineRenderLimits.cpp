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
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate)
        return 0;
    const double end = trackEnd(track);
    if (!(end > 0.0))
        return 0;
    if (end > kMaxTrackSeconds)
        return qint64(kMaxTrackSeconds * sampleRate);
    return sampleRate + qint64(end * sampleRate);
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
    return available < 0 || bytes <= available / 10 * 9;
}

} // namespace OfflineRender
