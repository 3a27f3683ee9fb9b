#include "engine/midi/MidiFileReader.h"

#include <QDebug>
#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr quint32 kDefaultTempo = 500000; // microseconds per quarter note (120 BPM)

quint32 readBigEndian(const uchar* p, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

struct TempoEntry {
    quint64 tick;
    quint32 tempo;
};

struct TickNote {
    int pitch;
    quint64 startTick;
    quint64 endTick;
    int velocity;
};

struct TrackChunk {
    int index = 0; // counted over the header's track count
    std::vector<TickNote> notes;
    QString name;
};

// Reads the events of one track chunk, data[begin, end). Anything that does not
// fit (a quantity or an event running past the end, a length past the end, an
// unknown status byte, a data byte where a status byte should be) ends the
// chunk; the events read before it count.
void readTrackChunk(const uchar* data, qsizetype begin, qsizetype end, TrackChunk& chunk,
                    std::vector<TempoEntry>& tempoMap)
{
    // Open notes by note number alone (channels are not told apart): a FIFO
    // per number, the entries from firstOpen[n] on still waiting for their end.
    std::array<std::vector<std::pair<quint64, int>>, 128> open;
    std::array<size_t, 128> firstOpen{};
    qsizetype pos = begin;
    quint64 tick = 0;
    quint64 lastEventTick = 0;
    int runningStatus = 0;

    auto readQuantity = [&](quint32& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos >= end)
                return false;
            const uchar byte = data[pos++];
            value = (value << 7) | (byte & 0x7F);
            if (!(byte & 0x80))
                return true;
        }
        return false; // longer than four bytes
    };

    while (pos < end) {
        quint32 delta = 0;
        if (!readQuantity(delta) || pos >= end)
            break;
        tick += delta;

        int status = data[pos];
        if (status & 0x80)
            ++pos;
        else if (runningStatus != 0)
            status = runningStatus;
        else
            break;

        if (status < 0xF0) {
            runningStatus = status;
            const int kind = status & 0xF0;
            const int dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (end - pos < dataBytes)
                break;
            const int first = data[pos];
            const int second = dataBytes == 2 ? data[pos + 1] : 0;
            if ((first | second) & 0x80)
                break;
            pos += dataBytes;
            if (kind == 0x90 && second > 0) {
                open[first].emplace_back(tick, second);
            } else if ((kind == 0x80 || kind == 0x90) && firstOpen[first] < open[first].size()) {
                const auto started = open[first][firstOpen[first]++];
                chunk.notes.push_back({first, started.first, tick, started.second});
                if (firstOpen[first] == open[first].size()) {
                    open[first].clear();
                    firstOpen[first] = 0;
                }
            }
        } else if (status == 0xF0 || status == 0xF7) {
            quint32 length = 0;
            if (!readQuantity(length) || quint64(end - pos) < length)
                break;
            pos += length;
        } else if (status == 0xFF) {
            if (pos >= end)
                break;
            const int type = data[pos++];
            quint32 length = 0;
            if (!readQuantity(length) || quint64(end - pos) < length)
                break;
            // A tempo of 0 µs a beat would stop the clock: every later note
            // would start at the same instant. It is ignored.
            if (type == 0x51 && length == 3 && readBigEndian(data + pos, 3) != 0)
                tempoMap.push_back({tick, readBigEndian(data + pos, 3)});
            else if (type == 0x03 && length > 0)
                chunk.name = QString::fromUtf8(reinterpret_cast<const char*>(data + pos), length);
            pos += length;
        } else {
            break; // system common or real-time status: not part of a file
        }
        lastEventTick = tick;
    }

    for (int pitch = 0; pitch < 128; ++pitch) {
        for (size_t i = firstOpen[pitch]; i < open[pitch].size(); ++i)
            chunk.notes.push_back({pitch, open[pitch][i].first, lastEventTick, open[pitch][i].second});
    }
}

// Ticks to seconds over a tempo map sorted by tick: a change at tick e applies
// from e onward. Each segment is converted in integer microseconds, truncated.
class TickClock {
public:
    TickClock(const std::vector<TempoEntry>& map, quint32 division) : map_(map), division_(division)
    {
        unsigned __int128 us = 0;
        quint64 previousTick = 0;
        quint32 tempo = kDefaultTempo;
        microsAtEntry_.reserve(map_.size());
        for (const TempoEntry& entry : map_) {
            us += (unsigned __int128)(entry.tick - previousTick) * tempo / division_;
            tempo = entry.tempo;
            previousTick = entry.tick;
            microsAtEntry_.push_back(us);
        }
    }

    double seconds(quint64 tick) const
    {
        // The map starts with the tick-0 seed, so some entry lies at or before any tick.
        const auto after = std::upper_bound(map_.begin(), map_.end(), tick,
                                            [](quint64 t, const TempoEntry& e) { return t < e.tick; });
        const size_t index = size_t(after - map_.begin()) - 1;
        const TempoEntry& entry = map_[index];
        const unsigned __int128 us = microsAtEntry_[index]
            + (unsigned __int128)(tick - entry.tick) * entry.tempo / division_;
        return double(us) / 1000000.0;
    }

private:
    const std::vector<TempoEntry>& map_;
    quint32 division_;
    std::vector<unsigned __int128> microsAtEntry_;
};

