#pragma once
// Ready-made effect chain: gain, pan, biquad filter, ping-pong delay and
// reverb, with switches for the last three and a global bypass.
//
// The interleaved entry applies gain, pan and reverb only; the planar entries
// run the whole chain in that order. Pan, delay and reverb act on channels 0
// and 1; mono skips them.

#include "audio/dsp/AudioBlock.h"
#include "audio/dsp/DelayProcessor.h"
#include "audio/dsp/FilterProcessor.h"
#include "audio/dsp/GainProcessor.h"
#include "audio/dsp/PannerProcessor.h"
#include "audio/dsp/ReverbProcessor.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CalderwynDSP {
public:
    CalderwynDSP();
    ~CalderwynDSP();
    CalderwynDSP(const CalderwynDSP&) = delete;
    CalderwynDSP& operator=(const CalderwynDSP&) = delete;

    // Required before the reverb is enabled: sizes its lines for the rate.
    void initialize(int sampleRate, int blockSize);
    void reset();
    int getSampleRate() const { return m_sampleRate; }
    int getBlockSize() const { return m_blockSize; }

    void setGain(float gain);
    void setGainDB(float dB);
    float getGain() const;
    float getGainDB() const;

    void setPan(float pan);
    float getPan() const;

    void setFilterType(FilterType type);
    void setFilterFrequency(float hz);
    void setFilterQ(float q);
    void setFilterEnabled(bool enabled) { m_filterEnabled = enabled; }
    float getFilterFrequency() const;

    void setDelayTime(float seconds);
    void setDelayFeedback(float feedback);
    void setDelayMix(float mix);
    void setDelayEnabled(bool enabled) { m_delayEnabled = enabled; }

    void setReverbRoomSize(float roomSize);
    void setReverbDamping(float damping);
    void setReverbWet(float wet);
    void setReverbEnabled(bool enabled) { m_reverbEnabled = enabled; }

    void setBypass(bool bypass) { m_bypass = bypass; }
    bool isBypassed() const { return m_bypass; }

    // Interleaved frames of `channels` samples; channels past the second
    // pass through unchanged.
    void process(const float* in, float* out, std::size_t frames, int channels);
    // One pointer per channel; in[c] and out[c] may be the same buffer.
    void processNonInterleaved(const float* const* in, float* const* out, std::size_t frames,
                               int channels);
    // out takes in's channel and frame counts; in and out may be one block.
    void processBlock(const AudioBlock& in, AudioBlock& out);

private:
    std::int32_t m_sampleRate = 44100;
    std::int32_t m_blockSize = 512;
    bool m_bypass = false;
    std::unique_ptr<GainProcessor> m_gain;
    std::unique_ptr<PannerProcessor> m_panner;
    std::unique_ptr<FilterProcessor> m_filter;
    std::unique_ptr<DelayProcessor> m_delay;
    std::unique_ptr<ReverbProcessor> m_reverb;
    bool m_filterEnabled = false;
    bool m_delayEnabled = false;
    bool m_reverbEnabled = false;

    AudioBlock m_work;                // the planar chain's working copy
    std::vector<float> m_stereoWork;  // L/R pairs taken out of wider interleaved frames
    std::vector<const float*> m_inPointers;
    std::vector<float*> m_outPointers;
};
