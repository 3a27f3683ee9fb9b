// The multitrack page's mixdown for export and its SoundFont folder: exact
// mix values, the project length rules, MIDI through the SoundFont or else
// the piano at the played tempo; fonts copied in atomically, never onto
// themselves, the newest loaded at start, a broken one refused.

#include "TestSupport.h"
#include "engine/instruments/OfflineRenderLimits.h"
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

AudioClip constantClip(double seconds, double start, int rate, float value = 0.5f)
{
    AudioClip clip;
    clip.samples = QList<float>(qsizetype(std::llround(seconds * rate)), value);
    clip.sampleRate = rate;
    clip.start = start;
    return clip;
}

// The mix as it has always been made: every track rendered whole, then one
// offline render of the engine over the whole length.
QList<float> wholeTrackMix(MultiTrackEditorPage& page, int frames)
{
    std::vector<QList<float>> renders;
    std::vector<MultiTrackAudioEngine::TrackSlot> mixSlots;
    for (const TrackData& track : page.tracks) {
        QList<float> render;
        if (track.isMidi())
            render = page.piano().renderTrack(page.tempoScaledTrack(track), page.sampleRate());
        else
            render = flattenAudioTrack(track, page.sampleRate());
        const bool envelope = track.envelopeEnabled && !track.volumeEnvelope.empty();
        if (track.isMidi() && envelope)
            applyEnvelope(render.data(), render.size(), page.sampleRate(), track.volumeEnvelope);
        MultiTrackAudioEngine::TrackSlot slot;
        slot.samples = render.isEmpty() ? nullptr : render.constData();
        slot.sampleCount = int(render.size());
        slot.volume = envelope ? 1.0f : track.volume;
        slot.pan = track.pan;
        slot.muted = track.muted;
        slot.solo = track.solo;
        renders.push_back(render);
        mixSlots.push_back(slot);
    }
    QList<float> out;
    MultiTrackAudioEngine(nullptr).renderOffline(mixSlots, frames, page.sampleRate(), out);
    return out;
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

    void blocksMixAsWholeTracksDo()
    {
        MultiTrackEditorPage page;
        // Fades, a crossfade, an envelope, another rate, a late start, a
        // mix that clips, a muted track and a MIDI track with an envelope.
        page.addTrack(AudioTrack, {}, kRate);
        AudioClip first = constantClip(2.0, 0.0, kRate);
        first.samples = TestSupport::sineWave(90.0, 2.0, kRate, 0.8f);
        first.fadeIn = 0.3;
        first.fadeInCurve = 1;
        first.fadeOut = 0.5;
        AudioClip second = constantClip(1.7, 1.6, 48000, 0.7f);
        second.fadeOutCurve = 3;
        second.fadeOut = 0.4;
        page.tracks[0].audioClips = {second, first};
        page.tracks[0].envelopeEnabled = true;
        page.tracks[0].volumeEnvelope = {{0.5, 0.4f}, {2.0, 1.3f}, {3.0, 0.8f}};
        page.tracks[0].pan = -0.4f;
        page.addTrack(AudioTrack, {}, kRate);
        page.tracks[1].audioClips = {constantClip(2.5, 0.37, kRate, 0.9f)};
        page.tracks[1].volume = 1.4f;
        page.tracks[1].pan = 0.7f;
        page.addTrack(AudioTrack, {}, kRate);
        page.tracks[2].audioClips = {constantClip(1.0, 0.0, kRate, 0.3f)};
        page.tracks[2].muted = true;
        page.addMidiTrack(QString(), {MidiNote{64, 0.4, 1.0, 120}, MidiNote{52, 2.2, 0.6, 90}}, 3.1);
        page.tracks[3].envelopeEnabled = true;
        page.tracks[3].volumeEnvelope = {{1.0, 1.0f}, {2.5, 0.5f}};
        page.bpm = 100.0;

        QList<float> out;
        int rate = 0;
        QString noted;
        QVERIFY(page.renderMixdown(out, rate, &noted));
        QVERIFY(noted.isEmpty());
        QVERIFY(out.size() > 2 * 16 * 8192); // many blocks
        QCOMPARE(out, wholeTrackMix(page, int(out.size() / 2)));
        QCOMPARE(*std::max_element(out.begin(), out.end()), 1.0f); // the clipped stretch

        // A soloed track alone, as whole tracks would sound.
        page.tracks[1].solo = true;
        QVERIFY(page.renderMixdown(out, rate));
        QCOMPARE(out, wholeTrackMix(page, int(out.size() / 2)));
    }

    void longMaterialIsMixedWhole()
    {
        // Past two hours: the audio clip plays to its end, the MIDI track's notes sound.
        const int rate = 100;
        MultiTrackEditorPage page;
        page.projectSampleRate = rate; // hours of material kept small
        page.addTrack(AudioTrack, {}, rate);
        page.tracks[0].audioClips = {constantClip(7300.0, 0.0, rate)};
        page.addMidiTrack(QString(), {MidiNote{60, 7250.0, 2.0, 127}}, 7300.0);
        QList<float> out;
        int outRate = 0;
        QString note;
        QVERIFY(page.renderMixdown(out, outRate, &note));
        QVERIFY(note.isEmpty());
        QCOMPARE(out.size(), qsizetype(2 * 7300 * rate));
        QCOMPARE(out[2 * 7299 * rate], 0.707f * (0.5f * 0.8f));
        page.tracks[0].muted = true;
        QVERIFY(page.renderMixdown(out, outRate));
        float peak = 0.0f;
        for (qsizetype i = 2 * 7250 * rate; i < 2 * 7252 * rate; ++i)
            peak = std::max(peak, std::abs(out[i]));
        QVERIFY(peak > 0.01f);

        // Past the longest render: cut there, what comes before kept, and said.
        const int slow = 10;
        const double limit = OfflineRender::kMaxTrackSeconds;
        MultiTrackEditorPage endless;
        endless.projectSampleRate = slow;
        endless.addTrack(AudioTrack, {}, slow);
        endless.tracks[0].audioClips = {constantClip(5.0, limit - 2.0, slow)};
        QVERIFY(endless.renderMixdown(out, outRate, &note));
        QCOMPARE(out.size(), qsizetype(2 * limit * slow));
        QCOMPARE(out.back(), 0.707f * (0.5f * 0.8f));
        QVERIFY(!note.isEmpty());

        // A MIDI clip running on for ever: its note is mixed and a second of
        // tail; a note far past the limit alone leaves nothing, nor to play.
        MultiTrackEditorPage midi;
        midi.projectSampleRate = rate;
        midi.addMidiTrack(QString(), {MidiNote{60, 1.0, 1.0, 127}}, 1e12);
        QVERIFY(midi.renderMixdown(out, outRate, &note));
        QCOMPARE(out.size(), qsizetype(2 * 3 * rate));
        QVERIFY(!note.isEmpty());
        midi.tracks[0].midiClips[0].notes = {MidiNote{60, 1e7, 1.0, 127}};
        QVERIFY(!midi.renderMixdown(out, outRate, &note));
        QVERIFY(note.isEmpty());
        midi.buildPlaybackSlotsForRecording(-1);
        QCOMPARE(midi.mixingEngine()->currentSlots().at(0).sampleCount, 0);

        // A twentieth of a second at 23 h and 192 kHz: a mix of over 100 GB,
        // refused before anything is allocated.
        MultiTrackEditorPage huge;
        huge.setSampleRate(192000);
        huge.addTrack(AudioTrack, {}, 192000);
        huge.tracks[0].audioClips = {constantClip(0.05, 23 * 3600.0, 192000)};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: mixdown needs"));
        QVERIFY(!huge.renderMixdown(out, outRate, &note));
        QVERIFY2(note.contains(QStringLiteral("内存")), qPrintable(note));
    }

    void lateMaterialPlaysFromItsOwnBuffer()
    {
        // Playback holds a 5 s clip at 1:50:00 with its tail, placed at its
        // time, and a MIDI note there too, and sounds as the mixdown does.
        const int rate = 1000;
        MultiTrackEditorPage page;
        page.projectSampleRate = rate; // hours of material kept small
        page.addTrack(AudioTrack, {}, rate);
        AudioClip clip = constantClip(5.0, 6600.0, rate);
        clip.fadeIn = 1.0;
        page.tracks[0].audioClips = {clip};
        page.addMidiTrack(QString(), {MidiNote{60, 6601.0, 1.0, 127}}, 6602.0);
        page.tracks[1].envelopeEnabled = true;
        page.tracks[1].volumeEnvelope = {{6601.0, 0.2f}, {6602.0, 1.0f}};
        page.buildPlaybackSlotsForRecording(-1);
        const std::vector<MultiTrackAudioEngine::TrackSlot> playing = page.mixingEngine()->currentSlots();
        QCOMPARE(playing.at(0).sampleCount, 6 * rate);
        QCOMPARE(std::llround(playing.at(0).startTime * rate), 6600LL * rate);
        QCOMPARE(std::llround(playing.at(1).startTime * rate), 6601LL * rate);
        QVERIFY(playing.at(1).sampleCount <= 2 * rate);
        QList<float> played;
        page.mixingEngine()->renderOffline(playing, 6605 * rate, rate, played);
        QList<float> mixed;
        int outRate = 0;
        QVERIFY(page.renderMixdown(mixed, outRate));
        QCOMPARE(played, mixed);
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

        // A copy whose last buffered bytes the disk refuses keeps the older one.
        QByteArray padded = font + "JUNK" + QByteArray(6 * (1 << 20) + 119 - font.size(), '\0');
        qToLittleEndian<quint32>(quint32(padded.size() - 8), padded.data() + 4);
        qToLittleEndian<quint32>(quint32(padded.size() - font.size() - 8), padded.data() + font.size() + 4);
        QVERIFY(writeFile(chosen, padded) && writeFile(copy, "older copy"));
        QString note;
        {
            TestSupport::FileSizeLimit limit(6 * (1 << 20));
            QVERIFY(page.copyAndLoadSoundFont(chosen, &note));
        }
        QCOMPARE(contents(copy), QByteArray("older copy"));
        QVERIFY(note.startsWith(QStringLiteral("无法复制到音色库文件夹")));
    }
};

QTEST_MAIN(MultiTrackMixdownTest)
#include "tst_MultiTrackMixdown.moc"
