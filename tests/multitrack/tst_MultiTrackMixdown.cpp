// The multitrack page's mixdown for export and its SoundFont folder: exact
// mix values, the project length rules, MIDI through the SoundFont or else
// the piano at the played tempo; fonts copied in atomically, never onto
// themselves, the newest loaded at start, a broken one refused.

#include "TestSupport.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackFlattening.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <sys/stat.h>

namespace {

constexpr int kRate = 44100;
const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The font with every sample silenced: it still loads, and sounds nothing.
QByteArray silenced(QByteArray font)
{
    const qsizetype at = font.indexOf("smpl");
    if (at < 0 || at + 8 > font.size())
        return {};
    const auto* size = reinterpret_cast<const uchar*>(font.constData() + at + 4);
    const qsizetype bytes = qsizetype(size[0]) | qsizetype(size[1]) << 8 | qsizetype(size[2]) << 16
        | qsizetype(size[3]) << 24;
    if (at + 8 + bytes > font.size())
        return {};
    std::fill(font.begin() + at + 8, font.begin() + at + 8 + bytes, '\0');
    return font;
}

float slotPeak(const MultiTrackAudioEngine::TrackSlot& slot)
{
    float peak = 0.0f;
    for (int i = 0; i < slot.sampleCount; ++i)
        peak = std::max(peak, std::abs(slot.samples[i]));
    return peak;
}

void setAge(const QString& path, int secondsAgo)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                             QFileDevice::FileModificationTime));
}

} // namespace

class MultiTrackMixdownTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::withoutSoundServers();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void mixValuesAndLength()
    {
        MultiTrackEditorPage page;
        QList<float> out{1.0f, 2.0f};
        int rate = 0;
        QVERIFY(!page.renderMixdown(out, rate)); // no tracks
        QCOMPARE(rate, kRate);
        page.addTrack(AudioTrack, {}, kRate);
        QVERIFY(!page.renderMixdown(out, rate)); // no clips

        const QList<float> x = TestSupport::sineWave(440.0, 1.0, kRate, 0.9f);
        page.tracks[0].audioClips.push_back(AudioClip());
        AudioClip& clip = page.tracks[0].audioClips.back();
        clip.samples = x;
        clip.sampleRate = kRate;
        clip.start = 1.0;
        QCOMPARE(page.tracks[0].volume, 0.8f);
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out.size(), qsizetype(2 * 88200));
        for (int k = 0; k < kRate; ++k) {
            QCOMPARE(out[2 * k], 0.0f);
            const float expected = 0.707f * (x[k] * 0.8f);
            if (out[2 * (kRate + k)] != expected || out[2 * (kRate + k) + 1] != expected)
                QFAIL(qPrintable(QStringLiteral("frame %1: %2, expected %3").arg(kRate + k).arg(out[2 * (kRate + k)]).arg(expected)));
        }

        // The envelope carries the gain once it has points; without points
        // the track's volume stays, as in playback.
        page.tracks[0].envelopeEnabled = true;
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out[2 * (kRate + 100)], 0.707f * (x[100] * 0.8f));
        page.tracks[0].volumeEnvelope = {{0.0, 0.5f}};
        QVERIFY(page.renderMixdown(out, rate));
        QVERIFY(std::abs(out[2 * (kRate + 100)] - 0.707f * x[100] * 0.5f) < 1e-6f);

        // A clip trimmed to nothing still counts with its start; an empty
        // MIDI clip counts with its length, scaled to the tempo it plays at.
        clip.audioStart = 1.0;
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out.size(), qsizetype(2 * kRate));
        page.addMidiTrack(QString(), {}, 4.0);
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out.size(), qsizetype(2 * 4 * kRate));
        page.bpm = 60.0;
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out.size(), qsizetype(2 * 8 * kRate));
    }

    void midiThroughTheSoundFontElseThePiano()
    {
        MultiTrackEditorPage page;
        QVERIFY(page.piano().sampleCount() > 0);
        MidiNote note;
        note.pitch = 60;
        note.start = 0.25;
        note.duration = 0.5;
        page.addMidiTrack(QString(), {note}, 1.0);
        page.tracks[0].volume = 1.0f;
        page.bpm = 60.0; // the note plays at 0.5 s for 1 s
        const TrackData played = page.tempoScaledTrack(page.tracks[0]);

        auto matches = [&](const QList<float>& render) {
            QList<float> out;
            int rate = 0;
            if (!page.renderMixdown(out, rate) || out.size() != 2 * 2 * kRate)
                return false;
            float peak = 0.0f;
            for (int i = 0; i < 2 * kRate; ++i) {
                const float expected = std::clamp(0.707f * render[i], -1.0f, 1.0f);
                if (out[2 * i] != expected)
                    return false;
                peak = std::max(peak, std::abs(expected));
            }
            return peak > 0.01f; // and something sounds
        };
        QVERIFY(matches(page.piano().renderTrack(played, kRate)));
        if (!QFile::exists(kFont))
            QSKIP("needs Debian's timgm6mb-soundfont");
        QVERIFY(page.loadSoundFont(kFont));
        QVERIFY(matches(page.soundFont().renderTrack(played, kRate)));
    }

    void aFontReloadedUnderItsNameIsHeard()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs Debian's timgm6mb-soundfont");
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("gm.sf2"));
        QVERIFY(QFile::copy(kFont, path));
        MultiTrackEditorPage page;
        MidiNote note;
        note.duration = 0.5;
        page.addMidiTrack(QString(), {note}, 1.0);
        QVERIFY(page.loadSoundFont(path));
        page.buildPlaybackSlotsForRecording(-1);
        QVERIFY(slotPeak(page.mixingEngine()->currentSlots().at(0)) > 0.01f);

        // A new font under the same name: the next start renders with it.
        const QByteArray quiet = silenced(contents(kFont));
        QVERIFY(!quiet.isEmpty());
        QVERIFY(writeFile(path, quiet));
        QVERIFY(page.loadSoundFont(path));
        page.buildPlaybackSlotsForRecording(-1);
        QCOMPARE(slotPeak(page.mixingEngine()->currentSlots().at(0)), 0.0f);
    }

    void soundFontFolder()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs Debian's timgm6mb-soundfont");
        QTemporaryDir outside;
        QTemporaryDir folderRoot;
        const QString folder = folderRoot.filePath(QStringLiteral("soundfonts"));
        const QString chosen = outside.filePath(QStringLiteral("gm.sf2"));
        QVERIFY(QFile::copy(kFont, chosen));
        const QByteArray font = contents(kFont);

        MultiTrackEditorPage page;
        page.setSoundFontFolder(folder);
        QCOMPARE(page.sf2Directory(), folder);
        // Copied in (the folder made on the way) and loaded from there.
        const QString copy = folder + QStringLiteral("/gm.sf2");
        QVERIFY(page.copyAndLoadSoundFont(chosen));
        QCOMPARE(contents(copy), font);
        QCOMPARE(page.soundFont().soundFontPath(), copy);

        // A same-name copy replaces an older one by a rename: a new file, no leftovers.
        QVERIFY(writeFile(copy, QByteArray("old copy")));
        const ino_t oldInode = inodeOf(copy);
        QVERIFY(page.copyAndLoadSoundFont(chosen));
        QCOMPARE(contents(copy), font);
        QVERIFY(inodeOf(copy) != oldInode);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("gm.sf2")});

        // The folder's own copy is loaded as it is.
        const ino_t inode = inodeOf(copy);
        QVERIFY(page.copyAndLoadSoundFont(copy));
        QCOMPARE(inodeOf(copy), inode);
        QCOMPARE(contents(copy), font);

        // A broken file is refused: not copied, the loaded font stays.
        const QString broken = outside.filePath(QStringLiteral("broken.sf2"));
        QVERIFY(writeFile(broken, font.left(font.size() / 3)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SF2Sampler: failed to load SoundFont:"));
        QVERIFY(!page.copyAndLoadSoundFont(broken));
        QVERIFY(page.soundFont().isLoaded());
        QCOMPARE(page.soundFont().soundFontPath(), copy);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/broken.sf2")));

        // At start the newest font that loads is taken, whatever the names.
        QVERIFY(QFile::copy(kFont, folder + QStringLiteral("/a-newest.sf2")));
        QVERIFY(writeFile(folder + QStringLiteral("/0-broken-newer.sf2"), QByteArray("RIFF junk")));
        setAge(copy, 300);
        setAge(folder + QStringLiteral("/a-newest.sf2"), 100);
        setAge(folder + QStringLiteral("/0-broken-newer.sf2"), 10);
        MultiTrackEditorPage restarted;
        restarted.setSoundFontFolder(folder);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SF2Sampler: failed to load SoundFont:"));
        restarted.scanAndLoadExistingSf2();
        QCOMPARE(restarted.soundFont().soundFontPath(), folder + QStringLiteral("/a-newest.sf2"));
        // Choosing the folder's older copy makes it the one the next start loads.
        QVERIFY(restarted.copyAndLoadSoundFont(copy));
        QVERIFY(QFile::remove(folder + QStringLiteral("/0-broken-newer.sf2")));
        MultiTrackEditorPage again;
        again.setSoundFontFolder(folder);
        again.scanAndLoadExistingSf2();
        QCOMPARE(again.soundFont().soundFontPath(), copy);
    }
};

QTEST_MAIN(MultiTrackMixdownTest)
#include "tst_MultiTrackMixdown.moc"
