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
    scratchRe.assign(n, 0.0f);
    scratchIm.assign(n, 0.0f);
}

void FastFourierTransform::transformSplit(float* re, float* im, int count, int sign) const
{
    if (count < 2)
        return;
    const std::vector<int>& reverse = count == n ? reverseFull : reverseHalf;
    const std::vector<float>& cosTable = count == n ? stageCosFull : stageCosHalf;
    const std::vector<float>& sinTable = count == n ? stageSinFull : stageSinHalf;

    for (int i = 0; i < count; ++i) {
        const int j = reverse[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    // Span 2: the twiddle is 1.
    for (int i = 0; i < count; i += 2) {
        const float ur = re[i], ui = im[i];
        const float vr = re[i + 1], vi = im[i + 1];
        re[i] = ur + vr;
        im[i] = ui + vi;
        re[i + 1] = ur - vr;
        im[i + 1] = ui - vi;
    }
    const float s = static_cast<float>(sign);
    for (int span = 4; span <= count; span *= 2) {
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
    if (n == 1) {
        output[0] = {input[0], 0.0f};
        return;
    }
    // Even samples as real parts, odd samples as imaginary parts, one
    // half-size transform, then the split step separates the two spectra.
    float* re = scratchRe.data();
    float* im = scratchIm.data();
    for (int m = 0; m < half; ++m) {
        re[m] = input[2 * m];
        im[m] = input[2 * m + 1];
    }
    transformSplit(re, im, half, -1);
    for (int k = 0; k <= half; ++k) {
        const int a = k == half ? 0 : k;
        const int b = k == 0 ? 0 : half - k;
        const float zr = re[a], zi = im[a];
        const float cr = re[b], ci = -im[b];            // conj(Z[half - k])
        const float er = 0.5f * (zr + cr), ei = 0.5f * (zi + ci);
        // O = (Z - conj)/(2i)
        const float dr = zr - cr, di = zi - ci;
        const float orr = 0.5f * di, oi = -0.5f * dr;
        // W^k = cos - i sin
        const float wc = splitCos[k], ws = splitSin[k];
        const float tr = orr * wc + oi * ws;
        const float ti = oi * wc - orr * ws;
        output[k] = {er + tr, ei + ti};
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
