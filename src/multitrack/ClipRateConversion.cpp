#include "multitrack/ClipRateConversion.h"

#include "audio/dsp/SincResampler.h"

#include <cmath>
#include <limits>
#include <vector>

namespace ClipRateConversion {

namespace {

qsizetype convertedLength(qsizetype frames, int fromRate, int toRate)
{
    return qsizetype(std::llround(double(frames) * toRate / fromRate));
}

} // namespace

bool convertible(int fromRate, int toRate)
{
    return fromRate >= 1 && toRate >= 1 && double(fromRate) / toRate < MaxRateRatio;
}

qint64 convertedBytes(qsizetype monoFrames, qsizetype stereoValues, int fromRate, int toRate)
{
    if (!convertible(fromRate, toRate) || fromRate == toRate)
        return 0;
    // In floating point: material at a tiny rate multiplies past any integer.
    const double ratio = double(toRate) / fromRate;
    double values = monoFrames > 0 ? std::round(double(monoFrames) * ratio) : 0.0;
    const qsizetype stereoFrames = stereoValues / 2;
    if (stereoFrames > 0) {
        // The interleaved list, and one channel before and after conversion.
        const double frames = std::round(double(stereoFrames) * ratio);
        values += 3.0 * frames + double(stereoFrames);
    }
    const double bytes = values * double(sizeof(float));
    return bytes < double(std::numeric_limits<qint64>::max()) ? qint64(bytes)
                                                              : std::numeric_limits<qint64>::max();
}

QList<float> resampleMono(const QList<float>& samples, int fromRate, int toRate)
{
    if (!convertible(fromRate, toRate))
        return {};
    if (fromRate == toRate || samples.isEmpty())
        return samples;
    QList<float> out(convertedLength(samples.size(), fromRate, toRate));
    SincResampler resampler;
    resampler.resample(samples.constData(), size_t(samples.size()), out.data(), size_t(out.size()),
                       double(fromRate) / toRate);
    return out;
}

QList<float> resampleStereo(const QList<float>& interleaved, int fromRate, int toRate)
{
    if (!convertible(fromRate, toRate))
        return {};
    if (fromRate == toRate || interleaved.isEmpty())
        return interleaved;
    const qsizetype frames = interleaved.size() / 2;
    const qsizetype outFrames = convertedLength(frames, fromRate, toRate);
    std::vector<float> channel(static_cast<size_t>(frames));
    std::vector<float> converted(static_cast<size_t>(outFrames));
    QList<float> out(outFrames * 2);
    SincResampler resampler;
    for (int c = 0; c < 2; ++c) {
        for (qsizetype i = 0; i < frames; ++i)
            channel[size_t(i)] = interleaved[2 * i + c];
        resampler.resample(channel.data(), channel.size(), converted.data(), converted.size(),
                           double(fromRate) / toRate);
        for (qsizetype i = 0; i < outFrames; ++i)
            out[2 * i + c] = converted[size_t(i)];
    }
    return out;
}

} // namespace ClipRateConversion
