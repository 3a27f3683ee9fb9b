// The piano roll's audio output: what its device reads in each sink format,
// silence without an instrument, one instrument rate shared with the live
// output, one roll at a time drawing the voices, and a clicked key heard through the PulseAudio null sink.

#include "engine/devices/LiveAudioPlayer.h"
#include "engine/devices/StereoPcmConverter.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/PianoRollDialog.h"
#include "multitrack/TrackRowWidget.h"
#include "multitrack/PreviewPlaybackDevice.h"
#include "LoopbackCapture.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

QAudioFormat format(QAudioFormat::SampleFormat sample, int channels, int rate = 48000)
{
    QAudioFormat f;
    f.setSampleFormat(sample);
    f.setChannelCount(channels);
    f.setSampleRate(rate);
    return f;
}

void pressKey(PianoRollDialog& roll, int pitch, QEvent::Type type)
{
    const QPoint pos(20, roll.pitchToY(pitch) + roll.rowHeight() / 2);
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(pos), roll.mapToGlobal(QPointF(pos)), Qt::LeftButton, buttons, {});
    QApplication::sendEvent(&roll, &event);
}

} // namespace

class PianoRollPreviewTest : public QObject {
    Q_OBJECT

    PianoSampler piano;
    PianoSampler twin; // renders what the device should have rendered

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(piano.loadSampleLibraryFromResources(QStringLiteral(":/piano")));
        QVERIFY(twin.loadSampleLibraryFromResources(QStringLiteral(":/piano")));
    }

    void readsWholeFramesAndZeroesTheTail_data()
    {
        QTest::addColumn<int>("sample");
        QTest::addColumn<int>("channels");
        QTest::newRow("16-bit stereo") << int(QAudioFormat::Int16) << 2;
        QTest::newRow("float stereo") << int(QAudioFormat::Float) << 2;
        QTest::newRow("32-bit, 6 channels") << int(QAudioFormat::Int32) << 6;
        QTest::newRow("16-bit mono") << int(QAudioFormat::Int16) << 1;
    }

    void readsWholeFramesAndZeroesTheTail()
    {
        QFETCH(int, sample);
        QFETCH(int, channels);
        const QAudioFormat f = format(QAudioFormat::SampleFormat(sample), channels);
        const StereoPcmConverter converter(f);
        PreviewPlaybackDevice device(nullptr, &piano, f);
        QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        for (PianoSampler* p : {&piano, &twin}) {
            p->allNotesOff();
            p->noteOn(69, 120);
            std::vector<short> skip(2 * 2000);
            p->renderLive(skip.data(), 2000); // past the recording's quiet start
        }

        QByteArray bytes(4102, char(0x55));
        QCOMPARE(device.read(bytes.data(), bytes.size()), qint64(4102));
        const int frames = 4102 / converter.bytesPerFrame();
        std::vector<short> reference(2 * size_t(frames));
        twin.renderLive(reference.data(), frames);
        QByteArray expected(frames * converter.bytesPerFrame(), 0);
        converter.convert(reference.data(), frames, expected.data());
        QVERIFY(std::count(reference.begin(), reference.end(), short(0)) < frames); // sound, not silence
        QCOMPARE(bytes.left(expected.size()), expected);
        QCOMPARE(bytes.mid(expected.size()), QByteArray(4102 - expected.size(), 0));
    }

    void silentWithoutAnInstrument()
    {
        SF2Sampler noFont;
        PianoSampler noSamples;
        noSamples.noteOn(69, 120);
        for (auto* device : {new PreviewPlaybackDevice(nullptr, nullptr, format(QAudioFormat::Int16, 2)),
                             new PreviewPlaybackDevice(&noFont, &noSamples, format(QAudioFormat::Float, 2))}) {
            QVERIFY(device->open(QIODevice::ReadOnly));
            QByteArray bytes(4102, char(0x55));
            QCOMPARE(device->readData(bytes.data(), bytes.size()), qint64(4102));
            QCOMPARE(bytes, QByteArray(4102, 0));
            QCOMPARE(device->write("x", 1), qint64(-1)); // read-only; writeData writes nothing either
            delete device;
        }
    }

    void oneRateWithTheLiveOutput()
    {
        CDW_REQUIRE_PULSE();
        // The live output runs the piano at 48 kHz; a roll given an unloaded
        // SoundFont (at 44.1 kHz) must not pull the piano to another rate.
        SF2Sampler noFont;
        QCOMPARE(noFont.sampleRate(), 44100);
        LiveAudioPlayer live;
        live.setPianoSampler(&piano);
        QVERIFY(live.start(48000));
        QCOMPARE(piano.sampleRate(), 48000);
        {
            MidiClip clip;
            PianoRollDialog roll(&clip, Qt::blue, &noFont, &piano);
            QVERIFY(roll.isPreviewRunning());
            QCOMPARE(roll.previewSampleRate(), 48000);
            QCOMPARE(piano.sampleRate(), 48000);
            pressKey(roll, 110, QEvent::MouseButtonPress);
            pressKey(roll, 110, QEvent::MouseButtonRelease);
            QCOMPARE(piano.sampleRate(), live.outputSampleRate());
        }
        live.stop();
        // Alone, the roll keeps whatever rate the piano has.
        piano.setSampleRate(32000);
        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::blue, nullptr, &piano);
        QCOMPARE(roll.previewSampleRate(), 32000);
        QCOMPARE(piano.sampleRate(), 32000);
        // The live output started later moves the piano to its rate; the
        // roll's next audition follows it instead of pulling it back.
        QVERIFY(live.start(48000));
        QCOMPARE(piano.sampleRate(), 48000);
        pressKey(roll, 110, QEvent::MouseButtonPress);
        pressKey(roll, 110, QEvent::MouseButtonRelease);
        QCOMPARE(piano.sampleRate(), 48000);
        QVERIFY(roll.isPreviewRunning());
        QCOMPARE(roll.previewSampleRate(), 48000);
        live.stop();
        roll.stopPreviewRenderer();
        QVERIFY(!roll.isPreviewRunning());
        piano.setSampleRate(44100);
    }

    // Every render takes the voices it renders, so two outputs drawing on
    // them would each play every other block. Only the roll that auditioned
    // last draws them; an output that does not reads silence and leaves the
    // voices as they were.
    void onlyTheAuditioningRollDrawsTheVoices()
    {
        PreviewPlaybackDevice device(nullptr, &piano, format(QAudioFormat::Int16, 2));
        QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        for (PianoSampler* p : {&piano, &twin}) {
            p->allNotesOff();
            p->noteOn(69, 120);
        }
        device.setDrawingVoices(false);
        QByteArray bytes(4096, char(0x55));
        QCOMPARE(device.read(bytes.data(), bytes.size()), qint64(4096));
        QCOMPARE(bytes, QByteArray(4096, 0));
        std::vector<short> heard(2 * 3000), reference(2 * 3000);
        piano.renderLive(heard.data(), 3000);
        twin.renderLive(reference.data(), 3000);
        QVERIFY(std::count(reference.begin(), reference.end(), short(0)) < 3000);
        QVERIFY(heard == reference);
        piano.allNotesOff();
        twin.allNotesOff();

        CDW_REQUIRE_PULSE();
        MidiClip firstClip;
        MidiClip secondClip;
        PianoRollDialog first(&firstClip, Qt::blue, nullptr, &piano);
        auto* second = new PianoRollDialog(&secondClip, Qt::red, nullptr, &piano);
        QVERIFY(first.isPreviewRunning() && second->isPreviewRunning());
        QVERIFY(!first.previewDrawsVoices() && !second->previewDrawsVoices());
        pressKey(first, 69, QEvent::MouseButtonPress);
        pressKey(first, 69, QEvent::MouseButtonRelease);
        QVERIFY(first.previewDrawsVoices() && !second->previewDrawsVoices());
        pressKey(*second, 71, QEvent::MouseButtonPress);
        pressKey(*second, 71, QEvent::MouseButtonRelease);
        QVERIFY(!first.previewDrawsVoices() && second->previewDrawsVoices());
        // The roll that drew them goes; the next audition takes them back.
        delete second;
        pressKey(first, 72, QEvent::MouseButtonPress);
        pressKey(first, 72, QEvent::MouseButtonRelease);
        QVERIFY(first.previewDrawsVoices());
        piano.allNotesOff();

        // While the MIDI keyboard's live output plays this instrument, it
        // draws the roll's auditions too, so the roll's output leaves them.
        auto reads = [&device] {
            QByteArray bytes(4096, char(0x55));
            device.read(bytes.data(), bytes.size());
            return bytes != QByteArray(4096, 0);
        };
        device.setDrawingVoices(true);
        LiveAudioPlayer live;
        live.setPianoSampler(&piano);
        QVERIFY(live.start(48000));
        piano.noteOn(69, 120);
        QVERIFY(!reads());
        live.setSf2Sampler(nullptr);
        QVERIFY(reads());
        live.setPianoSampler(&piano);
        QVERIFY(!reads());
        live.stop();
        piano.noteOn(69, 120);
        QVERIFY(reads());
        piano.allNotesOff();
    }

    void clickedKeyIsHeard()
    {
        CDW_REQUIRE_PULSE();
        LoopbackCapture::Capture capture;
        LoopbackCapture::StereoRecorder recorder;
        QVERIFY(recorder.start(48000, &capture));
        QVERIFY(LoopbackCapture::waitFor([&] { return capture.size() > 2 * 4800; }));

        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::blue, nullptr, &piano);
        QVERIFY(roll.isPreviewRunning());
        const int from = int(capture.size() / 2);
        piano.allNotesOff();
        pressKey(roll, 69, QEvent::MouseButtonPress); // the key column answers at any height
        int onset = -1;
        QVERIFY(LoopbackCapture::waitFor([&] {
            onset = LoopbackCapture::onset(capture.take(), 0.01f, 2, from);
            return onset >= 0 && int(capture.size() / 2) > onset + 9600;
        }));
        pressKey(roll, 69, QEvent::MouseButtonRelease);
        const std::vector<float> recorded = capture.take();
        const float* note = recorded.data() + 2 * size_t(onset + 2400);
        const double a4 = LoopbackCapture::amplitudeAt(note, 4800, 2, 440.0, 48000);
        const double off = LoopbackCapture::amplitudeAt(note, 4800, 2, 523.25, 48000);
        QVERIFY2(a4 > 0.01 && a4 > 4 * off, qPrintable(QStringLiteral("440 Hz %1, 523 Hz %2").arg(a4).arg(off)));
        recorder.stop();
    }

    // The roll closes by Escape or close button while its output runs.
    void closingWithTheOutputOpen_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("close button") << false;
    }

    void closingWithTheOutputOpen()
    {
        CDW_REQUIRE_PULSE();
        QFETCH(bool, escape);
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("A"), {MidiNote{60, 0.0, 0.5, 100}}, 4.0);
        TrackRowWidget* row = page.rows[0];
        for (int round = 0; round < 3; ++round) {
            emit row->midiLane()->clipDoubleClicked(0);
            QCOMPARE(row->pianoRolls().size(), size_t(1));
            QPointer<PianoRollDialog> roll = row->pianoRolls().front();
            QVERIFY(QTest::qWaitForWindowExposed(roll));
            QVERIFY(roll->isPreviewRunning());
            pressKey(*roll, 64, QEvent::MouseButtonPress);
            QTest::qWait(30); // the output pulls while the key sounds
            pressKey(*roll, 64, QEvent::MouseButtonRelease);
            if (escape) {
                QTest::keyClick(roll, Qt::Key_Escape);
            } else {
                QCloseEvent closing;
                QApplication::sendEvent(roll, &closing);
            }
            QVERIFY(row->pianoRolls().empty());
            QTRY_VERIFY(roll.isNull());
        }
    }
};

QTEST_MAIN(PianoRollPreviewTest)
#include "tst_PianoRollPreview.moc"
