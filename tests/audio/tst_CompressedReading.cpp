// MP3, FLAC and Ogg Vorbis reading of files made at test time with the
// command-line encoders, checked against an independent decode of the same
// files: FLAC exactly, MP3 and Ogg by correlation and spectral peak.

#include "audio/AudioProcessor.h"

#include "OggPages.h"
#include "TestSupport.h"

#include <QLibraryInfo>
#include <QResource>
#include <QtEndian>
#include <QtTest/QtTest>
#include <cmath>
#include <cstring>
#ifdef CDW_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

bool haveTools()
{
    for (const char* tool : {"sox", "ffmpeg", "flac", "lame", "oggenc"})
        if (!TestSupport::hasCommand(tool))
            return false;
    return true;
}

QList<float> floatsFrom(const QByteArray& raw)
{
    QList<float> out(raw.size() / 4);
    std::memcpy(out.data(), raw.constData(), size_t(out.size()) * 4);
    return out;
}

// ffmpeg's own decoders (gapless for MP3 with a LAME tag) as the reference.
QList<float> ffmpegDecode(const QString& path)
{
    QByteArray raw;
    if (!TestSupport::runCommand("ffmpeg", {"-v", "error", "-i", path, "-f", "f32le", "-"}, &raw))
        return {};
    return floatsFrom(raw);
}

QList<float> soxDecode(const QString& path)
{
    QByteArray raw;
    if (!TestSupport::runCommand("sox", {path, "-t", "raw", "-e", "floating-point", "-b", "32", "-"}, &raw))
        return {};
    return floatsFrom(raw);
}

QList<float> channel(const QList<float>& interleaved, int channels, int c)
{
    QList<float> out;
    for (qsizetype i = c; i < interleaved.size(); i += channels)
        out << interleaved[i];
    return out;
}

