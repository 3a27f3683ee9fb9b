// Reading and writing a 10-minute stereo file against references on the
// same audio: decoding against ffmpeg to raw float; the WAV and FLAC writers
// (FLAC frames are stored VERBATIM, uncompressed, and encoded on every
// core) against a plain write of the same PCM bytes on one thread; MP3
// writing against `lame` at our settings. A FLAC stream whose frames are
// numbered behind what was decoded against the same frames in order.

#include "BenchSupport.h"
#include "CraftedFlac.h"
#include "PrivateUserFolders.h"

#include "audio/AudioProcessor.h"
#include "audio/codecs/FlacDecoder.h"
#include "audio/codecs/SampleConversion.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

namespace {

// The floor of an uncompressed writer: the samples converted to `bits`-bit
// little-endian PCM a block at a time in a plain loop (32-bit floats written
// as they lie) through a save file that is synced and renamed into place as
// our writers' files are.
bool writePlainPcm(const QString& path, const QList<float>& samples, int bits)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (bits == 32) {
        const qint64 bytes = samples.size() * qint64(sizeof(float));
        return file.write(reinterpret_cast<const char*>(samples.constData()), bytes) == bytes
               && file.commit();
    }
    const int width = bits / 8;
    constexpr qsizetype BlockValues = 1 << 16;
    QByteArray block(BlockValues * width, Qt::Uninitialized);
    for (qsizetype start = 0; start < samples.size(); start += BlockValues) {
        const qsizetype count = std::min(BlockValues, samples.size() - start);
        char* out = block.data();
        for (qsizetype i = 0; i < count; ++i, out += width) {
            const float v = samples[start + i];
            const qint32 pcm = bits == 16 ? SampleConversion::toPcm16(v) : SampleConversion::toPcm24(v);
            out[0] = char(pcm);
            out[1] = char(pcm >> 8);
            if (width == 3)
                out[2] = char(pcm >> 16);
        }
        if (file.write(block.constData(), count * width) != count * width)
            return false;
    }
    return file.commit();
}

// Headers, frame bookkeeping and the writers' own checks on top of the
// bytes themselves.
constexpr double PlainWriteGoal = 1.5;

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QString dir = Bench::workDir();
    const QString wav = dir + "/long10min.wav";
    const QString monoWav = dir + "/long10min-mono.wav";
    const QString mp3 = dir + "/long10min.mp3";
    const QString flac = dir + "/long10min.flac";
    const QString ogg = dir + "/long10min.ogg";
    // Music-like material: two gliding tones over pink noise, a different mix per channel.
    if (!Bench::ensureInput(wav, "sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                                         "600", "sine", "110-1760", "sine", "220-880", "pinknoise",
                                         "mix", "vol", "0.5"})
        && !Bench::ensureInput(wav, "sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                                            "600", "pinknoise", "vol", "0.5"}))
        return 1;
    if (!Bench::ensureInput(monoWav, "sox", {wav, monoWav, "remix", "1-2"})
        || !Bench::ensureInput(mp3, "lame", {"--quiet", "-b", "192", wav, mp3})
        || !Bench::ensureInput(flac, "flac", {"-s", "-f", "-o", flac, wav})
        || !Bench::ensureInput(ogg, "oggenc", {"-Q", "-q", "5", wav, "-o", ogg}))
        return 1;

    bool allOk = true;
    const QStringList toNull{"-f", "f32le", "-y", "/dev/null"};
    struct Input {
        const char* name;
        QString path;
    };
    AudioProcessor loaded;
    for (const Input& in : {Input{"decode WAV (10 min stereo)", wav}, Input{"decode MP3", mp3},
                            Input{"decode FLAC", flac}, Input{"decode Ogg Vorbis", ogg}}) {
        bool ok = true;
        const double ours = Bench::timeBest([&] { ok = loaded.loadAudioFile(in.path) && ok; });
        const double ref = Bench::timeCommand("ffmpeg", QStringList{"-v", "quiet", "-i", in.path} + toNull);
        allOk = Bench::report(in.name, ok ? ours : 1e9, ref, "ffmpeg: decode to raw float, discarded", 1.0)
                && allOk;
    }

    // Frames numbered 0, 0, 1, 0, 2, 0, ... (every second one repeats the
    // first) cost only what they write: the decoding time grows with the
    // file, as for the same frames numbered in order, both on one core.
    {
        constexpr int Frames = 40000, BlockSize = 1024;
        QList<qint64> behind;
        for (int k = 0; k < Frames; ++k)
            behind << (k % 2 ? 0 : qint64(BlockSize) * (k / 2));
        const QByteArray numberedBehind = CraftedFlac::flacFrames(behind, 0, BlockSize);
        const QByteArray inOrder = CraftedFlac::flacFrames(CraftedFlac::blockStarts(0, Frames, BlockSize), 0, BlockSize);
        bool ok = true;
        const auto decode = [&](const QByteArray& bytes) {
            DecodedAudio decoded;
            ok = FlacDecoder::decode(bytes, decoded, 1) && ok;
        };
        const double ours = Bench::timeBest([&] { decode(numberedBehind); });
        const double ref = Bench::timeBest([&] { decode(inOrder); });
        allOk = Bench::report("decode FLAC, 40 000 frames numbered behind", ok ? ours : 1e9, ref,
                              "the same 40 000 frames numbered in order, our decoder", 2.0)
                && allOk;
    }

    // Writers take the decoded stereo list of the WAV.
    if (!loaded.loadAudioFile(wav))
        return 1;
    const QList<float> stereo = loaded.stereoSamples;
    const QList<float> mono = loaded.samples;
    struct Output {
        const char* name;
        QString file;
        int bits;
    };
    for (const Output& out : {Output{"write WAV 16-bit", dir + "/out16.wav", 16},
                              Output{"write WAV 32-bit float", dir + "/out32.wav", 32},
                              Output{"write FLAC 16-bit", dir + "/out16.flac", 16},
                              Output{"write FLAC 24-bit", dir + "/out24.flac", 24}}) {
        bool ok = true;
        const double ours = Bench::timeBest([&] {
            ok = loaded.saveAudioFile(out.file, stereo, 44100, 2, out.bits) && ok;
        });
        bool plainOk = true;
        const double plain = Bench::timeBest(
            [&] { plainOk = writePlainPcm(dir + "/plain.pcm", stereo, out.bits) && plainOk; });
        allOk = Bench::report(out.name, ok ? ours : 1e9, plainOk ? plain : -1.0,
                              QStringLiteral("plain write of the same %1-bit PCM bytes").arg(out.bits),
                              PlainWriteGoal)
                && allOk;
    }

    bool ok = true;
    const double oursMp3 = Bench::timeBest(
        [&] { ok = loaded.saveAudioFile(dir + "/out.mp3", mono, 44100, 1, 16) && ok; }, 2);
    const double lame = Bench::timeCommand(
        "lame", {"--quiet", "-q", "2", "-b", "192", "--cbr", "-m", "m", monoWav, dir + "/ref.mp3"}, 2);
    allOk = Bench::report("write MP3 mono 192 kbit/s", ok ? oursMp3 : 1e9, lame,
                          "lame -q 2 -b 192 -m m: reads the mono WAV, writes the MP3", 1.1)
            && allOk;

    std::printf("peak resident memory: %.0f MB\n", Bench::peakResidentBytes() / 1e6);
    return allOk ? 0 : 1;
}
