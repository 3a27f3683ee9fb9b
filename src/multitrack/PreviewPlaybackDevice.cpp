#include "multitrack/PreviewPlaybackDevice.h"

#include "multitrack/AuditionInstrument.h"

#include <algorithm>
#include <cstring>

namespace {

// Frames rendered per step; the block lives on the stack, so the audio
// thread never allocates.
constexpr int kChunkFrames = 512;

} // namespace

PreviewPlaybackDevice::PreviewPlaybackDevice(SF2Sampler* sf2, PianoSampler* piano,
                                             const QAudioFormat& format, QObject* parent)
    : QIODevice(parent), sampler(sf2), pianoSampler(piano), converter(format)
{
}

PreviewPlaybackDevice::~PreviewPlaybackDevice() = default;

qint64 PreviewPlaybackDevice::readData(char* data, qint64 maxSize)
{
    if (maxSize <= 0)
        return 0;
    std::memset(data, 0, size_t(maxSize));
    if (!converter.isValid() || !drawing)
        return maxSize;
    const AuditionInstrument heard(sampler, pianoSampler);
    // A running live output renders the same voices, the auditions among them.
    if (!heard.isUsable() || heard.isRenderedLive())
        return maxSize;

    const int frameBytes = converter.bytesPerFrame();
    const qint64 frames = maxSize / frameBytes;
    short block[2 * kChunkFrames];
    for (qint64 done = 0; done < frames;) {
        const int count = int(std::min<qint64>(kChunkFrames, frames - done));
        heard.renderLive(block, count);
        converter.convert(block, count, data + done * frameBytes);
        done += count;
    }
    return maxSize;
}

qint64 PreviewPlaybackDevice::writeData(const char* data, qint64 maxSize)
{
    Q_UNUSED(data);
    Q_UNUSED(maxSize);
    return 0;
}
