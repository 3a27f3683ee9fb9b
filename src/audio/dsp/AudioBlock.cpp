#include "audio/dsp/AudioBlock.h"

#include <algorithm>

void AudioBlock::resize(int channelCount, std::size_t frames)
{
    frameCount = frames;
    channels.resize(static_cast<std::size_t>(std::max(channelCount, 0)));
    for (auto& channel : channels)
        channel.resize(frames, 0.0f);
}

std::size_t AudioBlock::usableFrames() const
{
    std::size_t frames = frameCount;
    for (const auto& channel : channels)
        frames = std::min(frames, channel.size());
    return frames;
}
