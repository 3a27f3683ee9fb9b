#include "multitrack/TrackInstrumentList.h"

#include <algorithm>

TrackInstrumentList::TrackInstrumentList(const Sources& sources)
    : soundFontLoaded(sources.soundFontLoaded)
{
    for (const Plugin& plugin : sources.plugins) {
        if (plugin.second.isEmpty())
            continue;
        pluginEntries.push_back(plugin);
        items << QStringLiteral("[VST3] %1").arg(plugin.second);
    }
    if (!pluginEntries.empty())
        items << QString();
    firstInstrument = pluginEntries.empty() ? 0 : int(pluginEntries.size()) + 1;
    if (soundFontLoaded) {
        items << sources.presetNames;
        presetCount = int(sources.presetNames.size());
    } else {
        items << (sources.pianoAvailable ? QStringLiteral("内置钢琴") : QStringLiteral("(未加载音色库)"));
    }
}

int TrackInstrumentList::currentEntry(const TrackData& track) const
{
    if (track.pluginId >= 0) {
        for (size_t i = 0; i < pluginEntries.size(); ++i) {
            if (pluginEntries[i].first == track.pluginId)
                return int(i);
        }
        return 0;
    }
    if (soundFontLoaded)
        return firstInstrument + std::max(0, std::min(presetCount - 1, track.instrumentIndex));
    return firstInstrument;
}

TrackInstrumentList::Choice TrackInstrumentList::choose(int index) const
{
    Choice choice;
    if (index < 0 || index >= items.size())
        return choice;
    choice.valid = true;
    if (index < int(pluginEntries.size())) {
        choice.pluginId = pluginEntries[size_t(index)].first;
        choice.instrumentIndex = 0;
    } else {
        choice.instrumentIndex = std::max(0, index - firstInstrument);
    }
    return choice;
}
