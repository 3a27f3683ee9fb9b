#pragma once
// Peak indexes of the sample lists a clip lane draws, kept from paint to
// paint so that a column's minimum and maximum cost the same for a minute
// as for an hour of audio. A list is recognised by its data address and
// length, checked against a few of its values; a list that grew in place
// (a recording take) is summarised again only past its old end.
//
// The extremes of the pixel columns last drawn are kept as well, so a
// repaint that only moves the playhead reads no samples at all.
//
// A project keeps the indexes of all its tracks for as long as it is open,
// so they summarise blocks of 256 samples: about 1/64 of the material's
// bytes. A column then reads at most 255 samples at each end, which costs a
// full redraw little and a repaint of the kept columns nothing.

#include "widgets/WaveformPeakIndex.h"

#include <QList>
#include <QtGlobal>
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

    // Pixel columns over a channel: column p covers the values from
    // first + trunc(framesPerColumn * p) up to, not including,
    // min(first + trunc(framesPerColumn * (p + 1)), limit).
    struct Columns {
        qsizetype first = 0;
        qsizetype limit = 0;
        double framesPerColumn = 1.0;
        bool operator==(const Columns& o) const
        {
            return first == o.first && limit == o.limit && framesPerColumn == o.framesPerColumn;
        }
    };
    // The smallest and largest value of columns [from, to), each starting
    // from 0 (so every column reaches 0); lo[k] and hi[k] belong to column
    // from + k. The pointers stay valid until the next call.
    struct Extremes {
        const float* lo = nullptr;
        const float* hi = nullptr;
    };
    Extremes columnExtremes(const Channel& channel, const Columns& columns, qint64 from, qint64 to);

    // Appends a few of the channel's values, spread over it, with its data
    // address and length: what this cache checks to recognise a list.
    static void appendSignature(const Channel& channel, std::vector<double>& out);

    // The index of the channel, built or brought up to date as needed.
    const WaveformPeakIndex& index(const Channel& channel);

    // An index built ahead, on any thread (long material takes a while),
    // for a cache to take over instead of building it when first drawn.
    struct Prepared {
        Channel channel;
        WaveformPeakIndex peaks{BlockShift};
    };
    static Prepared prepare(const Channel& channel);
    // Ignored when the cache already holds the channel's list.
    void adopt(Prepared&& prepared);

    // Forgets the lists whose data address is not among live.
    void retain(const std::vector<const float*>& live);
    void clear() { entries.clear(); }
    int entryCount() const { return int(entries.size()); }
    // What the indexes and the kept columns take in memory.
    qsizetype memoryBytes() const;
    // How many times a list was summarised from its start, and how many
    // column extremes were read from an index (for tests).
    int fullBuilds() const { return builds; }
    qint64 columnsComputed() const { return computed; }

    static constexpr int BlockShift = 8;

private:
    static constexpr int ProbeCount = 16;
    // Columns kept for one layout of a list (a list drawn by two clips has two).
    struct ColumnMemo {
        Columns columns;
        qint64 from = 0;
        std::vector<float> lo, hi;
        qint64 to() const { return from + qint64(lo.size()); }
    };
    struct Entry {
        Channel channel;
        std::array<float, ProbeCount> probes{};
        WaveformPeakIndex peaks{BlockShift};
        std::vector<ColumnMemo> memos; // most recently used last
    };
    Entry& entryFor(const Channel& channel);
    void fillColumns(const Entry& entry, const Columns& columns, qint64 from, qint64 to,
                     float* lo, float* hi);
    static void takeProbes(const Channel& channel, std::array<float, ProbeCount>& probes);
    static bool probesMatch(const Channel& current, qsizetype count,
                            const std::array<float, ProbeCount>& probes);

    std::vector<std::unique_ptr<Entry>> entries;
    int builds = 0;
    qint64 computed = 0;
};
