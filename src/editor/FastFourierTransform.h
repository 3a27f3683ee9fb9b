#pragma once
// Radix-2 fast Fourier transform of one power-of-two size, with its twiddle
// and bit-reversal tables built once. Real input goes through a half-size
// complex transform, which halves the cost of every spectrogram column.

#include <complex>
#include <vector>

class FastFourierTransform {
public:
    explicit FastFourierTransform(int size = 1);

    // size must be a power of two (1 included); anything else is rounded up.
    void setSize(int size);
    int size() const { return n; }

    // In-place complex transforms of size() values. forward uses exp(-2πi kn/N);
    // inverse uses exp(+2πi kn/N) and scales by 1/N.
    void forwardComplex(std::complex<float>* data) const;
    void inverseComplex(std::complex<float>* data) const;

    // size() real values -> size()/2 + 1 bins (the rest mirror as conjugates).
    void forwardReal(const float* input, std::complex<float>* output) const;
    // The same into separate real and imaginary arrays of size()/2 + 1.
    void forwardReal(const float* input, float* outputRe, float* outputIm) const;
    // size()/2 + 1 bins of a real signal -> size() real values, scaled by 1/N.
    void inverseReal(const std::complex<float>* input, float* output) const;

    static int nextPowerOfTwo(int size);

private:
    // Split-array complex transform of `count` = n or n/2 values (tables for
    // that count must exist). sign -1 forward, +1 inverse; no scaling.
    void transformSplit(float* re, float* im, int count, int sign) const;
    // The butterfly stages alone, on values already in bit-reversed order.
    void butterflies(float* re, float* im, int count, int sign) const;
    void buildTables();

    int n = 1;
    int half = 0;                       // n / 2, the size of the packed transform
    // Twiddles for the complex transforms of size n and of size n/2, stage by
    // stage: stage with span L stores cos/sin(2πj/L) for j < L/2 contiguously.
    std::vector<float> stageCosFull, stageSinFull;
    std::vector<float> stageCosHalf, stageSinHalf;
    std::vector<int> reverseFull, reverseHalf;
    // cos/sin(2πk/n) for k <= n/2: the split step between packed and real spectra.
    std::vector<float> splitCos, splitSin;
    mutable std::vector<float> scratchRe, scratchIm;
    mutable std::vector<float> outRe, outIm;
};
