#include "AudioBuffer.h"

#include <new>

AudioBuffer::~AudioBuffer()
{
    deallocate();
}

void AudioBuffer::allocate(int channels, int frames)
{
    deallocate();
    if (channels < 1 || frames < 1)
        return;
    float** made = new (std::nothrow) float*[channels]();
    if (!made)
        return;
    for (int c = 0; c < channels; ++c) {
        made[c] = new (std::nothrow) float[frames]();
        if (!made[c]) {
            // Out of memory part way: what was made is given back, the buffer stays empty.
            for (int k = 0; k < c; ++k)
                delete[] made[k];
            delete[] made;
            return;
        }
    }
    data = made;
    numChannels = channels;
    numFrames = frames;
}

void AudioBuffer::deallocate()
{
    if (data) {
        for (int c = 0; c < numChannels; ++c) {
            delete[] data[c];
            data[c] = nullptr;
        }
        delete[] data;
        data = nullptr;
    }
    numChannels = 0;
    numFrames = 0;
}
