#include "editor/SpectrogramComputer.h"

#include "audio/dsp/VectorState.h"
#include "common/ParallelRanges.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double TwoPi = 6.283185307179586476925286766559;

// Not-a-number and infinities read as silence (x - x is 0 only for finite x).
inline float finiteOrZero(float x)
{
    return (x - x == 0.0f) ? x : 0.0f;
}

// log10 of a positive normal float to about 1e-6 (see fastLog10).
inline float log10Approx(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int exponent = int(bits >> 23) - 127;
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &bits, sizeof m);              // [1, 2)
    const bool upper = m > 1.41421356f;            // fold into [0.707, 1.414)
    m = upper ? m * 0.5f : m;
    exponent += upper ? 1 : 0;
    // ln m = 2 atanh(t), t = (m - 1) / (m + 1), |t| <= 0.172
    const float t = (m - 1.0f) / (m + 1.0f);
    const float t2 = t * t;
    const float series =
        1.0f + t2 * (1.0f / 3.0f + t2 * (1.0f / 5.0f + t2 * (1.0f / 7.0f + t2 * (1.0f / 9.0f))));
    const float lnm = 2.0f * t * series;
    return (float(exponent) * 0.693147181f + lnm) * 0.434294482f;
}

} // namespace

SpectrogramComputer::SpectrogramComputer()
{
    setFftSize(2048);
}

