// The page on real devices: the PulseAudio null sink plays, and its loopback
// source records what is played into the sink.

#include "TestSupport.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"
#include "engine/devices/AudioEngine.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <cmath>

namespace {

constexpr int Rate = 48000;

QString status(const AudioEditorPage& page)
{
    return page.statusLine()->currentMessage();
}

QPushButton* transportButton(const AudioEditorPage& page, const char* name)
{
    return page.findChild<QPushButton*>(QLatin1String(name));
}

double windowRms(const QList<float>& list, qsizetype first, qsizetype count)
{
    double sum = 0.0;
    for (qsizetype i = first; i < first + count; ++i)
        sum += double(list[i]) * list[i];
    return std::sqrt(sum / count);
}

// The dialog of the page shown with this title, or null.
QDialog* openDialog(const AudioEditorPage& page, const QString& title)
{
    for (QDialog* dialog : page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly))
        if (dialog->windowTitle() == title && dialog->isVisible())
            return dialog;
    return nullptr;
}

class MetaCallCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
};

} // namespace

class TestAudioEditorPageDevices : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void playbackRunsTimeAndMeters();
    void enginePlaysAtTheMaterialsRate();
    void takeIsInsertedAtPlayheadAsOneStep();
    void takeHoldsTheWholeTimeHeld();
    void newMaterialAndPlayAtEndStartAtZero();
    void effectsRefusedWhilePlaying();

private:
    QTemporaryDir dir;
};

void TestAudioEditorPageDevices::initTestCase()
{
    CDW_REQUIRE_PULSE();
    QVERIFY(dir.isValid());
}

void TestAudioEditorPageDevices::playbackRunsTimeAndMeters()
{
    AudioEditorPage page;
    page.show();
    page.findChild<QComboBox*>()->setCurrentIndex(2); // both views
    page.loadAudioSamples(TestSupport::sineWave(440.0, 3.0, Rate, 0.5f), Rate);
    auto* time = page.findChild<QLabel*>(QStringLiteral("TimeLabel"));
    const auto meters = page.findChildren<QProgressBar*>();
    QCOMPARE(meters.size(), 2);

    // The audio thread hands levels over without posting calls to the page.
    MetaCallCounter metaCalls;
    page.installEventFilter(&metaCalls);
    transportButton(page, "TransportPlayButton")->click();
    QVERIFY(page.playing());
    QCOMPARE(status(page), QStringLiteral("播放中..."));
    // A sine of amplitude 0.5 has an RMS of 0.354: level 35.
    QTRY_VERIFY_WITH_TIMEOUT(meters[0]->value() >= 33 && meters[0]->value() <= 37, 30000);
    QCOMPARE(meters[1]->value(), meters[0]->value());
    QTRY_VERIFY_WITH_TIMEOUT(time->text() > QStringLiteral("00:00:00.300"), 30000);
    QVERIFY(page.waveform(0)->getPlayheadPosition() > 0.0);
    QCOMPARE(page.spectrum(1)->getPlayheadPosition(), page.waveform(0)->getPlayheadPosition());

    QCOMPARE(metaCalls.count, 0);
    QTest::keyClick(&page, Qt::Key_Space);
    QCOMPARE(status(page), QStringLiteral("已暂停"));
    QVERIFY(!page.playing());
    // Nothing plays: the meters fall at the pause, at the latest at their next tick.
    QTRY_COMPARE_WITH_TIMEOUT(meters[0]->value(), 0, 1000);
    QCOMPARE(meters[1]->value(), 0);
    const double paused = page.waveform(0)->getPlayheadPosition();
    QTest::qWait(200);
    QCOMPARE(page.waveform(0)->getPlayheadPosition(), paused);

    QTest::keyClick(&page, Qt::Key_Space); // resumes from the playhead
    QTRY_VERIFY_WITH_TIMEOUT(page.waveform(0)->getPlayheadPosition() > paused + 0.1, 30000);
    transportButton(page, "TransportStopButton")->click();
    QCOMPARE(status(page), QStringLiteral("已停止"));
    QCOMPARE(time->text(), QStringLiteral("00:00:00.000"));
    QCOMPARE(meters[0]->value(), 0);
    QCOMPARE(page.waveform(0)->getPlayheadPosition(), 0.0);

    // Playing to the end reports it and leaves the playhead there.
    page.loadAudioSamples(TestSupport::sineWave(440.0, 0.3, Rate, 0.5f), Rate);
    transportButton(page, "TransportPlayButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(status(page), QStringLiteral("播放完成"), 30000);
    QCOMPARE(meters[0]->value(), 0);
    QCOMPARE(transportButton(page, "TransportPlayButton")->text(), QStringLiteral(">"));
}

void TestAudioEditorPageDevices::enginePlaysAtTheMaterialsRate()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 2.0, 22050), 22050);
    QTest::keyClick(&page, Qt::Key_Space);
    QVERIFY(page.audioEngine());
    QCOMPARE(page.audioEngine()->getSampleRate(), 22050);
    QTRY_VERIFY_WITH_TIMEOUT(page.audioEngine()->getPosition() > 0, 30000);
    transportButton(page, "TransportStopButton")->click();

    page.loadAudioSamples(TestSupport::sineWave(440.0, 2.0, 44100), 44100);
    QTest::keyClick(&page, Qt::Key_Space);
    QCOMPARE(page.audioEngine()->getSampleRate(), 44100);
    QTRY_VERIFY_WITH_TIMEOUT(page.audioEngine()->getPosition() > 0, 30000);
    transportButton(page, "TransportStopButton")->click();
}

