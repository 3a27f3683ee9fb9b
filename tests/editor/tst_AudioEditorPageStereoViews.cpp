// The single-track page with stereo material: each spectrogram band shows
// its own channel, an erase stroke changes only the channel it is painted on
// (one undo step, the file stays stereo), the combined view keeps one time
// axis for its two halves, and pictures of the three views.

#include "TestSupport.h"
#include "app/StartUp.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/StereoLists.h"
#include "editor/WaveformWidget.h"
#include "widgets/LoadingOverlay.h"

#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QStatusBar>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <cmath>
#include <random>

namespace {

constexpr int Rate = 44100;

using StereoLists::interleave;

QList<float> channel(const QList<float>& interleaved, int which)
{
    const StereoLists::Channels channels = StereoLists::split(interleaved);
    return which == 0 ? channels.left : channels.right;
}

// The loudest bin of a spectrogram column.
int loudestBin(const QList<float>& column)
{
    return int(std::max_element(column.cbegin(), column.cend()) - column.cbegin());
}

// Leftmost column of `colour` on row y of a picture, or -1.
int firstColumnOf(const QImage& image, int y, QRgb colour)
{
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == colour)
            return x;
    return -1;
}

// Tones, a sweep and plucks on the left; noise, silence and a tone on the
// right: something to look at in the pictures.
QList<float> showcase(double seconds)
{
    const qsizetype frames = qsizetype(seconds * Rate);
    std::mt19937 generator(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    QList<float> left(frames), right(frames);
    for (qsizetype i = 0; i < frames; ++i) {
        const double t = double(i) / Rate;
        const double pluckAge = std::fmod(t, 1.0);
        // A 440 Hz tone, a sweep from 200 Hz to 8 kHz and a pluck each second.
        left[i] = float(0.25 * std::sin(2.0 * M_PI * 440.0 * t)
                        + 0.2 * std::sin(2.0 * M_PI * 200.0 * seconds / std::log(40.0)
                                         * (std::pow(40.0, t / seconds) - 1.0))
                        + 0.3 * std::exp(-8.0 * pluckAge) * std::sin(2.0 * M_PI * 1320.0 * t));
        const bool silent = t > seconds * 0.45 && t < seconds * 0.6;
        right[i] = silent ? 0.0f
                          : noise(generator) + float(0.2 * std::sin(2.0 * M_PI * 4500.0 * t));
    }
    return interleave(left, right);
}

} // namespace

class TestAudioEditorPageStereoViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void bandsShowTheirOwnChannel();
    void strokeErasesOneChannelInOneStep();
    void combinedViewSharesOneTimeAxis();
    void longSpectrogramComputesBehindTheOverlay();
    void screenshots();
};

