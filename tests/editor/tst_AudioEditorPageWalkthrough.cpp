// A new user's first session on the single-track page, end to end: a stereo
// WAV file loaded, a selection, gain and its undo, every view, the highest
// zoom, a spectral-erase stroke and an export read back.

#include "TestSupport.h"
#include "app/AudioExport.h"
#include "app/StartUp.h"
#include "audio/AudioProcessor.h"
#include "editor/AudioEditorPage.h"
#include "editor/SpectrumAnalyzerWidget.h"
#include "editor/WaveformWidget.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <cmath>

namespace {

constexpr int Rate = 44100;

QDialog* openDialog(const AudioEditorPage& page, const QString& title)
{
    for (QDialog* dialog : page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly))
        if (dialog->windowTitle() == title && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Columns of `image` between x0 and x1 that hold a pixel of the trace.
int tracedColumns(const QImage& image, int x0, int x1, int y0, int y1)
{
    const QRgb ahead = qRgb(0x00, 0xf2, 0xff), behind = qRgb(0xff, 0x00, 0x55);
    int inked = 0;
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y)
            if (image.pixel(x, y) == ahead || image.pixel(x, y) == behind) {
                ++inked;
                break;
            }
    return inked;
}

} // namespace

class TestAudioEditorPageWalkthrough : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstSession();
};

void TestAudioEditorPageWalkthrough::initTestCase()
{
    StartUp::applyStyleSheet(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

void TestAudioEditorPageWalkthrough::firstSession()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 3 s: 440 Hz on the left, 3 kHz on the right.
    const QList<float> left = TestSupport::sineWave(440.0, 3.0, Rate, 0.4f);
    const QList<float> right = TestSupport::sineWave(3000.0, 3.0, Rate, 0.3f);
    QList<float> interleaved(2 * left.size());
    for (qsizetype i = 0; i < left.size(); ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    const QString input = dir.filePath(QStringLiteral("in.wav"));
    {
        AudioProcessor writer;
        QVERIFY(writer.saveAudioFile(input, interleaved, Rate, 2, 32));
    }
    AudioProcessor reader;
    QVERIFY(reader.loadAudioFile(input));
    QCOMPARE(reader.stereoSamples.size(), interleaved.size());

    AudioEditorPage page;
    page.resize(1366, 700);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.loadStereoAudioSamples(reader.stereoSamples, reader.sampleRate);
    const QList<float> loadedStereo = page.stereoSamples;

    // A drag on the waveform selects 1 s to 2 s.
    WaveformWidget* waveform = page.waveform(0);
    const int x1 = waveform->secondsToX(1.0), x2 = waveform->secondsToX(2.0);
    QTest::mousePress(waveform, Qt::LeftButton, {}, QPoint(x1, 60));
    QTest::mouseMove(waveform, QPoint(x2, 60));
    QTest::mouseRelease(waveform, Qt::LeftButton, {}, QPoint(x2, 60));
    QVERIFY(waveform->hasSelection());

    // Gain of -6 dB, then undo: the lists come back exactly.
    page.showGainDialog();
    QDialog* gain = openDialog(page, QStringLiteral("增益调整"));
    QVERIFY(gain);
    gain->findChild<QDoubleSpinBox*>()->setValue(-6.0);
    TestSupport::buttonWithText(*gain, QStringLiteral("应用"))->click();
    QVERIFY(page.stereoSamples != loadedStereo);
    QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(page.stereoSamples, loadedStereo);
    QCOMPARE(page.undoStack->index(), 0);

    // Every view at the highest zoom, scrolled to the end: the traces and
    // pictures fill their plots.
    auto* viewCombo = page.findChild<QComboBox*>();
    for (int view = 0; view < 3; ++view) {
        viewCombo->setCurrentIndex(view);
        for (int i = 0; i < 60; ++i)
            page.onZoomIn();
        QCOMPARE(page.zoom(), 512.0);
        QCoreApplication::processEvents();
        if (view != 1) {
            WaveformWidget* shown = page.waveform(view == 0 ? 0 : 1);
            shown->setViewStartSec(3.0);
            const QImage image = shown->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QRect area = shown->waveformArea();
            QCOMPARE(tracedColumns(image, area.left() + 60, area.right() - 1, area.top(),
                                  area.bottom()),
                     area.width() - 61);
        }
        if (view != 0) {
            SpectrumAnalyzerWidget* shown = page.spectrum(view - 1);
            shown->horizontalScrollBar()->setValue(shown->horizontalScrollBar()->maximum());
            QVERIFY(shown->getViewStartSec() > 2.9);
            QVERIFY(!shown->grab().isNull());
            QCOMPARE(shown->bandRects().size(), 2);
            for (const QRect& band : shown->bandRects())
                QVERIFY(shown->cellAt(band.center()).seconds >= 2.9);
        }
    }
    // The combined view at the highest zoom: joined traces over the cells.
    QVERIFY(TestSupport::saveScreenshot(page.grab(), QStringLiteral("editor-stereo-highest-zoom.png")));

    // An erase stroke over the 3 kHz row of the right band at the highest zoom.
    viewCombo->setCurrentIndex(1);
    page.findChild<QSlider*>()->setValue(100);
    QTest::keyClick(&page, Qt::Key_E);
    SpectrumAnalyzerWidget* spectrum = page.spectrum(0);
    spectrum->repaint();
    const QRect lower = spectrum->bandRects().value(1);
    QVERIFY(lower.isValid());
    const int y = lower.top() + int((1.0 - 3000.0 / spectrum->spectrogramTopFrequency()) * lower.height());
    QTest::mousePress(spectrum, Qt::LeftButton, {}, QPoint(lower.left() + 100, y));
    for (int x = lower.left() + 100; x < lower.right() - 100; x += 10) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), spectrum->mapToGlobal(QPointF(x, y)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(spectrum, &move);
    }
    QTest::mouseRelease(spectrum, Qt::LeftButton, {}, QPoint(lower.right() - 100, y));
    QCOMPARE(page.undoStack->count(), 1);
    QCOMPARE(page.stereoSamples.size(), loadedStereo.size());
    for (qsizetype i = 0; i < left.size(); ++i)
        QCOMPARE(page.stereoSamples[2 * i], loadedStereo[2 * i]);
    QVERIFY(page.stereoSamples != loadedStereo);
    QVERIFY(page.statusLine()->currentMessage().startsWith(QStringLiteral("频谱擦除完成（右声道）")));

    // Exported as the shell does, and read back: stereo, with the erase.
    const AudioExport::Request request = AudioExport::fromSingleTrack(
        AudioExport::Format::Wav, page.samples, page.stereoSamples, 32, page.forceMono != 0);
    QCOMPARE(request.channels, 2);
    const QString output = dir.filePath(QStringLiteral("out.wav"));
    AudioProcessor exporter;
    QVERIFY(exporter.saveAudioFile(output, request.data, page.sampleRate, request.channels,
                                   request.bits));
    AudioProcessor check;
    QVERIFY(check.loadAudioFile(output));
    QCOMPARE(check.stereoSamples, page.stereoSamples);
}

QTEST_MAIN(TestAudioEditorPageWalkthrough)
#include "tst_AudioEditorPageWalkthrough.moc"
