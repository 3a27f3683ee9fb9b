// Offline mix of 32 mono tracks of 10 minutes each, against the plain loop
// that sums the same buffers with their volume and pan into a stereo buffer
// (the memory-bandwidth floor).
#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "engine/devices/MultiTrackAudioEngine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTracks = 32;
constexpr int kRate = 44100;
constexpr int kFrames = 10 * 60 * kRate;

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    std::printf("preparing %d tracks of %d frames (%.1f GB)\n", kTracks, kFrames,
                double(kTracks) * kFrames * sizeof(float) / 1e9);
    std::fflush(stdout);
    std::vector<std::vector<float>> buffers(kTracks);
    std::vector<MultiTrackAudioEngine::TrackSlot> mix(kTracks);
    std::vector<Bench::PlainMixTrack> plain;
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
        plain.emplace_back(b.data(), slot.volume, slot.pan);
    }

    MultiTrackAudioEngine engine(nullptr);
    double checksum = 0.0;
    const double ours = Bench::timeBest([&] {
        QList<float> out;
        engine.renderOffline(mix, kFrames, kRate, out);
        checksum += out[out.size() / 2];
    });
    const double frameMajor = Bench::timePlainMix(plain, kFrames, Bench::MixOrder::RunsOfFrames);
    const double trackMajor = Bench::timePlainMix(plain, kFrames, Bench::MixOrder::WholeTracks);
    const double floor = std::min(frameMajor, trackMajor);
    std::printf("plain loops: a run of frames at a time %.3f s, a whole track at a time %.3f s (checksum %g)\n",
                frameMajor, trackMajor, checksum);
    const bool ok = Bench::report(QStringLiteral("renderOffline 32 x 10 min mono"), ours, floor,
                                  QStringLiteral("plain loop summing the same buffers with pan and volume into stereo"), 3.0);
    return ok ? 0 : 1;
}
