// The equaliser dialog on a scripted audio device: the preview heard equals
// the applied result, band changes and the engine's other callback pass
// through it, and neither a deleted engine nor a deleted dialog is touched.

#include "../engine/FakeAudioDevice.h"
#include "TestSupport.h"
#include "audio/AudioProcessor.h"
#include "dialogs/EqualizerDialog.h"
#include "dialogs/FrequencyAnalyzerWidget.h"
#include "dialogs/ParametricEQWidget.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include <cmath>
#include <memory>

namespace {

constexpr int Rate = 44100;
constexpr int Block = 512;

using Band = ParametricEQWidget::EQBand;
using Type = ParametricEQWidget::FilterType;

// Noise with a tone, so every band has something to work on.
QList<float> material(int frames)
{
    QList<float> out = TestSupport::sineWave(330.0, double(frames) / Rate, Rate, 0.3f);
    quint32 seed = 7;
    for (float& v : out) {
        seed = seed * 1664525u + 1013904223u;
        v += (float(seed >> 8) / float(1 << 24) - 0.5f) * 0.2f;
    }
    return out;
}

void setBands(ParametricEQWidget* eq)
{
    const Band bands[] = {{true, 90, 4, 0.8f, Type::LowShelf, Qt::white},
                          {true, 400, -6, 2, Type::Bell, Qt::white},
                          {false, 1000, 9, 1, Type::Bell, Qt::white},
                          {true, 3000, 0, 4, Type::Notch, Qt::white},
                          {true, 9000, -3, 0.7f, Type::HighShelf, Qt::white}};
    for (int i = 0; i < 5; ++i)
        eq->setBand(i, bands[i]);
}

struct Rig {
    std::shared_ptr<FakeDeviceState> device = FakeDeviceState::withDevices(false);
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>(FakeAudioDevice::make(device));
    AudioProcessor processor;

    explicit Rig(const QList<float>& samples, int rate = Rate)
    {
        engine->initialize(Rate, Block);
        processor.samples = samples;
        processor.sampleRate = rate;
        processor.channels = 1;
    }
};

} // namespace

class EqualizerDialogTest : public QObject {
    Q_OBJECT

private slots:
    void applyEqualsTheOfflineEqualiser()
    {
        const QList<float> source = material(Rate / 2);
        Rig rig(source);
        EqualizerDialog dialog(&rig.processor, nullptr, nullptr);
        setBands(dialog.curveEditor());
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        TestSupport::buttonWithText(dialog, QStringLiteral("应用"))->click();
        QCOMPARE(accepted.count(), 1);

        AudioProcessor direct;
        direct.samples = source;
        direct.sampleRate = Rate;
        direct.channels = 1;
        const float freqs[] = {90, 400, 1000, 3000, 9000};
        const float gains[] = {4, -6, 9, 0, -3};
        const float qs[] = {0.8f, 2, 1, 4, 0.7f};
        const int types[] = {1, 0, 0, 5, 2};
        const bool enabled[] = {true, true, false, true, true};
        direct.applyParametricEQ(freqs, gains, qs, types, enabled, 5);
        QCOMPARE(rig.processor.samples, direct.samples);
        QVERIFY(rig.processor.samples != source);
    }

    void previewHeardEqualsApplied()
    {
        const QList<float> source = material(10 * Block + 100);
        Rig rig(source);
        auto dialog = std::make_unique<EqualizerDialog>(&rig.processor, rig.engine.get(), nullptr);
        setBands(dialog->curveEditor());
        // Chunks through the dialog's filter continue one another.
        QList<float> whole = source.first(3000), pieces = whole;
        dialog->processAudioChunk(whole.data(), 3000);
        auto fresh = std::make_unique<EqualizerDialog>(&rig.processor, nullptr, nullptr);
        setBands(fresh->curveEditor());
        fresh->processAudioChunk(pieces.data(), 1234);
        fresh->processAudioChunk(pieces.data() + 1234, 3000 - 1234);
        QCOMPARE(pieces, whole);

        // The preview starts from silence in the filters, whatever ran before.
        TestSupport::buttonWithText(*dialog, QStringLiteral("试听"))->click();
        QVERIFY(dialog->isPreviewing());
        QVERIFY(rig.engine->isPlaying());
        QList<float> left, right;
        while (left.size() < source.size()) {
            const std::vector<float> out = rig.device->runBlock(Block);
            for (int i = 0; i < Block; ++i) {
                left << out[size_t(2 * i)];
                right << out[size_t(2 * i + 1)];
            }
        }
        QVERIFY(!rig.engine->isPlaying()); // the copy ran out
        TestSupport::buttonWithText(*dialog, QStringLiteral("应用"))->click();
        const QList<float> applied = rig.processor.samples;
        QCOMPARE(applied.size(), source.size());
        for (qsizetype i = 0; i < applied.size(); ++i) {
            QVERIFY2(std::fabs(left[i] - applied[i]) <= 1e-6f && right[i] == left[i],
                     qPrintable(QString::number(i)));
        }
        QVERIFY(!dialog->isPreviewing());
        QVERIFY(!rig.engine->currentPlaybackProcessCallback());
    }

