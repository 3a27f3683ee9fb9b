#include "dialogs/FrequencyAnalysis.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MinFftSize = 256;
constexpr int MaxFftSize = 65536;

int validRate(int rate)
{
    return rate > 0 ? rate : FrequencyAnalysis::DefaultRate;
}

} // namespace

// ---- axes ----

double FrequencyAxes::freqToX(double frequency, const QRect& plot) const
{
    const double lo = std::log10(double(minFreq)), hi = std::log10(double(maxFreq));
    return plot.left() + plot.width() * (std::log10(frequency) - lo) / (hi - lo);
}

double FrequencyAxes::xToFreq(double x, const QRect& plot) const
{
    const double lo = std::log10(double(minFreq)), hi = std::log10(double(maxFreq));
    return std::pow(10.0, lo + (hi - lo) * (x - plot.left()) / plot.width());
}

double FrequencyAxes::dbToY(double db, const QRect& plot) const
{
    return plot.top() + plot.height() * (1.0 - (db - minDb) / (maxDb - minDb));
}

double FrequencyAxes::yToDb(double y, const QRect& plot) const
{
    return minDb + (maxDb - minDb) * (1.0 - (y - plot.top()) / plot.height());
}

// ---- analysis ----

FrequencyAnalysis::FrequencyAnalysis()
    : ringLeft(RingSize, 0.0f)
    , ringRight(RingSize, 0.0f)
{
    fft.setSize(size_t(size));
    rebuildWindow();
    rebuildFrequencies();
}

float FrequencyAnalysis::dbFromMagnitude(float magnitude)
{
    return 20.0f * std::log10(std::max(magnitude, 1e-10f));
}

float FrequencyAnalysis::magnitudeFromDb(float db)
{
    return std::pow(10.0f, db / 20.0f);
}

void FrequencyAnalysis::rebuildWindow()
{
    window.assign(size_t(size), 1.0f);
    const double d = size - 1;
    for (int n = 0; n < size; ++n) {
        const double phase = 2.0 * M_PI * n / d;
        switch (windowType) {
        case Rectangular:
            break;
        case Hann:
            window[size_t(n)] = float(0.5 * (1.0 - std::cos(phase)));
            break;
        case Hamming:
            window[size_t(n)] = float(0.54 - 0.46 * std::cos(phase));
            break;
        case Blackman:
            window[size_t(n)] = float(0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase));
            break;
        }
    }
}

void FrequencyAnalysis::rebuildFrequencies()
{
    const int bins = size / 2 + 1;
    frequencies.resize(bins);
    for (int k = 0; k < bins; ++k)
        frequencies[k] = float(double(k) * rate / size);
}

void FrequencyAnalysis::resetSpectra()
{
    spectrumL.clear();
    spectrumR.clear();
    smoothedL.clear();
    smoothedR.clear();
    peakL.clear();
    peakR.clear();
    historyL.clear();
    historyR.clear();
    rmsLeftDb = rmsRightDb = -100.0f;
}

void FrequencyAnalysis::startList(const QList<float>& left, const QList<float>& right,
                                  bool isStereo, int sampleRate)
{
    QMutexLocker lock(&mutex);
    audioLeft = left;
    audioRight = right;
    stereo = isStereo;
    rate = validRate(sampleRate);
    rebuildFrequencies();
    resetSpectra();
    writeIndex = available = feedPosition = 0;
    feeding = true;
}

void FrequencyAnalysis::setAudioData(const QList<float>& samples, int sampleRate)
{
    startList(samples, {}, false, sampleRate);
}

void FrequencyAnalysis::setAudioDataStereo(const QList<float>& left, const QList<float>& right,
                                           int sampleRate)
{
    startList(left, right, true, sampleRate);
}

void FrequencyAnalysis::clearAudioData()
{
    QMutexLocker lock(&mutex);
    audioLeft.clear();
    audioRight.clear();
    resetSpectra();
    writeIndex = available = feedPosition = 0;
    feeding = false;
}

void FrequencyAnalysis::writeFrame(float left, float right)
{
    ringLeft[size_t(writeIndex)] = left;
    ringRight[size_t(writeIndex)] = right;
    writeIndex = (writeIndex + 1) % RingSize;
}

void FrequencyAnalysis::processAudioFrame(const float* samples, int count)
{
    if (!samples || count < 1)
        return;
    QMutexLocker lock(&mutex);
    for (int i = 0; i < count; ++i)
        writeFrame(samples[i], samples[i]);
    available = int(std::min<qint64>(qint64(available) + count, RingSize));
}

void FrequencyAnalysis::processAudioFrameStereo(const float* left, const float* right, int count)
{
    if (!left || !right || count < 1)
        return;
    QMutexLocker lock(&mutex);
    for (int i = 0; i < count; ++i)
        writeFrame(left[i], right[i]);
    available = int(std::min<qint64>(qint64(available) + count, RingSize));
    stereo = true;
}

