#pragma once
// Standard MIDI File (formats 0, 1 and 2) reading: the notes of each track
// chunk, timed in seconds from the start of the file through the file's
// tempo map. Controllers, programs, bends, pressure and system-exclusive data
// are read past; of the meta events only set-tempo and track name are used.

#include "project/ProjectTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <vector>

// One track chunk that held notes.
struct ImportedMidiTrack {
    QString name;                 // track-name meta event, else "Track N" (1-based chunk index)
    std::vector<MidiNote> notes;  // in the order they were closed; start and duration in seconds
};

// Reads the file at `path`. True when at least one track with notes was read;
// then `tracks` holds them in chunk order, `durationSeconds` the latest note end
// and `bpm` the tempo at tick 0 (120 without one). `tracks` is cleared once the
// header is accepted; before that failures leave the outputs as they were.
bool parseMidiFile(const QString& path, QList<ImportedMidiTrack>& tracks, double& durationSeconds,
                   double& bpm);

// The same over the bytes of a file already in memory.
bool parseMidiData(const QByteArray& data, QList<ImportedMidiTrack>& tracks,
                   double& durationSeconds, double& bpm);
