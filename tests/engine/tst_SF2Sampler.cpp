#include "engine/instruments/SF2Sampler.h"

#include "SignalChecks.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <algorithm>

namespace {

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

struct PresetHeader {
    QString name;
    int program;
    int bank;
};

quint32 le32(const QByteArray& d, qsizetype at)
{
    return quint32(uchar(d[at])) | quint32(uchar(d[at + 1])) << 8 | quint32(uchar(d[at + 2])) << 16
        | quint32(uchar(d[at + 3])) << 24;
}

// The preset headers (PHDR records) of a SoundFont file, in file order,
// read straight from its RIFF structure.
std::vector<PresetHeader> readPresetHeaders(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray d = file.readAll();
    std::vector<PresetHeader> headers;
    qsizetype pos = 12; // "RIFF" size "sfbk"
    while (pos + 12 <= d.size()) {
        const qsizetype size = le32(d, pos + 4);
        if (d.mid(pos, 4) == "LIST" && d.mid(pos + 8, 4) == "pdta") {
            qsizetype sub = pos + 12;
            while (sub + 8 <= pos + 8 + size) {
                const qsizetype subSize = le32(d, sub + 4);
                if (d.mid(sub, 4) == "phdr") {
                    for (qsizetype r = sub + 8; r + 38 <= sub + 8 + subSize - 38; r += 38) {
                        const QByteArray name = d.mid(r, 20);
                        headers.push_back({QString::fromLatin1(name.left(name.indexOf('\0'))),
                                           int(uchar(d[r + 20]) | uchar(d[r + 21]) << 8),
                                           int(uchar(d[r + 22]) | uchar(d[r + 23]) << 8)});
                    }
                }
                sub += 8 + subSize + (subSize & 1);
            }
        }
        pos += 8 + size + (size & 1);
    }
    return headers;
}

TrackData midiTrack(std::vector<MidiNote> notes, double clipStart = 0.0, double clipDuration = 2.0,
                    int instrument = 0)
{
    TrackData track;
    track.type = MidiTrack;
    track.instrumentIndex = instrument;
    MidiClip clip;
    clip.start = clipStart;
    clip.duration = clipDuration;
    clip.notes = std::move(notes);
    track.midiClips.push_back(clip);
    return track;
}

MidiNote note(int pitch, double start, double duration, int velocity = 100)
{
    MidiNote n;
    n.pitch = pitch;
    n.start = start;
    n.duration = duration;
    n.velocity = velocity;
    return n;
}

QList<float> liveSeconds(SF2Sampler& sampler, double seconds, int rate)
{
    const int frames = int(seconds * rate);
    std::vector<short> pcm(size_t(2 * frames));
    sampler.renderLive(pcm.data(), frames);
    QList<float> left(frames);
    for (int i = 0; i < frames; ++i)
        left[i] = pcm[size_t(2 * i)] / 32768.0f;
    return left;
}

} // namespace

class SF2SamplerTest : public QObject {
    Q_OBJECT

    SF2Sampler sampler;
    int flute = -1; // preset index of bank 0 program 73, a nearly pure tone

private slots:
    void initTestCase()
    {
        if (!QFile::exists(kFont))
            QSKIP("needs Debian's timgm6mb-soundfont");
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(sampler.loadSoundFont(kFont));
        QVERIFY(sampler.isLoaded());
    }

    void presetNamesInBankProgramOrder()
    {
        std::vector<PresetHeader> headers = readPresetHeaders(kFont);
        QVERIFY(headers.size() > 100);
        std::stable_sort(headers.begin(), headers.end(), [](const PresetHeader& a, const PresetHeader& b) {
            return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
        });
        QStringList expected;
        for (size_t i = 0; i < headers.size(); ++i) {
            expected << headers[i].name;
            if (headers[i].bank == 0 && headers[i].program == 73)
                flute = int(i);
        }
        QCOMPARE(sampler.getPresetNames(), expected);
        QVERIFY(flute >= 0);
    }