void TestAudioEditorPageStereoViews::initTestCase()
{
    // The program's look, for the pictures.
    StartUp::applyStyleSheet(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

void TestAudioEditorPageStereoViews::longSpectrogramComputesBehindTheOverlay()
{
    // A minute of stereo: the window stays live with the overlay turning,
    // and the result is the one computed in place.
    const QList<float> stereo = interleave(TestSupport::sineWave(1000.0, 60.0, Rate),
                                           TestSupport::sineWave(5000.0, 60.0, Rate));
    AudioEditorPage page;
    page.resize(1200, 700);
    page.show();
    page.loadStereoAudioSamples(stereo, Rate);
    auto* overlay = page.findChild<LoadingOverlay*>();
    QVERIFY(overlay);
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    SpectrumAnalyzerWidget* view = page.spectrum(0);
    QVERIFY(view->isComputingInBackground());
    QVERIFY(overlay->isVisible());
    // The rest of the program takes input meanwhile.
    QLineEdit elsewhere;
    QTest::keyClick(&elsewhere, Qt::Key_A);
    QCOMPARE(elsewhere.text(), QStringLiteral("a"));
    const int angle = overlay->angle();
    view->repaint(); // a paint meanwhile does not compute
    QVERIFY(!view->isSpectrumComputed());
    QTRY_VERIFY_WITH_TIMEOUT(overlay->angle() != angle || view->isSpectrumComputed(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(view->isSpectrumComputed(), 60000);
    QTRY_VERIFY(!overlay->isVisible());

    SpectrumAnalyzerWidget inPlace;
    inPlace.setAudioData(page.samples, Rate, page.stereoSamples);
    inPlace.ensureSpectrumComputed();
    QCOMPARE(view->spectrogramColumnCount(), inPlace.spectrogramColumnCount());
    for (bool right : {false, true})
        QCOMPARE(view->spectrogramColumn(100, right), inPlace.spectrogramColumn(100, right));
    QCOMPARE(view->levelList(), inPlace.levelList());

    // New material while a job runs: its result is dropped.
    page.loadAudioSamples(TestSupport::sineWave(300.0, 1.0, Rate), Rate);
    page.loadStereoAudioSamples(stereo, Rate);
    QVERIFY(view->isComputingInBackground());
    page.loadAudioSamples(TestSupport::sineWave(300.0, 60.0, Rate), Rate);
    QTRY_VERIFY_WITH_TIMEOUT(view->isSpectrumComputed() && !overlay->isVisible(), 60000);
    QVERIFY(!view->hasRightChannel());
    QCOMPARE(view->sampleList(), page.samples);
}

void TestAudioEditorPageStereoViews::bandsShowTheirOwnChannel()
{
    AudioEditorPage page;
    page.resize(1200, 700);
    page.show();
    page.loadStereoAudioSamples(interleave(TestSupport::sineWave(1000.0, 2.0, Rate),
                                           TestSupport::sineWave(5000.0, 2.0, Rate)),
                                Rate);
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    SpectrumAnalyzerWidget* view = page.spectrum(0);
    view->ensureSpectrumComputed();
    QVERIFY(view->hasRightChannel());
    const int bin1k = qRound(1000.0 * 2048 / Rate), bin5k = qRound(5000.0 * 2048 / Rate);
    for (qsizetype c : {qsizetype(10), view->spectrogramColumnCount() / 2}) {
        const QList<float> upper = view->spectrogramColumn(c, false);
        const QList<float> lower = view->spectrogramColumn(c, true);
        QVERIFY(std::abs(loudestBin(upper) - bin1k) <= 1);
        QVERIFY(std::abs(loudestBin(lower) - bin5k) <= 1);
        // Nothing of the other channel's tone shows.
        QCOMPARE(upper[bin5k], 0.0f);
        QCOMPARE(lower[bin1k], 0.0f);
    }
    // One byte per cell, and one computation for the page's two
    // spectrograms: the combined view takes it over.
    const qsizetype cells = 2 * view->spectrogramColumnCount() * 1024;
    QCOMPARE(view->spectrogramByteSize(), cells);
    page.findChild<QComboBox*>()->setCurrentIndex(2);
    QVERIFY(page.spectrum(1)->isSpectrumComputed());
    QCOMPARE(page.spectrum(1)->spectrogramByteSize(), cells);
    QCOMPARE(view->spectrogramByteSize(), qsizetype(0));
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    QCOMPARE(view->spectrogramByteSize(), cells);
}

void TestAudioEditorPageStereoViews::strokeErasesOneChannelInOneStep()
{
    AudioEditorPage page;
    page.resize(1200, 700);
    page.show();
    const QList<float> left = TestSupport::sineWave(1000.0, 2.0, Rate);
    const QList<float> right = TestSupport::sineWave(5000.0, 2.0, Rate);
    const QList<float> stereo = interleave(left, right);
    page.loadStereoAudioSamples(stereo, Rate);
    const QList<float> mono = page.samples;
    page.findChild<QComboBox*>()->setCurrentIndex(1);
    page.findChild<QSlider*>()->setValue(100);
    QTest::keyClick(&page, Qt::Key_E);
    SpectrumAnalyzerWidget* view = page.spectrum(0);
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    view->repaint();

    // A stroke along the 1 kHz row of the upper band, from 0.5 s to 1.5 s.
    const QRect upper = view->bandRects().value(0);
    QCOMPARE(view->bandRects().size(), 2);
    const int y = upper.top()
                  + int((1.0 - 1000.0 / view->spectrogramTopFrequency()) * upper.height());
    QVERIFY(std::abs(view->cellAt(QPoint(upper.center().x(), y)).frequency - 1000.0f) < 2 * 21.6f);
    const int x0 = upper.left() + upper.width() / 4, x1 = upper.left() + 3 * upper.width() / 4;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x0, y));
    for (int x = x0; x <= x1; x += 4) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), view->mapToGlobal(QPointF(x, y)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x1, y));

    // Still stereo; the right channel untouched, the left without its tone
    // inside the stroke, and the mono list their mix.
    QCOMPARE(page.stereoSamples.size(), stereo.size());
    QCOMPARE(channel(page.stereoSamples, 1), right);
    const QList<float> erasedLeft = channel(page.stereoSamples, 0);
    const qsizetype a = qsizetype(0.6 * Rate), e = qsizetype(1.4 * Rate);
    QVERIFY2(TestSupport::amplitudeAt(erasedLeft, 1000.0, Rate, a, e) < 0.5 * 0.01,
             qPrintable(QString::number(TestSupport::amplitudeAt(erasedLeft, 1000.0, Rate, a, e))));
    QVERIFY(TestSupport::amplitudeAt(erasedLeft, 1000.0, Rate, Rate / 20, Rate / 4) > 0.49);
    for (qsizetype i = 0; i < page.samples.size(); ++i)
        QCOMPARE(page.samples[i], (page.stereoSamples[2 * i] + page.stereoSamples[2 * i + 1]) * 0.5f);
    QVERIFY(page.waveform(0)->isStereo());
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.undoStack->undoText(), QStringLiteral("频谱擦除"));
    QVERIFY2(page.statusLine()->currentMessage().startsWith(QStringLiteral("频谱擦除完成（左声道）")),
             qPrintable(page.statusLine()->currentMessage()));
    // The picture shows it: the upper band's tone is gone in the middle.
    view->ensureSpectrumComputed();
    const qsizetype middle = view->spectrogramColumnCount() / 2;
    QVERIFY(view->spectrogramColumn(middle, false)[qRound(1000.0 * 2048 / Rate)] < 0.2f);

    // Undo gives both lists back exactly; redo the erase.
    const QList<float> erasedStereo = page.stereoSamples;
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(page.stereoSamples, stereo);
    QCOMPARE(page.samples, mono);
    QCOMPARE(view->stereoList(), stereo);
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(page.stereoSamples, erasedStereo);

    // A stroke on the lower band changes the right channel only.
    const QRect lower = view->bandRects().value(1);
    const int y5k = lower.top()
                    + int((1.0 - 5000.0 / view->spectrogramTopFrequency()) * lower.height());
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(lower.center().x(), y5k));
    QCOMPARE(channel(page.stereoSamples, 0), erasedLeft);
    QVERIFY(channel(page.stereoSamples, 1) != right);
    QVERIFY(page.statusLine()->currentMessage().startsWith(QStringLiteral("频谱擦除完成（右声道）")));
    QCOMPARE(page.undoStack->count(), 2);
}

