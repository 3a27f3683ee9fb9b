#include "audio/dsp/PhaseVocoder.h"

#include "audio/dsp/FastMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

PhaseVocoder::PhaseVocoder(std::size_t fftSize)
{
    setFftSize(fftSize);
}

void PhaseVocoder::setFftSize(std::size_t fftSize)
{
    const std::size_t n = Fft::nextPowerOfTwo(std::max<std::size_t>(fftSize, 4));
    if (n == m_size)
        return;
    m_size = n;
    m_fft.setSize(n);
    m_window.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        m_window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * double(i) / double(n))));
    m_spectrum.assign(n + 2, 0.0f);
    m_magnitude2.assign(n / 2 + 1, 0.0f);
    m_phase.assign(n / 2 + 1, 0.0f);
    m_remap.assign(n + 2, 0.0f);
    m_anchors.assign(n / 2 + 2, 0);
    m_isPeak.assign(n / 2 + 1, 0);
    m_rotation.reserve(n + 4);
    m_theta.reserve(n / 2 + 2);
    m_expected.reserve(n / 2 + 2);
    m_advance.reserve(n / 2 + 2);
    m_previous.reserve(n / 2 + 2);
}

void PhaseVocoder::processFrame(const float* frame, float* out, float* lastPhase, float* sumPhase,
                                double ratio, std::size_t analysisHop, std::size_t synthesisHop,
                                bool firstFrame)
{
    const std::size_t n = m_size;
    const std::size_t half = n / 2;
    float* spectrum = m_spectrum.data();
    m_fft.forward(frame, spectrum);

    float* magnitude2 = m_magnitude2.data();
    float* phase = m_phase.data();
    for (std::size_t k = 0; k <= half; ++k) {
        const float re = spectrum[2 * k];
        const float im = spectrum[2 * k + 1];
        magnitude2[k] = re * re + im * im;
        phase[k] = FastMath::atan2(im, re);
    }

    // Anchors: bin 0, every local maximum of the magnitude, and bin N/2 as
    // the upper bound of the last region.
    // Written without branches: a noisy spectrum has peaks at random bins.
    std::uint8_t* isPeak = m_isPeak.data();
    for (std::size_t k = 1; k < half; ++k)
        isPeak[k] = static_cast<std::uint8_t>((magnitude2[k] > magnitude2[k - 1])
                                              & (magnitude2[k] >= magnitude2[k + 1]));
    int* anchors = m_anchors.data();
    std::size_t anchorCount = 1;
    anchors[0] = 0;
    for (std::size_t k = 1; k < half; ++k) {
        anchors[anchorCount] = static_cast<int>(k);
        anchorCount += isPeak[k];
    }
    anchors[anchorCount++] = static_cast<int>(half);

    // Synthesis phase of each anchor: its last synthesis phase advanced at
    // the frequency measured from the analysis phase difference. The terms
    // of the bin's own frequency are taken modulo 2*pi in integers, so long
    // hops and long signals lose no precision. theta = synthesis - analysis.
    m_theta.resize(anchorCount);
    m_rotation.resize(2 * anchorCount);
    float* theta = m_theta.data();
    float* rotation = m_rotation.data();
    if (firstFrame) {
        for (std::size_t a = 0; a < anchorCount; ++a) {
            theta[a] = 0.0f;
            rotation[2 * a] = 1.0f;
            rotation[2 * a + 1] = 0.0f;
        }
    } else {
        m_expected.resize(anchorCount);
        m_advance.resize(anchorCount);
        m_previous.resize(anchorCount);
        float* expected = m_expected.data();
        float* advance = m_advance.data();
        float* previous = m_previous.data();
        const double twoPiOverN = 2.0 * M_PI / double(n);
        const std::size_t mask = n - 1;
        for (std::size_t a = 0; a < anchorCount; ++a) {
            const std::size_t p = static_cast<std::size_t>(anchors[a]);
            expected[a] = static_cast<float>(twoPiOverN * double((p * analysisHop) & mask));
            advance[a] = ratio == 1.0
                ? static_cast<float>(twoPiOverN * double((p * synthesisHop) & mask))
                : static_cast<float>(FastMath::wrapPhase(ratio * twoPiOverN * double(p)
                                                         * double(synthesisHop)));
            previous[a] = sumPhase[p] - lastPhase[p];  // only the difference matters below
            theta[a] = phase[p] - lastPhase[p];        // analysis advance, unwrapped
        }
        // Deviation from the bin frequency, scaled from the analysis to the
        // synthesis hop (and by the ratio when bins are moved).
        const float scale = analysisHop > 0
            ? static_cast<float>(ratio * double(synthesisHop) / double(analysisHop))
            : 0.0f;
        for (std::size_t a = 0; a < anchorCount; ++a) {
            const float deviation = FastMath::wrapPhase(theta[a] - expected[a]);
            // synthesis - analysis = (sum + advance) - (last + analysis advance)
            const float shift = previous[a] + advance[a] + deviation * scale - theta[a];
            theta[a] = FastMath::wrapPhase(shift);
            FastMath::sinCos(theta[a], rotation[2 * a + 1], rotation[2 * a]);
        }
    }

    // Each bin follows the nearer anchor (the lower one on a tie): its
    // phase keeps its distance to the anchor's. Bin N/2 follows the last
    // anchor below it.
    auto apply = [&](std::size_t from, std::size_t to, std::size_t a) {
        const float c = rotation[2 * a], s = rotation[2 * a + 1];
        const float t = theta[a];
        for (std::size_t k = from; k < to; ++k) {
            const float re = spectrum[2 * k], im = spectrum[2 * k + 1];
            spectrum[2 * k] = re * c - im * s;
            spectrum[2 * k + 1] = re * s + im * c;
        }
        for (std::size_t k = from; k < to; ++k) {
            sumPhase[k] = phase[k] + t;
            lastPhase[k] = phase[k];
        }
    };
    for (std::size_t a = 0; a + 1 < anchorCount; ++a) {
        const std::size_t lo = static_cast<std::size_t>(anchors[a]);
        const std::size_t hi = static_cast<std::size_t>(anchors[a + 1]);
        const std::size_t split = (lo + hi) / 2 + 1;  // first bin nearer to hi
        apply(lo, split, a);
        apply(split, hi, a + 1);
    }
    apply(half, half + 1, anchorCount - 2);

    if (ratio != 1.0) {
        std::fill(m_remap.begin(), m_remap.end(), 0.0f);
        for (std::size_t k = 0; k <= half; ++k) {
            const double target = ratio * double(k);
            if (!(target >= 0.0) || target > double(half))
                continue;
            const std::size_t t = static_cast<std::size_t>(target);
            const float f = static_cast<float>(target - double(t));
            m_remap[2 * t] += spectrum[2 * k] * (1.0f - f);
            m_remap[2 * t + 1] += spectrum[2 * k + 1] * (1.0f - f);
            if (t + 1 <= half) {
                m_remap[2 * t + 2] += spectrum[2 * k] * f;
                m_remap[2 * t + 3] += spectrum[2 * k + 1] * f;
            }
        }
        std::copy(m_remap.begin(), m_remap.end(), m_spectrum.begin());
    }

    m_fft.inverse(spectrum, out);
}

