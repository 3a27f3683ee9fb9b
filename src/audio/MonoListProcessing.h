#pragma once
// Runs one AudioProcessor operation over a loose mono list (a channel of
// stereo material, say): a short-lived one-channel processor at the given
// rate takes the list, runs the operation and hands the list back.

#include "audio/AudioProcessor.h"

#include <utility>

template <typename Operation>
void processMonoList(QList<float>& list, int sampleRate, Operation&& operation)
{
    AudioProcessor processor;
    processor.sampleRate = sampleRate;
    processor.channels = 1;
    processor.samples = std::move(list);
    operation(processor);
    list = std::move(processor.samples);
}
