#include "audio/dsp/Fft.h"

#include <cmath>
#include <utility>

std::size_t Fft::nextPowerOfTwo(std::size_t n)
{
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

Fft::Fft(std::size_t size)
{
    setSize(size);
}

void Fft::setSize(std::size_t size)
{
    const std::size_t n = size == 0 ? 0 : nextPowerOfTwo(size);
    if (n == m_size)
        return;
    m_size = n;
    m_swaps.clear();
    m_twiddles.clear();
    if (n < 2)
        return;

    int bits = 0;
    while ((std::size_t(1) << bits) < n)
        ++bits;
    for (std::size_t i = 1; i < n; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1u) << (bits - 1 - b);
        if (i < r) {
            m_swaps.push_back(static_cast<std::uint32_t>(i));
            m_swaps.push_back(static_cast<std::uint32_t>(r));
        }
    }

    m_twiddles.resize(2 * (n - 1));
    for (std::size_t half = 1; half < n; half <<= 1) {
        float* w = m_twiddles.data() + 2 * (half - 1);
        for (std::size_t j = 0; j < half; ++j) {
            const double angle = -M_PI * double(j) / double(half);
            w[2 * j] = static_cast<float>(std::cos(angle));
            w[2 * j + 1] = static_cast<float>(std::sin(angle));
        }
    }
}

template <bool Positive>
void Fft::run(float* data) const
{
    const std::size_t n = m_size;
    for (std::size_t s = 0; s < m_swaps.size(); s += 2) {
        float* a = data + 2 * m_swaps[s];
        float* b = data + 2 * m_swaps[s + 1];
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
    }

    // Length-2 stage: the only twiddle is 1.
    for (std::size_t i = 0; i < 2 * n; i += 4) {
        const float ar = data[i], ai = data[i + 1];
        const float br = data[i + 2], bi = data[i + 3];
        data[i] = ar + br;
        data[i + 1] = ai + bi;
        data[i + 2] = ar - br;
        data[i + 3] = ai - bi;
    }
    // Length-4 stage: twiddles 1 and -i (or +i for the positive kernel).
    if (n >= 4) {
        for (std::size_t i = 0; i < 2 * n; i += 8) {
            float* x = data + i;
            const float t0r = x[4], t0i = x[5];
            const float t1r = Positive ? -x[7] : x[7];
            const float t1i = Positive ? x[6] : -x[6];
            const float a0r = x[0], a0i = x[1], a1r = x[2], a1i = x[3];
            x[0] = a0r + t0r;
            x[1] = a0i + t0i;
            x[4] = a0r - t0r;
            x[5] = a0i - t0i;
            x[2] = a1r + t1r;
            x[3] = a1i + t1i;
            x[6] = a1r - t1r;
            x[7] = a1i - t1i;
        }
    }

    for (std::size_t half = 4; half < n; half <<= 1) {
        const float* w = m_twiddles.data() + 2 * (half - 1);
        const std::size_t len = 2 * half;
        for (std::size_t start = 0; start < n; start += len) {
            float* a = data + 2 * start;
            float* b = a + 2 * half;
            for (std::size_t j = 0; j < half; ++j) {
                const float wr = w[2 * j];
                const float wi = Positive ? -w[2 * j + 1] : w[2 * j + 1];
                const float br = b[2 * j], bi = b[2 * j + 1];
                const float tr = br * wr - bi * wi;
                const float ti = br * wi + bi * wr;
                const float ar = a[2 * j], ai = a[2 * j + 1];
                a[2 * j] = ar + tr;
                a[2 * j + 1] = ai + ti;
                b[2 * j] = ar - tr;
                b[2 * j + 1] = ai - ti;
            }
        }
    }
}

void Fft::transform(float* data, bool positiveExponent, bool scale) const
{
    if (m_size >= 2) {
        if (positiveExponent)
            run<true>(data);
        else
            run<false>(data);
    }
    if (scale && m_size > 1) {
        const float k = 1.0f / static_cast<float>(m_size);
        for (std::size_t i = 0; i < 2 * m_size; ++i)
            data[i] *= k;
    }
}