void TestAudioEditorPageStereoViews::combinedViewSharesOneTimeAxis()
{
    AudioEditorPage page;
    page.resize(1300, 760);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.loadStereoAudioSamples(showcase(12.0), Rate);
    page.findChild<QComboBox*>()->setCurrentIndex(2);
    WaveformWidget* waveform = page.waveform(1);
    SpectrumAnalyzerWidget* spectrum = page.spectrum(1);

    const auto playheadColumns = [&](double seconds) {
        page.setPlayheadAll(seconds);
        const QImage wave = waveform->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage spec = spectrum->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int waveX = firstColumnOf(wave, wave.height() / 2, qRgb(255, 255, 255));
        const int specX = firstColumnOf(spec, spec.height() / 2, qRgb(255, 80, 80));
        return std::make_pair(waveX < 0 ? -1 : waveform->mapTo(&page, QPoint(waveX, 0)).x(),
                              specX < 0 ? -1 : spectrum->mapTo(&page, QPoint(specX, 0)).x());
    };
    for (double seconds : {0.0, 0.73, 4.5, 9.99, 11.9}) {
        const auto [waveX, specX] = playheadColumns(seconds);
        QVERIFY(waveX >= 0);
        QVERIFY2(waveX == specX, qPrintable(QStringLiteral("%1 s: waveform x %2, spectrogram x %3")
                                                .arg(seconds).arg(waveX).arg(specX)));
    }

    // Zooming and scrolling either half moves both.
    page.applyZoom(8.0);
    QWheelEvent scroll(QPointF(300, 50), waveform->mapToGlobal(QPointF(300, 50)), QPoint(),
                       QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(waveform, &scroll);
    QVERIFY(waveform->getViewStartSec() > 0.0);
    QCOMPARE(spectrum->getViewStartSec(), waveform->getViewStartSec());
    QWheelEvent zoomIn(QPointF(300, 50), spectrum->mapToGlobal(QPointF(300, 50)), QPoint(),
                       QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(spectrum, &zoomIn);
    QCOMPARE(waveform->getZoomLevel(), spectrum->getZoomLevel());
    QCOMPARE(waveform->getViewStartSec(), spectrum->getViewStartSec());
    // Playback pages the waveform; the spectrogram pages with it.
    playheadColumns(10.5);
    QVERIFY(waveform->getViewStartSec() > 9.0);
    QCOMPARE(spectrum->getViewStartSec(), waveform->getViewStartSec());
    const double visible = 12.0 / waveform->getZoomLevel();
    const auto [waveX, specX] = playheadColumns(10.5 - visible / 3);
    QVERIFY(waveX >= 0);
    QCOMPARE(specX, waveX);
    // An edit keeps the axis.
    const double start = waveform->getViewStartSec();
    page.syncWaveforms();
    QCOMPARE(spectrum->getViewStartSec(), start);
}

void TestAudioEditorPageStereoViews::screenshots()
{
    AudioEditorPage page;
    page.resize(1366, 700);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.loadStereoAudioSamples(showcase(30.0), Rate);
    // A click at 7.5 s moves the playheads and the time label.
    WaveformWidget* waveform = page.waveform(0);
    QTest::mouseClick(waveform, Qt::LeftButton, {}, QPoint(waveform->secondsToX(7.5), 40));
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("TimeLabel"))->text().left(8),
             QStringLiteral("00:00:07"));
    const char* const names[] = {"editor-stereo-waveform.png", "editor-stereo-spectrogram.png",
                                 "editor-stereo-both.png"};
    for (int view = 0; view < 3; ++view) {
        page.findChild<QComboBox*>()->setCurrentIndex(view);
        QCoreApplication::processEvents();
        if (view > 0) {
            // The read-out of the cell under the pointer.
            SpectrumAnalyzerWidget* spectrum = page.spectrum(view - 1);
            const QRect band = spectrum->bandRects().value(1);
            const QPoint pointer(band.left() + band.width() / 3,
                                 band.top() + int((1.0 - 4500.0 / spectrum->spectrogramTopFrequency())
                                                  * band.height()));
            QMouseEvent move(QEvent::MouseMove, pointer, spectrum->mapToGlobal(QPointF(pointer)),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(spectrum, &move);
            QVERIFY(!spectrum->pointerReadoutText().isEmpty());
        }
        QVERIFY(TestSupport::saveScreenshot(page.grab(), QLatin1String(names[view])));
    }
}

QTEST_MAIN(TestAudioEditorPageStereoViews)
#include "tst_AudioEditorPageStereoViews.moc"