    void unusableBandsPassThroughThePreview()
    {
        // 12 kHz lies above 0.49 x 22050 Hz: the cookbook filter would be
        // unstable there, so the preview skips it as the offline equaliser does.
        const QList<float> source = material(22050);
        Rig rig(source, 22050);
        EqualizerDialog dialog(&rig.processor, rig.engine.get(), nullptr);
        QCOMPARE(dialog.previewSampleRate(), 22050);
        Band high{true, 12000, 12, 1, Type::Bell, Qt::white};
        for (int i = 0; i < 5; ++i)
            dialog.curveEditor()->setBand(i, i == 4 ? high : Band{false});
        QList<float> chunk = source;
        dialog.processAudioChunk(chunk.data(), int(chunk.size()));
        QCOMPARE(chunk, source);
        TestSupport::buttonWithText(dialog, QStringLiteral("应用"))->click();
        QCOMPARE(rig.processor.samples, source);
    }

    void resetGivesFlatBells()
    {
        Rig rig(material(1000));
        EqualizerDialog dialog(&rig.processor, nullptr, nullptr);
        setBands(dialog.curveEditor());
        QSignalSpy changed(dialog.curveEditor(), &ParametricEQWidget::bandChanged);
        const float expected[] = {80, 250, 1000, 4000, 12000};
        for (int round = 1; round <= 2; ++round) {
            TestSupport::buttonWithText(dialog, QStringLiteral("重置"))->click();
            QCOMPARE(changed.count(), 5 * round);
            for (int i = 0; i < 5; ++i) {
                const Band b = dialog.curveEditor()->band(i);
                QVERIFY(b.enabled && b.type == Type::Bell && b.color == QColor(Qt::white));
                QCOMPARE(b.frequency, expected[i]);
                QCOMPARE(b.gain, 0.0f);
            }
        }
        // Without an engine there is nothing to preview on.
        QVERIFY(!TestSupport::buttonWithText(dialog, QStringLiteral("试听"))->isEnabled());
    }

    void previewPassesBlocksOnAndPutsTheCallbackBack()
    {
        const QList<float> source(20 * Block, 0.25f);
        Rig rig(source);
        // The editor's meter callback, set before the dialog opens.
        std::vector<float> seen;
        rig.engine->setPlaybackProcessCallback(
            [&seen](float* buffer, int frames) { seen.assign(buffer, buffer + 2 * frames); });
        auto dialog = std::make_unique<EqualizerDialog>(&rig.processor, rig.engine.get(), nullptr);
        for (int i = 0; i < 5; ++i)
            dialog->curveEditor()->setBandEnabled(i, false);
        dialog->curveEditor()->setBand(2, Band{true, 1000, 0, 1, Type::LowPass, Qt::white});
        TestSupport::buttonWithText(*dialog, QStringLiteral("试听"))->click();
        rig.device->runBlock(Block);
        // The meters see the filtered block: a low-pass lets DC through at unity gain.
        QCOMPARE(seen.size(), size_t(2 * Block));
        QVERIFY(seen[0] < 0.25f * 0.1f); // the filter's rise from silence
        for (int i = 0; i < 6; ++i)
            rig.device->runBlock(Block);
        QVERIFY(std::fabs(seen.back() - 0.25f) < 1e-4f);
        // A band change is heard in the next block: a high-pass stops DC.
        dialog->curveEditor()->setBandType(2, Type::HighPass);
        for (int i = 0; i < 6; ++i)
            rig.device->runBlock(Block);
        QVERIFY(std::fabs(seen.back()) < 1e-3f);

        // The editor starts playing its own list meanwhile: ending the preview leaves it playing.
        const QList<float> own(20 * Block, 0.5f);
        rig.engine->startPlayback(own.constData(), int(own.size()), Rate, 0);
        dialog.reset();
        QVERIFY(rig.engine->isPlaying());
        QCOMPARE(rig.engine->playbackData(), own.constData());
        rig.device->runBlock(Block);
        QCOMPARE(seen.back(), 0.5f); // the editor's callback is back, unfiltered
        rig.engine->stopPlayback();
    }

