#pragma once
// The instrument list of a MIDI track's header, as plain data: instrument
// plug-in entries "[VST3] name", an empty separator entry after them, then
// the SoundFont's presets, or one entry for the built-in piano or for no
// instrument at all; which entry shows the track's current instrument; and
// what choosing an entry writes into the track.

#include "project/ProjectTypes.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class TrackInstrumentList {
public:
    // A loaded instrument plug-in: its bridge id and name.
    using Plugin = std::pair<int, QString>;

    // What the instruments offer; preset names empty when no SoundFont is loaded.
    struct Sources {
        std::vector<Plugin> plugins;
        bool soundFontLoaded = false;
        QStringList presetNames;
        bool pianoAvailable = false;
    };

    // Builds the entries; plug-ins with an empty name get none.
    explicit TrackInstrumentList(const Sources& sources);

    const QStringList& entries() const { return items; }
    const std::vector<Plugin>& plugins() const { return pluginEntries; }
    // The first entry after the plug-in entries and their separator.
    int firstInstrumentEntry() const { return firstInstrument; }

    // The entry of the track's instrument: its plug-in's position (0 when
    // that plug-in is gone), else its preset (limited to the presets), else
    // the first instrument entry.
    int currentEntry(const TrackData& track) const;

    // What choosing entry `index` means.
    struct Choice {
        bool valid = false;   // false: an index below 0 or past the list; change nothing
        int pluginId = -1;    // the chosen plug-in, -1 for the SoundFont or piano
        int instrumentIndex = 0;
    };
    Choice choose(int index) const;

private:
    QStringList items;
    std::vector<Plugin> pluginEntries;
    int firstInstrument = 0;
    int presetCount = 0;
    bool soundFontLoaded = false;
};
