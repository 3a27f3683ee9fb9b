// Track flattening for playback: fades, crossfades, trims, the envelope, the
// one-second tail, resampling to the project rate, MIDI tempo scaling, the
// render cache's change detection, and bad values from files.

#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/TrackFlattening.h"
#include "multitrack/TrackRenderCache.h"
#include "TestSupport.h"

#include <cstring>

#include <QtTest/QtTest>
#include <cmath>
#include <limits>

namespace {

constexpr int R = 1000; // a small rate keeps the numbers readable

AudioClip constant(double seconds, double start, float value = 1.0f, int rate = R)
{
    AudioClip clip;
    clip.samples = QList<float>(qsizetype(std::llround(seconds * rate)), value);
    clip.sampleRate = rate;
    clip.start = start;
    return clip;
}

TrackData audioTrack(std::vector<AudioClip> clips)
{
    TrackData t;
    t.audioClips = std::move(clips);
    return t;
}

} // namespace

class TrackFlatteningTest : public QObject {
    Q_OBJECT
private slots:
    void fadeCurvesAtTheirMidpoints_data()
    {
        QTest::addColumn<int>("curve");
        QTest::addColumn<double>("fadeInMid");
        QTest::addColumn<double>("fadeOutMid");
        QTest::newRow("linear") << 0 << 0.5 << 0.5;
        QTest::newRow("s-curve") << 1 << 0.5 << 0.5;
        QTest::newRow("square") << 2 << 0.25 << 0.75;
        QTest::newRow("square root") << 3 << std::sqrt(0.5) << 1.0 - std::sqrt(0.5);
        QTest::newRow("unknown code is linear") << 9 << 0.5 << 0.5;
    }
    void fadeCurvesAtTheirMidpoints()
    {
        QFETCH(int, curve);
        QFETCH(double, fadeInMid);
        QFETCH(double, fadeOutMid);
        AudioClip clip = constant(4.0, 0.0);
        clip.fadeIn = 1.0;
        clip.fadeOut = 1.0;
        clip.fadeInCurve = curve;
        clip.fadeOutCurve = curve;
        const QList<float> out = flattenAudioTrack(audioTrack({clip}), R);
        QCOMPARE(out.size(), qsizetype(5 * R)); // one second of tail
        QCOMPARE(out[0], 0.0f);
        QVERIFY(qAbs(out[500] - fadeInMid) < 1e-6);
        QCOMPARE(out[1000], 1.0f);
        QCOMPARE(out[3000], 1.0f); // where the fade-out begins
        QVERIFY(qAbs(out[3500] - fadeOutMid) < 1e-6);
        QVERIFY(out[3999] < 0.01f); // its last sample
        QCOMPARE(out[4500], 0.0f);
    }

    void overlapsCrossfadeLinearly()
    {
        // Two clips overlapping from 2 s to 3 s, and one after a gap.
        const QList<float> out = flattenAudioTrack(
            audioTrack({constant(1.0, 7.0, 0.5f), constant(2.0, 1.0, 0.8f), constant(3.0, 2.0)}), R);
        QCOMPARE(out.size(), qsizetype(9 * R));
        QCOMPARE(out[500], 0.0f);
        QCOMPARE(out[6000], 0.0f);
        QCOMPARE(out[7500], 0.5f);
        QCOMPARE(out[8500], 0.0f);
        QCOMPARE(out[1500], 0.8f);
        // q = (x - from) / (to - from); earlier x (1 - q), later x q.
        const double q = 250.0 / 1000.0;
        QVERIFY(qAbs(out[2250] - (0.8 * (1.0 - q) + q)) < 1e-6);
        QCOMPARE(out[2000], 0.8f);
        QCOMPARE(out[3500], 1.0f);
    }