    void engineDeletedWhilePreviewing()
    {
        Rig rig(material(20 * Block));
        auto dialog = std::make_unique<EqualizerDialog>(&rig.processor, rig.engine.get(), nullptr);
        QPushButton* preview = TestSupport::buttonWithText(*dialog, QStringLiteral("试听"));
        preview->click();
        rig.device->runBlock(Block);
        rig.engine.reset(); // the editor replaces its engine for a recording take
        QVERIFY(!dialog->isPreviewing());
        QVERIFY(!preview->isChecked());
        QVERIFY(!preview->isEnabled());
        preview->click(); // nothing to start on
        QVERIFY(!dialog->isPreviewing());
        TestSupport::buttonWithText(*dialog, QStringLiteral("应用"))->click();
        QCOMPARE(rig.processor.samples.size(), 20 * Block);
    }

    // The second preview on one engine ends the first; once it ends, the
    // engine's own callback is back with no filter left.
    void onePreviewAtATimeHoldsTheEngine()
    {
        const QList<float> source(40 * Block, 0.25f);
        Rig rig(source);
        std::vector<float> seen;
        rig.engine->setPlaybackProcessCallback(
            [&seen](float* buffer, int frames) { seen.assign(buffer, buffer + 2 * frames); });
        AudioProcessor other;
        other.samples = source;
        other.sampleRate = Rate;
        other.channels = 1;
        EqualizerDialog first(&rig.processor, rig.engine.get(), nullptr);
        EqualizerDialog second(&other, rig.engine.get(), nullptr);
        for (EqualizerDialog* dialog : {&first, &second}) {
            for (int i = 0; i < 5; ++i)
                dialog->curveEditor()->setBandEnabled(i, false);
            // A high-pass stops the DC: any filter left installed shows.
            dialog->curveEditor()->setBand(2, Band{true, 1000, 0, 1, Type::HighPass, Qt::white});
        }
        QPushButton* firstPreview = TestSupport::buttonWithText(first, QStringLiteral("试听"));
        QPushButton* secondPreview = TestSupport::buttonWithText(second, QStringLiteral("试听"));
        firstPreview->click();
        secondPreview->click();
        QVERIFY(!first.isPreviewing() && !firstPreview->isChecked());
        QVERIFY(second.isPreviewing());
        for (int i = 0; i < 6; ++i)
            rig.device->runBlock(Block);
        QVERIFY(std::fabs(seen.back()) < 1e-3f);
        secondPreview->click();

        const QList<float> own(20 * Block, 0.5f);
        rig.engine->startPlayback(own.constData(), int(own.size()), Rate, 0);
        rig.device->runBlock(Block);
        QCOMPARE(seen.back(), 0.5f);
        secondPreview->click(); // the page ends it before playing its own
        EqualizerDialog::endPreviewOn(rig.engine.get());
        QVERIFY(!second.isPreviewing() && !secondPreview->isChecked());
        QVERIFY(!rig.engine->isPlaying());
        rig.engine->startPlayback(own.constData(), int(own.size()), Rate, 0);
        rig.device->runBlock(Block);
        QCOMPARE(seen.back(), 0.5f);
        rig.engine->stopPlayback();
    }

    // An idle dialog costs nothing: the backdrop's analyser runs while the
    // engine plays, the preview or the editor's own playback on it.
    void analyserRunsOnlyWhilePlaying()
    {
        Rig rig(material(4 * Rate));
        EqualizerDialog dialog(&rig.processor, rig.engine.get(), nullptr);
        FrequencyAnalyzerWidget* analyser = dialog.curveEditor()->analyzerWidget();
        const QList<QTimer*> timers = analyser->findChildren<QTimer*>();
        QCOMPARE(timers.size(), 2);
        const auto running = [&] {
            const bool active = timers[0]->isActive();
            return timers[1]->isActive() == active ? int(active) : -1;
        };
        QCOMPARE(running(), 0);
        // A still picture of the material stands in meanwhile.
        QVERIFY(!analyser->analyser().snapshot().smoothedLeft.isEmpty());

        QPushButton* preview = TestSupport::buttonWithText(dialog, QStringLiteral("试听"));
        preview->click();
        QCOMPARE(running(), 1);
        preview->click();
        QTRY_COMPARE(running(), 0);

        const QList<float> own = material(Rate);
        rig.engine->startPlayback(own.constData(), int(own.size()), Rate, 0);
        QCOMPARE(running(), 1);
        rig.engine->pausePlayback();
        QTRY_COMPARE(running(), 0);
        rig.engine->resumePlayback();
        QCOMPARE(running(), 1);
        while (rig.engine->isPlaying())
            rig.device->runBlock(Block);
        QTRY_COMPARE(running(), 0);
    }
};

QTEST_MAIN(EqualizerDialogTest)
#include "tst_EqualizerDialog.moc"
