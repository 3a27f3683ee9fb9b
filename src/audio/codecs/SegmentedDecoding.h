#pragma once
// Decodes a stream as consecutive segments on several threads. Each segment
// decoder seeks to its first frame and decodes up to the next segment's
// start (the last one to the end of the stream). The split points come from
// the length the stream announces, which is only trusted this far: a stream
// that ends early simply leaves later segments empty, one that runs longer
// is finished by the last segment, and any other disagreement makes the
// caller decode sequentially instead.

#include <QList>

#include <functional>
#include <vector>

namespace SegmentedDecoding {

// Decodes frames [first, end) into `out` (end < 0: to the end of the
// stream); false when the position cannot be reached or decoding fails.
using SegmentDecoder = std::function<bool(qint64 first, qint64 end, QList<float>& out)>;

// Shortest segment worth a thread of its own (about six seconds at 44.1 kHz).
constexpr qint64 kMinSegmentFrames = 1 << 18;

// Segment count: `requested` when positive, else one per core for long streams.
int segmentCount(qint64 announcedFrames, int requested);

// True when the segments tile the stream; `parts` then holds their output.
bool decode(qint64 announcedFrames, int segments, int channels, const SegmentDecoder& decoder,
            std::vector<QList<float>>& parts);

} // namespace SegmentedDecoding
