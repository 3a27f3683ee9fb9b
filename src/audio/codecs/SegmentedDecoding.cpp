#include "SegmentedDecoding.h"

#include "common/ParallelRanges.h"

#include <algorithm>

namespace SegmentedDecoding {

int segmentCount(qint64 announcedFrames, int requested)
{
    if (announcedFrames <= 0)
        return 1;
    if (requested > 0)
        return int(std::min<qint64>(requested, announcedFrames));
    return ParallelRanges::partsFor(announcedFrames, kMinSegmentFrames);
}

bool decode(qint64 announcedFrames, int segments, int channels, const SegmentDecoder& decoder,
            std::vector<QList<float>>& parts)
{
    std::vector<QList<float>> out(static_cast<size_t>(segments));
    std::vector<char> ok(static_cast<size_t>(segments), 0);
    auto first = [&](int k) { return announcedFrames * k / segments; };
    ParallelRanges::run(segments, segments, [&](int, qint64 begin, qint64 end) {
        for (qint64 k = begin; k < end; ++k) {
            const qint64 last = k + 1 < segments ? first(int(k) + 1) : -1;
            ok[size_t(k)] = decoder(first(int(k)), last, out[size_t(k)]) ? 1 : 0;
        }
    });

    // Every segment but the last must be complete, unless the stream ended
    // inside it; then nothing may follow.
    bool ended = false;
    for (int k = 0; k < segments; ++k) {
        const qint64 got = out[size_t(k)].size() / channels;
        if (ended) {
            if (got > 0)
                return false;
            continue;
        }
        if (!ok[size_t(k)])
            return false;
        if (k + 1 < segments && got != first(k + 1) - first(k)) {
            if (got > first(k + 1) - first(k))
                return false;
            ended = true;
        }
    }
    parts.clear();
    for (QList<float>& part : out)
        if (!part.isEmpty())
            parts.push_back(std::move(part));
    return !parts.empty();
}

} // namespace SegmentedDecoding
