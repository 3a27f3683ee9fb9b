#pragma once
// Peak indexes of the sample lists a clip lane draws, kept from paint to
// paint so that a column's minimum and maximum cost the same for a minute
// as for an hour of audio. A list is recognised by its data address and
// length, checked against a few of its values; a list that grew in place
// (a recording take) is summarised again only past its old end.

#include "widgets/WaveformPeakIndex.h"

#include <QList>
#include <array>
#include <memory>
#include <vector>

class ClipPeakCache {
public:
    // One channel of a list: value i is list[offset + i * stride], for
    // i < count (count values must exist).
    struct Channel {
        const float* values = nullptr; // list data + offset
        qsizetype count = 0;
        int stride = 1;
    };
    static Channel monoChannel(const QList<float>& list);
    // Channel 0 (left) or 1 (right) of an interleaved stereo list.
    static Channel stereoChannel(const QList<float>& interleaved, int channel);

    // The index of the channel, built or brought up to date as needed.
    const WaveformPeakIndex& index(const Channel& channel);

    // Forgets the indexes of lists whose data address is not among live.
    void retain(const std::vector<const float*>& live);
    void clear() { entries.clear(); }
    int entryCount() const { return int(entries.size()); }
    // How many times a list was summarised from its start (for tests).
    int fullBuilds() const { return builds; }

private:
    static constexpr int ProbeCount = 16;
    struct Entry {
        Channel channel;
        std::array<float, ProbeCount> probes{};
        WaveformPeakIndex peaks;
    };
    static void takeProbes(const Channel& channel, std::array<float, ProbeCount>& probes);
    static bool probesMatch(const Channel& current, qsizetype count,
                            const std::array<float, ProbeCount>& probes);

    std::vector<std::unique_ptr<Entry>> entries;
    int builds = 0;
};
