// Tempo estimation: decimate to about 11 kHz, take a 10 ms RMS envelope, turn
// its rises into an onset curve and autocorrelate that over beat periods of
// 0.3 s to 1 s. Reads the object only, so it may run on a worker thread.

#include "AudioProcessor.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

AudioProcessor::TempoResult tempoFailure(const QString& message)
{
    AudioProcessor::TempoResult result;
    result.error = message;
    return result;
}

} // namespace

AudioProcessor::TempoResult AudioProcessor::detectTempo() const
{
    // Without a channel there are no frames to read.
    if (samples.isEmpty() || channels < 1)
        return tempoFailure(tr("没有音频数据"));
    if (sampleRate < 1)
        return tempoFailure(tr("采样率无效"));

    const qint64 factor = std::max(sampleRate / 11025, 1);
    const qint64 rate = sampleRate / factor;
    const qint64 length = samples.size();
    const qint64 frames = length / channels;
    const qint64 n = frames / factor;
    if (n < rate)
        return tempoFailure(tr("音频太短（至少需要 1 秒）"));

    // Decimation without filtering; the channels of a frame are averaged.
    const float* data = samples.constData();
    std::vector<float> decimated(n);
    if (channels == 1) {
        for (qint64 j = 0; j < n; ++j)
            decimated[j] = data[factor * j];
    } else {
        const float share = 1.0f / static_cast<float>(channels);
        for (qint64 j = 0; j < n; ++j) {
            const float* frame = data + factor * j * channels;
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += share * frame[c];
            decimated[j] = sum;
        }
    }

    // 10 ms RMS envelope.
    const qint64 hop = std::max<qint64>(rate / 100, 1);
    const qint64 envelopeFrames = n / hop;
    if (envelopeFrames < 20)
        return tempoFailure(tr("音频太短（至少需要 1 秒）"));
    std::vector<double> envelope(envelopeFrames);
    for (qint64 f = 0; f < envelopeFrames; ++f) {
        double sum = 0.0;
        const float* block = decimated.data() + f * hop;
        for (qint64 i = 0; i < hop; ++i)
            sum += static_cast<double>(block[i]) * block[i];
        envelope[f] = std::sqrt(sum / static_cast<double>(hop));
    }

    // Onsets: the rises of the envelope.
    const qint64 m = envelopeFrames - 1;
    std::vector<double> onset(m);
    for (qint64 f = 0; f < m; ++f)
        onset[f] = std::max(envelope[f + 1] - envelope[f], 0.0);

    const qint64 minLag =
        std::max<qint64>(static_cast<qint64>(static_cast<double>(rate) * 0.3 / hop), 1);
    const qint64 maxLag = std::min<qint64>(
        envelopeFrames - 2, static_cast<qint64>(static_cast<double>(rate) / hop));
    if (maxLag <= minLag)
        return tempoFailure(tr("音频太短，无法检测速度"));

    std::vector<double> ac(maxLag + 1, 0.0);
    for (qint64 lag = 0; lag <= maxLag; ++lag) {
        const qint64 terms = m - lag;
        if (terms < 1)
            continue;
        double sum = 0.0;
        for (qint64 i = 0; i < terms; ++i)
            sum += onset[i] * onset[i + lag];
        ac[lag] = sum / static_cast<double>(terms);
    }
    if (ac[0] > 1e-10) {
        const double norm = ac[0];
        for (double& value : ac)
            value /= norm;
    }

    // The first rising peak that beats everything before it; ties keep the
    // shorter lag.
    double best = ac[minLag];
    qint64 bestLag = minLag;
    for (qint64 lag = minLag + 1; lag <= maxLag; ++lag) {
        if (ac[lag] > best && ac[lag] > ac[lag - 1]) {
            best = ac[lag];
            bestLag = lag;
        }
    }
    if (best <= 0.01) {
        best = ac[minLag];
        bestLag = minLag;
        for (qint64 lag = minLag + 1; lag <= maxLag; ++lag) {
            if (ac[lag] > best) {
                best = ac[lag];
                bestLag = lag;
            }
        }
    }

    // A beat period that is not a whole number of envelope frames splits its
    // peak over two lags while a multiple of the period may land on one lag,
    // so a steady pulse can win at two or three times its period. A peak at
    // a half or a third of the lag that is nearly as strong, counted with
    // its better neighbour, is the beat.
    auto strength = [&](qint64 lag) {
        const double left = lag - 1 >= 0 ? ac[lag - 1] : 0.0;
        const double right = lag + 1 <= maxLag ? ac[lag + 1] : 0.0;
        return ac[lag] + std::max(left, right);
    };
    for (qint64 divisor : {2, 3}) {
        const qint64 centre = (bestLag + divisor / 2) / divisor;
        const qint64 from = std::max(centre - 1, minLag);
        const qint64 to = std::min(centre + 1, maxLag);
        if (from > to || best <= 0.0)
            break;
        qint64 candidate = from;
        for (qint64 lag = from + 1; lag <= to; ++lag) {
            if (ac[lag] > ac[candidate])
                candidate = lag;
        }
        if (ac[candidate] > 0.0 && strength(candidate) >= 0.8 * strength(bestLag)) {
            bestLag = candidate;
            best = ac[candidate];
            break;
        }
    }

    // The period between lags, from the parabola through the peak and its
    // neighbours.
    double period = static_cast<double>(bestLag);
    if (bestLag - 1 >= 0 && bestLag + 1 <= maxLag) {
        const double curvature = ac[bestLag - 1] - 2.0 * ac[bestLag] + ac[bestLag + 1];
        if (curvature < 0.0) {
            const double offset = 0.5 * (ac[bestLag - 1] - ac[bestLag + 1]) / curvature;
            period += std::clamp(offset, -0.5, 0.5);
        }
    }

    double bpm = 60.0 / ((period * hop) / static_cast<double>(rate));
    while (bpm < 60.0)
        bpm *= 2.0;
    while (bpm > 200.0)
        bpm /= 2.0;

    double mean = 0.0;
    for (qint64 lag = minLag; lag <= maxLag; ++lag)
        mean += ac[lag];
    mean /= static_cast<double>(std::max<qint64>(maxLag + 1 - minLag, 1));
    const double confidence = std::clamp((best - mean) / std::max(1.0 - mean, 0.01), 0.0, 1.0);

    TempoResult result;
    result.bpm = bpm;
    result.confidence = confidence;
    result.success = true;
    return result;
}