void TestAudioEditorPageDevices::takeIsInsertedAtPlayheadAsOneStep()
{
    // The streams of the pages before have closed (in the background): the
    // sink plays only the tone.
    QTRY_VERIFY_WITH_TIMEOUT([] {
        QByteArray streams;
        return TestSupport::runCommand(QStringLiteral("pactl"), {"list", "short", "sink-inputs"}, &streams)
            && streams.trimmed().isEmpty();
    }(), 30000);
    const QString tone = dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(TestSupport::runCommand(QStringLiteral("sox"),
                                    {"-n", "-r", "48000", "-c", "1", "-b", "16", tone, "synth",
                                     "4", "sine", "1000", "vol", "0.5"}));
    AudioEditorPage page;
    page.show();
    page.findChild<QComboBox*>()->setCurrentIndex(2); // both views, live spectrogram
    // Quiet stereo material with different channels; the take goes in at 0.5 s.
    const QList<float> left = TestSupport::sineWave(200.0, 1.0, Rate, 0.01f);
    QList<float> stereo;
    for (float v : left)
        stereo << v << -v;
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> before = page.samples;
    page.waveform(0)->setPlayheadPosition(0.5);
    const int insertAt = Rate / 2;

    // A dialog opened before the take cannot apply during it.
    page.showGainDialog();
    QDialog* gain = page.findChild<QDialog*>();
    QVERIFY(gain);

    auto* record = transportButton(page, "TransportRecordButton");
    record->click();
    QVERIFY(page.recording());
    QCOMPARE(record->text(), QStringLiteral("停止"));
    QCOMPARE(status(page), QStringLiteral("录音中..."));

    QProcess player;
    player.start(QStringLiteral("paplay"), {tone});
    QVERIFY(player.waitForStarted());

    // Effects and erasing are refused while the take runs.
    gain->accept();
    QCOMPARE(status(page), QStringLiteral("录音或播放中无法应用效果"));
    page.showGainDialog();
    QCOMPARE(status(page), QStringLiteral("录音或播放中无法应用效果"));
    page.showPitchCorrectionDialog();
    QCOMPARE(status(page), QStringLiteral("录音中无法应用效果"));
    page.spectrum(1)->applySpectralErase(0.0, 0.5, 100.0f, 300.0f, 1.0f);
    QCOMPARE(status(page), QStringLiteral("录音中无法应用效果"));
    QCOMPARE(page.undoStack->count(), 0);
    QCOMPARE(page.samples, before); // nothing goes into the list before the take ends

    // One second of the tone, once it arrives.
    QTRY_VERIFY_WITH_TIMEOUT(page.recordedFrames() > 0, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(page.recordedFrames() >= 3 * Rate / 2, 30000);
    record->click();
    player.kill();
    player.waitForFinished();

    QVERIFY(!page.recording());
    QCOMPARE(record->text(), QStringLiteral("录制"));
    QVERIFY(!page.audioEngine());
    const qsizetype inserted = page.samples.size() - before.size();
    QVERIFY(inserted >= 3 * Rate / 2);
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("插入录音"));
    QVERIFY(status(page).startsWith(QStringLiteral("录音完成，共 ")));
    QVERIFY(status(page).endsWith(QStringLiteral("已插入 %1 个样本").arg(inserted)));
    QCOMPARE(page.samples.first(insertAt), before.first(insertAt));
    QCOMPARE(page.samples.last(before.size() - insertAt), before.last(before.size() - insertAt));
    // Somewhere in the take the tone came back at about its RMS of 0.354.
    double loudest = 0.0;
    for (qsizetype at = insertAt; at + Rate / 10 <= insertAt + inserted; at += Rate / 10)
        loudest = std::max(loudest, windowRms(page.samples, at, Rate / 10));
    QVERIFY2(loudest > 0.3 && loudest < 0.4, qPrintable(QString::number(loudest)));
    // The stereo list took the same frames, both channels equal to the take.
    QCOMPARE(page.stereoSamples.size(), 2 * page.samples.size());
    QCOMPARE(page.stereoSamples[2 * insertAt], page.samples[insertAt]);
    QCOMPARE(page.stereoSamples[2 * insertAt + 1], page.samples[insertAt]);
    QCOMPARE(page.waveform(0)->getPlayheadPosition(), double(insertAt + inserted) / Rate);
    QCOMPARE(page.waveform(0)->getDuration(), double(page.samples.size()) / Rate);
    // The time label follows the playhead again, not the take's second count.
    const int endMs = int(double(insertAt + inserted) / Rate * 1000.0);
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("TimeLabel"))->text(),
             QStringLiteral("00:00:%1.%2")
                 .arg(endMs / 1000, 2, 10, QLatin1Char('0'))
                 .arg(endMs % 1000, 3, 10, QLatin1Char('0')));

    const QList<float> withTake = page.samples;
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(page.samples, before);
    QCOMPARE(page.stereoSamples, stereo);
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(page.samples, withTake);
}