    void trimsAndEnvelope()
    {
        AudioClip clip;
        for (int i = 0; i < 3 * R; ++i)
            clip.samples << float(i) / (3 * R);
        clip.sampleRate = R;
        clip.start = 1.0;
        clip.audioStart = 1.0; // the first second of the source is cut
        clip.audioEnd = 0.5;
        TrackData track = audioTrack({clip});
        QList<float> out = flattenAudioTrack(track, R);
        QCOMPARE(out.size(), qsizetype(R + 2.5 * R));
        QCOMPARE(out[999], 0.0f);
        QCOMPARE(out[1000], float(R) / (3 * R));
        QCOMPARE(out[2499], float(2499) / (3 * R));
        QCOMPARE(out[2500], 0.0f);

        track.envelopeEnabled = true;
        track.volumeEnvelope = {EnvelopePoint{1.5, 0.5f}, EnvelopePoint{2.0, 1.5f}};
        out = flattenAudioTrack(track, R);
        QVERIFY(qAbs(out[1200] - 0.5f * 1200 / (3 * R)) < 1e-6); // before the first point
        QVERIFY(qAbs(out[1750] - 1.0f * 1750 / (3 * R)) < 1e-6); // half-way
        QVERIFY(qAbs(out[2400] - 1.5f * 2400 / (3 * R)) < 1e-6); // after the last
        QCOMPARE(envelopeValueAt(track.volumeEnvelope, 1.75), 1.0f);
        QCOMPARE(envelopeValueAt(track.volumeEnvelope, -3.0), 0.5f);
        QCOMPARE(envelopeValueAt({EnvelopePoint{1.0, 0.5f}}, 10.0), 0.5f);
    }

    void otherRatesKeepTheirDurationAndPitch()
    {
        // A 1 s 480 Hz tone at 48 kHz in a 44.1 kHz project.
        AudioClip clip;
        clip.samples = TestSupport::sineWave(480.0, 1.0, 48000, 0.5f);
        clip.sampleRate = 48000;
        clip.start = 0.5;
        const QList<float> out = flattenAudioTrack(audioTrack({clip}), 44100);
        QCOMPARE(out.size(), qsizetype(44100 + 1.5 * 44100));
        int last = 0;
        int crossings = 0;
        for (int i = 22050 + 200; i < 22050 + 44100 - 200; ++i) {
            if ((out[i - 1] < 0.0f) != (out[i] < 0.0f))
                ++crossings;
            if (std::abs(out[i]) > 0.1f)
                last = i;
        }
        QVERIFY2(std::abs(crossings - 2 * 480 * (44100 - 400) / 44100) <= 2,
                 qPrintable(QString::number(crossings)));
        QVERIFY(last > 22050 + 44100 - 250);
        QVERIFY(std::abs(out[22050 + 44100 + 100]) < 1e-3f); // silent after its second
    }

    void badValuesStayInsideTheBuffer()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        AudioClip early = constant(2.0, -1.0, 0.5f);
        AudioClip noRate = constant(1.0, 0.0);
        noRate.sampleRate = 0;
        AudioClip nanTrim = constant(1.0, 0.0);
        nanTrim.audioStart = nan;
        AudioClip far = constant(1.0, 1e300);
        AudioClip infinite = constant(1.0, inf);
        AudioClip hugeFade = constant(1.0, 0.5);
        hugeFade.fadeIn = 1e300;
        hugeFade.fadeOut = nan;
        const QList<float> out =
            flattenAudioTrack(audioTrack({early, noRate, nanTrim, far, infinite, hugeFade}), R);
        // Only the clip at -1 s (its second half) and the one at 0.5 s count.
        QCOMPARE(out.size(), qsizetype(R + 1.5 * R));
        QCOMPARE(out[0], 0.5f);
        // Crossfaded from 0.5 s to 1 s; the endless fade-in has barely started.
        QVERIFY(out[700] > 0.3f && out[700] < 0.31f);
        QVERIFY(flattenAudioTrack(audioTrack({far}), R).isEmpty());
        QVERIFY(flattenAudioTrack(audioTrack({early}), 0).isEmpty());
        QVERIFY(flattenAudioTrack(audioTrack({}), R).isEmpty());