bool FrequencyAnalysis::feedStep()
{
    QMutexLocker lock(&mutex);
    if (!feeding)
        return false;
    const int length = int(audioLeft.size());
    if (length == 0 || feedPosition >= length)
        feedPosition = 0; // the list plays in a loop
    const int count = std::min(length - feedPosition, FeedBlock);
    for (int j = 0; j < count; ++j) {
        const int p = feedPosition + j;
        const float left = audioLeft[p];
        // A shorter right list is padded with the left channel.
        const float right = stereo && p < audioRight.size() ? audioRight[p] : left;
        writeFrame(left, right);
    }
    available = std::min(available + count, RingSize);
    feedPosition += count;
    return true;
}

void FrequencyAnalysis::copyNewest(const std::vector<float>& ring, std::vector<float>& out) const
{
    out.resize(size_t(size));
    int from = ((writeIndex - size) % RingSize + RingSize) % RingSize;
    for (int i = 0; i < size; ++i) {
        out[size_t(i)] = ring[size_t(from)];
        from = from + 1 == RingSize ? 0 : from + 1;
    }
}

void FrequencyAnalysis::transformWindowed(const float* buffer) const
{
    const size_t n = size_t(size);
    fftScratch.resize(n + 2);
    for (size_t i = 0; i < n; ++i)
        fftScratch[i] = buffer[i] * window[i];
    fft.forward(fftScratch.data(), fftScratch.data());
}

float FrequencyAnalysis::binMagnitude(int k) const
{
    const float re = fftScratch[2 * size_t(k)];
    const float im = fftScratch[2 * size_t(k) + 1];
    return std::sqrt(re * re + im * im) / float(size / 2);
}

void FrequencyAnalysis::spectrumOf(const float* buffer, QList<float>& out) const
{
    transformWindowed(buffer);
    const int bins = size / 2 + 1;
    out.resize(bins);
    for (int k = 0; k < bins; ++k)
        out[k] = dbFromMagnitude(binMagnitude(k));
}

void FrequencyAnalysis::computeSpectrumFromBuffer(const float* buffer, int count,
                                                  QList<float>& out) const
{
    QMutexLocker lock(&mutex);
    if (!buffer || count < size) {
        out.clear();
        return;
    }
    spectrumOf(buffer, out);
}

void FrequencyAnalysis::computeSpectrumFromData(const QList<float>& data, QList<float>& out) const
{
    QMutexLocker lock(&mutex);
    if (data.isEmpty()) {
        out.clear();
        return;
    }
    const int hop = std::max(1, int((1.0f - overlapRatio) * size));
    meanSpectrum(data.constData(), data.size(), hop, out);
}

void FrequencyAnalysis::meanSpectrum(const float* data, qsizetype length, qsizetype hop,
                                     QList<float>& out) const
{
    const int bins = size / 2 + 1;
    std::vector<double> sums(size_t(bins), 0.0);
    int frames = 0;
    for (qsizetype start = 0; start + size <= length; start += hop, ++frames) {
        transformWindowed(data + start);
        for (int k = 0; k < bins; ++k)
            sums[size_t(k)] += binMagnitude(k);
    }
    out.resize(bins);
    const double divisor = std::max(frames, 1);
    for (int k = 0; k < bins; ++k)
        out[k] = float(20.0 * std::log10(std::max(sums[size_t(k)] / divisor, 1e-10)));
}

bool FrequencyAnalysis::showOverview(int windows)
{
    QMutexLocker lock(&mutex);
    const qsizetype length = audioLeft.size();
    if (length < size || windows < 1)
        return false;
    const qsizetype hop = std::max<qsizetype>(size, (length - size) / std::max(windows - 1, 1));
    meanSpectrum(audioLeft.constData(), length, hop, spectrumL);
    smoothedL = peakL = spectrumL;
    if (stereo && audioRight.size() >= size) {
        meanSpectrum(audioRight.constData(), audioRight.size(), hop, spectrumR);
        smoothedR = peakR = spectrumR;
    }
    return true;
}

void FrequencyAnalysis::averageInto(std::deque<QList<float>>& history, QList<float>& spectrum) const
{
    history.push_back(spectrum);
    while (int(history.size()) > averagingCount)
        history.pop_front();
    for (qsizetype k = 0; k < spectrum.size(); ++k) {
        double sum = 0.0;
        for (const QList<float>& past : history)
            sum += k < past.size() ? past[k] : spectrum[k];
        spectrum[k] = float(sum / double(history.size()));
    }
}