    void failedLoadLeavesNoFont()
    {
        SF2Sampler other;
        QVERIFY(other.getPresetNames().isEmpty());
        QVERIFY(other.loadSoundFont(kFont));
        QTemporaryDir dir;
        QFile junk(dir.filePath("junk.sf2"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SF2Sampler: failed to load SoundFont:"));
        QVERIFY(!other.loadSoundFont(junk.fileName()));
        QVERIFY(!other.isLoaded());
        QCOMPARE(other.soundFontPath(), junk.fileName());
        QVERIFY(other.getPresetNames().isEmpty());
        QVERIFY(other.renderTrack(midiTrack({note(60, 0, 0.5)}), 44100).isEmpty());

        // A font cut short and a missing file fail the same way.
        QFile font(kFont);
        QVERIFY(font.open(QIODevice::ReadOnly));
        QFile cut(dir.filePath("cut.sf2"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(font.read(200000));
        cut.close();
        for (const QString& path : {cut.fileName(), dir.filePath("missing.sf2")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SF2Sampler: failed to load SoundFont:"));
            QVERIFY(!other.loadSoundFont(path));
            QVERIFY(!other.isLoaded());
        }
    }

    void liveRenderWritesExactlyTwoValuesPerFrame_data()
    {
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("frames");
        QTest::newRow("no font, 1000 frames") << false << 1000;
        QTest::newRow("font, 1000 frames") << true << 1000;
        QTest::newRow("font, 1 frame") << true << 1;
        QTest::newRow("font, 257 frames") << true << 257;
    }

    void liveRenderWritesExactlyTwoValuesPerFrame()
    {
        QFETCH(bool, loaded);
        QFETCH(int, frames);
        SF2Sampler local;
        SF2Sampler& s = loaded ? sampler : local;
        std::vector<short> out(size_t(2 * frames + 8), short(0x5555));
        s.renderLive(out.data(), frames);
        for (int i = 2 * frames; i < 2 * frames + 8; ++i)
            QCOMPARE(out[size_t(i)], short(0x5555));
        if (!loaded) {
            for (int i = 0; i < 2 * frames; ++i)
                QCOMPARE(out[size_t(i)], short(0));
        }
    }

    void channelIsSilentUntilAPresetIsSelected()
    {
        SF2Sampler s;
        QVERIFY(s.loadSoundFont(kFont));
        s.noteOn(5, 69, 100);
        QCOMPARE(SignalChecks::rms(liveSeconds(s, 0.3, 44100)), 0.0);
        s.selectPreset(5, flute);
        QCOMPARE(s.currentPresetIndex(5), flute);
        s.noteOn(5, 69, 100);
        const QList<float> sound = liveSeconds(s, 0.5, 44100);
        QVERIFY(SignalChecks::rms(sound) > 0.01);
        QVERIFY(qAbs(SignalChecks::dominantFrequency(sound.mid(4410), 44100, 200, 2000) - 440.0) < 5.0);
        // Initialising channel 5 created channels 0..4 with preset 0.
        QCOMPARE(s.currentPresetIndex(2), 0);
        s.noteOn(5, 69, 0); // velocity 0 releases
        s.allNotesOff();
        liveSeconds(s, 1.5, 44100);
        QVERIFY(SignalChecks::rms(liveSeconds(s, 0.2, 44100)) < 1e-4);
    }

    void liveRateChangeKeepsPresetsAndPitch()
    {
        SF2Sampler s;
        QVERIFY(s.loadSoundFont(kFont));
        s.selectPreset(0, flute);
        s.setSampleRate(48000);
        QCOMPARE(s.sampleRate(), 48000);
        s.noteOn(0, 81, 100);
        const QList<float> sound = liveSeconds(s, 0.5, 48000);
        QVERIFY(qAbs(SignalChecks::dominantFrequency(sound.mid(4800), 48000, 300, 2000) - 880.0) < 8.0);
    }

    // Live output faster than FluidSynth goes keeps its pitch, and a change
    // between such rates leaves the sounding note alone.
    void liveOutputAbove96kHz()
    {
        SF2Sampler s;
        QVERIFY(s.loadSoundFont(kFont));
        s.selectPreset(0, flute);
        s.setSampleRate(96000);
        s.noteOn(0, 81, 100);
        liveSeconds(s, 0.1, 96000);
        for (int rate : {192000, 176400}) {
            s.setSampleRate(rate);
            QCOMPARE(s.sampleRate(), rate);
            const QList<float> sound = liveSeconds(s, 0.25, rate);
            QVERIFY2(SignalChecks::rms(sound) > 0.005, qPrintable(QString::number(rate)));
            QVERIFY(qAbs(SignalChecks::dominantFrequency(sound, rate, 300, 2000) - 880.0) < 8.0);
        }
    }

    void renderLengths_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("clipEnd");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("expected");
        QTest::newRow("2.0 s at 44100") << int(MidiTrack) << 2.0 << 44100 << 132300;
        QTest::newRow("1.0 s at 48000") << int(MidiTrack) << 1.0 << 48000 << 96000;
        QTest::newRow("0.75 s at 22050") << int(MidiTrack) << 0.75 << 22050 << 22050 + 16537;
        QTest::newRow("no clips") << int(MidiTrack) << -1.0 << 44100 << 0;
        QTest::newRow("audio track, 1.5 s") << int(AudioTrack) << 1.5 << 44100 << 44100 + 66150;
        // Cut at the longest render: the note and a second after it, not
        // the silence of the clip running on.
        QTest::newRow("absurd end") << int(MidiTrack) << 1e12 << 44100 << 92610;
        QTest::newRow("rate 0") << int(MidiTrack) << 1.0 << 0 << 0;
    }

    void renderLengths()
    {
        QFETCH(int, type);
        QFETCH(double, clipEnd);
        QFETCH(int, rate);
        QFETCH(int, expected);
        TrackData track;
        track.type = type;
        if (clipEnd > 0 && type == MidiTrack) {
            track = midiTrack({note(60, 0.1, 0.2)}, 0.5, clipEnd - 0.5);
        } else if (clipEnd > 0) {
            AudioClip clip;
            clip.samples = QList<float>(44100, 0.1f);
            clip.sampleRate = 44100;
            clip.start = clipEnd - 1.0;
            track.audioClips.push_back(clip);
            track.midiClips.push_back(midiTrack({note(60, 0, 0.5)}).midiClips[0]);
        }
        const QList<float> out = sampler.renderTrack(track, rate);
        QCOMPARE(out.size(), qsizetype(expected));
        if (type == AudioTrack && expected > 0) // MIDI clips of an audio track still sound
            QVERIFY(SignalChecks::rms(out, 0, 22050) > 0.001);
    }

    void notesSoundForExactlyTheirLength_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("sounding"); // expected seconds of sound
        QTest::newRow("0.25 s") << 0.5003 << 0.25 << 0.25;
        QTest::newRow("zero length lasts 0.5 s") << 0.2 << 0.0 << 0.5;
        QTest::newRow("cut at the end") << 2.7 << 5.0 << 0.3; // list ends at 3.0 s
    }

    void notesSoundForExactlyTheirLength()
    {
        QFETCH(double, start);
        QFETCH(double, duration);
        QFETCH(double, sounding);
        const int rate = 44100;
        const QList<float> out = sampler.renderTrack(midiTrack({note(69, start, duration)}, 0, 2.0, flute), rate);
        QCOMPARE(out.size(), qsizetype(3 * rate));
        const qsizetype first = qsizetype(start * rate);
        const qsizetype last = std::min(first + qsizetype(sounding * rate), out.size());
        QCOMPARE(SignalChecks::peak(out, 0, first), 0.0f);
        QVERIFY(SignalChecks::rms(out, first, last) > 0.005);
        QVERIFY(SignalChecks::rms(out, last - 441, last) > 0.005); // sounds to the end
        QCOMPARE(SignalChecks::peak(out, last), 0.0f);             // nothing after it
    }

    void notesDoNotLeakIntoEachOther()
    {
        // Unaligned starts: a note that is cut mid-block must not spill into the
        // next; each note renders as if alone and the track is their sum.
        const MidiNote a = note(60, 0.10013, 0.30007);
        const MidiNote b = note(67, 0.40029, 0.2);
        const MidiNote c = note(67, 0.50001, 0.3, 60); // overlaps b, same pitch
        const QList<float> all = sampler.renderTrack(midiTrack({a, b, c}), 44100);
        const QList<float> onlyA = sampler.renderTrack(midiTrack({a}), 44100);
        const QList<float> onlyB = sampler.renderTrack(midiTrack({b}), 44100);
        const QList<float> onlyC = sampler.renderTrack(midiTrack({c}), 44100);
        QCOMPARE(all.size(), onlyA.size());
        const qsizetype bStart = qsizetype(b.start * 44100);
        for (qsizetype i = 0; i < bStart; ++i)
            QCOMPARE(all[i], onlyA[i]); // bit-exact: nothing else sounds yet
        for (qsizetype i = 0; i < all.size(); ++i)
            QVERIFY2(qAbs(all[i] - (onlyA[i] + onlyB[i] + onlyC[i])) < 1e-6f, qPrintable(QString("%1 %2 %3 %4 %5").arg(i).arg(all[i]).arg(onlyA[i]).arg(onlyB[i]).arg(onlyC[i])));
        QVERIFY(SignalChecks::rms(onlyC) > 0.0);
        QCOMPARE(SignalChecks::endOfSound(all, 0.0f), qsizetype(0.80001 * 44100));
    }

    void renderUsesTheTracksOwnPreset()
    {
        const TrackData fluteTrack = midiTrack({note(69, 0, 0.4)}, 0, 1.0, flute);
        const QList<float> reference = sampler.renderTrack(fluteTrack, 44100);
        sampler.selectPreset(fluteTrack.midiChannel, 0); // the live channel plays a piano
        QCOMPARE(sampler.renderTrack(fluteTrack, 44100), reference);
        const TrackData piano = midiTrack({note(69, 0, 0.4)}, 0, 1.0, 0);
        QVERIFY(sampler.renderTrack(piano, 44100) != reference);
        // Out-of-range indexes clamp to the first and last presets.
        const int last = int(sampler.getPresetNames().size()) - 1;
        QCOMPARE(sampler.renderTrack(midiTrack({note(69, 0, 0.4)}, 0, 1.0, -4), 44100),
                 sampler.renderTrack(piano, 44100));
        QCOMPARE(sampler.renderTrack(midiTrack({note(40, 0, 0.4)}, 0, 1.0, 100000), 44100),
                 sampler.renderTrack(midiTrack({note(40, 0, 0.4)}, 0, 1.0, last), 44100));
    }

    void velocityScalesAmplitudeLinearly()
    {
        const QList<float> loud = sampler.renderTrack(midiTrack({note(72, 0, 0.5, 127)}, 0, 1, flute), 44100);
        const QList<float> soft = sampler.renderTrack(midiTrack({note(72, 0, 0.5, 64)}, 0, 1, flute), 44100);
        const double ratio = SignalChecks::rms(soft) / SignalChecks::rms(loud);
        QVERIFY2(qAbs(ratio - 64.0 / 127.0) < 0.03, qPrintable(QString::number(ratio)));
    }

    void renderedPitchFollowsTheRate_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("44100") << 44100;
        QTest::newRow("48000") << 48000;
        QTest::newRow("22050") << 22050;
        // Above FluidSynth's 96 kHz the track is rendered lower and resampled.
        QTest::newRow("176400") << 176400;
        QTest::newRow("192000") << 192000;
    }

    void renderedPitchFollowsTheRate()
    {
        QFETCH(int, rate);
        const QList<float> out = sampler.renderTrack(midiTrack({note(69, 0, 0.6)}, 0, 0.6, flute), rate);
        QCOMPARE(out.size(), qsizetype(rate + qint64(0.6 * rate)));
        QVERIFY(qAbs(SignalChecks::dominantFrequency(out.mid(rate / 10, rate / 2), rate, 200, 2000) - 440.0) < 5.0);
        // The note still ends on time.
        QVERIFY(SignalChecks::rms(out, qsizetype(0.62 * rate)) < 1e-4);
    }

    void highRatesRenderFromTheFirstNote()
    {
        // Above 96 kHz as below, a render from the first note is the whole
        // render's sound from there on, and neither it nor the render it is
        // resampled from holds the time before.
        const TrackData track = midiTrack({note(69, 20.37, 0.4)}, 0, 21.0, flute);
        for (const int rate : {176400, 192000}) {
            const QList<float> whole = sampler.renderTrack(track, rate);
            qint64 first = -1;
            const QList<float> fromNote = sampler.renderTrack(track, rate, &first);
            QCOMPARE(first, qint64(20.37 * rate));
            QCOMPARE(fromNote.size(), whole.size() - first);
            float difference = 0.0f;
            for (qsizetype i = 0; i < fromNote.size(); ++i)
                difference = std::max(difference, std::abs(fromNote[i] - whole[first + i]));
            QVERIFY2(difference < 1e-4f, qPrintable(QString::number(difference)));
            QVERIFY(SignalChecks::rms(fromNote, 0, rate / 4) > 0.005);
            const qint64 listBytes = fromNote.size() * qint64(sizeof(float));
            QVERIFY(SF2Sampler::renderBytes(track, rate) > listBytes);
            QVERIFY(SF2Sampler::renderBytes(track, rate) < 2 * listBytes);
        }
    }

    void hostileNoteValuesRenderNothing()
    {
        std::vector<MidiNote> notes{note(60, std::nan(""), 0.5), note(60, -3.0, 0.5),
                                    note(60, 0.1, -1.0), note(200, 0.1, 0.5), note(-1, 0.1, 0.5),
                                    note(60, 0.1, std::numeric_limits<double>::infinity()),
                                    note(60, 0.1, 1e300), note(60, 1e300, 0.5), note(60, 0.2, 0.5, 0)};
        const QList<float> out = sampler.renderTrack(midiTrack(notes, 0, 1.0), 44100);
        QCOMPARE(out.size(), qsizetype(88200));
        // Only the two huge-duration notes play, cut at the end of the list.
        QCOMPARE(SignalChecks::peak(out, 0, 4410), 0.0f);
        QVERIFY(SignalChecks::rms(out, 80000) > 0.001);
        // An over-loud velocity is clamped to 127.
        QCOMPARE(sampler.renderTrack(midiTrack({note(64, 0, 0.3, 1000)}), 44100),
                 sampler.renderTrack(midiTrack({note(64, 0, 0.3, 127)}), 44100));
    }

    void notePreview()
    {
        sampler.selectPreset(0, flute);
        QVERIFY(sampler.renderNotePreview(69, 100, 0.5 / 44100, 44100).isEmpty());
        const QList<float> stereo = sampler.renderNotePreview(69, 100, 0.3, 44100);
        QCOMPARE(stereo.size(), qsizetype(2 * 13230));
        QVERIFY(SignalChecks::rms(stereo) > 0.005);
    }
};

QTEST_GUILESS_MAIN(SF2SamplerTest)
#include "tst_SF2Sampler.moc"
