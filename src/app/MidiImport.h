#pragma once
// Puts the tracks of a Standard MIDI File onto the multitrack page's MIDI
// time axis. The page holds MIDI times as seconds at its source tempo and
// scales them by source tempo / project tempo when it plays; the file's
// times are seconds at the file's own tempo. Converting each import to the
// source axis keeps every imported track's timing, whatever tempo earlier
// or later imports had.

#include "engine/midi/MidiFileReader.h"

#include <QList>
#include <QString>
#include <vector>

namespace MidiImport {

struct Track {
    QString name;
    std::vector<MidiNote> notes;
    double clipLength = 0.0; // seconds on the source axis, at least MinimumClipLength
};

constexpr double MinimumClipLength = 0.5;
// The most tracks one file adds; a file with more adds its first ones.
constexpr int MaximumTracksPerFile = 128;

// The tempo a project can take for a file's tempo: held within the
// project's [minimum, maximum]. The notes are converted for this tempo, so
// the file plays at its own speed once the project takes it.
double settableTempo(double fileBpm, double minimum, double maximum);
// A tempo as a tempo box of `decimals` decimals holds it.
double boxTempo(double bpm, int decimals);

// The file's tracks with note times multiplied by fileBpm / sourceBpm; the
// clip runs to the latest note end. A tempo that is not a positive number
// leaves the times as they are.
std::vector<Track> toSourceAxis(const QList<ImportedMidiTrack>& tracks, double fileBpm,
                                double sourceBpm);

// True when the two tempi differ by more than 0.1 BPM.
bool tempoDiffers(double fileBpm, double projectBpm);

} // namespace MidiImport
