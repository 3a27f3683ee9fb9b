// Spectral noise reduction: a noise profile measured on a stretch of pure
// noise is subtracted from the whole list by short-time spectral subtraction
// with weighted overlap-add (Hann window, hop N/4).
//
// The frames are real, so two of them travel through one complex transform
// (one in the real part, one in the imaginary part) and are separated by the
// conjugate symmetry of their spectra; the results equal one transform per
// frame up to rounding, at half the cost.

#include "AudioProcessor.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// Bit-reversal permutation and twiddles of the last size used on this thread.
struct FftTables {
    int n = 0;
    std::vector<int> reversed;
    std::vector<float> cosines; // cos(2πj/n), j < n/2
    std::vector<float> sines;   // sin(2πj/n)

    void prepare(int size)
    {
        if (size == n)
            return;
        n = size;
        reversed.assign(size, 0);
        int bits = 0;
        while ((1 << bits) < size)
            ++bits;
        for (int i = 0; i < size; ++i) {
            int r = 0;
            for (int b = 0; b < bits; ++b)
                r |= ((i >> b) & 1) << (bits - 1 - b);
            reversed[i] = r;
        }
        cosines.resize(size / 2);
        sines.resize(size / 2);
        for (int j = 0; j < size / 2; ++j) {
            const double angle = 2.0 * M_PI * j / size;
            cosines[j] = static_cast<float>(std::cos(angle));
            sines[j] = static_cast<float>(std::sin(angle));
        }
    }
};

std::vector<float> hannWindow(int n)
{
    std::vector<float> w(n);
    for (int i = 0; i < n; ++i)
        w[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / (n - 1))));
    return w;
}

// The spectra of two real frames a and b packed as z = a + i·b:
// A[k] = (Z[k] + conj Z[N−k]) / 2, B[k] = (Z[k] − conj Z[N−k]) / 2i.
// Returns the squared magnitudes of A[k] and B[k].
inline void splitPower(const float* re, const float* im, int k, int n, float& powerA,
                       float& powerB)
{
    const int m = (n - k) & (n - 1);
    const float aRe = 0.5f * (re[k] + re[m]);
    const float aIm = 0.5f * (im[k] - im[m]);
    const float bRe = 0.5f * (im[k] + im[m]);
    const float bIm = 0.5f * (re[m] - re[k]);
    powerA = aRe * aRe + aIm * aIm;
    powerB = bRe * bRe + bIm * bIm;
}

// Loads the frames at first and second (null: none) into re/im through the
// window.
void loadFramePair(const float* first, const float* second, const float* w, int n, float* re,
                   float* im)
{
    for (int i = 0; i < n; ++i)
        re[i] = first[i] * w[i];
    if (second) {
        for (int i = 0; i < n; ++i)
            im[i] = second[i] * w[i];
    } else {
        std::fill(im, im + n, 0.0f);
    }
}

} // namespace

