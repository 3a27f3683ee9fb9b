// Offline operations that change AudioProcessor::samples in place: levels,
// fades, segment editing, reverb, delay, one-pole filters, the compressor and
// the parametric equaliser, plus the unit conversions they share.

#include "AudioProcessor.h"
#include "CompressorCurve.h"
#include "EqualiserBands.h"
#include "dsp/VectorState.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>


namespace {

// Millisecond and frame conversions are done in 64 bits so long lists (more
// than about 49 s at 44.1 kHz would overflow an int product) keep working.
qint64 msToFrameCount(qint64 ms, int sampleRate)
{
    qint64 product = 0;
    if (__builtin_mul_overflow(ms, static_cast<qint64>(sampleRate), &product))
        return ((ms < 0) != (sampleRate < 0)) ? std::numeric_limits<qint64>::min() / 1000
                                              : std::numeric_limits<qint64>::max() / 1000;
    return product / 1000;
}

int saturateToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

// Clamp that also sends NaN to the lower bound, so no NaN parameter spreads
// through a whole list.
float clampParam(float value, float low, float high)
{
    if (!(value >= low))
        return low;
    return value > high ? high : value;
}

} // namespace

// ---- unit conversions ----

float AudioProcessor::dBToLinear(float dB) const
{
    return std::pow(10.0f, dB / 20.0f);
}

float AudioProcessor::linearToDB(float linear) const
{
    return linear <= 0.0f ? -96.0f : 20.0f * std::log10(linear);
}

int AudioProcessor::msToSamples(qint64 ms) const
{
    return saturateToInt(msToFrameCount(ms, sampleRate));
}

int AudioProcessor::samplesToMs(int count) const
{
    if (sampleRate == 0)
        return 0;
    return saturateToInt(static_cast<qint64>(count) * 1000 / sampleRate);
}

qint64 AudioProcessor::getDuration() const
{
    if (samples.isEmpty() || sampleRate < 1 || channels < 1)
        return 0;
    const qint64 frames = samples.size() / channels;
    return frames * 1000 / sampleRate;
}

// ---- levels ----

void AudioProcessor::applyGain(float gain)
{
    if (samples.isEmpty())
        return;
    const float g = clampParam(gain, 0.0f, 1.0f);
    for (float& v : samples)
        v *= g;
    emit audioProcessed();
}

void AudioProcessor::applyGainDB(float dB)
{
    if (samples.isEmpty())
        return;
    const float g = clampParam(std::pow(10.0f, dB / 20.0f), 0.0f, 1.0f);
    for (float& v : samples)
        v *= g;
    emit audioProcessed();
}

void AudioProcessor::normalize(float targetPeak)
{
    if (samples.isEmpty())
        return;
    float peak = 0.0f;
    for (float v : std::as_const(samples))
        peak = std::max(peak, std::fabs(v));
    if (!(peak > 0.0f))
        return;
    const float factor = clampParam(targetPeak / peak, 0.0f, 1.0f);
    for (float& v : samples)
        v *= factor;
    emit audioProcessed();
}

void AudioProcessor::reverse()
{
    if (samples.isEmpty())
        return;
    if (channels <= 1) {
        std::reverse(samples.begin(), samples.end());
    } else {
        // Reverse whole frames so the channels keep their places.
        const qsizetype frames = samples.size() / channels;
        float* data = samples.data();
        for (qsizetype a = 0, b = frames - 1; a < b; ++a, --b)
            std::swap_ranges(data + a * channels, data + (a + 1) * channels, data + b * channels);
    }
    emit audioProcessed();
}

// ---- fades ----

void AudioProcessor::fadeIn(int durationMs)
{
    if (samples.isEmpty() || channels < 1)
        return;
    const qint64 frames = samples.size() / channels;
    const qint64 fadeFrames = std::min(frames, msToFrameCount(durationMs, sampleRate));
    if (fadeFrames >= 1) {
        float* data = samples.data();
        for (qint64 i = 0; i < fadeFrames; ++i) {
            const float g = static_cast<float>(static_cast<double>(i) / fadeFrames);
            for (int c = 0; c < channels; ++c)
                data[i * channels + c] *= g;
        }
    }
    emit audioProcessed();
}

