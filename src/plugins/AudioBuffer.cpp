#include "AudioBuffer.h"

AudioBuffer::~AudioBuffer()
{
    deallocate();
}

void AudioBuffer::allocate(int channels, int frames)
{
    deallocate();
    if (channels < 1 || frames < 1)
        return;
    data = new float*[channels];
    for (int c = 0; c < channels; ++c)
        data[c] = new float[frames]();
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
