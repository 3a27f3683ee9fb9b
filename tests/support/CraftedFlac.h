#pragma once
// FLAC streams made byte by byte, with frame numbers as a test or a
// benchmark wants them: in order, repeated, behind or ahead.

#include <QByteArray>
#include <QList>

#include <functional>

namespace CraftedFlac {

// FLAC's frame checksums, most significant bit first: CRC-8 of the header
// (width 8, 0x07), CRC-16 of the frame (width 16, 0x8005).
quint16 flacCrc(const QByteArray& bytes, int width, quint32 poly);

// The value a crafted stream holds for `sample`: every value tells the
// sample it stands for.
inline qint16 flacValue(qint64 sample) { return qint16(1000 + sample % 30000); }

// A mono 16-bit 8 kHz FLAC stream of verbatim frames (64 values unless
// told) whose headers name the given first samples; `statedFrames` is the
// length STREAMINFO states (0: none). `value` gives each sample's value; a
// block of zeros is coded as a constant, as encoders code silence.
QByteArray flacFrames(const QList<qint64>& starts, qint64 statedFrames, int blockSize = 64,
                      const std::function<qint16(qint64)>& value = flacValue);

// The first samples of blocks from..to-1 of `step` values each.
QList<qint64> blockStarts(int from, int to, qint64 step = 64);

} // namespace CraftedFlac
