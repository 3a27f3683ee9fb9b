#pragma once
// Measurements the instrument and device tests make on rendered or recorded
// sound: level, the strongest frequency, and where sound starts and stops.

#include <QList>
#include <cmath>
#include <vector>

namespace SignalChecks {

inline double rms(const float* data, qsizetype count)
{
    if (count <= 0)
        return 0.0;
    double sum = 0.0;
    for (qsizetype i = 0; i < count; ++i)
        sum += double(data[i]) * data[i];
    return std::sqrt(sum / double(count));
}

inline double rms(const QList<float>& data, qsizetype from = 0, qsizetype to = -1)
{
    if (to < 0 || to > data.size())
        to = data.size();
    return from < to ? rms(data.constData() + from, to - from) : 0.0;
}

inline float peak(const QList<float>& data, qsizetype from = 0, qsizetype to = -1)
{
    if (to < 0 || to > data.size())
        to = data.size();
    float p = 0.0f;
    for (qsizetype i = from; i < to; ++i)
        p = std::max(p, std::fabs(data[i]));
    return p;
}

// The frequency between lo and hi Hz (1 Hz steps) with the largest DFT
// magnitude over the mono signal (Hann window).
inline double dominantFrequency(const QList<float>& signal, int sampleRate, double lo, double hi)
{
    const qsizetype n = signal.size();
    std::vector<double> windowed(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        windowed[size_t(i)] = signal[i] * (0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n)));
    double best = lo, bestMagnitude = -1.0;
    for (double f = lo; f <= hi; f += 1.0) {
        // Goertzel recurrence at frequency f.
        const double w = 2.0 * M_PI * f / sampleRate;
        const double coefficient = 2.0 * std::cos(w);
        double s1 = 0.0, s2 = 0.0;
        for (qsizetype i = 0; i < n; ++i) {
            const double s0 = windowed[size_t(i)] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double magnitude = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            best = f;
        }
    }
    return best;
}

// Index of the first value whose magnitude exceeds threshold, or -1.
inline qsizetype firstAbove(const QList<float>& data, float threshold, qsizetype from = 0)
{
    for (qsizetype i = from; i < data.size(); ++i)
        if (std::fabs(data[i]) > threshold)
            return i;
    return -1;
}

// Index just after the last value whose magnitude exceeds threshold (0 when none).
inline qsizetype endOfSound(const QList<float>& data, float threshold)
{
    for (qsizetype i = data.size(); i > 0; --i)
        if (std::fabs(data[i - 1]) > threshold)
            return i;
    return 0;
}

} // namespace SignalChecks
