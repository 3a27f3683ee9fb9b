#pragma once
// Device blocks are sized in time: a block lasts as long at every rate as a
// given number of frames at 44100 Hz, so the four blocks a stream holds
// ahead of the device (about 46 ms for 512 frames) are as long at 192 kHz,
// where 512 frames would leave under 11 ms against dropouts.

#include <cmath>

namespace DeviceBlock {

constexpr int kReferenceRate = 44100;

// Frames of a block at `sampleRate` lasting as long as framesAt44100 frames
// at 44100 Hz; at least one.
inline unsigned int framesAt(int framesAt44100, int sampleRate)
{
    if (framesAt44100 < 1 || sampleRate < 1)
        return framesAt44100 > 0 ? unsigned(framesAt44100) : 0u;
    const double frames = std::round(double(framesAt44100) * sampleRate / kReferenceRate);
    return frames < 1.0 ? 1u : unsigned(frames);
}

} // namespace DeviceBlock