void AudioProcessor::fadeOut(int durationMs)
{
    if (samples.isEmpty() || channels < 1)
        return;
    const qint64 frames = samples.size() / channels;
    const qint64 fadeFrames = std::min(frames, msToFrameCount(durationMs, sampleRate));
    if (fadeFrames >= 1) {
        float* data = samples.data();
        const qint64 first = frames - fadeFrames;
        for (qint64 j = 0; j < fadeFrames; ++j) {
            const float g = static_cast<float>(static_cast<double>(fadeFrames - j) / fadeFrames);
            for (int c = 0; c < channels; ++c)
                data[(first + j) * channels + c] *= g;
        }
    }
    emit audioProcessed();
}

// ---- segments ----

QList<float> AudioProcessor::extractSegment(qint64 startMs, qint64 endMs) const
{
    if (samples.isEmpty() || channels < 1)
        return {};
    const qint64 frames = samples.size() / channels;
    // A start at or past the end gives an empty range, not the last frame.
    const qint64 start = std::clamp<qint64>(msToFrameCount(startMs, sampleRate), 0, frames);
    const qint64 end = std::clamp<qint64>(msToFrameCount(endMs, sampleRate), start, frames);
    if (end <= start)
        return {};
    return samples.mid(start * channels, (end - start) * channels);
}

void AudioProcessor::insertSegment(const QList<float>& segment, qint64 positionMs)
{
    if (segment.isEmpty() || channels < 1)
        return;
    const qint64 frames = samples.size() / channels;
    const qint64 segmentFrames = segment.size() / channels;
    if (segmentFrames < 1)
        return;
    const qint64 at = std::clamp<qint64>(msToFrameCount(positionMs, sampleRate), 0, frames);
    samples.insert(at * channels, segmentFrames * channels, 0.0f);
    std::copy_n(segment.constData(), segmentFrames * channels, samples.data() + at * channels);
    emit audioProcessed();
}

void AudioProcessor::deleteSegment(qint64 startMs, qint64 endMs)
{
    if (samples.isEmpty() || channels < 1)
        return;
    const qint64 frames = samples.size() / channels;
    // As in extractSegment: a range past the end removes nothing.
    const qint64 start = std::clamp<qint64>(msToFrameCount(startMs, sampleRate), 0, frames);
    const qint64 end = std::clamp<qint64>(msToFrameCount(endMs, sampleRate), start, frames);
    if (end > start)
        samples.remove(start * channels, (end - start) * channels);
    emit audioProcessed();
}

// ---- reverb: four damped combs in parallel, then two all-passes ----

