// Long files decode in parallel segments; the joined segments must equal a
// sequential decode, also for streams cut short or announcing a false length.

#include "audio/codecs/FlacDecoder.h"
#include "audio/codecs/Mp3Decoder.h"
#include "audio/codecs/OggDecoder.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <cmath>

namespace {

QList<float> joined(const DecodedAudio& audio)
{
    QList<float> all;
    for (const QList<float>& part : audio.parts)
        all += part;
    return all;
}

bool decode(const QString& kind, const QByteArray& bytes, DecodedAudio& out, int segments)
{
    int code = 0;
    if (kind == "mp3")
        return Mp3Decoder::decode(bytes, out, segments);
    if (kind == "ogg")
        return OggDecoder::decode(bytes, out, code, segments);
    return FlacDecoder::decode(bytes, out, segments);
}

} // namespace

class SegmentedDecodingTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char* tool : {"sox", "flac", "lame", "oggenc"})
            if (!TestSupport::hasCommand(tool))
                QSKIP("sox, flac, lame and oggenc are needed to make the inputs");
    }

    void segmentsEqualSequential_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("source");   // sox output options
        QTest::addColumn<QStringList>("encoder");  // tool and its options, %i / %o = files
        QTest::addColumn<QString>("damage");       // "", "truncate", "forge-length"
        QTest::addColumn<double>("tolerance");

        const QStringList stereo{"-r", "44100", "-c", "2", "-b", "16"};
        const QStringList monoLow{"-r", "16000", "-c", "1", "-b", "16"};
        const QStringList mono24{"-r", "48000", "-c", "1", "-b", "24"};
        const QStringList lame{"lame", "--quiet", "%i", "%o"};
        const QStringList lameLow{"lame", "--quiet", "-b", "24", "%i", "%o"};
        const QStringList ogg{"oggenc", "-Q", "%i", "-o", "%o"};
        const QStringList flac{"flac", "-s", "-f", "%i", "-o", "%o"};

        QTest::newRow("mp3 MPEG-1 stereo") << "mp3" << stereo << lame << "" << 0.0;
        // MPEG-2 at a low bit rate: a deep bit reservoir; the synthesis filter
        // may round differently after a seek.
        QTest::newRow("mp3 MPEG-2 mono 24 kbit/s") << "mp3" << monoLow << lameLow << "" << 2e-7;
        QTest::newRow("mp3 cut short") << "mp3" << stereo << lame << "truncate" << 0.0;
        QTest::newRow("ogg stereo") << "ogg" << stereo << ogg << "" << 0.0;
        QTest::newRow("ogg cut short") << "ogg" << stereo << ogg << "truncate" << 0.0;
        QTest::newRow("flac stereo") << "flac" << stereo << flac << "" << 0.0;
        QTest::newRow("flac 24-bit mono") << "flac" << mono24 << flac << "" << 0.0;
        QTest::newRow("flac cut short") << "flac" << stereo << flac << "truncate" << 0.0;
        QTest::newRow("flac announcing 4x its length") << "flac" << stereo << flac << "forge-length" << 0.0;
    }

    void segmentsEqualSequential()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, source);
        QFETCH(QStringList, encoder);
        QFETCH(QString, damage);
        QFETCH(double, tolerance);

        const QString wav = m_dir.filePath("src.wav");
        const QString encoded = m_dir.filePath("enc." + kind);
        QVERIFY(TestSupport::runCommand("sox", QStringList{"-n"} + source
                                                   + QStringList{wav, "synth", "12", "sine", "200-3000",
                                                                 "pinknoise", "vol", "0.5"}));
        QStringList args = encoder.mid(1);
        args.replaceInStrings("%i", wav).replaceInStrings("%o", encoded);
        QVERIFY(TestSupport::runCommand(encoder.first(), args));
        QFile f(encoded);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        if (damage == "truncate")
            bytes.truncate(bytes.size() * 3 / 5);
        if (damage == "forge-length") {
            // STREAMINFO's 36-bit total sits in bytes 21..25 of the file.
            const quint64 total = (quint64(quint8(bytes[21]) & 0x0F) << 32) | quint32(quint8(bytes[22]) << 24)
                                  | (quint8(bytes[23]) << 16) | (quint8(bytes[24]) << 8) | quint8(bytes[25]);
            const quint64 forged = total * 4;
            bytes[21] = char((quint8(bytes[21]) & 0xF0) | ((forged >> 32) & 0x0F));
            for (int i = 0; i < 4; ++i)
                bytes[22 + i] = char((forged >> (24 - 8 * i)) & 0xFF);
        }

        DecodedAudio sequential;
        QVERIFY(decode(kind, bytes, sequential, 1));
        QCOMPARE(sequential.parts.size(), size_t(1));
        const QList<float> reference = sequential.parts.front();

        for (int segments : {2, 5}) {
            DecodedAudio parallel;
            QVERIFY(decode(kind, bytes, parallel, segments));
            QCOMPARE(parallel.channels, sequential.channels);
            QCOMPARE(parallel.sampleRate, sequential.sampleRate);
            for (const QList<float>& part : parallel.parts)
                QCOMPARE(part.size() % parallel.channels, 0);
            if (damage.isEmpty()) // sound files really are split
                QCOMPARE(parallel.parts.size(), size_t(segments));
            const QList<float> all = joined(parallel);
            QCOMPARE(all.size(), reference.size());
            if (tolerance == 0.0) {
                QVERIFY2(all == reference, qPrintable(QString("%1 segments differ").arg(segments)));
            } else {
                for (qsizetype i = 0; i < all.size(); ++i)
                    QVERIFY2(std::abs(all[i] - reference[i]) <= tolerance,
                             qPrintable(QString("value %1: %2 vs %3").arg(i).arg(all[i]).arg(reference[i])));
            }
        }
    }
};

QTEST_GUILESS_MAIN(SegmentedDecodingTest)
#include "tst_SegmentedDecoding.moc"