// Converts one chunk's notes; returns the chunk's latest note end.
double convertTrack(const TrackChunk& chunk, const TickClock& clock, ImportedMidiTrack& track)
{
    double trackEnd = 0.0;
    track.name = chunk.name.isEmpty() ? QStringLiteral("Track %1").arg(chunk.index + 1) : chunk.name;
    track.notes.reserve(chunk.notes.size());
    for (const TickNote& tickNote : chunk.notes) {
        MidiNote note;
        note.pitch = tickNote.pitch;
        note.velocity = tickNote.velocity;
        note.start = clock.seconds(tickNote.startTick);
        const double end = clock.seconds(tickNote.endTick);
        note.duration = std::max(end - note.start, 0.001);
        trackEnd = std::max(trackEnd, end);
        track.notes.push_back(note);
    }

    const auto& notes = track.notes;
    if (notes.size() < 6) {
        for (const MidiNote& note : notes)
            qDebug() << "  track" << chunk.index << "note pitch" << note.pitch << "start" << note.start
                     << "dur" << note.duration;
    } else {
        qDebug() << "  track" << chunk.index << "first note start" << notes.front().start
                 << "last note end" << notes.back().start + notes.back().duration << "total notes"
                 << notes.size();
    }
    return trackEnd;
}

} // namespace

bool parseMidiData(const QByteArray& bytes, QList<ImportedMidiTrack>& tracks,
                   double& durationSeconds, double& bpm)
{
    const quint64 size = quint64(bytes.size());
    if (size < 14)
        return false;
    const uchar* data = reinterpret_cast<const uchar*>(bytes.constData());
    if (std::memcmp(data, "MThd", 4) != 0) {
        qWarning() << "MidiFileParser: not a MIDI file (no MThd)";
        return false;
    }
    const quint32 headerLength = readBigEndian(data + 4, 4);
    if (headerLength < 6 || 8 + quint64(headerLength) > size)
        return false;
    const int format = int(readBigEndian(data + 8, 2));
    const int trackCount = int(readBigEndian(data + 10, 2));
    const quint32 division = readBigEndian(data + 12, 2);
    if (division == 0 || (division & 0x8000)) {
        qWarning() << "MidiFileParser: SMPTE timing not supported";
        return false;
    }

    // One walk over the chunks gathers every chunk's notes and the tempo map.
    std::vector<TempoEntry> tempoMap{{0, kDefaultTempo}};
    std::vector<TrackChunk> chunks;
    bool firstChunkIsTrack = false;
    quint64 offset = 8 + quint64(headerLength);
    // A format-0 file has its one track chunk whatever the header counts.
    const int chunksToRead = format == 0 ? std::max(trackCount, 1) : trackCount;
    for (int t = 0; t < chunksToRead && offset + 8 <= size; ++t) {
        const quint64 length = readBigEndian(data + offset + 4, 4);
        if (std::memcmp(data + offset, "MTrk", 4) == 0) {
            const quint64 begin = offset + 8;
            // A chunk declared longer than the file is read up to the end of the data.
            const quint64 end = std::min(begin + length, size);
            TrackChunk chunk;
            chunk.index = t;
            if (end > begin)
                readTrackChunk(data, qsizetype(begin), qsizetype(end), chunk, tempoMap);
            chunks.push_back(std::move(chunk));
            if (t == 0)
                firstChunkIsTrack = true;
            offset = begin + length;
        } else if (offset + 12 <= size) {
            offset += 8 + length;
        }
    }
    // Stable, so the tick-0 seed stays ahead of a file's own tick-0 tempo.
    std::stable_sort(tempoMap.begin(), tempoMap.end(),
                     [](const TempoEntry& a, const TempoEntry& b) { return a.tick < b.tick; });
    tracks.clear();
    durationSeconds = 0.0;

    if (format == 0) {
        if (!firstChunkIsTrack)
            return false;
        chunks.resize(1);
    }

    const TickClock clock(tempoMap, division);
    for (const TrackChunk& chunk : chunks) {
        if (chunk.notes.empty())
            continue;
        ImportedMidiTrack track;
        durationSeconds = std::max(durationSeconds, convertTrack(chunk, clock, track));
        tracks.append(std::move(track));
    }

    bpm = 120.0;
    for (const TempoEntry& entry : tempoMap) {
        if (entry.tick != 0)
            break;
        if (entry.tempo != 0 && entry.tempo != kDefaultTempo) {
            bpm = 60000000.0 / entry.tempo;
            break;
        }
    }

    qDebug() << "MidiFileParser: imported" << tracks.size() << "track(s)," << durationSeconds
             << "s, format" << format << "ticksPerBeat" << division << "bpm" << bpm;
    return !tracks.isEmpty();
}

bool parseMidiFile(const QString& path, QList<ImportedMidiTrack>& tracks, double& durationSeconds,
                   double& bpm)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "MidiFileParser: cannot open" << path;
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    return parseMidiData(bytes, tracks, durationSeconds, bpm);
}