void FrequencyAnalysis::smoothAndHold(const QList<float>& spectrum, QList<float>& smoothed,
                                      QList<float>& peak)
{
    if (smoothed.size() == spectrum.size()) {
        for (qsizetype k = 0; k < spectrum.size(); ++k)
            smoothed[k] = smoothing * smoothed[k] + (1.0f - smoothing) * spectrum[k];
    } else {
        smoothed = spectrum;
        peak = spectrum;
    }
    if (!peakHoldEnabled)
        return;
    if (peak.size() != smoothed.size()) {
        peak = smoothed;
        return;
    }
    // The peaks fall by the time one analysis covers.
    const float fall = float(double(size) / rate) * peakHoldDecay;
    for (qsizetype k = 0; k < smoothed.size(); ++k) {
        if (smoothed[k] >= peak[k])
            peak[k] = smoothed[k];
        else
            peak[k] = std::max(peak[k] - fall, smoothed[k]);
    }
}

void FrequencyAnalysis::computeRms()
{
    const auto rmsOf = [this](const std::vector<float>& ring) {
        double sum = 0.0;
        int from = ((writeIndex - size) % RingSize + RingSize) % RingSize;
        for (int i = 0; i < size; ++i) {
            const double v = ring[size_t(from)];
            sum += v * v;
            from = from + 1 == RingSize ? 0 : from + 1;
        }
        return float(20.0 * std::log10(std::max(std::sqrt(sum / size), 1e-10)));
    };
    rmsLeftDb = rmsOf(ringLeft);
    rmsRightDb = rmsOf(ringRight);
}

bool FrequencyAnalysis::updateSpectrum()
{
    QMutexLocker lock(&mutex);
    if (available < size)
        return false;
    if (frequencies.size() != size / 2 + 1)
        rebuildFrequencies();

    std::vector<float> newest;
    copyNewest(ringLeft, newest);
    QList<float> left;
    spectrumOf(newest.data(), left);
    QList<float> right;
    if (stereo) {
        copyNewest(ringRight, newest);
        spectrumOf(newest.data(), right);
    }
    if (averagingCount > 1) {
        averageInto(historyL, left);
        if (stereo)
            averageInto(historyR, right);
    }
    smoothAndHold(left, smoothedL, peakL);
    spectrumL = left;
    if (stereo) {
        smoothAndHold(right, smoothedR, peakR);
        spectrumR = right;
    }
    computeRms();
    return true;
}

void FrequencyAnalysis::updateRms()
{
    QMutexLocker lock(&mutex);
    if (available >= size)
        computeRms();
}

// ---- settings ----

void FrequencyAnalysis::setFftSize(int requested)
{
    QMutexLocker lock(&mutex);
    const int clamped = std::clamp(requested, MinFftSize, MaxFftSize);
    size = int(Fft::nextPowerOfTwo(size_t(clamped)));
    fft.setSize(size_t(size));
    rebuildWindow();
    rebuildFrequencies();
    historyL.clear();
    historyR.clear();
}

int FrequencyAnalysis::fftSize() const
{
    QMutexLocker lock(&mutex);
    return size;
}

void FrequencyAnalysis::setWindowType(WindowType type)
{
    QMutexLocker lock(&mutex);
    windowType = type;
    rebuildWindow();
}

void FrequencyAnalysis::setAveragingCount(int count)
{
    QMutexLocker lock(&mutex);
    averagingCount = std::max(1, count);
    historyL.clear();
    historyR.clear();
}

void FrequencyAnalysis::setSmoothing(float value)
{
    QMutexLocker lock(&mutex);
    smoothing = std::clamp(value, 0.0f, 0.95f);
}

void FrequencyAnalysis::setOverlapRatio(float ratio)
{
    QMutexLocker lock(&mutex);
    overlapRatio = std::clamp(ratio, 0.0f, 0.875f);
}

void FrequencyAnalysis::setPeakHoldEnabled(bool enabled)
{
    QMutexLocker lock(&mutex);
    peakHoldEnabled = enabled;
}

void FrequencyAnalysis::setPeakHoldDecay(float dbPerSecond)
{
    QMutexLocker lock(&mutex);
    peakHoldDecay = dbPerSecond;
}

bool FrequencyAnalysis::isFeeding() const
{
    QMutexLocker lock(&mutex);
    return feeding;
}

int FrequencyAnalysis::sampleRate() const
{
    QMutexLocker lock(&mutex);
    return rate;
}

int FrequencyAnalysis::feedIntervalMs() const
{
    QMutexLocker lock(&mutex);
    return int(qint64(FeedBlock) * 1000 / rate);
}

int FrequencyAnalysis::bufferedSamples() const
{
    QMutexLocker lock(&mutex);
    return available;
}

FrequencyAnalysis::Snapshot FrequencyAnalysis::snapshot() const
{
    QMutexLocker lock(&mutex);
    Snapshot s;
    s.frequencies = frequencies;
    s.smoothedLeft = smoothedL;
    s.smoothedRight = smoothedR;
    s.peakLeft = peakL;
    s.peakRight = peakR;
    s.rmsLeftDb = rmsLeftDb;
    s.rmsRightDb = rmsRightDb;
    s.isStereo = stereo;
    s.sampleRate = rate;
    return s;
}

QList<float> FrequencyAnalysis::spectrumLeft() const
{
    QMutexLocker lock(&mutex);
    return spectrumL;
}
