#include "audio/dsp/ReverbProcessor.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kCombBase[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::size_t kAllPassBase[4] = {556, 441, 341, 225};
} // namespace

void ReverbProcessor::initialize(int sampleRate)
{
    m_sampleRate = static_cast<float>(sampleRate);
    const std::size_t spread = sampleRate > 0 ? static_cast<std::size_t>(sampleRate / 40) : 0;
    for (std::size_t k = 0; k < 8; ++k) {
        for (Comb* comb : {&m_leftCombs[k], &m_rightCombs[k]}) {
            comb->line.resize(kCombBase[k] + spread);
            comb->position %= comb->line.size();
        }
    }
    for (std::size_t k = 0; k < 4; ++k) {
        for (AllPass* allPass : {&m_leftAllPasses[k], &m_rightAllPasses[k]}) {
            allPass->line.resize(kAllPassBase[k] + spread);
            allPass->position %= allPass->line.size();
        }
    }
    reset();
}

void ReverbProcessor::reset()
{
    for (auto* combs : {&m_leftCombs, &m_rightCombs}) {
        for (Comb& comb : *combs) {
            std::fill(comb.line.begin(), comb.line.end(), 0.0f);
            comb.store = 0.0f;
        }
    }
    for (auto* allPasses : {&m_leftAllPasses, &m_rightAllPasses}) {
        for (AllPass& allPass : *allPasses)
            std::fill(allPass.line.begin(), allPass.line.end(), 0.0f);
    }
}

void ReverbProcessor::setRoomSize(float roomSize)
{
    m_roomSize = std::clamp(roomSize, 0.0f, 1.0f);
}

void ReverbProcessor::setDamping(float damping)
{
    m_damping = std::clamp(damping, 0.0f, 1.0f);
}

void ReverbProcessor::setWet(float wet)
{
    m_wet = std::clamp(wet, 0.0f, 1.0f);
}

void ReverbProcessor::setDecay(float decay)
{
    m_decay = std::clamp(decay, 0.1f, 10.0f);
}

void ReverbProcessor::processFrames(const float* inL, const float* inR, float* outL, float* outR,
                                    std::size_t stride, std::size_t frames)
{
    const float g = m_roomSize;
    const float d = m_damping;
    const float w = m_wet;
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t i = f * stride;
        const float x[2] = {inL[i], inR[i]};
        float s[2] = {0.0f, 0.0f};
        std::array<Comb, 8>* combs[2] = {&m_leftCombs, &m_rightCombs};
        std::array<AllPass, 4>* allPasses[2] = {&m_leftAllPasses, &m_rightAllPasses};
        for (int c = 0; c < 2; ++c) {
            for (Comb& comb : *combs[c]) {
                const float y = comb.line[comb.position];
                comb.store = y * d + comb.store * (1.0f - d);
                comb.line[comb.position] = x[c] + comb.store * g;
                if (++comb.position == comb.line.size())
                    comb.position = 0;
                s[c] += y;
            }
            for (AllPass& allPass : *allPasses[c]) {
                const float b = allPass.line[allPass.position];
                allPass.line[allPass.position] = s[c] + b * 0.5f;
                s[c] = b - s[c] * 0.5f;
                if (++allPass.position == allPass.line.size())
                    allPass.position = 0;
            }
        }
        outL[i] = x[0] * (1.0f - w) + w * s[0];
        outR[i] = x[1] * (1.0f - w) + w * s[1];
    }
}

void ReverbProcessor::process(const float* in, float* out, std::size_t frames)
{
    if (!ready()) {
        if (in != out && frames > 0)
            std::memmove(out, in, 2 * frames * sizeof(float));
        return;
    }
    processFrames(in, in + 1, out, out + 1, 2, frames);
}

void ReverbProcessor::processBlock(AudioBlock& block)
{
    const std::size_t frames = block.usableFrames();
    if (block.channels.size() < 2 || !ready())
        return;
    float* left = block.channels[0].data();
    float* right = block.channels[1].data();
    processFrames(left, right, left, right, 1, frames);
}
