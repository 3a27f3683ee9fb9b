#include "editor/StereoLists.h"

#include "common/ParallelRanges.h"
#include "common/SampleMemory.h"

#include <algorithm>

namespace StereoLists {

namespace {

inline float monoOf(float left, float right)
{
    return float((double(left) + double(right)) * 0.5);
}

} // namespace

Channels split(const QList<float>& interleaved)
{
    const qsizetype frames = interleaved.size() / 2;
    Channels channels;
    channels.left.resize(frames);
    channels.right.resize(frames);
    const float* in = interleaved.constData();
    float* left = channels.left.data();
    float* right = channels.right.data();
    for (qsizetype i = 0; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
    return channels;
}

QList<float> interleave(const QList<float>& left, const QList<float>& right)
{
    const qsizetype frames = std::min(left.size(), right.size());
    QList<float> result(2 * frames);
    float* out = result.data();
    for (qsizetype i = 0; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return result;
}

QList<float> mixToMono(const QList<float>& interleaved)
{
    const qsizetype frames = interleaved.size() / 2;
    // Every value is written below, so the list is not zeroed first, and
    // long material (a whole file being loaded) is mixed on every core.
    QList<float> mono = SampleMemory::uninitialized(frames);
    const float* in = interleaved.constData();
    float* out = mono.data();
    constexpr qsizetype kFramesPerThread = 1 << 20;
    ParallelRanges::run(frames, ParallelRanges::partsFor(frames, kFramesPerThread),
                        [in, out](int, qint64 first, qint64 last) {
                            for (qint64 i = first; i < last; ++i)
                                out[i] = monoOf(in[2 * i], in[2 * i + 1]);
                        });
    return mono;
}

void mixToMonoInPlace(QList<float>& interleaved)
{
    const qsizetype frames = interleaved.size() / 2;
    // Frame i is written over value i, which frames before it have read
    // already: one pass from the start, on one thread.
    float* values = interleaved.data();
    for (qsizetype i = 0; i < frames; ++i)
        values[i] = monoOf(values[2 * i], values[2 * i + 1]);
    interleaved.resize(frames);
}

QList<float> duplicate(const QList<float>& mono)
{
    QList<float> result(2 * mono.size());
    float* out = result.data();
    for (qsizetype i = 0; i < mono.size(); ++i)
        out[2 * i] = out[2 * i + 1] = mono[i];
    return result;
}

bool processMaterial(QList<float>& mono, QList<float>& stereo,
                     const std::function<bool(QList<float>&)>& process)
{
    if (stereo.isEmpty()) {
        QList<float> result = mono;
        if (!process(result))
            return false;
        mono = std::move(result);
        return true;
    }
    Channels channels = split(stereo);
    if (!process(channels.left) || !process(channels.right))
        return false;
    stereo = interleave(channels.left, channels.right);
    mono = mixToMono(stereo);
    return true;
}

} // namespace StereoLists
