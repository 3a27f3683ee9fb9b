// Seeded mutations of valid WAV files (truncations, huge chunk sizes, zero
// channels, odd bit depths, random bytes) through the WAV reader under the
// sanitizers: no fault, and every outcome is reported by result.

#include "audio/AudioProcessor.h"
#include "audio/codecs/WavReader.h"

#include <QRandomGenerator>
#include <QtTest/QtTest>

namespace {

void putU16(QByteArray& b, qsizetype at, quint16 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void putU32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
void appendU32(QByteArray& b, quint32 v)
{
    b.append(4, '\0');
    putU32(b, b.size() - 4, v);
}

QByteArray chunk(const char* id, const QByteArray& body)
{
    QByteArray b(id, 4);
    appendU32(b, quint32(body.size()));
    b += body;
    if (body.size() & 1)
        b.append('\0');
    return b;
}

QByteArray fmtBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits, bool extensible)
{
    QByteArray b(extensible ? 40 : 16, '\0');
    putU16(b, 0, extensible ? 0xFFFE : tag);
    putU16(b, 2, channels);
    putU32(b, 4, rate);
    putU32(b, 8, rate * channels * bits / 8);
    putU16(b, 12, quint16(channels * bits / 8));
    putU16(b, 14, bits);
    if (extensible) {
        putU16(b, 16, 22);
        putU16(b, 18, bits);
        putU16(b, 24, tag);
        b.replace(26, 14, QByteArray::fromHex("000000001000800000AA00389B71"));
    }
    return b;
}

QByteArray wav(quint16 tag, quint16 channels, quint16 bits, int frames, bool extensible,
               bool listFirst, QRandomGenerator& rng)
{
    QByteArray data(frames * channels * (bits / 8), '\0');
    for (char& c : data)
        c = char(rng.bounded(256));
    QByteArray chunks;
    if (listFirst)
        chunks += chunk("LIST", QByteArray("INFOISFT\x05\0\0\0abcde", 17));
    chunks += chunk("fmt ", fmtBody(tag, channels, 44100, bits, extensible));
    chunks += chunk("data", data);
    QByteArray file("RIFF\0\0\0\0WAVE", 12);
    putU32(file, 4, quint32(chunks.size() + 4));
    return file + chunks;
}

// Offsets of every chunk header in a well-formed file.
QList<qsizetype> chunkHeaders(const QByteArray& b)
{
    QList<qsizetype> out;
    qsizetype pos = 12;
    while (pos + 8 <= b.size()) {
        out << pos;
        const quint32 size = quint8(b[pos + 4]) | quint8(b[pos + 5]) << 8 | quint8(b[pos + 6]) << 16
                             | quint32(quint8(b[pos + 7])) << 24;
        pos += 8 + qsizetype(size) + (size & 1);
    }
    return out;
}

QByteArray mutate(QByteArray b, QRandomGenerator& rng)
{
    const QList<qsizetype> headers = chunkHeaders(b);
    const int kinds = 1 + int(rng.bounded(3));
    for (int k = 0; k < kinds; ++k) {
        switch (rng.bounded(8)) {
        case 0:  // truncate anywhere, also inside headers
            b.truncate(rng.bounded(b.size() + 1));
            break;
        case 1: {  // a huge or odd chunk size
            if (headers.isEmpty())
                break;
            const qsizetype at = headers[rng.bounded(headers.size())] + 4;
            static const quint32 sizes[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0xFFFFFFF8u, 1, 0, 15, 17};
            if (at + 4 <= b.size())
                putU32(b, at, rng.bounded(2) ? sizes[rng.bounded(8)] : rng.generate());
            break;
        }
        case 2:  // channel count
            if (b.size() >= 36 + 8) {
                static const quint16 counts[] = {0, 1, 2, 3, 255, 65535};
                const qsizetype fmt = b.indexOf("fmt ");
                if (fmt >= 0 && fmt + 12 <= b.size())
                    putU16(b, fmt + 10, counts[rng.bounded(6)]);
            }
            break;
        case 3: {  // bit depth
            static const quint16 depths[] = {0, 1, 4, 7, 12, 17, 20, 33, 48, 64, 65535};
            const qsizetype fmt = b.indexOf("fmt ");
            if (fmt >= 0 && fmt + 24 <= b.size())
                putU16(b, fmt + 22, depths[rng.bounded(11)]);
            break;
        }
        case 4: {  // sample rate and format tag
            const qsizetype fmt = b.indexOf("fmt ");
            if (fmt >= 0 && fmt + 16 <= b.size()) {
                putU32(b, fmt + 12, rng.bounded(3) == 0 ? 0u : rng.generate());
                putU16(b, fmt + 8, quint16(rng.bounded(5)));
            }
            break;
        }
        case 5:  // random bytes
            for (int i = 0, n = 1 + int(rng.bounded(8)); i < n && !b.isEmpty(); ++i)
                b[rng.bounded(b.size())] = char(rng.bounded(256));
            break;
        case 6: {  // an extra chunk with a lying size
            QByteArray extra = chunk(rng.bounded(2) ? "data" : "fmt ", QByteArray(int(rng.bounded(40)), 'x'));
            putU32(extra, 4, rng.bounded(2) ? quint32(rng.bounded(64)) : rng.generate());
            b.insert(qsizetype(rng.bounded(b.size() + 1)), extra);
            break;
        }
        default:  // drop a stretch
            if (!b.isEmpty()) {
                const qsizetype at = rng.bounded(b.size());
                b.remove(at, rng.bounded(b.size() - at + 1));
            }
            break;
        }
    }
    return b;
}

} // namespace

