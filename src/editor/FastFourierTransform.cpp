#include "editor/FastFourierTransform.h"

#include <cmath>
#include <utility>

namespace {

constexpr double TwoPi = 6.283185307179586476925286766559;

void buildStageTables(int count, std::vector<float>& cosTable, std::vector<float>& sinTable)
{
    cosTable.assign(count > 1 ? count - 1 : 0, 0.0f);
    sinTable.assign(cosTable.size(), 0.0f);
    for (int span = 2; span <= count; span *= 2) {
        const int halfSpan = span / 2;
        for (int j = 0; j < halfSpan; ++j) {
            const double angle = TwoPi * j / span;
            cosTable[halfSpan - 1 + j] = static_cast<float>(std::cos(angle));
            sinTable[halfSpan - 1 + j] = static_cast<float>(std::sin(angle));
        }
    }
}

void buildReverseTable(int count, std::vector<int>& table)
{
    table.assign(count, 0);
    int bits = 0;
    while ((1 << bits) < count)
        ++bits;
    for (int i = 0; i < count; ++i) {
        int reversed = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b))
                reversed |= 1 << (bits - 1 - b);
        table[i] = reversed;
    }
}

} // namespace

FastFourierTransform::FastFourierTransform(int size)
{
    setSize(size);
}

int FastFourierTransform::nextPowerOfTwo(int size)
{
    int p = 1;
    while (p < size && p < (1 << 30))
        p *= 2;
    return p;
}

void FastFourierTransform::setSize(int size)
{
    n = nextPowerOfTwo(size);
    half = n / 2;
    buildTables();
}

void FastFourierTransform::buildTables()
{
    buildStageTables(n, stageCosFull, stageSinFull);
    buildStageTables(half, stageCosHalf, stageSinHalf);
    buildReverseTable(n, reverseFull);
    buildReverseTable(half, reverseHalf);
    splitCos.assign(half + 1, 1.0f);
    splitSin.assign(half + 1, 0.0f);
    for (int k = 0; k <= half && n > 1; ++k) {
        splitCos[k] = static_cast<float>(std::cos(TwoPi * k / n));
        splitSin[k] = static_cast<float>(std::sin(TwoPi * k / n));
    }
    scratchRe.assign(n + 1, 0.0f);
    scratchIm.assign(n + 1, 0.0f);
    outRe.assign(half + 1, 0.0f);
    outIm.assign(half + 1, 0.0f);
}