void Fft::forward(float* data) const
{
    transform(data, false, false);
}

void Fft::inverse(float* data) const
{
    transform(data, true, true);
}

RealFft::RealFft(std::size_t size)
{
    setSize(size);
}

void RealFft::setSize(std::size_t size)
{
    std::size_t n = size == 0 ? 0 : Fft::nextPowerOfTwo(size);
    if (n == 1)
        n = 2;
    if (n == m_size)
        return;
    m_size = n;
    m_half.setSize(n / 2);
    m_twiddles.assign(2 * (n / 4 + 1), 0.0f);
    for (std::size_t k = 0; k <= n / 4 && n != 0; ++k) {
        const double angle = -2.0 * M_PI * double(k) / double(n);
        m_twiddles[2 * k] = static_cast<float>(std::cos(angle));
        m_twiddles[2 * k + 1] = static_cast<float>(std::sin(angle));
    }
}

// With z[t] = x[2t] + i*x[2t+1] and Z its m-point transform (m = n/2), the
// even and odd half-spectra are E = (Z[k] + conj Z[m-k]) / 2 and
// O = (Z[k] - conj Z[m-k]) / 2i; then X[k] = E + W^k O and
// X[m-k] = conj(E - W^k O) with W = e^(-i*2*pi/n).
void RealFft::forward(const float* in, float* out) const
{
    const std::size_t n = m_size;
    if (n == 0)
        return;
    const std::size_t m = n / 2;
    if (in != out) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = in[i];
    }
    m_half.forward(out);

    const float z0r = out[0], z0i = out[1];
    out[0] = z0r + z0i;
    out[1] = 0.0f;
    out[2 * m] = z0r - z0i;
    out[2 * m + 1] = 0.0f;

    for (std::size_t k = 1; 2 * k <= m; ++k) {
        const std::size_t j = m - k;
        const float zkr = out[2 * k], zki = out[2 * k + 1];
        const float zjr = out[2 * j], zji = out[2 * j + 1];
        const float er = 0.5f * (zkr + zjr), ei = 0.5f * (zki - zji);
        const float or_ = 0.5f * (zki + zji), oi = -0.5f * (zkr - zjr);
        const float wr = m_twiddles[2 * k], wi = m_twiddles[2 * k + 1];
        const float tr = wr * or_ - wi * oi;
        const float ti = wr * oi + wi * or_;
        out[2 * k] = er + tr;
        out[2 * k + 1] = ei + ti;
        out[2 * j] = er - tr;
        out[2 * j + 1] = -(ei - ti);
    }
}

void RealFft::inverse(const float* in, float* out) const
{
    const std::size_t n = m_size;
    if (n == 0)
        return;
    const std::size_t m = n / 2;

    const float x0 = in[0], xm = in[2 * m];
    for (std::size_t k = 1; 2 * k <= m; ++k) {
        const std::size_t j = m - k;
        const float xkr = in[2 * k], xki = in[2 * k + 1];
        const float xjr = in[2 * j], xji = in[2 * j + 1];
        // E = (X[k] + conj X[m-k]) / 2, O = (X[k] - conj X[m-k]) / 2 * conj(W^k)
        const float er = 0.5f * (xkr + xjr), ei = 0.5f * (xki - xji);
        const float dr = 0.5f * (xkr - xjr), di = 0.5f * (xki + xji);
        const float wr = m_twiddles[2 * k], wi = -m_twiddles[2 * k + 1];
        const float or_ = dr * wr - di * wi;
        const float oi = dr * wi + di * wr;
        // Z[k] = E + i*O; Z[m-k] = conj E + i*conj O
        out[2 * k] = er - oi;
        out[2 * k + 1] = ei + or_;
        out[2 * j] = er + oi;
        out[2 * j + 1] = -ei + or_;
    }
    out[0] = 0.5f * (x0 + xm);
    out[1] = 0.5f * (x0 - xm);
    m_half.inverse(out);
}
