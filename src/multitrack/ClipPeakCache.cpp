#include "multitrack/ClipPeakCache.h"

#include <algorithm>
#include <cstring>

namespace {

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

const WaveformPeakIndex& ClipPeakCache::index(const Channel& channel)
{
    for (const std::unique_ptr<Entry>& entry : entries) {
        Entry& e = *entry;
        if (e.channel.values != channel.values || e.channel.stride != channel.stride)
            continue;
        if (e.channel.count == channel.count && probesMatch(channel, e.channel.count, e.probes))
            return e.peaks;
        if (channel.count > e.channel.count && probesMatch(channel, e.channel.count, e.probes)) {
            e.peaks.extend(channel.values, channel.count);
        } else {
            e.peaks.build(channel.values, channel.count, channel.stride);
            ++builds;
        }
        e.channel = channel;
        takeProbes(channel, e.probes);
        return e.peaks;
    }
    auto entry = std::make_unique<Entry>();
    entry->channel = channel;
    takeProbes(channel, entry->probes);
    entry->peaks.build(channel.values, channel.count, channel.stride);
    ++builds;
    entries.push_back(std::move(entry));
    return entries.back()->peaks;
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