void AudioProcessor::applyReverb(float mix, float roomSize, float damping, float preDelayMs,
                                 float decay)
{
    if (samples.isEmpty() || sampleRate < 1)
        return;
    mix = clampParam(mix, 0.0f, 1.0f);
    roomSize = clampParam(roomSize, 0.1f, 1.0f);
    preDelayMs = clampParam(preDelayMs, 0.0f, 200.0f);
    decay = clampParam(decay, 0.0f, 1.0f);
    const float feedback = decay * 0.95f;
    const float dampCoef = damping > 0.0f ? 1.0f - 0.8f * std::min(damping, 1.0f) : 1.0f;

    auto lineLength = [&](float ms) {
        const auto wholeMs = static_cast<qint64>(roomSize * ms);
        return static_cast<size_t>(std::max<qint64>(1, msToFrameCount(wholeMs, sampleRate)));
    };
    const std::array<size_t, 4> combLengths = {lineLength(29.7f), lineLength(37.1f),
                                               lineLength(41.1f), lineLength(43.7f)};
    const std::array<size_t, 2> allPassLengths = {lineLength(5.0f), lineLength(1.7f)};

    if (channels < 1) {
        emit audioProcessed();
        return;
    }
    const qint64 frames = samples.size() / channels;
    if (frames < 1) {
        emit audioProcessed();
        return;
    }
    const qint64 preDelay = std::min<qint64>(
        frames - 1, msToFrameCount(static_cast<qint64>(preDelayMs), sampleRate));

    std::vector<float> input(frames);
    std::vector<float> wet(frames);
    std::vector<float> line;
    float* data = samples.data();
    for (int c = 0; c < channels; ++c) {
        std::fill(input.begin(), input.begin() + preDelay, 0.0f);
        for (qint64 j = 0; j + preDelay < frames; ++j)
            input[preDelay + j] = data[j * channels + c];
        std::fill(wet.begin(), wet.end(), 0.0f);

        for (size_t length : combLengths) {
            line.assign(length, 0.0f);
            size_t k = 0;
            float state = 0.0f;
            for (qint64 i = 0; i < frames; ++i) {
                const float out = line[k];
                state = out * dampCoef + state * (1.0f - dampCoef);
                line[k] = state * feedback + input[i];
                wet[i] += out;
                if (++k == length)
                    k = 0;
            }
        }
        for (float& w : wet)
            w *= 0.25f;
        for (size_t length : allPassLengths) {
            line.assign(length, 0.0f);
            size_t k = 0;
            for (qint64 i = 0; i < frames; ++i) {
                const float b = line[k];
                const float x = wet[i];
                line[k] = x + 0.5f * b;
                wet[i] = b - 0.5f * x;
                if (++k == length)
                    k = 0;
            }
        }
        for (qint64 i = 0; i < frames; ++i) {
            float& v = data[i * channels + c];
            v = v * (1.0f - mix) + wet[i] * mix;
        }
    }
    emit audioProcessed();
}

// ---- delay with a softened feedback path ----

void AudioProcessor::applyDelay(float mix, int delayMs, float feedback)
{
    if (samples.isEmpty() || sampleRate < 1)
        return;
    delayMs = std::clamp(delayMs, 1, 5000);
    const auto length = static_cast<size_t>(std::max<qint64>(1, msToFrameCount(delayMs, sampleRate)));
    mix = clampParam(mix, 0.0f, 1.0f);
    feedback = clampParam(feedback, 0.0f, 0.95f);

    const qint64 frames = channels >= 1 ? samples.size() / channels : 0;
    if (frames >= 1) {
        std::vector<float> line(length);
        float* data = samples.data();
        for (int c = 0; c < channels; ++c) {
            std::fill(line.begin(), line.end(), 0.0f);
            size_t k = 0;
            float tone = 0.0f;
            for (qint64 i = 0; i < frames; ++i) {
                float& v = data[i * channels + c];
                const float x = v;
                const float d = line[k];
                tone = d * 0.7f + tone * 0.3f;
                line[k] = tone * feedback + x;
                v = x * (1.0f - mix) + d * mix;
                if (++k == length)
                    k = 0;
            }
        }
    }
    emit audioProcessed();
}

// ---- one-pole filters ----

void AudioProcessor::applyLowPassFilter(float cutoffHz)
{
    if (samples.isEmpty() || sampleRate < 1)
        return;
    if (channels >= 1) {
        // A cut-off of 0 or beyond Nyquist has no meaning for a one-pole filter.
        const double cutoff = clampParam(cutoffHz, 1.0f, 0.49f * sampleRate);
        const auto rc = static_cast<float>(1.0 / (2.0 * M_PI * cutoff));
        const float dt = 1.0f / static_cast<float>(sampleRate);
        const float alpha = dt / (dt + rc);
        const qint64 frames = samples.size() / channels;
        float* data = samples.data();
        for (int c = 0; c < channels && frames > 0; ++c) {
            float y = data[c];
            for (qint64 i = 0; i < frames; ++i) {
                float& v = data[i * channels + c];
                y = y + alpha * (v - y);
                v = y;
            }
        }
    }
    emit audioProcessed();
}