void FastFourierTransform::transformSplit(float* re, float* im, int count, int sign) const
{
    if (count < 2)
        return;
    const std::vector<int>& reverse = count == n ? reverseFull : reverseHalf;
    for (int i = 0; i < count; ++i) {
        const int j = reverse[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    butterflies(re, im, count, sign);
}

void FastFourierTransform::butterflies(float* re, float* im, int count, int sign) const
{
    if (count < 2)
        return;
    const std::vector<float>& cosTable = count == n ? stageCosFull : stageCosHalf;
    const std::vector<float>& sinTable = count == n ? stageSinFull : stageSinHalf;
    const float s = static_cast<float>(sign);
    int span = 2;
    if (count >= 4) {
        // Spans 2 and 4 together: twiddles 1 and then 1 and +-i.
        for (int i = 0; i < count; i += 4) {
            const float r0 = re[i] + re[i + 1], i0 = im[i] + im[i + 1];
            const float r1 = re[i] - re[i + 1], i1 = im[i] - im[i + 1];
            const float r2 = re[i + 2] + re[i + 3], i2 = im[i + 2] + im[i + 3];
            const float r3 = re[i + 2] - re[i + 3], i3 = im[i + 2] - im[i + 3];
            // (r3 + i i3) * (s i) = -s i3 + i s r3
            const float tr = -s * i3, ti = s * r3;
            re[i] = r0 + r2;
            im[i] = i0 + i2;
            re[i + 2] = r0 - r2;
            im[i + 2] = i0 - i2;
            re[i + 1] = r1 + tr;
            im[i + 1] = i1 + ti;
            re[i + 3] = r1 - tr;
            im[i + 3] = i1 - ti;
        }
        span = 8;
    } else {
        const float ur = re[0], ui = im[0];
        re[0] = ur + re[1];
        im[0] = ui + im[1];
        re[1] = ur - re[1];
        im[1] = ui - im[1];
        return;
    }
    for (; span <= count; span *= 2) {
        const int halfSpan = span / 2;
        const float* __restrict wc = cosTable.data() + halfSpan - 1;
        const float* __restrict ws = sinTable.data() + halfSpan - 1;
        for (int block = 0; block < count; block += span) {
            float* __restrict ar = re + block;
            float* __restrict ai = im + block;
            float* __restrict br = re + block + halfSpan;
            float* __restrict bi = im + block + halfSpan;
            for (int j = 0; j < halfSpan; ++j) {
                const float c = wc[j];
                const float sn = s * ws[j];
                const float tr = br[j] * c - bi[j] * sn;
                const float ti = br[j] * sn + bi[j] * c;
                const float ur = ar[j], ui = ai[j];
                ar[j] = ur + tr;
                ai[j] = ui + ti;
                br[j] = ur - tr;
                bi[j] = ui - ti;
            }
        }
    }
}

void FastFourierTransform::forwardComplex(std::complex<float>* data) const
{
    float* re = scratchRe.data();
    float* im = scratchIm.data();
    for (int i = 0; i < n; ++i) {
        re[i] = data[i].real();
        im[i] = data[i].imag();
    }
    transformSplit(re, im, n, -1);
    for (int i = 0; i < n; ++i)
        data[i] = {re[i], im[i]};
}

void FastFourierTransform::inverseComplex(std::complex<float>* data) const
{
    float* re = scratchRe.data();
    float* im = scratchIm.data();
    for (int i = 0; i < n; ++i) {
        re[i] = data[i].real();
        im[i] = data[i].imag();
    }
    transformSplit(re, im, n, +1);
    const float scale = 1.0f / static_cast<float>(n);
    for (int i = 0; i < n; ++i)
        data[i] = {re[i] * scale, im[i] * scale};
}

void FastFourierTransform::forwardReal(const float* input, std::complex<float>* output) const
{
    forwardReal(input, outRe.data(), outIm.data());
    for (int k = 0; k <= half; ++k)
        output[k] = {outRe[k], outIm[k]};
}

void FastFourierTransform::forwardReal(const float* input, float* outputRe, float* outputIm) const
{
    if (n == 1) {
        outputRe[0] = input[0];
        outputIm[0] = 0.0f;
        return;
    }
    // Even samples as real parts, odd samples as imaginary parts, one
    // half-size transform, then the split step separates the two spectra.
    float* __restrict re = scratchRe.data();
    float* __restrict im = scratchIm.data();
    // Loaded straight into bit-reversed order.
    const int* reverse = reverseHalf.data();
    for (int m = 0; m < half; ++m) {
        const int j = reverse[m];
        re[j] = input[2 * m];
        im[j] = input[2 * m + 1];
    }
    butterflies(re, im, half, -1);
    // Z[half] is Z[0]: one more entry lets the loop below read without wrapping.
    re[half] = re[0];
    im[half] = im[0];
    const float* __restrict wc = splitCos.data();
    const float* __restrict ws = splitSin.data();
    for (int k = 0; k <= half; ++k) {
        const float zr = re[k], zi = im[k];
        const float cr = re[half - k], ci = -im[half - k];   // conj(Z[half - k])
        const float er = 0.5f * (zr + cr), ei = 0.5f * (zi + ci);
        // O = (Z - conj) / (2i), times W^k = cos - i sin.
        const float orr = 0.5f * (zi - ci), oi = -0.5f * (zr - cr);
        outputRe[k] = er + orr * wc[k] + oi * ws[k];
        outputIm[k] = ei + oi * wc[k] - orr * ws[k];
    }
}

void FastFourierTransform::inverseReal(const std::complex<float>* input, float* output) const
{
    if (n == 1) {
        output[0] = input[0].real();
        return;
    }
    float* re = scratchRe.data();
    float* im = scratchIm.data();
    for (int k = 0; k < half; ++k) {
        const std::complex<float> x = input[k];
        const std::complex<float> y = std::conj(input[half - k]);
        const float er = 0.5f * (x.real() + y.real()), ei = 0.5f * (x.imag() + y.imag());
        const float dr = 0.5f * (x.real() - y.real()), di = 0.5f * (x.imag() - y.imag());
        // O = D / W^k = D * (cos + i sin)
        const float wc = splitCos[k], ws = splitSin[k];
        const float orr = dr * wc - di * ws;
        const float oi = dr * ws + di * wc;
        // Z = E + i O
        re[k] = er - oi;
        im[k] = ei + orr;
    }
    // Bit reversal happens inside the transform, so the packed values go in
    // natural order.
    transformSplit(re, im, half, +1);
    const float scale = 1.0f / static_cast<float>(half);
    for (int m = 0; m < half; ++m) {
        output[2 * m] = re[m] * scale;
        output[2 * m + 1] = im[m] * scale;
    }
}
