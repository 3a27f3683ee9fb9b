#include "audio/dsp/PitchShiftProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

PitchShiftProcessor::PitchShiftProcessor() = default;

void PitchShiftProcessor::setSampleRate(float rate)
{
    m_sampleRate = rate;
    m_grainLength = rate * 46.0f / 1000.0f;
    m_pitchedGrainLength = m_grainLength;
}

void PitchShiftProcessor::setPitch(float semitones)
{
    m_pitch = std::clamp(semitones, -12.0f, 12.0f);
    if (m_grainLength < 1.0f)
        m_grainLength = m_sampleRate * 46.0f / 1000.0f;
    m_pitchedGrainLength = m_grainLength * std::pow(2.0f, -m_pitch / 12.0f);
}

void PitchShiftProcessor::setWindowSize(float ms)
{
    m_windowSize = std::clamp(ms, 5.0f, 100.0f);
    m_grainLength = m_windowSize * m_sampleRate / 1000.0f;
}

void PitchShiftProcessor::setOverlap(float overlap)
{
    m_overlap = std::clamp(overlap, 0.1f, 0.9f);
}

void PitchShiftProcessor::reset()
{
    m_history.clear();
    m_outputQueue.clear();
    m_queueFront = 0;
    m_grainPhase = 0.0f;
}

// Each time the grain phase passes 1, the last grain length of input is
// summed under a Hann window and queued; one queued value leaves per input
// sample. The sum is divided by the window's weight so the level stays that
// of the input.
void PitchShiftProcessor::process(const float* in, float* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const float x = in[i];
        const std::size_t grain =
            m_grainLength > 0.0f ? static_cast<std::size_t>(m_grainLength) : std::size_t(0);
        m_history.push_back(x);
        // Only the last grain is ever read; drop the older half now and then.
        const std::size_t keep = std::max<std::size_t>(grain, 1);
        if (m_history.size() >= 2 * keep)
            m_history.erase(m_history.begin(),
                            m_history.end() - static_cast<std::ptrdiff_t>(keep));

        if (m_grainPhase >= 1.0f) {
            m_grainPhase -= 1.0f;
            float value = 0.0f;
            if (grain > 0) {
                if (m_grainWindow.size() != grain) {
                    m_grainWindow.resize(grain);
                    for (std::size_t k = 0; k < grain; ++k)
                        m_grainWindow[k] = static_cast<float>(
                            (1.0 - std::cos(double(k) * 2.0 * M_PI / double(grain))) * 0.5);
                }
                const std::size_t count = std::min(grain, m_history.size());
                const float* last = m_history.data() + (m_history.size() - count);
                float sum = 0.0f, weight = 0.0f;
                for (std::size_t k = 0; k < count; ++k) {
                    sum += last[k] * m_grainWindow[k];
                    weight += m_grainWindow[k];
                }
                value = weight > 0.0f ? sum / weight : 0.0f;
            }
            m_outputQueue.push_back(value);
        }
        m_grainPhase += m_grainLength > 0.0f ? m_pitchedGrainLength / m_grainLength : 1.0f;

        if (m_queueFront < m_outputQueue.size()) {
            out[i] = m_outputQueue[m_queueFront++];
            if (m_queueFront == m_outputQueue.size()) {
                m_outputQueue.clear();
                m_queueFront = 0;
            }
        } else {
            out[i] = 0.0f;
        }
    }
}

void PitchShiftProcessor::processBlock(AudioBlock& block)
{
    const std::size_t frames = block.usableFrames();
    for (auto& channel : block.channels)
        process(channel.data(), channel.data(), frames);
}

std::size_t PitchShiftProcessor::fftSize() const
{
    const float samples = m_sampleRate > 0.0f ? m_sampleRate * 92.0f / 1000.0f : 4057.2f;
    const std::size_t target = static_cast<std::size_t>(samples);
    return std::max<std::size_t>(Fft::nextPowerOfTwo(target), 1024);
}

// Upward shifts shorten the input by the ratio with the resampler first and
// stretch it back; downward shifts compress with the vocoder first and
// resample up afterwards. Either way the vocoder writes one frame per N/4
// output samples of the shorter signal, and the resampler alone sets the
// pitch ratio.
void PitchShiftProcessor::processOffline(const float* in, float* out, std::size_t n)
{
    if (n == 0)
        return;
    if (m_pitch == 0.0f) {
        if (in != out)
            std::memmove(out, in, n * sizeof(float));
        return;
    }
    const std::size_t size = fftSize();
    const std::size_t hop = size / 4;
    const double ratio = std::pow(2.0, double(m_pitch) / 12.0);
    m_vocoder.setFftSize(size);

    const std::size_t shortLength =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(double(n) / ratio)));
    const std::size_t midLength =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(double(n) * ratio)));
    if (ratio > 1.0) {
        std::vector<float> shortened(shortLength);
        m_resampler.resample(in, n, shortened.data(), shortLength, ratio);
        m_vocoder.stretch(shortened.data(), shortLength, out, n, ratio, hop);
    } else {
        std::vector<float> compressed(midLength);
        m_vocoder.stretch(in, n, compressed.data(), midLength, ratio, hop);
        m_resampler.resample(compressed.data(), midLength, out, n, ratio);
    }
}

void PitchShiftProcessor::fft(float* data, std::size_t n, bool inverse)
{
    // One point: the 1/n scale is 1 and nothing else happens.
    if (n < 2 || !Fft::isPowerOfTwo(n))
        return;
    m_fft.setSize(n);
    m_fft.transform(data, !inverse, inverse);
}

void PitchShiftProcessor::phaseVocoderFrame(const float* frame, float* out, std::size_t N,
                                            float* lastPhase, float* sumPhase, double ratio,
                                            std::size_t analysisHop, std::size_t synthesisHop)
{
    if (N < 4 || !Fft::isPowerOfTwo(N))
        return;
    m_vocoder.setFftSize(N);
    m_vocoder.processFrame(frame, out, lastPhase, sumPhase, ratio, analysisHop, synthesisHop, false);
}