// Normalised correlation of a and b over their common length.
double correlation(const QList<float>& a, const QList<float>& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    double ab = 0, aa = 0, bb = 0;
    for (qsizetype i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0.0;
}

// Frequency of the strongest bin of an 8192-point spectrum from the middle.
double peakFrequency(const QList<float>& mono, int rate)
{
#ifdef CDW_HAVE_FFTW
    const int n = 8192;
    if (mono.size() < n)
        return 0.0;
    std::vector<float> in(n);
    const qsizetype start = (mono.size() - n) / 2;
    for (int i = 0; i < n; ++i)
        in[i] = mono[start + i] * float(0.5 - 0.5 * std::cos(2 * M_PI * i / n));
    std::vector<fftwf_complex> out(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in.data(), out.data(), FFTW_ESTIMATE);
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    int best = 1;
    double bestMag = 0;
    for (int k = 1; k <= n / 2; ++k) {
        const double mag = std::hypot(out[k][0], out[k][1]);
        if (mag > bestMag) {
            bestMag = mag;
            best = k;
        }
    }
    return double(best) * rate / n;
#else
    Q_UNUSED(mono);
    Q_UNUSED(rate);
    return -1.0;
#endif
}

QString sourceWav(const QString& dir, const QString& name, int channels, int rate, int bits,
                  double seconds)
{
    const QString path = dir + "/" + name + ".wav";
    QStringList args{"-n", "-r", QString::number(rate), "-c", QString::number(channels), "-b",
                     QString::number(bits), path, "synth", QString::number(seconds)};
    for (int c = 0; c < channels; ++c)
        args << "sine" << QString::number(440 + 220 * c);
    args << "vol" << "0.5";
    return TestSupport::runCommand("sox", args) ? path : QString();
}

// Writes a file whole; false when it could not.
bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class CompressedReadingTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString encode(const QString& tool, const QStringList& args, const QString& out)
    {
        return TestSupport::runCommand(tool, args) ? m_dir.filePath(out) : QString();
    }

    // The undamaged file the damage rows start from, with ffmpeg's decode of
    // it: 30 s of a sweep in pink noise (digitally silent from 10 s to 20 s
    // when asked), encoded once per kind, VBR and (MP3) resampled when asked.
    struct CleanFile {
        QByteArray bytes;
        QList<float> sound;
    };
    QHash<QString, CleanFile> m_clean;

    // The sweep as a WAV file, made once; empty when it cannot be made.
    QString sweepWav(bool silent)
    {
        const int second = 44100 * 4;
        const QString wav = m_dir.filePath(silent ? "sweep-silent.wav" : "sweep.wav");
        QFile w(wav);
        const bool made = w.exists()
            || (TestSupport::runCommand("sox", {"-R", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "30",
                                                "sine", "200-3000", "pinknoise", "vol", "0.5"})
                && (!silent || (w.open(QIODevice::ReadWrite) && w.seek(w.readAll().indexOf("data") + 8 + 10 * second)
                                && w.write(QByteArray(10 * second, '\0')) >= 0)));
        if (!made)
            w.remove();
        return made ? wav : QString();
    }

    const CleanFile* cleanFile(const QString& kind, bool silent, bool vbr, int rate = 44100)
    {
        const QString key = kind + (silent ? " silent" : "") + (vbr ? " vbr" : "") + QString::number(rate);
        if (!m_clean.contains(key)) {
            const QString wav = sweepWav(silent);
            const QString file = m_dir.filePath("clean." + kind);
            QStringList encoder = kind == "mp3"   ? QStringList{"lame", "--quiet", wav, file}
                                  : kind == "ogg" ? QStringList{"oggenc", "-Q", "-s", "1", wav, "-o", file}
                                                  : QStringList{"flac", "-s", "-f", wav, "-o", file};
            if (vbr)
                encoder.insert(2, QStringLiteral("-V2"));
            if (rate != 44100)
                encoder << "--resample" << QString::number(rate / 1000.0);
            QFile f(file);
            if (wav.isEmpty() || !TestSupport::runCommand(encoder.first(), encoder.mid(1)) || !f.open(QIODevice::ReadOnly))
                return nullptr;
            m_clean[key] = {f.readAll(), ffmpegDecode(file)};
        }
        return m_clean[key].sound.isEmpty() ? nullptr : &m_clean[key];
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!haveTools())
            QSKIP("sox, ffmpeg, flac, lame and oggenc are needed to make the inputs");
    }

    void flacIsExact_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        QTest::newRow("16-bit stereo") << 2 << 16 << 44100;
        QTest::newRow("24-bit mono") << 1 << 24 << 96000;
        QTest::newRow("16-bit 6 channels") << 6 << 16 << 48000;
        QTest::newRow("8-bit mono") << 1 << 8 << 8000;
    }

    void flacIsExact()
    {
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(int, rate);
        const QString wav = sourceWav(m_dir.path(), "flacsrc", channels, rate, bits, 0.7);
        const QString flac = m_dir.filePath("t.flac");
        QVERIFY(TestSupport::runCommand("flac", {"-s", "-f", "-o", flac, wav}));
        const QList<float> reference = soxDecode(wav);
        QVERIFY(!reference.isEmpty());

        AudioProcessor p;
        QSignalSpy loaded(&p, &AudioProcessor::audioLoaded);
        QVERIFY(p.loadAudioFile(flac));
        QVERIFY(p.damageNote().isEmpty());
        QCOMPARE(p.channels, channels);
        QCOMPARE(p.sampleRate, rate);
        const qsizetype frames = reference.size() / channels;
        QCOMPARE(p.samples.size(), frames);
        QCOMPARE(loaded.at(0).at(3).toLongLong(), qint64(frames) * 1000 / rate);
        if (channels == 2) {
            QCOMPARE(p.stereoSamples, reference);
        } else {
            QVERIFY(p.stereoSamples.isEmpty());
        }
        if (channels == 1)
            QCOMPARE(p.samples, reference);
        for (qsizetype f = 0; f < frames; ++f) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += reference[f * channels + c];
            QVERIFY(std::abs(p.samples[f] - sum / channels) < 1e-6f);
        }
    }

    void lossyAgreesWithReference_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::newRow("mp3 stereo 44100") << "mp3" << 2 << 44100;
        QTest::newRow("mp3 mono 48000") << "mp3" << 1 << 48000;
        QTest::newRow("mp3 with id3v2 tag") << "mp3-id3" << 2 << 44100;
        QTest::newRow("ogg stereo 44100") << "ogg" << 2 << 44100;
        QTest::newRow("ogg mono 22050") << "ogg" << 1 << 22050;
    }

    void lossyAgreesWithReference()
    {
        QFETCH(QString, kind);
        QFETCH(int, channels);
        QFETCH(int, rate);
        const double seconds = 2.0;
        const QString wav = sourceWav(m_dir.path(), "lossysrc", channels, rate, 16, seconds);
        QVERIFY(!wav.isEmpty());
        QString file;
        if (kind.startsWith("mp3")) {
            file = m_dir.filePath("t.mp3");
            QStringList args{"--quiet", "-b", "192"};
            if (kind == "mp3-id3")
                args << "--add-id3v2" << "--tt" << "title";
            QVERIFY(TestSupport::runCommand("lame", args << wav << file));
        } else {
            file = m_dir.filePath("t.ogg");
            QVERIFY(TestSupport::runCommand("oggenc", {"-Q", "-q", "5", wav, "-o", file}));
        }
        // ffmpeg for MP3 (gapless with the LAME tag), sox's libvorbis for Ogg.
        const QList<float> reference = kind.startsWith("mp3") ? ffmpegDecode(file) : soxDecode(file);
        QVERIFY(!reference.isEmpty());

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        QVERIFY(p.damageNote().isEmpty());
        QCOMPARE(p.channels, channels);
        QCOMPARE(p.sampleRate, rate);
        // Both decoders trim the encoder delay and padding: the source length.
        QCOMPARE(p.samples.size(), qsizetype(seconds * rate));
        QCOMPARE(reference.size(), qsizetype(seconds * rate) * channels);
        QCOMPARE(p.stereoSamples.size(), channels == 2 ? reference.size() : 0);

        for (int c = 0; c < channels; ++c) {
            const QList<float> ours = channels == 2 ? channel(p.stereoSamples, 2, c) : p.samples;
            const QList<float> ref = channel(reference, channels, c);
            const double r = correlation(ours, ref);
            QVERIFY2(r > 0.999, qPrintable(QString("channel %1 correlation %2").arg(c).arg(r)));
            const double peak = peakFrequency(ours, rate);
            if (peak >= 0) {
                const double bin = double(rate) / 8192;
                QVERIFY2(std::abs(peak - peakFrequency(ref, rate)) <= bin, qPrintable(QString::number(peak)));
                QVERIFY2(std::abs(peak - (440 + 220 * c)) <= bin, qPrintable(QString::number(peak)));
            }
        }
    }

    // Noise in the middle or a missing end: the reader decodes what the
    // damage left, at least nine tenths of what ffmpeg recovers, keeps the
    // audio after the damage where it belongs, and says what happened.
    void damagedFilesLoadAndSaySo_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("damage");
        for (const char* kind : {"mp3", "ogg", "flac"})
            for (const char* damage : {"noise", "cut"})
                QTest::addRow("%s %s", kind, damage) << kind << damage;
        // Bytes inserted, bytes or whole frames repeated, a file cut and
        // followed by a whole copy: an MP3 holding more than its tag states
        // keeps all of it. Cut early, it decodes in one piece after a scan.
        for (const char* damage : {"insert", "repeat", "repeat frames", "copy", "cut early"})
            QTest::addRow("mp3 %s", damage) << "mp3" << damage;
        // A hole in the silence of a VBR file, whose frames there are a
        // fraction of the mean size: the tag's count says how many were lost.
        QTest::newRow("mp3 vbr hole") << "mp3" << "vbr hole";
        // One or two of those small frames lost: the tag still counts them.
        QTest::newRow("mp3 small vbr hole") << "mp3" << "small vbr hole";
        // 300 bytes inserted into a file whose tag counts far more frames
        // than the bytes can hold: the tag is not believed.
        for (const char* damage : {"huge count", "raised count"})
            QTest::addRow("mp3 %s", damage) << "mp3" << damage;
        // Bytes deleted, not zeroed: a VBR file, an MPEG-2 one at 22.05 kHz
        // and a CBR one from 40 % to 50 %. Only a stub of the lost frames is
        // left, and the tag's count says how many are gone.
        for (const char* damage : {"vbr deleted", "22 kHz vbr deleted", "cbr deleted"})
            QTest::addRow("mp3 %s", damage) << "mp3" << damage;
        // Damage within the first frames after the Info frame: the stream still begins there.
        QTest::newRow("mp3 start") << "mp3" << "start";
        QTest::newRow("mp3 start after junk") << "mp3" << "start after junk";
        // A FLAC hole longer than libFLAC fills itself (5 s), and a byte
        // changed every 100 kB: each takes a frame, and libFLAC clears the
        // good frame after its silence.
        for (const char* damage : {"hole", "flips"})
            QTest::addRow("flac %s", damage) << "flac" << damage;
        // One Ogg page hurt: eight bytes of its body, or (in the silence,
        // where a page holds seconds) its segment table on, or all of it.
        for (const char* damage : {"ogg lacing", "ogg body", "ogg page"})
            QTest::addRow("%s", damage) << "ogg" << damage;
    }

    void damagedFilesLoadAndSaySo()
    {
        QFETCH(QString, kind);
        QFETCH(QString, damage);
        const int rate = damage.startsWith("22 kHz") ? 22050 : 44100;
        const bool page = damage.startsWith("ogg");
        const CleanFile* clean = cleanFile(kind, page || damage.endsWith("vbr hole"), damage.contains("vbr"), rate);
        QVERIFY(clean);
        const QList<float>& sound = clean->sound;
        const QString file = m_dir.filePath("damaged." + kind);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray bytes = clean->bytes;
        qsizetype changed = 0;
        if (damage == "noise" || damage == "insert") {
            quint32 x = 99;
            if (damage == "insert")
                bytes.insert(bytes.size() / 2, QByteArray(20480, '\0'));
            for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 20480; ++i, x = x * 1103515245u + 12345u)
                bytes[i] = char(x >> 24);
        } else if (damage.startsWith("start")) {
            bytes.replace(700, bytes.size() / 50, QByteArray(bytes.size() / 50, '\0'));
            if (damage.endsWith("junk"))
                bytes.prepend(QByteArray(100, '\x11'));
        } else if (damage.endsWith("hole")) {
            const qsizetype from = damage == "hole" ? bytes.size() / 4 : bytes.size() * 12 / 25;
            const qsizetype size = damage == "small vbr hole" ? 150 : bytes.size() / (damage == "hole" ? 5 : 25);
            bytes.replace(from, size, QByteArray(size, '\0'));
        } else if (damage.endsWith("deleted")) {
            bytes.remove(bytes.size() * 2 / 5, damage == "cbr deleted"  ? bytes.size() / 10
                                               : damage == "vbr deleted" ? 1000
                                                                         : bytes.size() / 25);
        } else if (damage == "flips") {
            for (qsizetype i = bytes.size() / 10; i < bytes.size() * 6 / 10; i += 100000, ++changed)
                bytes[i] = char(bytes[i] ^ 0x10);
        } else if (damage.startsWith("repeat")) {
            // 20480 bytes are 49 frames at 128 kbit/s, 44.1 kHz.
            const qsizetype n = damage == "repeat" ? 20000 : 20480;
            bytes.insert(bytes.size() / 2, bytes.mid(bytes.size() / 2 - n, n));
        } else if (damage.endsWith("count")) {
            qToBigEndian(damage == "huge count" ? 4000000000u : 100000u, bytes.data() + bytes.indexOf("Info") + 8);
            bytes.insert(bytes.size() / 2, QByteArray(300, '\x55'));
        } else if (damage == "copy") {
            bytes.prepend(bytes.left(bytes.size() * 2 / 5));
        } else if (page) {
            qsizetype at = 0;
            for (const OggPage& p : oggPages(bytes)) {
                const qsizetype size = p.header.size() + p.lacing.size() + p.body.size();
                if (quint8(p.header[8]) << 16 >= (damage == "ogg body" ? 5 : 12) * rate) {
                    if (damage == "ogg body") {
                        for (int i = 1; i <= 8; ++i)
                            bytes[at + size * i / 9] = char(~bytes[at + size * i / 9]);
                    } else {
                        const qsizetype from = at + (damage == "ogg page" ? 0 : 60);
                        bytes.replace(from, at + size - from, QByteArray(at + size - from, '\x55'));
                    }
                    break;
                }
                at += size;
            }
        } else {
            bytes.truncate(bytes.size() * (damage == "cut" ? 3 : 1) / 5);
        }
        QVERIFY(f.resize(0) && f.write(bytes) == bytes.size());
        f.close();
        const QList<float> outside = ffmpegDecode(file);
        QVERIFY(outside.size() > 2 * 5 * rate);

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        // A cut file followed by a whole copy is two files joined, read in turn.
        const QString joined = damage == "copy" ? "；文件由 2 段音频串联而成，已依次全部导入（[0-9.]+ 秒）" : "";
        const QRegularExpressionMatch said =
            QRegularExpression(damage.startsWith("cut") ? "^文件不完整，已恢复 ([0-9.]+) 秒音频$"
                                               : "^文件已损坏，已恢复 ([0-9.]+) 秒音频(，损坏处以 ([0-9.]+) 秒静音代替)?" + joined + "$")
                .match(p.damageNote());
        QVERIFY2(said.hasMatch(), qPrintable(p.damageNote()));
        const double recovered = said.captured(1).toDouble();
        QVERIFY2(recovered >= 0.9 * outside.size() / 2 / rate, qPrintable(p.damageNote()));
        QVERIFY(std::abs(recovered + said.captured(3).toDouble() - double(p.samples.size()) / rate) <= 0.1);
        // The start is exact, without the encoder's delay.
        QVERIFY(damage.startsWith("start") || correlation(p.stereoSamples.first(2 * rate), sound.first(2 * rate)) > 0.99);
        if (kind == "flac" && damage != "cut") {
            // Lossless: each frame is the file's own or silence, which the note counts.
            QCOMPARE(p.stereoSamples.size(), sound.size());
            qsizetype silent = 0;
            for (qsizetype i = 0; i < sound.size(); i += 2) {
                const bool same = p.stereoSamples[i] == sound[i] && p.stereoSamples[i + 1] == sound[i + 1];
                QVERIFY(same || (p.stereoSamples[i] == 0.0f && p.stereoSamples[i + 1] == 0.0f));
                silent += same ? 0 : 1;
            }
            QVERIFY2(std::abs(said.captured(3).toDouble() - double(silent) / rate) < 0.06, qPrintable(p.damageNote()));
            // A changed byte costs its own frame (4096 values a channel), no more.
            if (damage == "flips")
                QVERIFY2(silent <= changed * 4096, qPrintable(p.damageNote()));
        }
        if (!damage.startsWith("cut")) {
            // What follows the damage keeps its time: the last nine seconds
            // are those of the file before it was damaged, at the end. What
            // was repeated stays, as in ffmpeg. Nothing louder than the
            // sound comes out of the damage. The whole copy is all of the
            // sound, without its tag frame and encoder delay, right after
            // what the cut part holds.
            if (damage.startsWith("repeat"))
                QVERIFY2(p.stereoSamples.size() >= outside.size() - 2 * 1152 * 2, qPrintable(p.damageNote()));
            else if (damage == "copy")
                QVERIFY2(std::abs(p.stereoSamples.size() - sound.size() * 7 / 5) <= 2 * 1152 * 2
                             && correlation(p.stereoSamples.last(sound.size()), sound) > 0.99,
                         qPrintable(p.damageNote()));
            else if (damage.endsWith("count")) // at most the frame the bytes may have held
                QVERIFY2(std::abs(p.stereoSamples.size() - sound.size()) <= 2 * 1152, qPrintable(p.damageNote()));
            else
                QCOMPARE(p.stereoSamples.size(), sound.size());
            // Deleted bytes: the note's silence is about what ffmpeg's
            // decode, which closes the hole, lacks (each silences or drops
            // a few frames beside the hole).
            const double lacking = double(sound.size() - outside.size()) / 2 / rate;
            QVERIFY2(!damage.endsWith("deleted") || std::abs(said.captured(3).toDouble() - lacking) <= 0.2,
                     qPrintable(QString("%1 for %2 s").arg(p.damageNote()).arg(lacking)));
            const qsizetype tail = 2 * 9 * rate;
            QVERIFY(correlation(p.stereoSamples.last(tail), sound.last(tail)) > 0.99);
            auto peak = [](const QList<float>& values) {
                return std::abs(*std::max_element(values.begin(), values.end(),
                                                  [](float a, float b) { return std::abs(a) < std::abs(b); }));
            };
            // (Seamlessly repeated frames are no damage to be muted: the
            // first of them draws on the wrong bit reservoir, in ffmpeg too.)
            QVERIFY2(damage == "repeat frames" || peak(p.stereoSamples) <= 1.01f * peak(sound),
                     qPrintable(QString("%1 against %2").arg(peak(p.stereoSamples)).arg(peak(sound))));
        }
    }

    // A tag's count that the damage cannot account for: one still counting
    // the whole of a file cut after whole frames, or one raised by 30 %
    // beside bytes cut out, is not believed; where several stretches were
    // overwritten, each takes what its bytes held. Every half second then
    // holds the file's own sound at its own time, or silence.
    void mp3CountAgainstDamage_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("stale count, file cut at a frame") << "stale";
        QTest::newRow("raised count, bytes deleted") << "raised";
        QTest::newRow("vbr, three stretches overwritten") << "holes";
    }

    void mp3CountAgainstDamage()
    {
        QFETCH(QString, damage);
        const int rate = 44100;
        const CleanFile* clean = cleanFile("mp3", damage == "holes", damage == "holes");
        QVERIFY(clean);
        QByteArray bytes = clean->bytes;
        // The constant bit rate's frames: 417 bytes, 418 with the padding slot.
        auto frameAfter = [&](qsizetype at) {
            for (qsizetype f = bytes.indexOf("\xFF\xFB"); f >= 0; f += 417 + ((bytes[f + 2] >> 1) & 1))
                if (f >= at)
                    return f;
            return qsizetype(-1);
        };
        if (damage == "stale") {
            bytes.truncate(frameAfter(bytes.size() * 55 / 100));
            bytes.replace(frameAfter(bytes.size() / 3) - 150, 300, QByteArray(300, '\x55'));
        } else if (damage == "raised") {
            const qsizetype at = bytes.indexOf("Info") + 8;
            qToBigEndian(qFromBigEndian<quint32>(bytes.constData() + at) * 13 / 10, bytes.data() + at);
            bytes.remove(bytes.size() * 2 / 5, bytes.size() / 10);
        } else {
            for (const auto& [from, size] : {std::pair{10, 4000}, {45, 3000}, {80, 8000}})
                bytes.replace(bytes.size() * from / 100, size, QByteArray(size, '\0'));
        }
        const QString file = m_dir.filePath("count.mp3");
        QVERIFY(writeBytes(file, bytes));

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        QVERIFY2(p.damageNote().startsWith("文件已损坏"), qPrintable(p.damageNote()));
        const QList<float>& sound = clean->sound;
        const QList<float>& got = p.stereoSamples;
        if (damage == "stale") // what the frames left hold, no more
            QVERIFY2(std::abs(got.size() - sound.size() * 55 / 100) <= 2 * 1152 * 2, qPrintable(p.damageNote()));
        else
            QVERIFY2(std::abs(got.size() - sound.size()) <= 2 * 1152, qPrintable(p.damageNote()));
        const qsizetype window = 2 * rate / 2;
        for (qsizetype at = 0; at + window <= std::min(got.size(), sound.size()); at += window) {
            double misplaced = 0;
            double energy = 0;
            for (qsizetype i = at; i < at + window; ++i) {
                misplaced += std::min(double(got[i] - sound[i]) * (got[i] - sound[i]), double(got[i]) * got[i]);
                energy += double(sound[i]) * sound[i];
            }
            QVERIFY2(misplaced <= 0.2 * energy + 1e-6,
                     qPrintable(QString("at %1 s: %2").arg(double(at) / 2 / rate).arg(p.damageNote())));
        }
    }

    // MP3 files joined end to end, each with its Info tag (and ID3 tags when
    // asked): read part after part, each without its tag frame, encoder
    // delay and padding, as ffmpeg decodes each file alone. A part at
    // another rate ends the reading, and the note says so.
    void mp3FilesJoinedEndToEnd_data()
    {
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<int>("count");
        QTest::newRow("two files") << QStringList{} << 2;
        QTest::newRow("three files with ID3 tags") << QStringList{"--tt", "title", "--add-id3v2"} << 3;
        QTest::newRow("second file at 48 kHz") << QStringList{"--resample", "48"} << 2;
    }

    void mp3FilesJoinedEndToEnd()
    {
        QFETCH(QStringList, tags);
        QFETCH(int, count);
        const bool otherRate = tags.contains("--resample");
        QByteArray joined;
        QList<float> reference;
        for (int i = 0; i < count; ++i) {
            const QString wav = m_dir.filePath("part.wav");
            const QString mp3 = m_dir.filePath(QString("part%1.mp3").arg(i));
            QVERIFY(TestSupport::runCommand("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                                                    QString::number(1.0 + 0.5 * i), "sine", "200-3000", "pinknoise"}));
            const QStringList options = otherRate && i == 0 ? QStringList{} : tags;
            QVERIFY(TestSupport::runCommand("lame", QStringList{"--quiet", "-b", "128"} + options + QStringList{wav, mp3}));
            joined += TestSupport::fileBytes(mp3);
            if (!otherRate || i == 0)
                reference += ffmpegDecode(mp3);
        }
        const QString file = m_dir.filePath("joined.mp3");
        QVERIFY(writeBytes(file, joined));

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        if (otherRate)
            QVERIFY2(p.damageNote().startsWith("文件由多段音频串联而成，只导入了第一段")
                         && p.damageNote().endsWith("，第 2 段为 48000 Hz（前面为 44100 Hz）"),
                     qPrintable(p.damageNote()));
        else
            QCOMPARE(p.damageNote(), QString("文件由 %1 段音频串联而成，已依次全部导入（%2 秒）")
                                         .arg(count).arg(double(reference.size()) / 2 / 44100, 0, 'f', 1));
        QCOMPARE(p.stereoSamples.size(), reference.size());
        const qsizetype last = reference.size() / 3;
        QVERIFY(correlation(p.stereoSamples.last(last), reference.last(last)) > 0.999);
    }

    // Without a Xing/Info tag an MP3's length is a guess from its size:
    // nothing is trimmed to it, and an intact file is not called incomplete.
    void mp3WithoutLengthTag_data()
    {
        QTest::addColumn<QStringList>("encoder");  // %i / %o = files
        QTest::addColumn<bool>("damaged");
        const QStringList lame{"lame", "--quiet", "-t", "%i", "%o"};
        const QStringList ffmpeg{"ffmpeg", "-v", "quiet", "-y", "-i", "%i", "-write_xing", "0", "%o"};
        QTest::newRow("lame -t") << lame << false;
        QTest::newRow("ffmpeg -write_xing 0") << ffmpeg << false;
        QTest::newRow("lame -t -V 2, a frame zeroed") << QStringList{"lame", "--quiet", "-t", "-V", "2", "%i", "%o"}
                                                      << true;
    }

    void mp3WithoutLengthTag()
    {
        QFETCH(QStringList, encoder);
        QFETCH(bool, damaged);
        const QString wav = sweepWav(false);
        const QString file = m_dir.filePath("untagged.mp3");
        QVERIFY(!wav.isEmpty());
        encoder.replaceInStrings("%i", wav).replaceInStrings("%o", file);
        QVERIFY(TestSupport::runCommand(encoder.first(), encoder.mid(1)));
        if (damaged) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const QByteArray bytes = f.readAll();
            QVERIFY(f.seek(bytes.indexOf("\xFF\xFB", bytes.size() / 2)));
            f.write(QByteArray(400, '\0'));
        }
        const QList<float> reference = ffmpegDecode(file);
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        if (!damaged) {
            QVERIFY2(p.damageNote().isEmpty(), qPrintable(p.damageNote()));
            QCOMPARE(p.stereoSamples.size(), reference.size());
        } else {
            QVERIFY2(p.damageNote().startsWith("文件已损坏"), qPrintable(p.damageNote()));
            QVERIFY2(p.stereoSamples.size() >= reference.size(), qPrintable(p.damageNote()));
            QVERIFY(correlation(p.stereoSamples.last(2 * 44100), reference.last(2 * 44100)) > 0.99);
        }
    }

    // A last frame a few bytes short (a split file, a stream recording) is
    // no news: less than a frame is missing and nothing says more should follow.
    void mp3LastFrameCutShortLoadsQuietly()
    {
        const QString wav = sourceWav(m_dir.path(), "split", 2, 44100, 16, 2.0);
        const QString file = m_dir.filePath("split.mp3");
        QVERIFY(TestSupport::runCommand("lame", {"--quiet", wav, file}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() - 10));
        f.close();
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        QVERIFY2(p.damageNote().isEmpty(), qPrintable(p.damageNote()));
        QVERIFY(p.samples.size() > 2 * 44100 - 1152);
    }

    // A file whose end was zeroed (space a download reserved) says it is
    // incomplete, also without a stated length: an untagged MP3, a FLAC
    // written to a pipe.
    void zeroFilledEndIsIncomplete()
    {
        const QString wav = sourceWav(m_dir.path(), "zeroed", 2, 44100, 16, 4.0);
        const QString mp3 = m_dir.filePath("zeroed.mp3");
        const QString flac = m_dir.filePath("zeroed.flac");
        QVERIFY(TestSupport::runCommand("lame", {"--quiet", "-t", wav, mp3}));
        QVERIFY(TestSupport::runCommand("sh", {"-c", "ffmpeg -v quiet -i '" + wav + "' -f flac - > '" + flac + "'"}));
        for (const QString& file : {mp3, flac}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(f.size() / 2) && f.write(QByteArray(f.size() - f.pos(), '\0')));
            f.close();
            AudioProcessor p;
            QVERIFY(p.loadAudioFile(file));
            QVERIFY2(p.damageNote().startsWith(QStringLiteral("文件不完整")), qPrintable(file + p.damageNote()));
        }
    }

    // A tone 70 dB over full scale stays within +48 dBFS on every decoding
    // path: a short Ogg decodes sequentially, a damaged MP3 run by run.
    void loudFilesStayWithinBound_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::newRow("ogg") << "libvorbis";
        QTest::newRow("damaged mp3") << "libmp3lame";
    }

    void loudFilesStayWithinBound()
    {
        QFETCH(QString, codec);
        const QString file = m_dir.filePath(codec == "libvorbis" ? "loud.ogg" : "loud.mp3");
        QVERIFY(TestSupport::runCommand("ffmpeg", {"-v", "quiet", "-y", "-f", "lavfi", "-i",
                                                   "sine=f=440:d=3,volume=70dB", "-c:a", codec, file}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (codec == "libmp3lame") {
            QVERIFY(f.seek(f.size() / 2));
            f.write(QByteArray(2000, '\x55'));
        }
        f.close();
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(file));
        float peak = 0.0f;
        for (float v : p.samples)
            peak = std::max(peak, std::abs(v));
        QVERIFY2(peak > 128.0f && peak <= 256.0f, qPrintable(QString::number(peak)));
    }

    // Files inside Qt resources (the piano's samples) read like files on disk.
    void readsFromQtResources()
    {
        const QString wav = sourceWav(m_dir.path(), "res", 2, 44100, 16, 0.5);
        QVERIFY(TestSupport::runCommand("lame", {"--quiet", wav, m_dir.filePath("r.mp3")}));
        QVERIFY(TestSupport::runCommand("flac", {"-s", "-f", "-o", m_dir.filePath("r.flac"), wav}));
        QVERIFY(TestSupport::runCommand("oggenc", {"-Q", wav, "-o", m_dir.filePath("r.ogg")}));
        QFile::copy(wav, m_dir.filePath("r.wav"));
        QFile qrc(m_dir.filePath("r.qrc"));
        QVERIFY(qrc.open(QIODevice::WriteOnly));
        qrc.write("<RCC><qresource prefix=\"/t\"><file>r.mp3</file><file>r.flac</file>"
                  "<file>r.ogg</file><file>r.wav</file></qresource></RCC>");
        qrc.close();
        const QString rcc = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/rcc";
        const QString rccOut = m_dir.filePath("r.rcc");
        QVERIFY(TestSupport::runCommand(rcc, {"--binary", qrc.fileName(), "-o", rccOut}));
        QVERIFY(QResource::registerResource(rccOut));

        for (const char* ext : {"mp3", "flac", "ogg", "wav"}) {
            AudioProcessor fromDisk;
            AudioProcessor fromResource;
            QVERIFY(fromDisk.loadAudioFile(m_dir.filePath(QString("r.%1").arg(ext))));
            QVERIFY2(fromResource.loadAudioFile(QString(":/t/r.%1").arg(ext)), ext);
            QCOMPARE(fromResource.samples, fromDisk.samples);
            QCOMPARE(fromResource.stereoSamples, fromDisk.stereoSamples);
            QCOMPARE(fromResource.sampleRate, 44100);
        }
        QResource::unregisterResource(rccOut);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QByteArray noise(20000, '\0');
        quint32 x = 12345;
        for (char& ch : noise) {
            x = x * 1103515245u + 12345u;
            ch = char(x >> 24);
        }
        QTest::newRow("garbage mp3") << "g.mp3" << QByteArray(30000, '\0') << "MP3解码失败: %1";
        QTest::newRow("empty mp3") << "e.mp3" << QByteArray() << "MP3解码失败: %1";
        QTest::newRow("garbage flac") << "g.flac" << noise << "FLAC解码失败: %1";
        QTest::newRow("flac signature only") << "s.flac" << QByteArray("fLaC") << "FLAC解码失败: %1";
        QTest::newRow("garbage ogg") << "g.ogg" << noise << "OGG解码失败 (错误码 %2): %1";
        QTest::newRow("empty ogg") << "e.ogg" << QByteArray() << "OGG解码失败 (错误码 %2): %1";
        const QByteArray bos = QByteArray("OggS\0\x02", 6).leftJustified(27, '\0');
        QTest::newRow("ogg opus") << "o.ogg" << pageBytes({bos, {10}, "OpusHead\x01\x02"}) << "不支持的OGG编码格式 (Opus): %1";
        QTest::newRow("ogg flac") << "f.ogg" << pageBytes({bos, {6}, "\x7f" "FLAC\x01"}) << "不支持的OGG编码格式 (FLAC): %1";
        QTest::newRow("ogg opus beside a skeleton") << "so.ogg" << pageBytes({bos, {8}, QByteArray("fishead\0", 8)})
                                                                      + pageBytes({bos, {10}, "OpusHead\x01\x02"})
                                                 << "不支持的OGG编码格式 (Opus): %1";
    }

    void failures()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(name);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        checkFailure(path, message);
    }

    void missingFiles()
    {
        checkFailure(m_dir.filePath("absent.mp3"), "无法打开文件: %1");
        checkFailure(m_dir.filePath("absent.ogg"), "无法打开文件: %1");
        // The FLAC reader reports an unreadable file as a failed decode.
        checkFailure(m_dir.filePath("absent.flac"), "FLAC解码失败: %1");
    }

    // An Ogg stream with headers but no audio packet decodes to nothing: a failure.
    void oggWithoutAudioFails()
    {
        const QString wav = m_dir.filePath("empty.wav");
        QVERIFY(TestSupport::runCommand("sox", {"-n", "-r", "44100", "-c", "1", "-b", "16", wav, "trim", "0", "0"}));
        const QString ogg = m_dir.filePath("empty.ogg");
        QVERIFY(TestSupport::runCommand("oggenc", {"-Q", wav, "-o", ogg}));
        checkFailure(ogg, "OGG解码失败 (错误码 %2): %1");
    }

    // Of a chained file (a long stream after a short one, as a joined
    // recording) the first stream is read, and the note says what was left.
    void chainedOggSaysWhatIsLeft()
    {
        const QString first = m_dir.filePath("first.ogg");
        QVERIFY(TestSupport::runCommand("oggenc", {"-Q", sourceWav(m_dir.path(), "first", 2, 44100, 16, 2.0), "-o", first}));
        QVERIFY(TestSupport::runCommand("sh", {"-c", "oggenc -Q '" + sourceWav(m_dir.path(), "second", 2, 44100, 16, 8.0) + "' -o - >> '" + first + "'"}));
        AudioProcessor p;
        QVERIFY(p.loadAudioFile(first));
        QCOMPARE(p.samples.size(), 2 * 44100);
        QCOMPARE(p.damageNote(), QStringLiteral("文件由多段音频串联而成，只导入了第一段（2.0 秒）"));
    }

    // A last page claiming 2^40 frames (its checksum made to match) must
    // not size any buffer.
    void oggForgedLengthIsNotTrusted()
    {
        const QString wav = sourceWav(m_dir.path(), "forged", 1, 44100, 16, 3.0);
        const QString ogg = m_dir.filePath("forged.ogg");
        QVERIFY(TestSupport::runCommand("oggenc", {"-Q", wav, "-o", ogg}));
        QFile f(ogg);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QList<OggPage> pages = oggPages(f.readAll());
        QVERIFY(pages.size() > 3);
        const quint64 granule = quint64(1) << 40;
        for (int i = 0; i < 8; ++i)
            pages.last().header[6 + i] = char((granule >> (8 * i)) & 0xFF);
        QByteArray bytes;
        for (const OggPage& page : pages)
            bytes += pageBytes(page);
        f.seek(0);
        f.write(bytes);
        f.close();

        AudioProcessor p;
        QVERIFY(p.loadAudioFile(ogg));
        // Without a believable end position the edges are trimmed differently.
        QVERIFY2(std::abs(p.samples.size() - 3 * 44100) <= 4096, qPrintable(QString::number(p.samples.size())));
    }

private:
    void checkFailure(const QString& path, const QString& message)
    {
        AudioProcessor p;
        p.noiseProfile = {3.0f};
        QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
        QVERIFY(!p.loadAudioFile(path));
        QCOMPARE(errors.count(), 1);
        const QString text = errors.at(0).at(0).toString();
        if (message.contains("%2")) {
            // The Ogg text carries stb_vorbis's error code before the path.
            const QRegularExpression re(QRegularExpression::escape(message.section("%2", 0, 0))
                                        + "-?\\d+" + QRegularExpression::escape(message.section("%2", 1).arg(path)));
            QVERIFY2(re.match(text).hasMatch(), qPrintable(text));
            QVERIFY(text.endsWith(path));
        } else {
            QCOMPARE(text, message.arg(path));
        }
        QVERIFY(p.samples.isEmpty());
        QVERIFY(p.stereoSamples.isEmpty());
        QCOMPARE(p.sampleRate, 44100);
        QCOMPARE(p.channels, 2);
        QCOMPARE(p.noiseProfile, QList<float>{3.0f});
    }
};

QTEST_GUILESS_MAIN(CompressedReadingTest)
#include "tst_CompressedReading.moc"
