#include "YinPitchDetector.h"

#include <algorithm>
#include <cmath>

namespace {

// Σ (x[i] − x[i + lag])² over i < count, with independent partial sums so the
// loop vectorises.
float differenceAt(const float* x, int lag, int count)
{
    const float* y = x + lag;
    float acc[8] = {};
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k) {
            const float d = x[i + k] - y[i + k];
            acc[k] += d * d;
        }
    }
    float sum = ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
    for (; i < count; ++i) {
        const float d = x[i] - y[i];
        sum += d * d;
    }
    return sum;
}

bool isConstant(const float* x, int count)
{
    for (int i = 1; i < count; ++i) {
        if (x[i] != x[0])
            return false;
    }
    return true;
}

} // namespace

bool YinPitchDetector::isVoiced(const PitchFrame& frame)
{
    return frame.frequency > 0.0f && frame.confidence > 0.3f;
}

int YinPitchDetector::frequencyToMidi(double frequency)
{
    if (!(frequency > 0.0) || !std::isfinite(frequency))
        return -1;
    const double note = 69.0 + 12.0 * std::log2(frequency / 440.0);
    return static_cast<int>(std::lround(std::clamp(note, -1000.0, 1000.0)));
}

double YinPitchDetector::midiToFrequency(double midi)
{
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

void YinPitchDetector::configure(float rate, float windowMs, float hopMs, float yinThreshold)
{
    sampleRate = rate;
    windowSize = static_cast<int>(rate * windowMs / 1000.0f);
    hopSize = std::max(static_cast<int>(rate * hopMs / 1000.0f), 1);
    threshold = yinThreshold;
}

std::vector<PitchFrame> YinPitchDetector::detect(const float* samples, size_t count) const
{
    std::vector<PitchFrame> frames;
    const int w = windowSize;
    if (!samples || w <= 0 || count < static_cast<size_t>(w))
        return frames;
    const int half = w / 2;
    const size_t hop = static_cast<size_t>(std::max(hopSize, 1));
    frames.reserve((count - w) / hop + 1);

    // The difference function runs on the plain frame: a taper would bias
    // the period and hide low notes whose period nears half the window.
    std::vector<float> d(std::max(half, 1));
    std::vector<float> normalised(std::max(half, 1));
    for (size_t p = 0; p + w <= count; p += hop) {
        const float* x = samples + p;
        PitchFrame frame;
        frame.time = static_cast<double>(p + half) / sampleRate;

        if (w < 4 || half < 3 || isConstant(x, w)) {
            // No period to find (a constant frame has a zero difference
            // everywhere, whose normalised form is 1).
            frames.push_back(frame);
            continue;
        }

        // Lags are evaluated in increasing order only as far as needed: up to
        // the end of the first run below the threshold.
        normalised[0] = 1.0f;
        double runningSum = 0.0;
        int lag = 1;
        auto evaluate = [&](int tau) {
            d[tau] = differenceAt(x, tau, half);
            runningSum += d[tau];
            normalised[tau] =
                runningSum > 0.0 ? static_cast<float>(d[tau] * tau / runningSum) : 1.0f;
        };
        int first = -1;
        for (; lag < half; ++lag) {
            evaluate(lag);
            if (lag >= 2 && normalised[lag] < threshold) {
                first = lag;
                break;
            }
        }
        if (first < 0) {
            frames.push_back(frame);
            continue;
        }
        int best = first;
        int runEnd = first; // last lag evaluated
        while (runEnd + 1 < half) {
            evaluate(++runEnd);
            if (!(normalised[runEnd] < threshold))
                break;
            if (normalised[runEnd] < normalised[best])
                best = runEnd;
        }
        frame.confidence = 1.0f - normalised[best];

        double period = best;
        if (best - 1 >= 0 && best + 1 < half) {
            const double prev = normalised[best - 1];
            const double next = normalised[best + 1];
            const double den = 2.0 * (2.0 * normalised[best] - next - prev);
            if (std::fabs(den) >= 1e-10)
                period = best + (next - prev) / den;
        }
        if (period > 0.5) {
            const double f = sampleRate / period;
            if (f >= 50.0 && f <= 2000.0) {
                frame.frequency = static_cast<float>(f);
                frame.midiNote = frequencyToMidi(f);
            } else {
                frame.confidence = 0.0f;
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

std::vector<PitchCorrectionSegment>
YinPitchDetector::buildSegments(const std::vector<PitchFrame>& frames, int minFrames, int maxGap)
{
    std::vector<PitchCorrectionSegment> segments;
    const int n = static_cast<int>(frames.size());
    auto runEnd = [&](int from) {
        while (from < n && isVoiced(frames[from]))
            ++from;
        return from;
    };

    int i = 0;
    while (i < n) {
        int start = i;
        while (start < n && !isVoiced(frames[start]))
            ++start;
        if (start >= n)
            break;
        int end = runEnd(start);
        int resume = n;
        for (;;) {
            int gapEnd = end;
            while (gapEnd < n && !isVoiced(frames[gapEnd]))
                ++gapEnd;
            if (gapEnd >= n || gapEnd - end > maxGap) {
                resume = gapEnd;
                break;
            }
            end = runEnd(gapEnd);
        }
        i = resume;

        if (end - start < minFrames)
            continue;
        double sum = 0.0;
        int counted = 0;
        for (int f = start; f < end; ++f) {
            if (frames[f].frequency > 0.0f) {
                sum += frames[f].frequency;
                ++counted;
            }
        }
        if (counted == 0)
            continue;
        const auto average = static_cast<float>(sum / counted);
        const int note = frequencyToMidi(average);
        if (note < 1)
            continue;
        PitchCorrectionSegment segment;
        segment.startFrame = start;
        segment.endFrame = end;
        segment.avgFreq = average;
        segment.targetFreq = average;
        segment.shiftSemitones = 0.0f;
        segment.targetMidi = note;
        segment.manual = false;
        segments.push_back(segment);
    }
    return segments;
}

void YinPitchDetector::computeTargets(std::vector<PitchCorrectionSegment>& segments,
                                      float strength)
{
    for (PitchCorrectionSegment& segment : segments) {
        // A manual target keeps its note; the strength always starts again
        // from the sung pitch, so moving the slider never compounds.
        if (!segment.manual)
            segment.targetMidi = frequencyToMidi(segment.avgFreq);
        const double note = midiToFrequency(segment.targetMidi);
        segment.targetFreq =
            static_cast<float>(segment.avgFreq + (note - segment.avgFreq) * strength);
        segment.shiftSemitones =
            (segment.targetFreq > 0.0f && segment.avgFreq > 0.0f)
                ? static_cast<float>(12.0 * std::log2(static_cast<double>(segment.targetFreq)
                                                      / segment.avgFreq))
                : 0.0f;
    }
}
