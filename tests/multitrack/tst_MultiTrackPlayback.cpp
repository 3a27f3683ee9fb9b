// Multitrack playback through the real default output (the private
// PulseAudio null sink), recorded back from its loopback source: the
// playhead runs, both tracks are heard with their pan, pause keeps the
// position and stop returns to where playback started.

#include "LoopbackCapture.h"
#include "TestSupport.h"
#include "multitrack/MultiTrackEditorPage.h"

#include <QtTest/QtTest>
#include <QtWidgets>

using namespace LoopbackCapture;

namespace {

constexpr int kRate = 48000; // the null sink's own rate

QPushButton* button(QWidget& page, const QString& text)
{
    for (QPushButton* b : page.findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class MultiTrackPlaybackTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        CDW_REQUIRE_PULSE();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void twoTracksAreHeardWithTheirPan()
    {
        Capture capture;
        StereoRecorder recorder;
        QVERIFY(recorder.start(kRate, &capture));
        QVERIFY(waitFor([&] { return capture.size() > 2 * kRate / 10; }));

        MultiTrackEditorPage page;
        page.setSampleRate(kRate);
        // 500 Hz hard left, and 1200 Hz half right.
        page.addTrack(AudioTrack, TestSupport::sineWave(500.0, 3.0, kRate, 0.5f), kRate);
        page.addTrack(AudioTrack, TestSupport::sineWave(1200.0, 3.0, kRate, 0.5f), kRate);
        page.tracks[0].volume = 1.0f;
        page.tracks[0].pan = -1.0f;
        page.tracks[1].volume = 1.0f;
        page.tracks[1].pan = 0.5f;

        const std::size_t before = capture.size() / 2;
        page.onPlayPause();
        QVERIFY(page.playing());
        QVERIFY(button(page, QStringLiteral("||")));
        QVERIFY(waitFor([&] { return page.playheadPosition() > 1.5; }));
        // 1.5 s of the tones recorded, however late the first sound arrived.
        QVERIFY(waitFor([&] {
            const int start = onset(capture.take(), 0.1f, 2, int(before));
            return start >= 0 && capture.size() / 2 > std::size_t(start + 17 * kRate / 10);
        }));

        // Pause keeps the position; play continues from it.
        page.onPlayPause();
        QVERIFY(!page.playing());
        const double paused = page.playheadPosition();
        QVERIFY(paused > 1.5);
        QTest::qWait(200);
        QCOMPARE(page.playheadPosition(), paused);
        page.onPlayPause();
        QVERIFY(page.playing());
        QVERIFY(waitFor([&] { return page.playheadPosition() > paused + 0.2; }));
        // Stop returns to where this playback started.
        page.onStop();
        QCOMPARE(page.playheadPosition(), paused);
        QVERIFY(!page.playing());
        recorder.stop();

        // Pan law: the panned-away side keeps 1 - |pan|, both sides x 0.707.
        ToneLevels levels;
        QVERIFY2(measureTones(capture.take(), int(before), kRate, 500.0, 1200.0, 15, &levels),
                 "the mix was not recorded");
        const QString text = levels.text(500.0, 1200.0);
        QVERIFY2(std::abs(levels.lowLeft - 0.5 * 0.707) < 0.03 && levels.lowRight < 0.01, qPrintable(text));
        QVERIFY2(std::abs(levels.highRight - 0.5 * 0.707) < 0.03
                     && std::abs(levels.highLeft - 0.25 * 0.707) < 0.03,
                 qPrintable(text));
    }
};

QTEST_MAIN(MultiTrackPlaybackTest)
#include "tst_MultiTrackPlayback.moc"
