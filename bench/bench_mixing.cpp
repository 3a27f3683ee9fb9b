// Offline mix of 32 mono tracks of 10 minutes each, against the plain loop
// that sums the same buffers into a stereo buffer (the memory-bandwidth floor).
#include "BenchSupport.h"
#include "engine/devices/MultiTrackAudioEngine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTracks = 32;
constexpr int kRate = 44100;
constexpr int kFrames = 10 * 60 * kRate;

// The plain loop, frame by frame over all buffers.
std::vector<float> sumFrameMajor(const std::vector<std::vector<float>>& buffers)
{
    std::vector<float> out(2 * std::size_t(kFrames));
    for (std::size_t i = 0; i < std::size_t(kFrames); ++i) {
        float sum = 0.0f;
        for (const auto& b : buffers)
            sum += b[i];
        out[2 * i] = sum;
        out[2 * i + 1] = sum;
    }
    return out;
}

// The plain loop, buffer by buffer over the whole output.
std::vector<float> sumTrackMajor(const std::vector<std::vector<float>>& buffers)
{
    std::vector<float> out(2 * std::size_t(kFrames));
    for (const auto& b : buffers)
        for (std::size_t i = 0; i < std::size_t(kFrames); ++i) {
            out[2 * i] += b[i];
            out[2 * i + 1] += b[i];
        }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("preparing %d tracks of %d frames (%.1f GB)\n", kTracks, kFrames,
                double(kTracks) * kFrames * sizeof(float) / 1e9);
    std::fflush(stdout);
    std::vector<std::vector<float>> buffers(kTracks);
    std::vector<MultiTrackAudioEngine::TrackSlot> mix(kTracks);
    for (int t = 0; t < kTracks; ++t) {
        auto& b = buffers[std::size_t(t)];
        b.resize(std::size_t(kFrames));
        for (int i = 0; i < kFrames; ++i)
            b[std::size_t(i)] = float((i * (t + 7)) % 2001 - 1000) * (0.02f / 1000.0f);
        auto& slot = mix[std::size_t(t)];
        slot.samples = b.data();
        slot.sampleCount = kFrames;
        slot.volume = 0.5f + 0.01f * t;
        slot.pan = -1.0f + 2.0f * t / (kTracks - 1);
    }

    MultiTrackAudioEngine engine(nullptr);
    double checksum = 0.0;
    const double ours = Bench::timeBest([&] {
        QList<float> out;
        engine.renderOffline(mix, kFrames, kRate, out);
        checksum += out[out.size() / 2];
    });
    const double frameMajor = Bench::timeBest([&] { checksum += sumFrameMajor(buffers)[kFrames]; });
    const double trackMajor = Bench::timeBest([&] { checksum += sumTrackMajor(buffers)[kFrames]; });
    const double floor = std::min(frameMajor, trackMajor);
    std::printf("plain loops: frame by frame %.3f s, track by track %.3f s (checksum %g)\n",
                frameMajor, trackMajor, checksum);
    const bool ok = Bench::report(QStringLiteral("renderOffline 32 x 10 min mono"), ours, floor,
                                  QStringLiteral("plain loop summing the same buffers with pan and volume into stereo"), 3.0);
    return ok ? 0 : 1;
}