class WavMutationTest : public QObject {
    Q_OBJECT
private:
    QList<QByteArray> seeds(QRandomGenerator& rng)
    {
        return {wav(1, 1, 8, 50, false, false, rng),   wav(1, 2, 16, 40, false, true, rng),
                wav(1, 2, 24, 33, true, false, rng),   wav(3, 2, 32, 20, false, true, rng),
                wav(3, 1, 64, 10, true, true, rng),    wav(1, 6, 16, 7, true, false, rng),
                wav(1, 1, 32, 9, false, false, rng)};
    }

private slots:
    // Many mutants straight through the parser.
    void parserSurvivesMutants()
    {
        QRandomGenerator rng(20240611);
        const QList<QByteArray> bases = seeds(rng);
        int accepted = 0;
        for (int i = 0; i < 30000; ++i) {
            const QByteArray bytes = mutate(bases[i % bases.size()], rng);
            DecodedAudio out;
            if (WavReader::read(bytes, out) == WavReader::Status::Ok) {
                ++accepted;
                QVERIFY(out.channels > 0);
                QVERIFY(out.sampleRate > 0);
                QVERIFY(out.frames() > 0);
                QCOMPARE(out.values() % out.channels, 0);
                // Every value comes from at least one byte of the file.
                QVERIFY(out.values() <= bytes.size());
            }
        }
        // The mutations leave plenty of loadable files as well as broken ones.
        QVERIFY(accepted > 1000);
        QVERIFY(accepted < 29000);
    }

    // Fewer mutants through files and loadAudioFile, checking the contract.
    void loaderReportsEveryOutcome()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QRandomGenerator rng(777);
        const QList<QByteArray> bases = seeds(rng);
        const QString path = dir.filePath("m.wav");
        for (int i = 0; i < 1500; ++i) {
            const QByteArray bytes = mutate(bases[i % bases.size()], rng);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();

            AudioProcessor p;
            p.noiseProfile = {0.5f};
            QSignalSpy errors(&p, &AudioProcessor::errorOccurred);
            QSignalSpy loaded(&p, &AudioProcessor::audioLoaded);
            const bool ok = p.loadAudioFile(path);
            QCOMPARE(p.noiseProfile, QList<float>{0.5f});
            if (!ok) {
                QCOMPARE(errors.count(), 1);
                QVERIFY(errors.at(0).at(0).toString().endsWith(path));
                QCOMPARE(loaded.count(), 0);
                QVERIFY(p.samples.isEmpty());
                QVERIFY(p.stereoSamples.isEmpty());
                QCOMPARE(p.sampleRate, 44100);
                QCOMPARE(p.channels, 2);
                continue;
            }
            QCOMPARE(errors.count(), 0);
            QCOMPARE(loaded.count(), 1);
            QVERIFY(!p.samples.isEmpty());
            QVERIFY(p.channels > 0);
            QVERIFY(p.sampleRate > 0);
            QCOMPARE(p.stereoSamples.size(), p.channels == 2 ? 2 * p.samples.size() : 0);
            QCOMPARE(loaded.at(0).at(3).toLongLong(), qint64(p.samples.size()) * 1000 / p.sampleRate);
        }
    }
};

QTEST_GUILESS_MAIN(WavMutationTest)
#include "tst_WavMutation.moc"
