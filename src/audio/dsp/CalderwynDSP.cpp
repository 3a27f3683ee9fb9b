#include "audio/dsp/CalderwynDSP.h"

#include <algorithm>
#include <cstring>

CalderwynDSP::CalderwynDSP()
    : m_gain(std::make_unique<GainProcessor>())
    , m_panner(std::make_unique<PannerProcessor>())
    , m_filter(std::make_unique<FilterProcessor>())
    , m_delay(std::make_unique<DelayProcessor>())
    , m_reverb(std::make_unique<ReverbProcessor>())
{
}

CalderwynDSP::~CalderwynDSP() = default;

void CalderwynDSP::initialize(int sampleRate, int blockSize)
{
    m_sampleRate = sampleRate;
    m_blockSize = blockSize;
    // The filter and the delay run at the facade's rate, as the reverb does.
    m_filter->setSampleRate(static_cast<float>(sampleRate));
    m_filter->setFrequency(std::clamp(static_cast<float>(sampleRate) * 0.5f, 20.0f, 20000.0f));
    if (sampleRate >= 1) {
        m_delay->setSampleRate(static_cast<float>(sampleRate));
        // Lines that exist already are resized for the same delay time.
        if (m_delay->lineLength() > 0)
            m_delay->setDelayTime(m_delay->getDelayTime());
    }
    m_reverb->initialize(sampleRate);
}

void CalderwynDSP::reset()
{
    m_filter->reset();
    m_delay->reset();
    m_reverb->reset();
}

void CalderwynDSP::setGain(float gain) { m_gain->setGain(gain); }
void CalderwynDSP::setGainDB(float dB) { m_gain->setGainDB(dB); }
float CalderwynDSP::getGain() const { return m_gain->getGain(); }
float CalderwynDSP::getGainDB() const { return m_gain->getGainDB(); }
void CalderwynDSP::setPan(float pan) { m_panner->setPan(pan); }
float CalderwynDSP::getPan() const { return m_panner->getPan(); }
void CalderwynDSP::setFilterType(FilterType type) { m_filter->setType(type); }
void CalderwynDSP::setFilterFrequency(float hz) { m_filter->setFrequency(hz); }
void CalderwynDSP::setFilterQ(float q) { m_filter->setQ(q); }
float CalderwynDSP::getFilterFrequency() const { return m_filter->getFrequency(); }
void CalderwynDSP::setDelayTime(float seconds) { m_delay->setDelayTime(seconds); }
void CalderwynDSP::setDelayFeedback(float feedback) { m_delay->setFeedback(feedback); }
void CalderwynDSP::setDelayMix(float mix) { m_delay->setMix(mix); }
void CalderwynDSP::setReverbRoomSize(float roomSize) { m_reverb->setRoomSize(roomSize); }
void CalderwynDSP::setReverbDamping(float damping) { m_reverb->setDamping(damping); }
void CalderwynDSP::setReverbWet(float wet) { m_reverb->setWet(wet); }

void CalderwynDSP::process(const float* in, float* out, std::size_t frames, int channels)
{
    const std::size_t total = frames * static_cast<std::size_t>(std::max(channels, 0));
    if (channels <= 0 || frames == 0 || m_bypass) {
        if (in != out && total > 0)
            std::memmove(out, in, total * sizeof(float));
        return;
    }
    if (channels == 1) {
        m_gain->process(in, out, frames);
        return;
    }

    const std::size_t stride = static_cast<std::size_t>(channels);
    const float left = m_panner->leftGain();
    const float right = m_panner->rightGain();
    const float gain = m_gain->getGain();
    for (std::size_t f = 0; f < frames; ++f) {
        const float* src = in + f * stride;
        float* dst = out + f * stride;
        float l = src[0] * left;
        float r = src[1] * right;
        if (gain != 1.0f) {
            l *= gain;
            r *= gain;
        }
        if (src != dst) {
            for (std::size_t c = 2; c < stride; ++c)
                dst[c] = src[c];
        }
        dst[0] = l;
        dst[1] = r;
    }

    if (!m_reverbEnabled)
        return;
    if (channels == 2) {
        m_reverb->process(out, out, frames);
        return;
    }
    m_stereoWork.resize(2 * frames);
    for (std::size_t f = 0; f < frames; ++f) {
        m_stereoWork[2 * f] = out[f * stride];
        m_stereoWork[2 * f + 1] = out[f * stride + 1];
    }
    m_reverb->process(m_stereoWork.data(), m_stereoWork.data(), frames);
    for (std::size_t f = 0; f < frames; ++f) {
        out[f * stride] = m_stereoWork[2 * f];
        out[f * stride + 1] = m_stereoWork[2 * f + 1];
    }
}

void CalderwynDSP::processNonInterleaved(const float* const* in, float* const* out,
                                         std::size_t frames, int channels)
{
    if (channels <= 0)
        return;
    if (frames == 0 || m_bypass) {
        for (int c = 0; c < channels; ++c) {
            if (in[c] != out[c] && frames > 0)
                std::memmove(out[c], in[c], frames * sizeof(float));
        }
        return;
    }

    m_work.resize(channels, frames);
    m_work.sampleRate = m_sampleRate;
    m_work.blockSize = m_blockSize;
    for (int c = 0; c < channels; ++c)
        std::memcpy(m_work.channels[c].data(), in[c], frames * sizeof(float));

    m_gain->processBlock(m_work);
    m_panner->processBlock(m_work);
    if (m_filterEnabled)
        m_filter->processBlock(m_work);
    if (m_delayEnabled && channels >= 2)
        m_delay->processBlock(m_work);
    if (m_reverbEnabled && channels >= 2)
        m_reverb->processBlock(m_work);

    for (int c = 0; c < channels; ++c)
        std::memcpy(out[c], m_work.channels[c].data(), frames * sizeof(float));
}

void CalderwynDSP::processBlock(const AudioBlock& in, AudioBlock& out)
{
    if (m_bypass || in.frameCount == 0) {
        if (&in != &out) {
            out.channels = in.channels;
            out.sampleRate = in.sampleRate;
            out.blockSize = in.blockSize;
            out.frameCount = in.frameCount;
        }
        return;
    }
    const std::size_t frames = in.usableFrames();
    const int channels = in.channelCount();
    bool fits = out.channelCount() == channels && out.frameCount == in.frameCount;
    for (const auto& channel : out.channels)
        fits = fits && channel.size() >= in.frameCount;
    if (!fits)
        out.resize(channels, in.frameCount);

    m_inPointers.resize(static_cast<std::size_t>(channels));
    m_outPointers.resize(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        m_inPointers[c] = in.channels[c].data();
        m_outPointers[c] = out.channels[c].data();
    }
    processNonInterleaved(m_inPointers.data(), m_outPointers.data(), frames, channels);
}
