#include "app/MidiImport.h"

#include <algorithm>
#include <cmath>

namespace MidiImport {

namespace {

bool usableTempo(double bpm)
{
    return std::isfinite(bpm) && bpm > 0.0;
}

} // namespace

std::vector<Track> toSourceAxis(const QList<ImportedMidiTrack>& tracks, double fileBpm,
                                double sourceBpm)
{
    const double scale = usableTempo(fileBpm) && usableTempo(sourceBpm) ? fileBpm / sourceBpm : 1.0;
    std::vector<Track> out;
    out.reserve(size_t(tracks.size()));
    for (const ImportedMidiTrack& imported : tracks) {
        Track track;
        track.name = imported.name;
        track.notes = imported.notes;
        double end = 0.0;
        for (MidiNote& note : track.notes) {
            note.start *= scale;
            note.duration *= scale;
            end = std::max(end, note.start + note.duration);
        }
        track.clipLength = std::max(end, MinimumClipLength);
        out.push_back(std::move(track));
    }
    return out;
}

double settableTempo(double fileBpm, double minimum, double maximum)
{
    if (!usableTempo(fileBpm) || minimum > maximum)
        return fileBpm;
    return std::clamp(fileBpm, minimum, maximum);
}

double boxTempo(double bpm, int decimals)
{
    if (!usableTempo(bpm))
        return bpm;
    const double step = std::pow(10.0, std::clamp(decimals, 0, 6));
    return std::round(bpm * step) / step;
}

bool tempoDiffers(double fileBpm, double projectBpm)
{
    return std::abs(fileBpm - projectBpm) > 0.1;
}

} // namespace MidiImport