void AudioProcessor::applyHighPassFilter(float cutoffHz)
{
    if (samples.isEmpty() || sampleRate < 1)
        return;
    if (channels >= 1) {
        const double cutoff = clampParam(cutoffHz, 1.0f, 0.49f * sampleRate);
        const auto rc = static_cast<float>(1.0 / (2.0 * M_PI * cutoff));
        const float dt = 1.0f / static_cast<float>(sampleRate);
        const float alpha = rc / (rc + dt);
        const qint64 frames = samples.size() / channels;
        float* data = samples.data();
        for (int c = 0; c < channels && frames > 0; ++c) {
            float previousIn = data[c];
            float previousOut = data[c];
            for (qint64 i = 0; i < frames; ++i) {
                float& v = data[i * channels + c];
                const float x = v;
                const float y = alpha * (previousOut + x - previousIn);
                v = y;
                previousIn = x;
                previousOut = y;
            }
        }
    }
    emit audioProcessed();
}

// ---- compressor ----

void AudioProcessor::applyCompression(float thresholdDb, float ratio, float attackMs,
                                      float releaseMs, float makeupDb, float kneeDb)
{
    if (!(ratio > 1.0f) || samples.isEmpty())
        return;
    if (channels < 1) {
        emit audioProcessed();
        return;
    }
    auto coefficient = [this](float ms) {
        const double samplesPerTime = static_cast<double>(ms) * 0.001 * sampleRate;
        return samplesPerTime > 0.0 ? std::exp(-1.0 / samplesPerTime) : 0.0;
    };
    const double attackStep = 1.0 - coefficient(attackMs);
    const double releaseStep = 1.0 - coefficient(releaseMs);

    // 20·log10(x) and 10^(dB/20) through the natural log and exp, which are
    // the fast paths of the maths library.
    constexpr float dbPerNeper = static_cast<float>(20.0 / M_LN10);
    constexpr float neperPerDb = static_cast<float>(M_LN10 / 20.0);
    const float makeupGain = std::exp(makeupDb * neperPerDb);

    clearUpperVectorState(); // exp per sample below; see VectorState.h
    // The envelope starts at silence so the opening is not pulled down.
    double env = -96.0;
    const qint64 frames = samples.size() / channels;
    float* data = samples.data();
    for (qint64 f = 0; f < frames; ++f) {
        float* frame = data + f * channels;
        float peak = 0.0f;
        for (int c = 0; c < channels; ++c)
            peak = std::max(peak, std::fabs(frame[c]));
        const double level = peak > 0.0f ? std::log(peak) * dbPerNeper : -96.0;
        env += (level > env ? attackStep : releaseStep) * (level - env);

        const float reduction =
            compressorGainReductionDb(static_cast<float>(env), thresholdDb, ratio, kneeDb);
        const float gain =
            reduction < 0.0f ? std::exp((makeupDb + reduction) * neperPerDb) : makeupGain;
        for (int c = 0; c < channels; ++c)
            frame[c] *= gain;
    }
    emit audioProcessed();
}

// ---- parametric equaliser ----

void AudioProcessor::applyParametricEQ(const float* freqs, const float* gainsDb, const float* qs,
                                       const int* types, const bool* enabled, int count)
{
    if (samples.isEmpty() || sampleRate < 1)
        return;
    const std::vector<BiquadCoefficients> bands = EqualiserBands::appliedBands(
        freqs, gainsDb, qs, types, enabled, count, static_cast<float>(sampleRate));
    if (!bands.empty() && channels >= 1) {
        std::vector<BiquadState> states(bands.size());
        const qint64 frames = samples.size() / channels;
        float* data = samples.data();
        for (int c = 0; c < channels; ++c) {
            std::fill(states.begin(), states.end(), BiquadState{});
            EqualiserBands::runCascade(bands.data(), states.data(), bands.size(), data + c, frames,
                                       channels);
        }
    }
    emit audioProcessed();
}
