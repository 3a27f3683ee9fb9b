// Recording on the multitrack page with a scripted input device: the take
// lands at the playhead holding what a foreign thread fed it, in order; it is
// one undo step; playback during the take leaves the take out; a start that
// fails or a take that recorded nothing leaves no clip; Space or stop ends a take;
// the refusals.

#include "../engine/FakeAudioDevice.h"
#include "TestSupport.h"
#include "app/StartUp.h"
#include "engine/devices/RecordTakeQueue.h"
#include "engine/midi/MidiRecorder.h"
#include "engine/ui/MidiDeviceDialog.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <chrono>
#include <numeric>
#include <thread>

namespace {

constexpr int kRate = 44100;

QPushButton* recordButton(QWidget& page)
{
    for (QPushButton* b : page.findChildren<QPushButton*>()) {
        if (b->objectName() == QLatin1String("TransportRecordButton"))
            return b;
    }
    return nullptr;
}

QPushButton* buttonWithText(QWidget& page, const QString& text)
{
    for (QPushButton* b : page.findChildren<QPushButton*>()) {
        if (b->text() == text && b->objectName() == QLatin1String("TransportPlayButton"))
            return b;
    }
    return nullptr;
}

// Closes the next modal message box and keeps its title and text.
class MessageBoxWatcher {
public:
    MessageBoxWatcher()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                poll.stop();
                box->accept();
            }
        });
        poll.start(10);
    }
    QString title;
    QString text;

private:
    QTimer poll;
};

// Arms a track's header without the page hearing of it (arming by click
// disarms the other tracks).
void arm(MultiTrackEditorPage& page, int index, bool armed = true)
{
    TrackHeaderWidget* header = page.rows[size_t(index)]->header();
    const QSignalBlocker quiet(header);
    header->setArmed(armed);
}

// An audio take at `at` on the page's one track from a scripted input device.
void startScriptedTake(MultiTrackEditorPage& page, const std::shared_ptr<FakeDeviceState>& device, double at = 0.0)
{
    page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
    page.addTrack(AudioTrack, {}, kRate);
    arm(page, 0);
    page.syncPlayheadAll(at);
    page.onRecord();
}

// Presses record and feeds the take one block: the seconds from before the
// press to after the block, as long as a busy machine can have held the
// test thread between them.
double recordOneBlock(MultiTrackEditorPage& page, const FakeDeviceState& device, const std::vector<float>& block)
{
    QElapsedTimer sincePress;
    sincePress.start();
    page.onRecord();
    device.runBlock(int(block.size()), block.data());
    return sincePress.nsecsElapsed() / 1e9;
}

// A take of one block of steady input: the block, after no more silence
// than the test thread stood between the press and the block.
bool endsWithInputAfterSilence(const QList<float>& take, qsizetype count, float value, double stood)
{
    const qsizetype silence = take.size() - count;
    return silence >= 0 && silence <= qsizetype(stood * kRate) && take.first(silence) == QList<float>(silence, 0.0f)
        && take.last(count) == QList<float>(count, value);
}

} // namespace

class MultiTrackRecordingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The output and the MIDI side have no device here: only the
        // scripted input records.
        TestSupport::withoutSoundServers();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        StartUp::applyStyleSheet(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    }

    void noTracksOrNoArmedTrackStartsNothing()
    {
        MultiTrackEditorPage page;
        {
            MessageBoxWatcher box;
            page.onRecord();
            QCOMPARE(box.title, QStringLiteral("录音"));
            QCOMPARE(box.text, QStringLiteral("请先添加轨道。"));
        }
        page.addTrack(AudioTrack, {}, kRate);
        page.addTrack(MidiTrack, {}, kRate);
        {
            MessageBoxWatcher box;
            page.onRecord();
            QCOMPARE(box.text, QStringLiteral("没有预位的轨道，请先点击 R 按钮预位一条轨道。"));
        }
        QVERIFY(!page.recording());
        QCOMPARE(recordButton(page)->text(), QStringLiteral("录制"));
        QVERIFY(page.tracks[0].audioClips.empty());
        QVERIFY(page.tracks[1].midiClips.empty());
    }

    void scriptedTakeLandsAtThePlayheadInOrderAsOneUndoStep()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        page.resize(1400, 700);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 1.0, kRate), kRate); // 1 s at 0 s
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 1.0, kRate), kRate);
        arm(page, 0);
        arm(page, 1); // only the upper armed audio track records
        page.syncPlayheadAll(12.0);
        const std::vector<AudioClip> before = page.tracks[0].audioClips;
        const int undoCount = page.undoStack->count();

        page.onRecord();
        QVERIFY(page.recording());
        QCOMPARE(recordButton(page)->text(), QStringLiteral("停止"));
        QVERIFY(device->open && device->hasInput);
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(1));
        const AudioClip& take = page.tracks[0].audioClips.back();
        QCOMPARE(take.start, 12.0);
        QCOMPARE(take.sampleRate, kRate);
        QVERIFY(take.samples.isEmpty());
        // Playback during the take: the track plays its old clip (1 s and the
        // second of tail), not the take.
        const auto& engineSlots = page.mixingEngine()->currentSlots();
        QCOMPARE(engineSlots.size(), size_t(2));
        QCOMPARE(engineSlots[0].sampleCount, 2 * kRate);

        constexpr int kBlocks = 10;
        constexpr int kFrames = 512;
        std::thread audioThread([device] {
            std::vector<float> block(kFrames);
            for (int b = 0; b < kBlocks; ++b) {
                for (int i = 0; i < kFrames; ++i)
                    block[size_t(i)] = float(b * kFrames + i) / (kBlocks * kFrames);
                device->runBlock(kFrames, block.data());
            }
        });
        audioThread.join();
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(kBlocks * kFrames));
        page.applyZoom(10.0, -1); // the take in view (the playhead follows)
        QTest::qWait(150);
        QVERIFY(TestSupport::saveScreenshot(page.grab(), QStringLiteral("multitrack-recording.png")));

        page.onRecord();
        QVERIFY(!page.recording());
        QCOMPARE(recordButton(page)->text(), QStringLiteral("录制"));
        QVERIFY(!device->open);
        const QList<float> recorded = page.tracks[0].audioClips.back().samples;
        QCOMPARE(recorded.size(), qsizetype(kBlocks * kFrames));
        for (int i = 0; i < kBlocks * kFrames; ++i)
            QCOMPARE(recorded[i], float(i) / (kBlocks * kFrames));
        QCOMPARE(page.undoStack->count(), undoCount + 1);
        QCOMPARE(page.undoStack->text(undoCount), QStringLiteral("录音"));

        page.undoStack->undo();
        QCOMPARE(page.tracks[0].audioClips.size(), before.size());
        QCOMPARE(page.tracks[0].audioClips[0].samples, before[0].samples);
        page.undoStack->redo();
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips.back().samples, recorded);

        // Playback now takes the take in: 12 s + 5120 frames + the tail.
        page.buildPlaybackSlotsForRecording(-1);
        QVERIFY(std::abs(page.mixingEngine()->currentSlots()[0].sampleCount - (13 * kRate + kBlocks * kFrames)) <= 1);
    }

    void aFailedStartOrAnEmptyTakeLeavesNothing()
    {
        MultiTrackEditorPage page;
        auto noInput = FakeDeviceState::withDevices(false);
        page.setRecordDeviceFactory([noInput] { return FakeAudioDevice::make(noInput); });
        page.addTrack(AudioTrack, {}, kRate);
        page.addTrack(MidiTrack, {}, kRate);
        arm(page, 0);
        arm(page, 1);
        const int undoCount = page.undoStack->count();
        {
            MessageBoxWatcher box;
            page.onRecord();
            QCOMPARE(box.title, QStringLiteral("录音失败"));
        }
        QVERIFY(!page.recording());
        QVERIFY(!page.midiRecording());
        QCOMPARE(recordButton(page)->text(), QStringLiteral("录制"));
        QVERIFY(page.tracks[0].audioClips.empty());
        QVERIFY(page.tracks[1].midiClips.empty());
        QVERIFY(!page.recordQueue()->isActive());

        // With an input that delivers nothing, stop leaves no clip and no step.
        auto device = FakeDeviceState::withDevices();
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.onRecord();
        QVERIFY(page.recording() && page.midiRecording());
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(1));
        {
            MessageBoxWatcher box;
            page.onRecord();
            QTRY_COMPARE(box.text, QStringLiteral("录音没有录下任何内容：停止之前没有收到音频输入。"));
        }
        QVERIFY(!page.recording() && !page.midiRecording());
        QVERIFY(page.tracks[0].audioClips.empty());
        QVERIFY(page.tracks[1].midiClips.empty());
        QCOMPARE(page.undoStack->count(), undoCount);
        // Input all from before the playback was first heard (an output that
        // never played) leaves no clip either, not a sample of it.
        auto output = FakeDeviceState::withDevices(false);
        page.setOutputDeviceFactory([output] { return FakeAudioDevice::make(output); });
        arm(page, 1, false);
        page.onRecord();
        const std::vector<float> block(512, 0.25f);
        device->runBlock(512, block.data());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        {
            MessageBoxWatcher box;
            page.onRecord();
            QTRY_COMPARE(box.text, QStringLiteral("录音没有录下任何内容：停止之前没有收到音频输入。"));
        }
        QVERIFY(page.tracks[0].audioClips.empty());
        arm(page, 1);

        // A MIDI take starts the playback and the play button offers the pause.
        arm(page, 0, false);
        page.onRecord();
        QVERIFY(page.midiRecording() && page.playing());
        QVERIFY(buttonWithText(page, QStringLiteral("暂停")));
        page.onRecord();
        page.onStop();
        QVERIFY(buttonWithText(page, QStringLiteral(">")));
    }

    void editsAroundATakeLeaveTheUsersClipsAlone()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 1.0, kRate), kRate);
        arm(page, 0);
        page.onRecord();
        std::vector<float> block(512, 0.25f);
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(512));
        // An undo during the take (here of the track's earlier state) puts
        // back a clip list without the take: the input must not land in the
        // user's own clip.
        const QList<float> own = page.tracks[0].audioClips.front().samples;
        page.tracks[0].audioClips.pop_back();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("take clip was replaced"));
        device->runBlock(512, block.data());
        page.onRecord();
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[0].audioClips.front().samples, own);

        // Removing a track above the take ends the take first, kept where it was recorded.
        page.addTrack(AudioTrack, {}, kRate);
        arm(page, 0, false);
        arm(page, 1);
        const double stood = recordOneBlock(page, *device, block);
        page.removeTrack(0);
        QVERIFY(!page.recording());
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QVERIFY(endsWithInputAfterSilence(page.tracks[0].audioClips[0].samples, 512, 0.25f, stood));
        QCOMPARE(page.undoStack->text(page.undoStack->count() - 2), QStringLiteral("录音"));

        // Material of another rate imported during a take keeps the
        // project's rate: the take goes on at its rate.
        page.onRecord();
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(512));
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 0.5, 22050), 22050);
        QVERIFY(page.recording());
        QCOMPARE(page.sampleRate(), kRate);
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(1024));
        page.onRecord();
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips.back().sampleRate, kRate);
        QCOMPARE(page.tracks[1].audioClips.back().sampleRate, 22050);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("录音"));
    }

    // Rendering in place adds a track above the take's: the take is kept
    // on the track it was recorded on.
    void renderingInPlaceAboveATakeKeepsTheTake()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.addMidiTrack(QStringLiteral("keys"), {MidiNote{60, 0.0, 0.5, 100}}, 1.0);
        page.addTrack(AudioTrack, {}, kRate, QStringLiteral("vox"));
        arm(page, 1);
        std::vector<float> block(512, 0.25f);
        const double stood = recordOneBlock(page, *device, block);
        QTRY_COMPARE(page.tracks[1].audioClips.back().samples.size(), qsizetype(512));
        emit page.rows[0]->renderMidiInPlace(0);
        device->runBlock(512, block.data());
        if (page.recording())
            page.onRecord();
        QCOMPARE(page.tracks.size(), size_t(3));
        QCOMPARE(page.tracks[2].name, QStringLiteral("vox"));
        QCOMPARE(page.tracks[2].audioClips.size(), size_t(1));
        QVERIFY(endsWithInputAfterSilence(page.tracks[2].audioClips[0].samples, 512, 0.25f, stood));
        page.undo(); // the render
        page.undo(); // the take
        QCOMPARE(page.tracks.size(), size_t(2));
        QVERIFY(page.tracks[1].audioClips.empty());
    }

    // A clip drawn on the track a MIDI take records on is refused like its
    // other edits (undo would mix it up with the take's); an import of
    // another rate does not end the take.
    void aMidiTakeOutlastsDrawingAndImports()
    {
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("keys"), {MidiNote{60, 0.0, 0.5, 100}}, 1.0);
        const int undoCount = page.undoStack->count();
        arm(page, 0);
        page.onRecord();
        QVERIFY(page.midiRecording());
        emit page.rows[0]->midiLane()->clipCreated(10.0, 1.0);
        auto* recorder = page.findChild<MidiRecorder*>();
        QVERIFY(recorder);
        emit recorder->noteCompleted(MidiNote{64, 0.1, 0.2, 90});
        page.onRecord();
        page.onStop();
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].midiClips[1].notes.size(), size_t(1));
        while (page.undoStack->index() > undoCount)
            page.undo();
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(1));
        QCOMPARE(page.tracks[0].midiClips[0].notes.size(), size_t(1));

        page.onRecord();
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 0.5, 22050), 22050);
        QVERIFY(page.midiRecording() && page.playing());
        QCOMPARE(page.sampleRate(), kRate);
        page.onRecord();
        page.onStop();
    }

    // A GUI thread stalled longer than the hand-off's ring holds loses no
    // input; input lost all the same is told.
    void aLongStallLosesNoInputAndLostInputIsTold()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        startScriptedTake(page, device);
        // 70 s of input while this thread handles no event at all.
        std::vector<float> block(512);
        const int blocks = 70 * kRate / 512;
        for (int b = 0; b < blocks; ++b) {
            block[0] = float(b);
            device->runBlock(512, block.data());
        }
        {
            MessageBoxWatcher box;
            page.onRecord();
            QCoreApplication::processEvents();
            QVERIFY(box.title.isEmpty());
        }
        const QList<float>& take = page.tracks[0].audioClips.at(0).samples;
        QCOMPARE(take.size(), qsizetype(blocks) * 512);
        QCOMPARE(take[qsizetype(blocks - 1) * 512], float(blocks - 1));

        std::fill(block.begin(), block.end(), 0.25f);
        double stood = recordOneBlock(page, *device, block);
        const std::vector<float> oversized(size_t(page.recordQueue()->capacity()) + kRate, 0.1f);
        QVERIFY(!page.recordQueue()->push(oversized.data(), int(oversized.size())));
        MessageBoxWatcher box;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^RecordTakeQueue: dropped"));
        page.onRecord();
        QTRY_COMPARE(box.title, QStringLiteral("录音"));
        QVERIFY2(box.text.contains(QStringLiteral("61.00 秒")), qPrintable(box.text));
        QVERIFY(endsWithInputAfterSilence(page.tracks[0].audioClips.at(1).samples, 512, 0.25f, stood));

        // A stop after the input's device went away (its server lost) waits
        // for no input, none can come: half a second if it did. A busy machine
        // may hold one stop that long; a stop that waits waits in every try.
        qint64 quickest = std::numeric_limits<qint64>::max();
        for (int attempt = 0; attempt < 3 && quickest >= 400; ++attempt) {
            page.undoStack->undo();
            device->lost = false;
            stood = recordOneBlock(page, *device, block);
            device->lost = true;
            QElapsedTimer stopping;
            stopping.start();
            page.onStop();
            quickest = std::min(quickest, stopping.elapsed());
            QVERIFY(endsWithInputAfterSilence(page.tracks[0].audioClips.back().samples, 512, 0.25f, stood));
        }
        QVERIFY2(quickest < 400, qPrintable(QStringLiteral("%1 ms").arg(quickest)));
    }

    // An input slow to open holds no press, and the other tracks start only
    // once it is open: what they play from the take's start is recorded.
    void anInputSlowToOpenStartsThePlaybackOnceOpen()
    {
        auto input = FakeDeviceState::withDevices();
        input->mixes = true; // opened on the record engine's device thread
        std::atomic<bool> opening{true};
        input->onCall = [&opening](const std::string& call) {
            while (call == "open" && opening)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        auto output = FakeDeviceState::withDevices(false);
        MultiTrackEditorPage page;
        page.setOutputDeviceFactory([output] { return FakeAudioDevice::make(output); });
        page.setRecordDeviceFactory([input] { return FakeAudioDevice::make(input); });
        page.addTrack(AudioTrack, QList<float>(kRate, 0.25f), kRate);
        page.addTrack(AudioTrack, {}, kRate);
        arm(page, 1);
        page.onRecord();
        QTest::qWait(100);
        QVERIFY(page.recording() && !page.mixingEngine()->isPlaying());
        opening = false;
        QTRY_VERIFY(page.mixingEngine()->isPlaying());
        page.onRecord();
        QVERIFY(!page.recording());
    }

    // A take keeps all its input in order: a stretch of requests served
    // late that the output's buffer covered and an output clock slower than
    // the machine's are no dropouts; the one real dropout of the playback is
    // told after the take, where and how long.
    void aTakeKeepsAllItsInputAndTellsOfTheRealDropoutOnly()
    {
        auto input = FakeDeviceState::withDevices();
        auto output = FakeDeviceState::withDevices(false);
        output->outputLatency = 4 * 512;
        MultiTrackEditorPage page;
        page.setOutputDeviceFactory([output] { return FakeAudioDevice::make(output); });
        startScriptedTake(page, input, 2.0);
        // A device clock 400 ppm slow; four requests fill the buffer, then one
        // a block. 4 s in (6 s on the timeline) one comes 150 ms late, 115.2 ms
        // after the 3 blocks held ran out: the device refills and plays on that
        // late. From 40 s to 42 s requests are served 10-30 ms late.
        const double t0 = double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch()).count());
        const double blockNs = 512.0 / kRate * 1e9 * (1.0 + 400e-6);
        std::vector<float> out(2 * 512), in(512);
        float next = 0.0f;
        double last = 0.0;
        for (int b = 0; b < 46 * kRate / 512; ++b) {
            double due = t0 + std::max(b - 3, 0) * blockNs + (b >= 349 ? 150e6 - 3 * blockNs : 0.0);
            if (b >= 3445 && b < 3618)
                due += 20e6 + 10e6 * std::sin(b * 0.05);
            if (b >= 345 && b < 349)
                due = t0 + 342 * blockNs + 150e6;
            last = std::max(due, last + 1e5); // a device late behind catches up at once
            page.mixingEngine()->processBlockAt(out.data(), 512, std::int64_t(last));
            for (float& v : in)
                v = next++;
            input->runBlock(512, in.data());
        }
        MessageBoxWatcher box;
        page.onRecord();
        // Nothing left out, nothing rewritten (the start may drop input from
        // before the playback was heard, as it is placed by what was heard).
        const QList<float>& take = page.tracks[0].audioClips.back().samples;
        std::vector<float> expected(std::size_t(take.size()));
        std::iota(expected.begin(), expected.end(), next - float(take.size()));
        QVERIFY(take.size() > qsizetype(next) - kRate / 2 && std::equal(take.begin(), take.end(), expected.begin()));
        QTRY_VERIFY2(box.text.contains(QStringLiteral("中断了 1 次"))
                         && box.text.contains(QStringLiteral("00:00:06.005 处中断约 115 毫秒")),
                     qPrintable(box.text));
    }

    void spaceOrStopEndsTheTake()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.addTrack(AudioTrack, TestSupport::sineWave(300.0, 1.0, kRate), kRate);
        page.addTrack(MidiTrack, {}, kRate);
        const std::vector<float> block(512, 0.25f);
        const int undoCount = page.undoStack->count();

        // Space ends an audio take with what it recorded, as one step.
        arm(page, 0);
        page.syncPlayheadAll(3.0);
        const double stood = recordOneBlock(page, *device, block);
        QTest::keyClick(&page, Qt::Key_Space);
        QVERIFY(!page.recording() && !page.playing());
        QVERIFY(!device->open);
        QCOMPARE(recordButton(page)->text(), QStringLiteral("录制"));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips.back().start, 3.0);
        QVERIFY(endsWithInputAfterSilence(page.tracks[0].audioClips.back().samples, 512, 0.25f, stood));
        QCOMPARE(page.undoStack->count(), undoCount + 1);

        // So does the stop button, for an audio and for a MIDI take.
        page.syncPlayheadAll(5.0);
        page.onRecord();
        device->runBlock(512, block.data());
        page.onStop();
        QVERIFY(!page.recording());
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(3));
        QCOMPARE(page.undoStack->count(), undoCount + 2);
        QCOMPARE(page.playheadPosition(), 5.0);
        arm(page, 0, false);
        arm(page, 1);
        page.onRecord();
        QVERIFY(page.midiRecording());
        page.onStop();
        QVERIFY(!page.recording() && !page.midiRecording() && !page.playing());
        QVERIFY(page.tracks[1].midiClips.empty());
        QCOMPARE(recordButton(page)->text(), QStringLiteral("录制"));
    }

    void midiDeviceDialogSetsTheConnection()
    {
        MultiTrackEditorPage page;
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<MidiDeviceDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            emit dialog->deviceSelected(0);
            dialog->reject();
        });
        page.showMidiDeviceDialog();
        QVERIFY(page.midiDeviceConnected());
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<MidiDeviceDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            emit dialog->disconnected();
            dialog->reject();
        });
        page.showMidiDeviceDialog();
        QVERIFY(!page.midiDeviceConnected());
    }
};

QTEST_MAIN(MultiTrackRecordingTest)
#include "tst_MultiTrackRecording.moc"