void PhaseVocoder::stretch(const float* x, std::size_t xLength, float* y, std::size_t yLength,
                           double factor, std::size_t hop)
{
    std::fill(y, y + yLength, 0.0f);
    if (yLength == 0 || xLength == 0 || !(factor > 0.0))
        return;
    const std::size_t n = m_size;
    // The output advances by `hop`, unless that would move the analysis
    // frames by more than half a frame, past which the measured phase
    // differences no longer tell the frequency apart.
    const double synthesisStep =
        std::max(1.0, std::min(double(std::clamp<std::size_t>(hop, 1, n)), factor * double(n / 2)));

    std::vector<float> weight(yLength, 0.0f);
    std::vector<float> lastPhase(n / 2 + 1, 0.0f);
    std::vector<float> sumPhase(n / 2 + 1, 0.0f);
    std::vector<float> frame(n);
    std::vector<float> out(n);
    const float* window = m_window.data();
    std::vector<float> window2(n);
    for (std::size_t i = 0; i < n; ++i)
        window2[i] = window[i] * window[i];
    const long long xLen = static_cast<long long>(xLength);
    const long long yLen = static_cast<long long>(yLength);
    const long long size = static_cast<long long>(n);

    // Frame k starts at S = k * step - (N - step), so the first full overlap
    // already covers output sample 0; its analysis frame has the same centre
    // mapped back by the factor.
    long long previousS = 0, previousA = 0;
    for (std::size_t k = 0;; ++k) {
        const double startS = double(k) * synthesisStep - double(n) + synthesisStep;
        const long long s = std::llround(startS);
        if (s >= yLen)
            break;
        const long long a = std::llround((startS + double(n / 2)) / factor - double(n / 2));

        const long long inFrom = std::clamp<long long>(-a, 0, size);
        const long long inTo = std::clamp<long long>(xLen - a, inFrom, size);
        std::fill(frame.begin(), frame.begin() + inFrom, 0.0f);
        for (long long i = inFrom; i < inTo; ++i)
            frame[i] = x[a + i] * window[i];
        std::fill(frame.begin() + inTo, frame.end(), 0.0f);
        const std::size_t analysisHop = k == 0 ? 0 : static_cast<std::size_t>(a - previousA);
        const std::size_t synthesisHop = k == 0 ? 0 : static_cast<std::size_t>(s - previousS);
        processFrame(frame.data(), out.data(), lastPhase.data(), sumPhase.data(), 1.0, analysisHop,
                     synthesisHop, k == 0);

        const long long from = std::max<long long>(0, -s);
        const long long to = std::min<long long>(size, yLen - s);
        float* target = y + s;
        float* targetWeight = weight.data() + s;
        for (long long i = from; i < to; ++i)
            target[i] += out[i] * window[i];
        for (long long i = from; i < to; ++i)
            targetWeight[i] += window2[i];
        previousS = s;
        previousA = a;
    }

    for (std::size_t i = 0; i < yLength; ++i) {
        if (weight[i] > 1e-6f)
            y[i] /= weight[i];
    }
}
