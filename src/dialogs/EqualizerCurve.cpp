#include "dialogs/EqualizerCurve.h"

#include <algorithm>
#include <cmath>

namespace EqualizerCurve {

float bandMagnitudeDb(float frequency, float centre, float gainDb, float q, int type,
                      float sampleRate)
{
    BiquadCoefficients c;
    if (!(frequency > 0.0f) || !EqualiserBands::appliedCoefficients({true, centre, gainDb, q, type}, sampleRate, c))
        return 0.0f;
    return float(EqualiserBands::magnitudeDb(c, frequency, sampleRate));
}

std::vector<double> logFrequencies(int count)
{
    std::vector<double> frequencies(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const double t = count > 1 ? double(i) / (count - 1) : 0.0;
        frequencies[size_t(i)] = std::pow(10.0, 3.0 * t + Log10MinFrequency);
    }
    return frequencies;
}

std::vector<float> bandResponse(const Band& band, const std::vector<double>& frequencies,
                                float sampleRate)
{
    std::vector<float> response(frequencies.size(), 0.0f);
    BiquadCoefficients c;
    if (!EqualiserBands::appliedCoefficients(band, sampleRate, c))
        return response;
    for (size_t i = 0; i < frequencies.size(); ++i)
        response[i] = float(EqualiserBands::magnitudeDb(c, frequencies[i], sampleRate));
    return response;
}

std::vector<float> combinedResponse(const std::vector<Band>& bands, float masterDb,
                                    const std::vector<double>& frequencies, float sampleRate)
{
    std::vector<float> sum(frequencies.size(), masterDb);
    for (const Band& band : bands) {
        if (!band.enabled)
            continue;
        const std::vector<float> response = bandResponse(band, frequencies, sampleRate);
        for (size_t i = 0; i < sum.size(); ++i)
            sum[i] += response[i];
    }
    return sum;
}

double freqToX(double frequency, const QRect& graph)
{
    const double f = std::clamp<double>(frequency, MinFrequency, MaxFrequency);
    return graph.left() + graph.width() * (std::log10(f) - Log10MinFrequency) / 3.0;
}

double dbToY(double db, const QRect& graph)
{
    return graph.top() + graph.height() * (1.0 - (db + MaxGainDb) / (2.0 * MaxGainDb));
}

double xToFreq(double x, const QRect& graph)
{
    const double t = std::clamp((x - graph.left()) / graph.width(), 0.0, 1.0);
    return std::pow(10.0, 3.0 * t + Log10MinFrequency);
}

double yToGain(double y, const QRect& graph)
{
    return (1.0 - (y - graph.top()) / graph.height()) * 2.0 * MaxGainDb - MaxGainDb;
}

QString bandLabel(int index, const QString& typeLabel, float frequency, float gainDb, float q)
{
    const QString hz = frequency >= 1000.0f
                           ? QStringLiteral("%1k").arg(double(frequency) / 1000.0, 0, 'f', 1)
                           : QString::number(int(frequency));
    return QStringLiteral("B%1 %2 %3Hz\n%4dB Q=%5")
        .arg(index + 1)
        .arg(typeLabel, hz)
        .arg(double(gainDb), 0, 'f', 1)
        .arg(double(q), 0, 'f', 1);
}

} // namespace EqualizerCurve
