// Takes through real devices: an audio take from the PulseAudio null sink's
// loopback while another track plays a tone into the sink, and MIDI takes
// from a virtual keyboard port on the JACK dummy server.

#include "LoopbackCapture.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "engine/devices/RecordTakeQueue.h"
#include "engine/midi/MidiInput.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackFlattening.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <rtmidi/RtMidi.h>

using namespace LoopbackCapture;

namespace {

constexpr int kRate = 48000; // the null sink's own rate
// A capture's blocks come about every 11 ms, never 40 ms apart on a machine
// that holds nothing up.
constexpr double kHeldUpSeconds = 0.04;
// How long the stalled take stops the program.
constexpr double kStallSeconds = 0.3;

// Arms the track without the page hearing of it (a click disarms the others).
void arm(TrackRowWidget* row)
{
    const QSignalBlocker quiet(row->header());
    row->header()->setArmed(true);
}

} // namespace

class MultiTrackRecordingDevicesTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // Play and record on the test server as first used, a while after the
    // start, in a new project at its material's rate (not the page's first): the idle null
    // sink renders up to two seconds ahead, and a stream that only opens at
    // the press, or at the rate change, is heard, and records, that much later.
    void playAndRecordStartAtThePress()
    {
        CDW_REQUIRE_PULSE();
        ShellTestSupport::prepareApplication(settingsDir, false);
        ShellProbeWindow window;
        MultiTrackEditorPage& page = *window.multiTrackPage;
        // A blip at 0 s tells when the sound began, a tone from 1 s where the
        // playhead stood when it was heard (a dropout is no late start).
        QList<float> clip = TestSupport::sineWave(1000.0, 0.1, kRate, 0.5f);
        clip.resize(kRate, 0.0f);
        clip += TestSupport::sineWave(1000.0, 3.0, kRate, 0.5f);
        window.show();
        {
            // Two seconds of the server's time pass before the project opens.
            Capture before;
            StereoRecorder recorder;
            QVERIFY(recorder.start(kRate, &before));
            QVERIFY(waitFor([&] { return before.size() >= 4 * std::size_t(kRate); }));
        }
        window.openNewProject(QStringLiteral("multi"), kRate, 16, false);
        page.addTrack(AudioTrack, clip, kRate);
        page.addTrack(AudioTrack, {}, kRate);
        // Each is measured again, up to three times in all, only while it
        // fails in a try that the machine held up (a dropout of the playback,
        // or a stream on the server left waiting for its blocks): a stream
        // that opens only at the press, or a take placed wrong, fails at once.
        for (const char* step : {"play", "take", "stalled take"}) {
            QString problem;
            bool heldUp = true;
            for (int attempt = 0; attempt < 3 && heldUp && (attempt == 0 || !problem.isEmpty()); ++attempt) {
                if (attempt > 0)
                    qInfo().noquote() << step << "try" << attempt << "failed where the machine held a stream up:" << problem;
                problem = step == QLatin1String("play") ? playStartsAtThePress(page, heldUp)
                                                        : takeHoldsTheToneWhereItWasHeard(page, step[0] == 's', heldUp);
            }
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    void audioTakeOfATonePlayedIntoTheSink()
    {
        CDW_REQUIRE_PULSE();
        MultiTrackEditorPage page;
        page.setSampleRate(kRate);
        // Track 0 plays 1 kHz into the sink during the take; track 1 records
        // it back from the loopback source.
        page.addTrack(AudioTrack, TestSupport::sineWave(1000.0, 30.0, kRate, 0.5f), kRate);
        page.tracks[0].volume = 1.0f;
        page.addTrack(AudioTrack, {}, kRate);
        arm(page.rows[1]);
        page.syncPlayheadAll(2.0);

        page.onRecord();
        QVERIFY(page.recording());
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[1].audioClips[0].start, 2.0);
        // Streams start slowly: wait for the tone in the take, then a second more of it.
        const auto takeSize = [&] { return page.tracks[1].audioClips[0].samples.size(); };
        QVERIFY(waitFor([&] {
            const QList<float>& take = page.tracks[1].audioClips[0].samples;
            return take.size() > kRate / 10 && onset(std::vector<float>(take.begin(), take.end()), 0.1f) >= 0;
        }));
        const qsizetype heard = takeSize();
        QVERIFY(waitFor([&] { return takeSize() > heard + kRate; }));
        page.onRecord();
        QVERIFY(!page.recording());
        QVERIFY(!page.playing());

        const AudioClip take = page.tracks[1].audioClips[0];
        QCOMPARE(take.start, 2.0);
        QCOMPARE(take.sampleRate, kRate);
        const int n = kRate / 2;
        const float* last = take.samples.constData() + take.samples.size() - n;
        const double level = amplitudeAt(last, n, 1, 1000.0, kRate);
        // The median of its tenths of a second: a dropout of the playback
        // moves the tone's phase in one of them, a take that lost input or
        // level shows in most.
        std::vector<double> tenths;
        for (int k = 0; k < 5; ++k)
            tenths.push_back(amplitudeAt(last + k * n / 5, n / 5, 1, 1000.0, kRate));
        std::nth_element(tenths.begin(), tenths.begin() + 2, tenths.end());
        QVERIFY2(tenths[2] > 0.2 && tenths[2] < 0.6, qPrintable(QString::number(tenths[2])));

        // The mixdown of the take alone holds it where it lies.
        page.removeTrack(0);
        QList<float> mix;
        int rate = 0;
        QVERIFY(page.renderMixdown(mix, rate));
        QCOMPARE(rate, kRate);
        const qsizetype takeEnd = 2 * kRate + take.samples.size();
        QVERIFY(std::abs(mix.size() / 2 - takeEnd) <= 1);
        const float* mixLeft = mix.constData() + mix.size() - 2 * n;
        const double mixed = amplitudeAt(mixLeft, n, 2, 1000.0, kRate);
        QVERIFY2(std::abs(mixed - level * 0.8 * 0.707) < 0.01, qPrintable(QString::number(mixed)));
        QVERIFY(amplitudeAt(mix.constData(), kRate, 2, 1000.0, kRate) < 1e-6); // before the take
    }

    void midiTakesFromAJackKeyboard()
    {
        CDW_REQUIRE_JACK();
        if (QFile::exists(QStringLiteral("/dev/snd/seq")))
            QSKIP("this machine has an ALSA sequencer: MIDI input uses it instead of JACK");
        RtMidiOut keyboard(RtMidi::UNIX_JACK, "CdwRecordingKeyboard");
        keyboard.openVirtualPort("keys");

        MultiTrackEditorPage page;
        auto* input = page.findChild<MidiInput*>();
        QVERIFY(input);
        const int port = input->availableDevices().indexOf(QStringLiteral("CdwRecordingKeyboard:keys"));
        QVERIFY(port >= 0);
        QVERIFY(input->openDevice(port));
        page.addMidiTrack(QString(), {}, 2.0); // an older clip, 0 .. 2 s
        arm(page.rows[0]);
        const std::vector<MidiClip> before = page.tracks[0].midiClips;
        const int undoCount = page.undoStack->count();

        // A message's time on the take's clock lies between its sending and
        // the page's handling of it, however busy the machine is; durations
        // are differences of two such times.
        QSignalSpy arrivals(input, &MidiInput::rawMidiReceived);
        QElapsedTimer take;
        struct Window {
            double sent;
            double handled;
        };
        auto play = [&](std::vector<unsigned char> message) {
            const double sent = take.elapsed() / 1000.0;
            const int seen = arrivals.count();
            keyboard.sendMessage(&message);
            if (!QTest::qWaitFor([&] { return arrivals.count() > seen; }, 10000))
                return Window{sent, -1.0};
            QCoreApplication::processEvents(); // the page's queued handler
            return Window{sent, take.elapsed() / 1000.0};
        };
        auto within = [](double value, double from, double to) {
            return value >= from - 0.01 && value <= to + 0.01;
        };

        // A take without keys leaves nothing.
        page.syncPlayheadAll(1.0);
        page.onRecord();
        QVERIFY(page.midiRecording());
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(2));
        page.onRecord();
        QVERIFY(!page.midiRecording());
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(1));
        QCOMPARE(page.undoStack->count(), undoCount);
        page.onStop();

        // Pitch 60 for about 0.4 s, then 64 held across the stop.
        page.syncPlayheadAll(3.0);
        // The take's clock starts somewhere within onRecord.
        take.start();
        page.onRecord();
        const double slack = take.elapsed() / 1000.0;
        QTest::qWait(200);
        const Window on = play({0x90, 60, 90});
        QTest::qWait(400);
        const Window off = play({0x80, 60, 0});
        const Window held = play({0x90, 64, 70});
        QVERIFY(on.handled > 0 && off.handled > 0 && held.handled > 0);
        QTest::qWait(300);
        const double stopFrom = take.elapsed() / 1000.0;
        page.onRecord();
        const double stopTo = take.elapsed() / 1000.0;

        const MidiClip& clip = page.tracks[0].midiClips.back();
        QCOMPARE(clip.start, 3.0);
        QCOMPARE(clip.notes.size(), size_t(2));
        const MidiNote& first = clip.notes[0];
        const MidiNote& last = clip.notes[1];
        QCOMPARE(first.pitch, 60);
        QCOMPARE(first.velocity, 90);
        QVERIFY2(within(first.start, on.sent - slack, on.handled), qPrintable(QString::number(first.start)));
        QVERIFY2(within(first.start + first.duration, off.sent - slack, off.handled),
                 qPrintable(QString::number(first.duration)));
        QCOMPARE(last.pitch, 64);
        QVERIFY(within(last.start, held.sent - slack, held.handled));
        // The held note ends at the stop, not at its own note-on.
        QVERIFY2(within(last.start + last.duration, stopFrom - slack, stopTo),
                 qPrintable(QStringLiteral("%1 + %2").arg(last.start).arg(last.duration)));
        QVERIFY(clip.duration >= last.start + last.duration);
        QCOMPARE(page.undoStack->count(), undoCount + 1);
        QCOMPARE(page.undoStack->text(undoCount), QStringLiteral("录音"));
        page.undoStack->undo();
        QCOMPARE(page.tracks[0].midiClips.size(), before.size());
        page.onStop();

        // At 60 BPM with the clips held at 120 the take is held at half its
        // played times and plays back where it was played.
        page.bpm = 60.0;
        page.syncPlayheadAll(3.0);
        take.start();
        page.onRecord();
        const Window slowOn = play({0x90, 67, 100});
        QTest::qWait(600);
        const Window slowOff = play({0x80, 67, 0});
        page.onRecord();
        const MidiClip& slow = page.tracks[0].midiClips.back();
        QCOMPARE(slow.start, 1.5);
        QCOMPARE(slow.notes.size(), size_t(1));
        const double playedLength = 2.0 * slow.notes[0].duration;
        QVERIFY2(within(playedLength, slowOff.sent - slowOn.handled, slowOff.handled - slowOn.sent),
                 qPrintable(QString::number(playedLength)));
        const TrackData played = page.tempoScaledTrack(page.tracks[0]);
        QCOMPARE(played.midiClips.back().start, 3.0);
        QCOMPARE(played.midiClips.back().notes[0].duration, playedLength);
        page.onStop();
        input->closeDevice();
    }
