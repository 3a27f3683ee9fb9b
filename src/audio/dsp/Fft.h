#pragma once
// Power-of-two FFTs shared by the processor library: a complex transform on
// interleaved (re, im) pairs and a real transform built on it. Tables are
// made once per size, so one object serves any number of frames; the
// transforms themselves are const and allocate nothing.
//
// Conventions: forward uses the kernel e^(-i*2*pi*k*t/n) and is unscaled;
// inverse uses e^(+i*2*pi*k*t/n) and divides by n, so inverse(forward(x)) = x.

#include <cstddef>
#include <cstdint>
#include <vector>

class Fft {
public:
    explicit Fft(std::size_t size = 0);

    // Sizes that are not a power of two are raised to the next one.
    void setSize(std::size_t size);
    std::size_t size() const { return m_size; }

    // In place over size() interleaved complex values (2 * size() floats).
    void forward(float* data) const;
    void inverse(float* data) const;
    // Either kernel sign, with or without the 1/n scaling.
    void transform(float* data, bool positiveExponent, bool scale) const;

    static bool isPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }
    static std::size_t nextPowerOfTwo(std::size_t n);

private:
    template <bool Positive>
    void run(float* data) const;

    std::size_t m_size = 0;
    std::vector<std::uint32_t> m_swaps;  // pairs (i, j), i < j, of the bit-reversal permutation
    std::vector<float> m_twiddles;       // per stage: half twiddles e^(-i*pi*j/half), interleaved
};

// Transform of size() real samples into the size()/2 + 1 bins 0..Nyquist,
// stored as interleaved (re, im) pairs (size() + 2 floats); the imaginary
// parts of bins 0 and size()/2 are 0. Minimum size 2.
class RealFft {
public:
    explicit RealFft(std::size_t size = 0);

    void setSize(std::size_t size);
    std::size_t size() const { return m_size; }
    std::size_t binCount() const { return m_size / 2 + 1; }

    // in: size() samples; out: size() + 2 floats. in and out may overlap
    // only when they are the same pointer.
    void forward(const float* in, float* out) const;
    // in: size() + 2 floats of bins (the imaginary parts of bins 0 and
    // size()/2 are ignored); out: size() samples scaled by 1/size(). May run
    // in place (in == out, a buffer of size() + 2 floats).
    void inverse(const float* in, float* out) const;

private:
    std::size_t m_size = 0;
    Fft m_half;
    std::vector<float> m_twiddles;  // e^(-i*2*pi*k/size()) for k = 0..size()/4, interleaved
};
