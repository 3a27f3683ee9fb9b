#include "multitrack/ClipPeakCache.h"

#include <algorithm>
#include <cstring>

namespace {

// Column memos never hold more than this many columns (a few lane widths),
// nor more than this many layouts of one list.
constexpr qint64 MaxMemoColumns = 16384;
constexpr std::size_t MaxMemos = 4;

qsizetype probePosition(int k, qsizetype count, int probeCount)
{
    return count <= 1 ? 0 : qsizetype(double(count - 1) * k / (probeCount - 1));
}

} // namespace

ClipPeakCache::Channel ClipPeakCache::monoChannel(const QList<float>& list)
{
    return Channel{list.constData(), list.size(), 1};
}

ClipPeakCache::Channel ClipPeakCache::stereoChannel(const QList<float>& interleaved, int channel)
{
    return Channel{interleaved.constData() + (channel ? 1 : 0), interleaved.size() / 2, 2};
}

void ClipPeakCache::takeProbes(const Channel& channel, std::array<float, ProbeCount>& probes)
{
    probes.fill(0.0f);
    if (channel.count <= 0)
        return;
    for (int k = 0; k < ProbeCount; ++k)
        probes[k] = channel.values[probePosition(k, channel.count, ProbeCount) * channel.stride];
}

bool ClipPeakCache::probesMatch(const Channel& current, qsizetype count,
                                const std::array<float, ProbeCount>& probes)
{
    if (count <= 0)
        return true;
    for (int k = 0; k < ProbeCount; ++k) {
        const float value = current.values[probePosition(k, count, ProbeCount) * current.stride];
        // Bitwise, so values that are not numbers still compare equal.
        if (std::memcmp(&value, &probes[k], sizeof(float)) != 0)
            return false;
    }
    return true;
}

void ClipPeakCache::appendSignature(const Channel& channel, std::vector<double>& out)
{
    out.push_back(double(quintptr(channel.values)));
    out.push_back(double(channel.count));
    std::array<float, ProbeCount> probes;
    takeProbes(channel, probes);
    out.insert(out.end(), probes.begin(), probes.end());
}

ClipPeakCache::Entry& ClipPeakCache::entryFor(const Channel& channel)
{
    for (const std::unique_ptr<Entry>& entry : entries) {
        Entry& e = *entry;
        if (e.channel.values != channel.values || e.channel.stride != channel.stride)
            continue;
        if (e.channel.count == channel.count && probesMatch(channel, e.channel.count, e.probes))
            return e;
        if (channel.count > e.channel.count && probesMatch(channel, e.channel.count, e.probes)) {
            e.peaks.extend(channel.values, channel.count);
        } else {
            e.peaks.build(channel.values, channel.count, channel.stride);
            ++builds;
        }
        e.channel = channel;
        e.memos.clear();
        takeProbes(channel, e.probes);
        return e;
    }
    auto entry = std::make_unique<Entry>();
    entry->channel = channel;
    takeProbes(channel, entry->probes);
    entry->peaks.build(channel.values, channel.count, channel.stride);
    ++builds;
    entries.push_back(std::move(entry));
    return *entries.back();
}

const WaveformPeakIndex& ClipPeakCache::index(const Channel& channel)
{
    return entryFor(channel).peaks;
}

ClipPeakCache::Prepared ClipPeakCache::prepare(const Channel& channel)
{
    Prepared prepared;
    prepared.channel = channel;
    prepared.peaks.build(channel.values, channel.count, channel.stride);
    return prepared;
}

void ClipPeakCache::adopt(Prepared&& prepared)
{
    const Channel& channel = prepared.channel;
    for (const std::unique_ptr<Entry>& entry : entries)
        if (entry->channel.values == channel.values && entry->channel.stride == channel.stride)
            return;
    auto entry = std::make_unique<Entry>();
    entry->channel = channel;
    takeProbes(channel, entry->probes);
    entry->peaks = std::move(prepared.peaks);
    entries.push_back(std::move(entry));
}

void ClipPeakCache::fillColumns(const Entry& entry, const Columns& columns, qint64 from, qint64 to,
                                float* lo, float* hi)
{
    const double f = columns.framesPerColumn;
    for (qint64 p = from; p < to; ++p, ++lo, ++hi) {
        const qsizetype begin = columns.first + qsizetype(f * double(p));
        const qsizetype end = std::min(columns.first + qsizetype(f * double(p + 1)), columns.limit);
        *lo = 0.0f;
        *hi = 0.0f;
        if (begin < end)
            entry.peaks.rangeMinMax(entry.channel.values, begin, end, *lo, *hi);
    }
    computed += std::max<qint64>(0, to - from);
}

ClipPeakCache::Extremes ClipPeakCache::columnExtremes(const Channel& channel, const Columns& columns,
                                                      qint64 from, qint64 to)
{
    Entry& entry = entryFor(channel);
    to = std::max(from, to);
    auto found = std::find_if(entry.memos.begin(), entry.memos.end(),
                              [&](const ColumnMemo& m) { return m.columns == columns; });
    ColumnMemo memo;
    if (found != entry.memos.end()) {
        memo = std::move(*found);
        entry.memos.erase(found);
    }
    const bool touching = !memo.lo.empty() && from <= memo.to() && to >= memo.from;
    const qint64 unionFrom = std::min(from, memo.from), unionTo = std::max(to, memo.to());
    if (touching && unionTo - unionFrom <= MaxMemoColumns) {
        // Extend the kept columns to cover the request.
        if (from < memo.from) {
            const qint64 extra = memo.from - from;
            memo.lo.insert(memo.lo.begin(), std::size_t(extra), 0.0f);
            memo.hi.insert(memo.hi.begin(), std::size_t(extra), 0.0f);
            fillColumns(entry, columns, from, memo.from, memo.lo.data(), memo.hi.data());
            memo.from = from;
        }
        if (to > memo.to()) {
            const qint64 oldTo = memo.to();
            memo.lo.resize(std::size_t(to - memo.from));
            memo.hi.resize(std::size_t(to - memo.from));
            fillColumns(entry, columns, oldTo, to, memo.lo.data() + (oldTo - memo.from),
                        memo.hi.data() + (oldTo - memo.from));
        }
    } else {
        memo.columns = columns;
        memo.from = from;
        memo.lo.assign(std::size_t(to - from), 0.0f);
        memo.hi.assign(std::size_t(to - from), 0.0f);
        fillColumns(entry, columns, from, to, memo.lo.data(), memo.hi.data());
    }
    if (entry.memos.size() >= MaxMemos)
        entry.memos.erase(entry.memos.begin());
    entry.memos.push_back(std::move(memo));
    const ColumnMemo& kept = entry.memos.back();
    const std::size_t offset = std::size_t(from - kept.from);
    return Extremes{kept.lo.data() + offset, kept.hi.data() + offset};
}

qsizetype ClipPeakCache::memoryBytes() const
{
    qsizetype bytes = 0;
    for (const std::unique_ptr<Entry>& entry : entries) {
        bytes += entry->peaks.memoryBytes();
        for (const ColumnMemo& memo : entry->memos)
            bytes += qsizetype(memo.lo.capacity() + memo.hi.capacity()) * qsizetype(sizeof(float));
    }
    return bytes;
}

void ClipPeakCache::retain(const std::vector<const float*>& live)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::unique_ptr<Entry>& e) {
                                     return std::find(live.begin(), live.end(),
                                                      e->channel.values) == live.end();
                                 }),
                  entries.end());
}