void SpectrogramComputer::setFftSize(int size)
{
    n = int(Fft::nextPowerOfTwo(std::size_t(std::clamp(size, 1, 1 << 24))));
    hopSize = std::max(n / 4, 1);
    transform.setSize(std::size_t(std::max(n, 2)));
    block.assign(n, 0.0f);
    spectrum.assign(2 * (n / 2 + 1) + 2, 0.0f);
    powers.assign(n / 2 + 1, 0.0f);
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

void SpectrogramComputer::transformBlock() const
{
    if (n < 2) {
        spectrum[0] = block[0];
        spectrum[1] = 0.0f;
        return;
    }
    transform.forward(block.data(), spectrum.data());
}

void SpectrogramComputer::computeFft(const float* input, std::vector<std::complex<float>>& output) const
{
    output.resize(n);
    std::copy(input, input + n, block.begin());
    transformBlock();
    for (int k = 0; k <= n / 2 && k < n; ++k)
        output[k] = {spectrum[2 * k], spectrum[2 * k + 1]};
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
    transformBlock();
    const int columnSize = n / 2;
    const float invN = 1.0f / static_cast<float>(n);
    QList<float> column(columnSize);
    for (int k = 0; k < columnSize; ++k) {
        const float re = spectrum[2 * k], im = spectrum[2 * k + 1];
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

float SpectrogramComputer::fastLog10(float x)
{
    return log10Approx(x);
}

void SpectrogramComputer::loadListBlock(const SampleChannel& channel, qsizetype frame) const
{
    const float* in = channel.values + frame * hopSize * channel.stride;
    const float* w = windowValues.data();
    float* out = block.data();
    if (channel.stride == 1) {
        for (int i = 0; i < n; ++i)
            out[i] = finiteOrZero(in[i]) * w[i];
        return;
    }
    const qsizetype stride = channel.stride;
    for (int i = 0; i < n; ++i)
        out[i] = finiteOrZero(in[i * stride]) * w[i];
}

void SpectrogramComputer::computeListColumn(const SampleChannel& channel, qsizetype frame,
                                            float* values, float* magnitudes) const
{
    loadListBlock(channel, frame);
    const int columnSize = n / 2;
    transformBlock();
    const float* __restrict bins = spectrum.data();
    float* __restrict power = powers.data();
    for (int k = 0; k <= columnSize; ++k)
        power[k] = bins[2 * k] * bins[2 * k] + bins[2 * k + 1] * bins[2 * k + 1];
    // value = (20 lg(|X| / N) + 100) / 70 = (10 lg |X|^2 - 20 lg N + 100) / 70,
    // 0 at and below -100 dB, 1 at and above -30 dB.
    const float nSquared = float(n) * float(n);
    const float silent = nSquared * 1e-10f;
    const float full = nSquared * 1e-3f;
    const float offset = 100.0f - 20.0f * std::log10(float(n));
    for (int k = 0; k < columnSize; ++k) {
        const float p = power[k];
        const float inRange = (10.0f * log10Approx(p < silent ? silent : p) + offset) * 0.014285714f;
        float value = p <= silent ? 0.0f : (p >= full ? 1.0f : inRange);
        value = value > 0.0f ? value : 0.0f;
        values[k] = value < 1.0f ? value : 1.0f;
    }
    if (magnitudes) {
        for (int k = 0; k <= columnSize; ++k)
            magnitudes[k] = std::sqrt(power[k]);
    }
}

void SpectrogramComputer::computeListCells(const SampleChannel& channel, SpectrogramGrid& grid,
                                           std::vector<double>* sums) const
{
    const qsizetype blocks = channel.isEmpty() ? 0 : wholeBlockCount(channel.count);
    grid.reset(n / 2);
    grid.resize(blocks);
    const int bins = n / 2 + 1;
    if (sums)
        sums->resize(bins, 0.0);
    if (blocks == 0)
        return;
    // Columns are independent: each part computes its own with its own
    // scratch buffers and magnitude sums, added up in part order afterwards.
    constexpr qint64 ColumnsPerPart = 2048;
    const int parts = ParallelRanges::partsFor(blocks, ColumnsPerPart);
    std::vector<std::vector<double>> partSums(sums ? parts : 0, std::vector<double>(bins, 0.0));
    ParallelRanges::run(blocks, parts, [&](int part, qint64 begin, qint64 end) {
        clearUpperVectorState();
        const SpectrogramComputer local(*this);
        std::vector<float> values(n / 2);
        std::vector<float> magnitudes(sums ? bins : 0);
        for (qint64 f = begin; f < end; ++f) {
            local.computeListColumn(channel, f, values.data(), sums ? magnitudes.data() : nullptr);
            SpectrogramGrid::Cell* cells = grid.column(f);
            for (int k = 0; k < n / 2; ++k)
                cells[k] = SpectrogramGrid::cellFor(values[k]);
            if (sums) {
                double* s = partSums[part].data();
                for (int k = 0; k < bins; ++k)
                    s[k] += magnitudes[k];
            }
        }
    });
    if (sums) {
        for (const std::vector<double>& partial : partSums)
            for (int k = 0; k < bins; ++k)
                (*sums)[k] += partial[k];
    }
}

void SpectrogramComputer::subtractListMagnitudes(const SampleChannel& channel, qsizetype first,
                                                 qsizetype last, std::vector<double>& sums) const
{
    if (qsizetype(sums.size()) != n / 2 + 1)
        return;
    last = std::min(last, wholeBlockCount(channel.count) - 1);
    std::vector<float> magnitudes(n / 2 + 1);
    std::vector<float> values(n / 2);
    for (qsizetype f = std::max<qsizetype>(first, 0); f <= last; ++f) {
        computeListColumn(channel, f, values.data(), magnitudes.data());
        for (int k = 0; k <= n / 2; ++k)
            sums[k] -= magnitudes[k];
    }
}

void SpectrogramComputer::recomputeListCells(const SampleChannel& channel, qsizetype first,
                                             qsizetype last, SpectrogramGrid& grid,
                                             std::vector<double>* sums) const
{
    first = std::max<qsizetype>(first, 0);
    last = std::min({last, grid.columnCount() - 1, wholeBlockCount(channel.count) - 1});
    if (grid.height() != n / 2)
        return;
    if (sums && qsizetype(sums->size()) != n / 2 + 1)
        sums = nullptr;
    std::vector<float> magnitudes(n / 2 + 1);
    std::vector<float> values(n / 2);
    for (qsizetype f = first; f <= last; ++f) {
        computeListColumn(channel, f, values.data(), sums ? magnitudes.data() : nullptr);
        SpectrogramGrid::Cell* cells = grid.column(f);
        for (int k = 0; k < n / 2; ++k)
            cells[k] = SpectrogramGrid::cellFor(values[k]);
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
