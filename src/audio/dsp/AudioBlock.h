#pragma once
// Planar block of float samples that the processors' processBlock methods
// work on in place.

#include <cstddef>
#include <cstdint>
#include <vector>

struct AudioBlock {
    std::vector<std::vector<float>> channels;  // one sample vector per channel
    std::int32_t sampleRate = 44100;           // informational only
    std::int32_t blockSize = 512;              // informational only
    std::size_t frameCount = 0;                // samples to process in each channel

    // Sets the frame count and the number of channels (new ones empty, surplus
    // ones freed) and sizes every channel to `frames` (new samples 0).
    void resize(int channelCount, std::size_t frames);

    int channelCount() const { return static_cast<int>(channels.size()); }
    // Frames that every channel really holds: frameCount, or fewer when a
    // channel vector was left shorter. Processors never go past it.
    std::size_t usableFrames() const;
};