private:
    // The longest wait between two blocks of a stereo capture once it held
    // sound (a stream opened at the press may wait before its first sound:
    // that is the fault looked for, not the machine). With a stall started
    // at `stallFrom` on the steady clock, the longest wait after it is the
    // stall's: the waits that ended from stallFrom to a tenth of a second
    // after it are left out.
    static double longestWaitAfterSound(Capture& capture, double stallFrom = -1.0)
    {
        const int sound = onset(capture.take(), 0.1f, 2);
        std::vector<std::pair<double, double>> waits; // ended, seconds
        double stallEnded = 0.0, stallWait = 0.0;
        {
            std::lock_guard<std::mutex> lock(capture.mutex);
            for (std::size_t i = 1; sound >= 0 && i < capture.arrivals.size(); ++i) {
                if (capture.arrivals[i - 1].first <= 2 * std::size_t(sound))
                    continue;
                const double ended = capture.arrivals[i].second, wait = ended - capture.arrivals[i - 1].second;
                waits.emplace_back(ended, wait);
                if (stallFrom >= 0.0 && ended > stallFrom && wait > stallWait) {
                    stallEnded = ended;
                    stallWait = wait;
                }
            }
        }
        double longest = 0.0;
        for (const auto& [ended, wait] : waits) {
            if (stallFrom < 0.0 || ended < stallFrom || ended > stallEnded + 0.1)
                longest = std::max(longest, wait);
        }
        return longest;
    }

    // Play from the start: the first sound, and where the playhead stood
    // when the tone at 1 s was heard. Empty when in time, else the figures;
    // `heldUp` when the playback dropped out or the capture waited once it
    // heard the sound.
    static QString playStartsAtThePress(MultiTrackEditorPage& page, bool& heldUp)
    {
        heldUp = false;
        page.syncPlayheadAll(0.0);
        Capture capture;
        StereoRecorder recorder;
        const double pressed = steadySeconds();
        page.onPlayPause();
        if (!recorder.start(kRate, &capture))
            return QStringLiteral("no capture");
        std::vector<std::pair<double, double>> playheads; // time, playhead
        int began = -1;
        int tone = -1;
        const bool toneHeard = waitFor([&] {
            playheads.emplace_back(steadySeconds(), page.playheadPosition());
            const std::vector<float> heard = capture.take();
            began = onset(heard, 0.1f, 2);
            tone = began < 0 ? -1 : onset(heard, 0.1f, 2, began + kRate / 5);
            return tone >= 0;
        });
        recorder.stop();
        const std::size_t dropouts = page.mixingEngine()->playbackGaps().size();
        page.onStop();
        const double waited = longestWaitAfterSound(capture);
        heldUp = dropouts > 0 || waited > kHeldUpSeconds;
        if (!toneHeard)
            return QStringLiteral("nothing heard");
        const double beganAt = capture.timeOf(2 * std::size_t(began), 2 * kRate);
        const double toneHeardAt = capture.timeOf(2 * std::size_t(tone), 2 * kRate);
        // The first playhead read after the tone was heard, less the time
        // since: a busy machine reads it late, not wrong.
        const auto shown = std::find_if(playheads.begin(), playheads.end(),
                                        [&](const auto& p) { return p.first > toneHeardAt; });
        const double shownAtTone = shown == playheads.end() ? -1.0 : shown->second - (shown->first - toneHeardAt);
        const QString figures = QStringLiteral("sound %1 s after the press, playhead %2 at the tone; %3 dropouts, capture waited %4 s")
                                    .arg(beganAt - pressed).arg(shownAtTone).arg(dropouts).arg(waited);
        qInfo().noquote() << figures;
        // How soon is a benchmark's; a stream opened only at the press is
        // heard up to two seconds late.
        return beganAt - pressed < 1.0 && std::abs(shownAtTone - 1.0) < 0.1 ? QString() : figures;
    }

    // The take starts with the press, ends where the playback was heard at
    // the stop, and holds the tone where it was heard: later by as long as
    // the playback dropped out before it. With `stall` the program stands
    // kStallSeconds in the take while the server runs on: the output runs
    // dry, and the take keeps all its input, the blip at the start too (a
    // tenth of a second long, longer by a dropout within it). Empty when so,
    // else the figures; `heldUp` when the playback dropped out, or a capture
    // beside the take waited for its blocks once it heard sound, other than
    // by the stall.
    static QString takeHoldsTheToneWhereItWasHeard(MultiTrackEditorPage& page, bool stall, bool& heldUp)
    {
        heldUp = false;
        arm(page.rows[1]);
        const double recordPressed = steadySeconds();
        page.onRecord();
        Capture beside;
        StereoRecorder recorder;
        if (!recorder.start(kRate, &beside))
            return QStringLiteral("no capture");
        if (!waitFor([&] { return !page.tracks[1].audioClips.back().samples.isEmpty(); }))
            return QStringLiteral("no input");
        // When the input began, not when a busy machine handed it over.
        const double inputLate = page.recordQueue()->inputBeganNs(kRate) / 1e9 - recordPressed;
        // (the fork that starts the stall holds this process up too)
        double stallFrom = -1.0;
        if (stall) {
            waitFor([&] { return page.playheadPosition() > 0.3; });
            stallFrom = steadySeconds();
            const QString halt = QStringLiteral("kill -STOP %1; sleep %2; kill -CONT %1")
                                     .arg(QCoreApplication::applicationPid()).arg(kStallSeconds);
            if (!QProcess::startDetached(QStringLiteral("sh"), {QStringLiteral("-c"), halt}))
                return QStringLiteral("no stall");
        }
        waitFor([&] { return page.playheadPosition() > 2.0; });
        const double recorded = steadySeconds() - recordPressed;
        const double heardAtStop = page.mixingEngine()->heardPosition();
        page.onRecord();
        recorder.stop();
        const std::vector<MultiTrackAudioEngine::PlaybackGap> gaps = page.mixingEngine()->playbackGaps();
        double stood = 0.0, stoodBeforeBlip = 0.0, stoodBeforeTone = 0.0; // the playback's dropouts
        for (const auto& gap : gaps) {
            stood += gap.seconds;
            stoodBeforeBlip += gap.at < 0.1 ? gap.seconds : 0.0;
            stoodBeforeTone += gap.at < 1.0 ? gap.seconds : 0.0;
        }
        const double waited = longestWaitAfterSound(beside, stallFrom);
        heldUp = (stall ? stood > kStallSeconds + kHeldUpSeconds : !gaps.empty()) || waited > kHeldUpSeconds;
        const double takeStart = page.tracks[1].audioClips.back().start;
        const QList<float> take = page.tracks[1].audioClips.back().samples;
        page.undoStack->undo();
        page.onStop();
        // (after the tail of the playback before, which the device still held at the stop)
        const int toneAt = onset(std::vector<float>(take.begin(), take.end()), 0.1f, 1, kRate / 2);
        const double takeEnd = takeStart + double(take.size()) / kRate;
        int blipEnd = std::min<int>(kRate / 2, int(take.size()));
        while (blipEnd > 0 && std::abs(take[blipEnd - 1]) < 0.1f)
            --blipEnd;
        const QString figures =
            QStringLiteral("input %1 s after the press; take to %2 s, heard %3 s at the stop %4 s after the press; blip ends at %5 s, tone at %6 s, dropouts %7 s in %8, capture waited %9 s")
                .arg(inputLate).arg(takeEnd).arg(heardAtStop).arg(recorded).arg(double(blipEnd) / kRate)
                .arg(double(toneAt) / kRate).arg(stood).arg(gaps.size()).arg(waited);
        qInfo().noquote() << figures;
        const bool placed = (stall ? stoodBeforeTone > 0.2 && std::abs(double(blipEnd) / kRate - 0.1 - stoodBeforeBlip) < 0.05
                                   : inputLate < 0.5 && std::abs(takeEnd - heardAtStop - stood) < 0.15)
            && std::abs(double(toneAt) / kRate - 1.0 - stoodBeforeTone) < 0.05;
        return placed ? QString() : figures;
    }
};

QTEST_MAIN(MultiTrackRecordingDevicesTest)
#include "tst_MultiTrackRecordingDevices.moc"
