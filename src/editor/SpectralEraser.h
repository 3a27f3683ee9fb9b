#pragma once
// Attenuates a time and frequency rectangle of one channel by
// short-time Fourier analysis and overlap-add resynthesis with a periodic
// Hann window at a hop of a quarter of the block.
//
// Only the blocks that overlap the erased time range are transformed; the
// samples they cover are rebuilt from every block on the hop grid (the grid
// reaches before the first sample, so every sample is covered equally), and
// every other sample stays exactly as it was. The cost therefore follows the
// length of the erased range, not the length of the recording.

#include "audio/dsp/Fft.h"
#include "common/SampleChannel.h"

#include <QtGlobal>
#include <vector>

class SpectralEraser {
public:
    explicit SpectralEraser(int fftSize = 2048);

    int fftSize() const { return n; }
    int hop() const { return hopSize; }

    struct Result {
        qsizetype first = 0;             // first changed sample
        std::vector<float> samples;      // new values of [first, first + size)
    };

    // Erases [startSec, endSec] x [lowHz, highHz] at strength in [0, 1] (1
    // removes the band where a block lies wholly inside the range; blocks
    // that overlap partly are attenuated in proportion). Returns false when
    // nothing would change: no samples, an empty range after clamping to the
    // material and to half the sample rate, or zero strength.
    bool erase(const SampleChannel& channel, int sampleRate, double startSec, double endSec,
               float lowHz, float highHz, float strength, Result& result) const;
    bool erase(const float* samples, qsizetype count, int sampleRate, double startSec,
               double endSec, float lowHz, float highHz, float strength, Result& result) const
    {
        return erase(SampleChannel{samples, count, 1}, sampleRate, startSec, endSec, lowHz, highHz,
                     strength, result);
    }

    // In-place inverse transform of n complex values stored as interleaved
    // real and imaginary parts, scaled by 1/n. n must be a power of two.
    static void inverseFft(float* data, int n);

private:
    int n = 2048;
    int hopSize = 512;
    std::vector<float> window;   // periodic Hann
    std::vector<float> windowSquared;
    RealFft transform;
};
