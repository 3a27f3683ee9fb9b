#include "TrackRowHost.h"

#include <algorithm>

TrackData* TrackRowHost::trackAt(int index)
{
    std::vector<TrackData>& tracks = trackList();
    if (index < 0 || static_cast<size_t>(index) >= tracks.size())
        return nullptr;
    return &tracks[static_cast<size_t>(index)];
}

void TrackRowHost::rebindTrackRows()
{
    std::vector<TrackData>& tracks = trackList();
    const int count = std::min(trackRowCount(), static_cast<int>(tracks.size()));
    for (int i = 0; i < count; ++i) {
        TrackRowBinding* row = trackRowAt(i);
        if (!row)
            continue;
        row->updateIndex(i);
        row->rebindTrackData(&tracks[static_cast<size_t>(i)]);
    }
}
