#include "AudioProcessor.h"

AudioProcessor::AudioProcessor(QObject* parent) : QObject(parent) {}

AudioProcessor::~AudioProcessor() = default;

void AudioProcessor::clear()
{
    samples.clear();
    stereoSamples.clear();
    sampleRate = 44100;
    channels = 2;
    m_damageNote.clear();
}
