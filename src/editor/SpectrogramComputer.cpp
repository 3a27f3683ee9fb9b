#include "editor/SpectrogramComputer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586476925286766559;

// Not-a-number and infinities read as silence (x - x is 0 only for finite x).
inline float finiteOrZero(float x)
{
    return (x - x == 0.0f) ? x : 0.0f;
}

} // namespace

SpectrogramComputer::SpectrogramComputer()
{
    setFftSize(2048);
}

void SpectrogramComputer::setFftSize(int size)
{
    n = FastFourierTransform::nextPowerOfTwo(std::max(size, 1));
    hopSize = std::max(n / 4, 1);
    transform.setSize(n);
    block.assign(n, 0.0f);
    bins.assign(n / 2 + 1, {});
    buildWindow();
}

void SpectrogramComputer::setWindowType(int type)
{
    windowKind = type;
    buildWindow();
}

void SpectrogramComputer::buildWindow()
{
    windowValues.assign(n, 1.0f);
    if (n < 2 || windowKind == Rectangular)
        return;
    const double divisor = n - 1;
    for (int i = 0; i < n; ++i) {
        const double phase = std::cos(TwoPi * i / divisor);
        if (windowKind == Hamming)
            windowValues[i] = static_cast<float>(double(0.54f) - double(0.46f) * phase);
        else
            windowValues[i] = static_cast<float>(0.5 * (1.0 - phase));
    }
}

void SpectrogramComputer::loadBlock(const float* data, int count) const
{
    const int used = std::clamp(count, 0, n);
    const float* w = windowValues.data();
    float* out = block.data();
    for (int i = 0; i < used; ++i)
        out[i] = finiteOrZero(data[i]) * w[i];
    std::fill(out + used, out + n, 0.0f);
}

void SpectrogramComputer::computeFft(const float* input, std::vector<std::complex<float>>& output) const
{
    output.resize(n);
    if (n < 1)
        return;
    transform.forwardReal(input, output.data());
    for (int k = 1; k < n / 2; ++k)
        output[n - k] = std::conj(output[k]);
}

float SpectrogramComputer::columnValue(float relativeMagnitude)
{
    if (!(relativeMagnitude > 0.0f))   // zero, negative or not a number
        return 0.0f;
    const float value = (20.0f * std::log10(relativeMagnitude) + 100.0f) * 0.014285714f;
    if (!(value > 0.0f))
        return 0.0f;
    return value < 1.0f ? value : 1.0f;
}

QList<float> SpectrogramComputer::computeColumn(const float* data, int count) const
{
    loadBlock(data, count);
    transform.forwardReal(block.data(), bins.data());
    const int columnSize = n / 2;
    const float invN = 1.0f / static_cast<float>(n);
    QList<float> column(columnSize);
    for (int k = 0; k < columnSize; ++k) {
        const float re = bins[k].real(), im = bins[k].imag();
        const float m = std::sqrt(re * re + im * im) * invN;
        if (!(m > 0.0f)) {
            column[k] = 0.0f;
            continue;
        }
        const float value = (20.0f * std::log10(m) + 100.0f) / 70.0f;
        column[k] = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
    }
    return column;
}

qsizetype SpectrogramComputer::frameCount(qsizetype sampleCount) const
{
    return sampleCount > 0 ? sampleCount / hopSize : 0;
}

qsizetype SpectrogramComputer::wholeBlockCount(qsizetype sampleCount) const
{
    if (sampleCount < n)
        return 0;
    return std::min(frameCount(sampleCount), (sampleCount - n) / hopSize + 1);
}

void SpectrogramComputer::computeListColumn(const float* samples, qsizetype frame, float* values,
                                            float* magnitudes) const
{
    loadBlock(samples + frame * hopSize, n);
    transform.forwardReal(block.data(), bins.data());
    const int columnSize = n / 2;
    const float invN = 1.0f / static_cast<float>(n);
    for (int k = 0; k < columnSize; ++k) {
        const float re = bins[k].real(), im = bins[k].imag();
        const float magnitude = std::sqrt(re * re + im * im);
        if (magnitudes)
            magnitudes[k] = magnitude;
        values[k] = columnValue(magnitude * invN);
    }
    if (magnitudes)
        magnitudes[columnSize] = std::abs(bins[columnSize]);
}