        // A clip starting further before 0 than the buffer is long: at 0 s
        // its material at 10 s.
        AudioClip longBefore;
        for (int i = 0; i < 15 * R; ++i)
            longBefore.samples << float(i);
        longBefore.sampleRate = R;
        longBefore.start = -10.0;
        const QList<float> shifted = flattenAudioTrack(audioTrack({longBefore}), R);
        QCOMPARE(shifted.size(), qsizetype(6 * R));
        QCOMPARE(shifted[0], float(10 * R));
        QCOMPARE(shifted[5 * R - 1], float(15 * R - 1));
        QCOMPARE(shifted[5 * R], 0.0f);

        // A rate only a damaged file has would need a filter of gigabytes.
        AudioClip absurd;
        absurd.samples = QList<float>(50000, 0.5f);
        absurd.sampleRate = std::numeric_limits<int>::max();
        QVERIFY(flattenAudioTrack(audioTrack({absurd}), 44100).isEmpty());
    }

    void longLateAndOddRateMaterialIsKept()
    {
        // A clip running past two hours plays whole.
        const QList<float> out = flattenAudioTrack(audioTrack({constant(3.0, 7199.0)}), R);
        QCOMPARE(out.size(), qsizetype(R + 7202 * R));
        QCOMPARE(out[7201 * R], 1.0f);
        QCOMPARE(out[7199 * R - 1], 0.0f);

        // Without the silence before it: the clip and its second of tail.
        qint64 first = -1;
        const QList<float> late = flattenAudioTrackFrom(audioTrack({constant(3.0, 7199.0)}), R, first);
        QCOMPARE(first, qint64(7199 * R));
        QCOMPARE(late, out.mid(7199 * R));

        // A rate the project itself would refuse is resampled like any other.
        const QList<float> fast = flattenAudioTrack(audioTrack({constant(0.5, 1.0, 0.5f, 384000)}), R);
        QCOMPARE(fast.size(), qsizetype(R + 1.5 * R));
        QVERIFY2(std::abs(fast[1250] - 0.5f) < 1e-3f, qPrintable(QString::number(fast[1250])));

        // Past the longest render the material is cut, what comes before kept.
        const double limit = OfflineRender::kMaxTrackSeconds;
        const QList<float> cut = flattenAudioTrack(audioTrack({constant(5.0, limit - 2.0, 1.0f, 10)}), 10);
        QCOMPARE(cut.size(), qsizetype(limit * 10));
        QCOMPARE(cut.back(), 1.0f);
        QVERIFY(flattenAudioTrack(audioTrack({constant(5.0, limit, 1.0f, 10)}), 10).isEmpty());
    }

    void anyWindowHoldsWhatTheWholeBufferHolds()
    {
        // Fades of every curve, crossfades, a negative start, another rate,
        // an envelope: each window rendered alone matches the whole buffer.
        AudioClip early = constant(1.5, -0.5, 0.25f);
        early.fadeOut = 0.4;
        AudioClip ramp = constant(3.0, 0.8);
        ramp.samples = TestSupport::sineWave(1.6, 3.0, R, 1.0f);
        ramp.fadeIn = 0.3;
        ramp.fadeInCurve = 1;
        ramp.fadeOut = 0.7;
        ramp.fadeOutCurve = 3;
        ramp.audioStart = 0.2;
        AudioClip other = constant(1.0, 3.0, 0.6f, 1500);
        other.fadeIn = 0.2;
        other.fadeInCurve = 2;
        TrackData track = audioTrack({ramp, other, early});
        track.envelopeEnabled = true;
        track.volumeEnvelope = {EnvelopePoint{2.5, 1.2f}, EnvelopePoint{0.5, 0.3f}, EnvelopePoint{3.2, 0.7f}};
        const QList<float> whole = flattenAudioTrack(track, R);
        TrackFlattener flattener(track, R);
        QCOMPARE(flattener.frameCount(), whole.size());
        QCOMPARE(flattener.firstSoundingFrame(), qint64(0));
        QVERIFY(flattener.preparedBytes() > 0);
        flattener.prepare();
        const qint64 windows[][2] = {{0, whole.size()}, {0, 1}, {137, 1000}, {700, 901},
                                     {1499, 3}, {2999, 1200}, {whole.size() - 5, 5}};
        for (const auto& window : windows) {
            std::vector<float> part(size_t(window[1]), -7.0f);
            flattener.render(window[0], window[1], part.data());
            QVERIFY2(std::memcmp(part.data(), whole.constData() + window[0], part.size() * sizeof(float)) == 0,
                     qPrintable(QStringLiteral("window %1 + %2").arg(window[0]).arg(window[1])));
        }
    }

    void midiTempoScaling()
    {
        TrackData midi;
        midi.type = MidiTrack;
        MidiClip clip;
        clip.start = 2.0;
        clip.duration = 3.0;
        clip.notes = {MidiNote{60, 1.0, 0.5, 100}};
        midi.midiClips = {clip};
        const TrackData slow = tempoScaledTrack(midi, 120.0, 60.0);
        QCOMPARE(slow.midiClips[0].start, 4.0);
        QCOMPARE(slow.midiClips[0].duration, 6.0); // the clip grows with its notes
        QCOMPARE(slow.midiClips[0].notes[0].start, 2.0);
        QCOMPARE(slow.midiClips[0].notes[0].duration, 1.0);
        QCOMPARE(tempoScaledTrack(midi, 120.0, 120.0).midiClips[0].notes[0].start, 1.0);
        QCOMPARE(tempoScaledTrack(midi, 120.0, std::nan("")).midiClips[0].start, 2.0);
        QCOMPARE(tempoScaledTrack(midi, 0.0, 60.0).midiClips[0].start, 2.0);
        TrackData audio = audioTrack({constant(1.0, 2.0)});
        QCOMPARE(tempoScaledTrack(audio, 120.0, 60.0).audioClips[0].start, 2.0);
    }

    void renderSourcesSeeEveryChange()
    {
        TrackData track = audioTrack({constant(1.0, 0.0)});
        const TrackRenderSource first = TrackRenderSource::forAudio(track, R);
        QVERIFY(first == TrackRenderSource::forAudio(track, R));
        QVERIFY(first != TrackRenderSource::forAudio(track, 2 * R));
        QVERIFY(first != TrackRenderSource());

        track.audioClips[0].samples[10] = 0.25f; // in place: the kept copy makes it detach
        QVERIFY(first != TrackRenderSource::forAudio(track, R));
        const TrackRenderSource second = TrackRenderSource::forAudio(track, R);
        track.audioClips[0].fadeOutCurve = 2;
        QVERIFY(second != TrackRenderSource::forAudio(track, R));
        const TrackRenderSource third = TrackRenderSource::forAudio(track, R);
        track.volumeEnvelope.push_back(EnvelopePoint{0.5, 1.0f});
        QVERIFY(third != TrackRenderSource::forAudio(track, R));

        TrackData midi;
        midi.type = MidiTrack;
        midi.midiClips = {MidiClip{}};
        const TrackRenderSource piano = TrackRenderSource::forMidi(midi, R, "piano:88");
        QVERIFY(piano == TrackRenderSource::forMidi(midi, R, "piano:88"));
        QVERIFY(piano != TrackRenderSource::forMidi(midi, R, "sf2:/a.sf2"));
        midi.midiClips[0].notes.push_back(MidiNote{});
        QVERIFY(piano != TrackRenderSource::forMidi(midi, R, "piano:88"));
    }
};

QTEST_MAIN(TrackFlatteningTest)
#include "tst_TrackFlattening.moc"