void TestAudioEditorPageDevices::takeHoldsTheWholeTimeHeld()
{
    // The input source stands suspended for the first 1.5 s of the take:
    // the device begins delivering that late.
    const auto suspend = [](bool on) {
        return TestSupport::runCommand(QStringLiteral("pactl"), {"suspend-source", "loopmic", on ? "1" : "0"}, nullptr, 30000);
    };
    const auto resume = qScopeGuard([&] { suspend(false); });
    AudioEditorPage page;
    page.loadAudioSamples(QList<float>(Rate, 0.0f), Rate);
    auto* record = transportButton(page, "TransportRecordButton");
    QVERIFY(suspend(true));
    QElapsedTimer outer, inner; // before the press to after the second; after the press to before the second
    outer.start();
    record->click();
    inner.start();
    QVERIFY(page.recording());
    QTest::qWait(1500);
    QVERIFY(suspend(false));
    QTest::qWait(2000);
    const qint64 innerMs = inner.elapsed();
    record->click();
    const qint64 outerMs = outer.elapsed();
    const qsizetype inserted = page.samples.size() - Rate;
    const qint64 takeMs = inserted * 1000 / Rate;
    // The take starts at the press, however late the device begins
    // delivering; a busy machine may keep the last blocks a moment.
    QVERIFY2(takeMs > innerMs - 400 && takeMs < outerMs + 100,
             qPrintable(QStringLiteral("held %1 to %2 ms, take %3 ms").arg(innerMs).arg(outerMs).arg(takeMs)));
}

void TestAudioEditorPageDevices::newMaterialAndPlayAtEndStartAtZero()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 3.0, Rate, 0.5f), Rate);
    auto* time = page.findChild<QLabel*>(QStringLiteral("TimeLabel"));
    transportButton(page, "TransportPlayButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(page.waveform(0)->getPlayheadPosition() > 0.3, 30000);

    // An import while it plays starts at 0, and Space plays it from there.
    page.loadAudioSamples(TestSupport::sineWave(440.0, 1.0, Rate, 0.5f), Rate);
    QVERIFY(!page.playing());
    QCOMPARE(page.spectrum(1)->getPlayheadPosition(), 0.0);
    QCOMPARE(time->text(), QStringLiteral("00:00:00.000"));
    QTest::keyClick(&page, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(page.audioEngine()->getPosition() > 0, 30000);
    QVERIFY(page.audioEngine()->getPosition() < Rate);

    // Played through, Play starts over.
    QTRY_COMPARE_WITH_TIMEOUT(status(page), QStringLiteral("播放完成"), 30000);
    QTest::keyClick(&page, Qt::Key_Space);
    QVERIFY(page.playing());
    QCOMPARE(page.waveform(0)->getPlayheadPosition(), 0.0);
}

void TestAudioEditorPageDevices::effectsRefusedWhilePlaying()
{
    AudioEditorPage page;
    page.loadAudioSamples(TestSupport::sineWave(440.0, 1.0, Rate), Rate);
    QTest::keyClick(&page, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(page.playing(), 30000);
    page.showGainDialog();
    QCOMPARE(status(page), QStringLiteral("录音或播放中无法应用效果"));
    page.showEqualizerDialog();
    QCOMPARE(status(page), QStringLiteral("录音或播放中无法应用效果"));
    QVERIFY(page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly).isEmpty());
    // Pitch correction and the tempo measurement still open.
    page.showPitchCorrectionDialog();
    QVERIFY(openDialog(page, QStringLiteral("音高修正")));
    page.showTempoDetectionDialog();
    QVERIFY(openDialog(page, QStringLiteral("音频速度检测 (BPM)")));
}

QTEST_MAIN(TestAudioEditorPageDevices)
#include "tst_AudioEditorPageDevices.moc"