void SpectrogramComputer::appendListColumns(const float* samples, qsizetype sampleCount,
                                            SpectrogramColumns& columns,
                                            std::vector<double>* sums) const
{
    const qsizetype blocks = wholeBlockCount(sampleCount);
    std::vector<float> magnitudes(n / 2 + 1);
    if (sums)
        sums->resize(n / 2 + 1, 0.0);
    for (qsizetype f = 0; f < blocks; ++f) {
        QList<float> column(n / 2);
        computeListColumn(samples, f, column.data(), sums ? magnitudes.data() : nullptr);
        if (sums) {
            double* s = sums->data();
            for (int k = 0; k <= n / 2; ++k)
                s[k] += magnitudes[k];
        }
        columns.push_back(std::move(column));
    }
}

void SpectrogramComputer::subtractListMagnitudes(const float* samples, qsizetype first,
                                                 qsizetype last, std::vector<double>& sums) const
{
    if (qsizetype(sums.size()) != n / 2 + 1)
        return;
    std::vector<float> magnitudes(n / 2 + 1);
    std::vector<float> values(n / 2);
    for (qsizetype f = std::max<qsizetype>(first, 0); f <= last; ++f) {
        computeListColumn(samples, f, values.data(), magnitudes.data());
        for (int k = 0; k <= n / 2; ++k)
            sums[k] -= magnitudes[k];
    }
}

void SpectrogramComputer::recomputeListColumns(const float* samples, qsizetype first,
                                               qsizetype last, SpectrogramColumns& columns,
                                               std::vector<double>* sums) const
{
    first = std::max<qsizetype>(first, 0);
    last = std::min<qsizetype>(last, qsizetype(columns.size()) - 1);
    if (sums && qsizetype(sums->size()) != n / 2 + 1)
        sums = nullptr;
    std::vector<float> magnitudes(n / 2 + 1);
    for (qsizetype f = first; f <= last; ++f) {
        QList<float>& column = columns[f];
        column.resize(n / 2);
        computeListColumn(samples, f, column.data(), sums ? magnitudes.data() : nullptr);
        if (sums) {
            for (int k = 0; k <= n / 2; ++k)
                (*sums)[k] += magnitudes[k];
        }
    }
}

// ---- SpectrumLevels ----

float SpectrumLevels::clampLevel(float level, float dbFloor, float dbCeiling)
{
    if (std::isnan(level))
        return dbFloor;
    return std::max(dbFloor, std::min(level, dbCeiling));
}

void SpectrumLevels::clear()
{
    levels.clear();
    frequencies.clear();
    peaks.clear();
    holdCounters.clear();
}

void SpectrumLevels::reset(int fftSize, int sampleRate, float dbFloor)
{
    const int count = fftSize / 2 + 1;
    levels.fill(0.0f, count);
    peaks.fill(dbFloor, count);
    holdCounters.fill(0, count);
    frequencies.resize(count);
    for (int k = 0; k < count; ++k)
        frequencies[k] = static_cast<float>(k) * static_cast<float>(sampleRate) / static_cast<float>(fftSize);
}

void SpectrumLevels::update(const std::vector<std::complex<float>>& fft, int fftSize,
                            int sampleRate, float dbFloor, float dbCeiling)
{
    const int count = fftSize / 2 + 1;
    if (int(fft.size()) < count)
        return;
    levels.resize(count);
    frequencies.resize(count);
    if (peaks.size() != count) {
        peaks.fill(dbFloor, count);
        holdCounters.fill(0, count);
    }
    for (int k = 0; k < count; ++k) {
        const float magnitude = std::abs(fft[k]);
        const float level = clampLevel(20.0f * std::log10(magnitude + 1e-10f), dbFloor, dbCeiling);
        frequencies[k] = static_cast<float>(k) * static_cast<float>(sampleRate) / static_cast<float>(fftSize);
        levels[k] = level;
        if (level >= peaks[k]) {
            peaks[k] = level;
            holdCounters[k] = 60;
        } else if (holdCounters[k] < 1) {
            peaks[k] = std::max(peaks[k] - 0.5f, dbFloor);
        } else {
            --holdCounters[k];
        }
    }
}

void SpectrumLevels::setAverages(const std::vector<double>& sums, qsizetype frames, float dbFloor,
                                 float dbCeiling)
{
    const int count = std::min<int>(int(sums.size()), int(levels.size()));
    for (int k = 0; k < count; ++k) {
        const double average = frames >= 1 ? std::max(sums[k], 0.0) / double(frames) : 0.0;
        const float level = clampLevel(static_cast<float>(20.0 * std::log10(average + 1e-10)),
                                       dbFloor, dbCeiling);
        levels[k] = level;
        if (k < peaks.size())
            peaks[k] = level;
    }
}