void AudioProcessor::fftReal(float* re, float* im, int n, bool inverse)
{
    if (n < 2 || !re || !im || !isPowerOfTwo(n)) {
        // A single point is its own transform (its inverse divides by 1).
        return;
    }
    thread_local FftTables tables;
    tables.prepare(n);

    for (int i = 0; i < n; ++i) {
        const int j = tables.reversed[i];
        if (j > i) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }

    const float sign = inverse ? 1.0f : -1.0f;
    for (int length = 2; length <= n; length <<= 1) {
        const int half = length / 2;
        const int stride = n / length;
        for (int j = 0; j < half; ++j) {
            const float wr = tables.cosines[j * stride];
            const float wi = sign * tables.sines[j * stride];
            for (int a = j; a < n; a += length) {
                const int b = a + half;
                const float tr = wr * re[b] - wi * im[b];
                const float ti = wr * im[b] + wi * re[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }

    if (inverse) {
        const float scale = 1.0f / static_cast<float>(n);
        for (int i = 0; i < n; ++i) {
            re[i] *= scale;
            im[i] *= scale;
        }
    }
}

void AudioProcessor::analyzeNoiseProfile(int start, int end)
{
    if (samples.isEmpty())
        return;
    const int n = noiseFftSize;
    if (!isPowerOfTwo(n) || n < 4)
        return;
    const qint64 length = samples.size();
    const qint64 first = std::max(start, 0);
    const qint64 count = std::min<qint64>(end, length) - first;
    if (count < n) {
        emit errorOccurred(tr("噪声样本太短，至少需要 %1 个采样点").arg(n));
        return;
    }

    const int bins = n / 2 + 1;
    const int hop = n / 4;
    const std::vector<float> w = hannWindow(n);
    std::vector<float> re(n), im(n);
    std::vector<double> sum(bins, 0.0);
    const float* data = samples.constData() + first;

    qint64 frames = 0;
    for (qint64 p = 0; p + n <= count; p += 2 * hop) {
        const bool pair = p + hop + n <= count;
        loadFramePair(data + p, pair ? data + p + hop : nullptr, w.data(), n, re.data(),
                      im.data());
        fftReal(re.data(), im.data(), n, false);
        for (int k = 0; k < bins; ++k) {
            float powerA, powerB;
            splitPower(re.data(), im.data(), k, n, powerA, powerB);
            sum[k] += std::sqrt(powerA);
            if (pair)
                sum[k] += std::sqrt(powerB);
        }
        frames += pair ? 2 : 1;
    }

    noiseProfile.resize(bins);
    for (int k = 0; k < bins; ++k) {
        const double mean = sum[k] / static_cast<double>(frames);
        noiseProfile[k] = static_cast<float>(mean * mean);
    }
}

void AudioProcessor::applyNoiseReduction(float amount)
{
    if (samples.isEmpty())
        return;
    const int n = noiseFftSize;
    const int bins = n / 2 + 1;
    if (noiseProfile.isEmpty() || !isPowerOfTwo(n) || n < 4 || noiseProfile.size() != bins) {
        // A profile measured with another transform size is no profile for this one.
        emit errorOccurred(tr("请先框选一段噪声样本并分析噪声特征"));
        return;
    }
    const float a = amount >= 0.0f ? std::min(amount, 1.0f) : 0.0f;
    // Gains are computed on power: g = max(0, 1 − (a·noise)² / m²).
    std::vector<float> noisePower(bins);
    for (int k = 0; k < bins; ++k)
        noisePower[k] = a * a * std::max(noiseProfile[k], 0.0f);

    // Frames run on a grid that starts N − hop before the first value and
    // ends past the last one (zeros outside the list), so every value is
    // covered by the same number of frames and the overlap-add divides by a
    // full window sum. Dividing by the thin sums at the very start and end
    // amplified whatever the filtering smeared there.
    const qint64 length = samples.size();
    if (length >= n) {
        const int hop = n / 4;
        const std::vector<float> w = hannWindow(n);
        std::vector<float> re(n), im(n), gainA(bins), gainB(bins);
        std::vector<float> padA(n), padB(n);
        // Ring accumulators (two frame lengths hold every value a pair of
        // frames still adds to): a value is final once no later frame covers
        // it, and is written back then.
        std::vector<float> out(2 * n, 0.0f), weight(2 * n, 0.0f);
        const qint64 ringMask = 2 * n - 1;
        float* data = samples.data();
        constexpr float minPower = 1e-20f; // magnitude 1e-10

        auto gainFor = [&](float power, int k) {
            if (power < minPower)
                return 1.0f;
            return std::max(0.0f, (power - noisePower[k]) / power);
        };
        // The frame starting at `start`, zero-padded where it leaves the list.
        auto frameAt = [&](qint64 start, std::vector<float>& pad) -> const float* {
            if (start >= 0 && start + n <= length)
                return data + start;
            for (int i = 0; i < n; ++i) {
                const qint64 at = start + i;
                pad[size_t(i)] = (at >= 0 && at < length) ? data[at] : 0.0f;
            }
            return pad.data();
        };
        const qint64 firstStart = -(n - hop);
        qint64 flushed = firstStart;
        auto flushUpTo = [&](qint64 to) {
            for (; flushed < to; ++flushed) {
                const qint64 r = flushed & ringMask;
                if (flushed >= 0 && flushed < length && weight[size_t(r)] > 1e-6f)
                    data[flushed] = out[size_t(r)] / weight[size_t(r)];
                out[size_t(r)] = 0.0f;
                weight[size_t(r)] = 0.0f;
            }
        };
        auto accumulate = [&](qint64 start, const float* frame) {
            for (int i = 0; i < n; ++i) {
                const qint64 r = (start + i) & ringMask;
                const float wi = w[size_t(i)];
                out[size_t(r)] += frame[i] * wi;
                weight[size_t(r)] += wi * wi;
            }
        };

        for (qint64 p = firstStart; p < length; p += 2 * hop) {
            const bool pair = p + hop < length;
            loadFramePair(frameAt(p, padA), pair ? frameAt(p + hop, padB) : nullptr, w.data(), n,
                          re.data(), im.data());
            fftReal(re.data(), im.data(), n, false);

            for (int k = 0; k < bins; ++k) {
                float powerA, powerB;
                splitPower(re.data(), im.data(), k, n, powerA, powerB);
                gainA[k] = gainFor(powerA, k);
                gainB[k] = pair ? gainFor(powerB, k) : 1.0f;
            }
            // Y = gA·A + i·gB·B = ((gA+gB)/2)·Z[k] + ((gA−gB)/2)·conj Z[N−k].
            for (int k = 0; k <= n / 2; ++k) {
                const int m = (n - k) & (n - 1);
                const float sum = 0.5f * (gainA[k] + gainB[k]);
                const float diff = 0.5f * (gainA[k] - gainB[k]);
                const float zkRe = re[k], zkIm = im[k];
                const float zmRe = re[m], zmIm = im[m];
                re[k] = sum * zkRe + diff * zmRe;
                im[k] = sum * zkIm - diff * zmIm;
                if (m != k) {
                    re[m] = sum * zmRe + diff * zkRe;
                    im[m] = sum * zmIm - diff * zkIm;
                }
            }
            fftReal(re.data(), im.data(), n, true);

            accumulate(p, re.data());
            if (pair)
                accumulate(p + hop, im.data());
            // Frames still to come start at p + 2·hop or later.
            flushUpTo(std::min(p + 2 * hop, length));
        }
        flushUpTo(length);
    }
    emit audioProcessed();
}
