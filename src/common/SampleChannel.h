#pragma once
// One channel of a sample list, read in place: value i sits at
// values[i * stride], so stride 2 reads the left (offset 0) or right
// (offset 1) channel of an interleaved L, R list without copying it.

#include <QList>
#include <QtGlobal>

struct SampleChannel {
    const float* values = nullptr;
    qsizetype count = 0;
    qsizetype stride = 1;

    float at(qsizetype i) const { return values[i * stride]; }
    bool isEmpty() const { return count <= 0 || !values; }

    static SampleChannel mono(const QList<float>& list)
    {
        return {list.constData(), list.size(), 1};
    }
    // Channel 0 (left) or 1 (right) of an interleaved list; an odd trailing
    // value is half a frame and not part of either channel.
    static SampleChannel ofInterleaved(const QList<float>& list, int channel)
    {
        return {list.constData() + channel, list.size() / 2, 2};
    }
};
