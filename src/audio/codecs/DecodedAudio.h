#pragma once
// What every decoder hands back: interleaved float samples with their
// layout, in consecutive parts (one per decoding thread; each holds whole
// frames), so joining them and mixing to mono is one parallel pass.

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <vector>

struct DecodedAudio {
    int channels = 0;
    int sampleRate = 0;
    std::vector<QList<float>> parts;
    // What the decoder met on the way; the parts hold what it could read.
    bool damaged = false;      // damaged data was skipped
    bool cutShort = false;     // the stream ends before its stated length or inside a frame
    qint64 filledFrames = 0;   // of the frames above, silence standing for lost audio
    bool laterStreamsLeft = false; // streams chained after the first one were not read
    int joinedStreams = 0;     // streams joined on after the first, read in order after it
    int leftSampleRate = 0;    // the layout of the stream not read, where it is known
    int leftChannels = 0;

    qint64 values() const
    {
        qint64 n = 0;
        for (const QList<float>& part : parts)
            n += part.size();
        return n;
    }
    qint64 frames() const { return channels > 0 ? values() / channels : 0; }

    // Whether zeros run from `from` (the end of the last frame) to the end of
    // the bytes, more than any MPEG or FLAC frame holds: space a download or
    // copy reserved and never filled, which tells a stream without a stated
    // length that was cut short.
    static bool endsInReservedZeros(const QByteArray& bytes, qint64 from)
    {
        qint64 zeros = 0;
        for (qint64 i = bytes.size() - 1; i >= std::max<qint64>(from, 0) && bytes[i] == 0; --i)
            ++zeros;
        return zeros >= 4096;
    }
};
