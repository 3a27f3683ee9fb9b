#pragma once
// A planar block of 32-bit float audio passed to and from plug-ins: one array
// per channel. The buffer owns what allocate() made; a buffer whose pointers
// a user set by hand must be emptied by that user before it is destroyed.

#include <cstdint>

struct AudioBuffer {
    float** data = nullptr;  // numChannels pointers to numFrames floats each
    int32_t numChannels = 0;
    int32_t numFrames = 0;

    AudioBuffer() = default;
    ~AudioBuffer();
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    // Frees what the buffer holds, then, when both counts are 1 or more,
    // allocates zeroed channels; otherwise, and when memory runs out, the
    // buffer ends empty.
    void allocate(int channels, int frames);
    void deallocate();
};
